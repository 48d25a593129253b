// What the fuzz targets share: the check that ends a run with a report, and
// the input cut into the pieces a target feeds its parser.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "testkit.h"

// A broken property aborts, which libFuzzer and the seed replay both report.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? (void)0                                                                         \
                 : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition),   \
                    std::abort()))

namespace fuzz
{
// The input cut at its first n - 1 zero bytes; the last piece is the rest.
inline tk::Strings Pieces(const uint8_t* pData, size_t nSize, size_t n)
{
    tk::Strings pieces(1);
    for (const uint8_t* p = pData; p < pData + nSize; ++p)
        if (*p == 0 && pieces.size() < n)
            pieces.emplace_back();
        else
            pieces.back() += static_cast<char>(*p);
    pieces.resize(n);
    return pieces;
}

// A NUL-terminated copy in a block of exactly its size, so that a read past
// the terminator is an AddressSanitizer report rather than slack capacity.
inline std::unique_ptr<char[]> Exact(const std::string& text)
{
    std::unique_ptr<char[]> p(new char[text.size() + 1]);
    text.copy(p.get(), text.size());
    p[text.size()] = '\0';
    return p;
}
} // namespace fuzz
