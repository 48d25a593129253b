// CKVCrc32 against the standard CRC-32 check values and against zlib.
#include <cstring>

#include <gtest/gtest.h>

#include "../../../common/crc32_internal.h"
#include "checksum_test_support.h"
#include "crc32.h"

using namespace sums_test;

namespace
{
constexpr DWORD kUntouched = 0x5A5A5A5Au;

// Around every threshold of the engines (8-byte slices, 16- and 64-byte
// folds) and of the file read chunk.
constexpr std::size_t kChunk = xeda_crc::kCrcReadChunk;
const std::size_t kLengths[] = {0,   1,   7,   8,    9,    15,   16,         17,     63,         64,
                                65,  79,  80,  127,  128,  129,  255,        256,    1023,       1024,
                                1025, 4096, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk + 100, 1 << 20};

// GetBuffCrc32 stores the register uninverted: "123456789" gives 0x340BC6D9.
TEST(Crc32, CheckValuesAndInvalidInput)
{
    const std::pair<const char*, DWORD> kCases[] = {
        {"123456789", 0xCBF43926u}, {"", 0}, {"a", 0xE8B7BE43u}, {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
    CKVCrc32 crc;
    for (const auto& [pcszText, dwCrc] : kCases)
    {
        DWORD dwString = kUntouched, dwBuff = kUntouched;
        ASSERT_EQ(1, crc.GetStringCrc32(pcszText, &dwString));
        ASSERT_EQ(1, crc.GetBuffCrc32(reinterpret_cast<const BYTE*>(pcszText), static_cast<int>(strlen(pcszText)), &dwBuff));
        EXPECT_EQ(dwCrc, dwString) << pcszText;
        EXPECT_EQ(~dwCrc, dwBuff) << pcszText;
    }
    // Non-positive lengths process nothing; bad arguments fail and store nothing.
    const BYTE by[4] = {1, 2, 3, 4};
    for (int iLength : {0, -1})
    {
        DWORD dwBuff = kUntouched, dwEx = 0x12345678u;
        EXPECT_EQ(1, crc.GetBuffCrc32(by, iLength, &dwBuff));
        EXPECT_EQ(0xFFFFFFFFu, dwBuff) << iLength;
        EXPECT_EQ(1, crc.GetBuffCrc32Ex(by, iLength, &dwEx));
        EXPECT_EQ(0x12345678u, dwEx) << iLength;
    }
    DWORD dwValue = kUntouched;
    EXPECT_EQ(0, crc.GetBuffCrc32(nullptr, 1, &dwValue));
    EXPECT_EQ(0, crc.GetBuffCrc32Ex(by, 1, nullptr));
    EXPECT_EQ(0, crc.GetStringCrc32(nullptr, &dwValue));
    EXPECT_EQ(0, crc.GetFileCrc32open("/tmp/no-such-file", &dwValue));
    EXPECT_EQ(0, crc.GetFileCrc32fopen("/tmp/no-such-file", &dwValue));
    EXPECT_EQ(kUntouched, dwValue);
}

// Buffers in chunks of any sizes, and both whole-file forms, give zlib's CRC.
TEST(Crc32, ChunksAndFilesAgreeWithZlib)
{
    CKVCrc32 crc;
    std::mt19937 rng(7);
    for (std::size_t nLength : kLengths)
    {
        const Bytes data = RandomBytes(nLength, static_cast<unsigned int>(nLength));
        const DWORD dwZlib = ZlibCrc(data);
        DWORD dwOneShot = 0, dwOpen = kUntouched, dwFopen = kUntouched;
        ASSERT_EQ(1, crc.GetBuffCrc32(DataOf(data), static_cast<int>(nLength), &dwOneShot));
        EXPECT_EQ(dwZlib, ~dwOneShot) << nLength;
        for (const unsigned int uiMaxChunk : {70u, 5000u})
        {
            DWORD dwRegister = 0xFFFFFFFFu;
            for (std::size_t nPos = 0, nChunk; nPos < nLength; nPos += nChunk)
            {
                nChunk = std::min<std::size_t>(nLength - nPos, 1 + rng() % uiMaxChunk);
                ASSERT_EQ(1, crc.GetBuffCrc32Ex(data.data() + nPos, static_cast<int>(nChunk), &dwRegister));
            }
            EXPECT_EQ(dwZlib, ~dwRegister) << nLength << " in chunks up to " << uiMaxChunk;
        }
        const std::string strFile = WriteTemp("crc", data);
        ASSERT_EQ(1, crc.GetFileCrc32open(strFile.c_str(), &dwOpen));
        ASSERT_EQ(1, crc.GetFileCrc32fopen(strFile.c_str(), &dwFopen));
        EXPECT_EQ(dwZlib, dwOpen) << nLength;
        EXPECT_EQ(dwZlib, dwFopen) << nLength;
    }
}

// Every engine, at several start alignments and from arbitrary registers,
// gives zlib's answer. Engines the CPU lacks are reported, not run.
TEST(Crc32, EveryAvailableEngineAgreesWithZlib)
{
    using xeda_crc::CrcEngine;
    CKVCrc32 crc;
    DWORD dwTable[256] = {};
    for (DWORD i = 0; i < 256; ++i)
    {
        const BYTE by = static_cast<BYTE>(i);
        crc.GetBuffCrc32Ex(&by, 1, &dwTable[i]);
    }
    const Bytes data = RandomBytes((1 << 20) + 64, 99);
    std::string strMissing;
    for (const CrcEngine engine : {CrcEngine::Portable, CrcEngine::Clmul, CrcEngine::WideClmul})
    {
        const int iEngine = static_cast<int>(engine);
        if (!xeda_crc::Crc32EngineAvailable(engine))
        {
            EXPECT_NE(engine, CrcEngine::Portable);
            strMissing += " " + std::to_string(iEngine);
            continue;
        }
        std::mt19937 rng(3);
        for (std::size_t nLength : kLengths)
            for (std::size_t nAlign = 0; nAlign < 40; nAlign += 13)
            {
                const DWORD dwStart = static_cast<DWORD>(rng());
                const BYTE* pcby = data.data() + nAlign;
                // zlib takes and returns the inverted register.
                EXPECT_EQ(~static_cast<DWORD>(crc32(~dwStart, pcby, static_cast<uInt>(nLength))),
                          xeda_crc::Crc32AdvanceWith(engine, dwTable, dwStart, pcby, nLength))
                    << "engine " << iEngine << ", " << nLength << "+" << nAlign;
            }
    }
    if (!strMissing.empty())
        GTEST_SKIP() << "not on this CPU, not checked: engines" << strMissing;
}
} // namespace
