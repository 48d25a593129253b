// What the fuzz targets share: the check that ends a run with a report, and
// the input taken apart into the pieces a target feeds its parser.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

// A broken property aborts, which libFuzzer and the seed replay both report.
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzz::Fail(#condition, __FILE__, __LINE__))

namespace fuzz
{
[[noreturn]] inline void Fail(const char* pcszWhat, const char* pcszFile, int iLine)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", pcszFile, iLine, pcszWhat);
    std::abort();
}

// The input front to back: single bytes, then texts cut at a 0 byte.
class Input
{
public:
    Input(const uint8_t* pData, size_t nSize) : m_text(reinterpret_cast<const char*>(pData), nSize)
    {
    }
    uint8_t Byte()
    {
        const uint8_t by = m_nAt < m_text.size() ? uint8_t(m_text[m_nAt]) : 0;
        ++m_nAt;
        return by;
    }
    std::string Text()
    {
        const size_t nAt = std::min(m_nAt, m_text.size());
        const size_t nEnd = std::min(m_text.find('\0', nAt), m_text.size());
        m_nAt = nEnd + 1;
        return m_text.substr(nAt, nEnd - nAt);
    }
    std::string Rest() { return m_nAt < m_text.size() ? m_text.substr(m_nAt) : std::string(); }

private:
    std::string m_text;
    size_t m_nAt = 0;
};

// A NUL-terminated copy in a block of exactly its size, so that a read past
// the terminator is an AddressSanitizer report rather than slack capacity.
inline std::unique_ptr<char[]> Exact(const std::string& text)
{
    std::unique_ptr<char[]> p(new char[text.size() + 1]);
    text.copy(p.get(), text.size());
    p[text.size()] = '\0';
    return p;
}

inline bool WriteFile(const char* pcszPath, const std::string& data)
{
    std::FILE* fp = std::fopen(pcszPath, "wb");
    if (fp == nullptr)
        return false;
    const bool bWritten = std::fwrite(data.data(), 1, data.size(), fp) == data.size();
    return std::fclose(fp) == 0 && bWritten;
}
} // namespace fuzz
