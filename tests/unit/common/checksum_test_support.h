// Fixtures shared by the CRC-32, checksummed-file and MD5 tests: seeded random
// data, a private directory for test files, and zlib as the independent CRC.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

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
        by = static_cast<BYTE>(rng() & 0xFFu);
    return bytes;
}

// A usable pointer even for no bytes: the functions under test refuse null.
inline const BYTE* DataOf(const Bytes& bytes)
{
    static const BYTE kNothing = 0;
    return bytes.empty() ? &kNothing : bytes.data();
}

// Standard CRC-32 as zlib computes it; zlib's register is stored inverted.
inline DWORD ZlibCrc(const BYTE* pcby, std::size_t nLength, DWORD dwStart = 0)
{
    return static_cast<DWORD>(crc32(dwStart, pcby, static_cast<uInt>(nLength)));
}

inline DWORD ZlibCrc(const Bytes& bytes, std::size_t nSkip = 0)
{
    if (bytes.size() <= nSkip)
        return 0;
    return ZlibCrc(bytes.data() + nSkip, bytes.size() - nSkip);
}

// A private directory under /tmp, removed with the files made through it.
class CTempDir
{
public:
    CTempDir()
    {
        char szTemplate[] = "/tmp/xeda-sums-XXXXXX";
        if (mkdtemp(szTemplate) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_strPath = szTemplate;
    }
    ~CTempDir()
    {
        for (const std::string& strFile : m_files)
            std::remove(strFile.c_str());
        rmdir(m_strPath.c_str());
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    // Path of a file in the directory, removed at the end whether made or not.
    std::string PathOf(const std::string& strName)
    {
        m_files.push_back(m_strPath + "/" + strName);
        return m_files.back();
    }

    std::string Write(const std::string& strName, const Bytes& bytes)
    {
        const std::string strFile = PathOf(strName);
        std::ofstream out(strFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            throw std::runtime_error("cannot write " + strFile);
        return strFile;
    }

    static Bytes Read(const std::string& strFile)
    {
        std::ifstream in(strFile, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string m_strPath;
    std::vector<std::string> m_files;
};

} // namespace sums_test
