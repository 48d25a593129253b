// Shared by the CRC-32, checksummed-file and MD5 tests: seeded random data,
// files in the sandbox's private /tmp, and zlib as the independent CRC.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "netfixtures.h"
#include "typedef.h"

namespace sums_test
{
using Bytes = std::vector<BYTE>;

// Reproducible, so a failure can be replayed.
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
    const std::size_t nLength = bytes.size() <= nSkip ? 0 : bytes.size() - nSkip;
    return static_cast<DWORD>(crc32(0, bytes.data() + bytes.size() - nLength, static_cast<uInt>(nLength)));
}

inline std::string WriteTemp(const std::string& strName, const Bytes& bytes)
{
    const std::string strFile = "/tmp/" + strName;
    EXPECT_TRUE(netfx::WriteFile(strFile, std::string(bytes.begin(), bytes.end()))) << strFile;
    return strFile;
}

inline Bytes ReadAll(const std::string& strFile)
{
    const std::string strContent = netfx::ReadFile(strFile);
    return Bytes(strContent.begin(), strContent.end());
}
} // namespace sums_test
