// Shared by the CRC-32, checksummed-file and MD5 tests: seeded random data,
// files in the sandbox's private /tmp, and zlib as the independent CRC.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "typedef.h"

namespace sums_test
{
using Bytes = std::vector<BYTE>;

// Reproducible pseudo-random bytes: a failure can be replayed.
inline Bytes RandomBytes(std::size_t nLength, unsigned int uiSeed = 20240607u)
{
    std::mt19937 rng(uiSeed);
    Bytes bytes(nLength);
    for (BYTE& by : bytes)
        by = static_cast<BYTE>(rng());
    return bytes;
}

// A usable pointer even for no bytes: the functions under test refuse null.
inline const BYTE* DataOf(const Bytes& bytes)
{
    static const BYTE kNothing = 0;
    return bytes.empty() ? &kNothing : bytes.data();
}

// Standard CRC-32 of the bytes after the first nSkip, as zlib computes it.
inline DWORD ZlibCrc(const Bytes& bytes, std::size_t nSkip = 0)
{
    if (bytes.size() <= nSkip)
        return 0;
    return static_cast<DWORD>(crc32(0, bytes.data() + nSkip, static_cast<uInt>(bytes.size() - nSkip)));
}

inline std::string WriteTemp(const std::string& strName, const Bytes& bytes)
{
    const std::string strFile = "/tmp/" + strName;
    std::ofstream out(strFile, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.flush()) << "cannot write " << strFile;
    return strFile;
}

inline Bytes ReadAll(const std::string& strFile)
{
    std::ifstream in(strFile, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
} // namespace sums_test
