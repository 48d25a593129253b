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
const std::size_t kLengths[] = {0,   1,   3,   7,    8,    9,    15,   16,     17,         31,     32,
                                63,  64,  65,  79,   80,   127,  128,  129,    255,        256,    511,
                                768, 1023, 1024, 1025, 4095, 4096, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk + 100,
                                1 << 20};

TEST(Crc32, StandardCheckValues)
{
    const struct
    {
        const char* pcszText;
        DWORD dwCrc;
    } kCases[] = {{"123456789", 0xCBF43926u},
                  {"", 0x00000000u},
                  {"a", 0xE8B7BE43u},
                  {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
    CKVCrc32 crc;
    for (const auto& c : kCases)
    {
        DWORD dwString = kUntouched;
        DWORD dwBuff = kUntouched;
        ASSERT_EQ(1, crc.GetStringCrc32(c.pcszText, &dwString));
        ASSERT_EQ(1, crc.GetBuffCrc32(reinterpret_cast<const BYTE*>(c.pcszText),
                                      static_cast<int>(strlen(c.pcszText)), &dwBuff));
        EXPECT_EQ(c.dwCrc, dwString) << c.pcszText;
        EXPECT_EQ(~c.dwCrc, dwBuff) << "GetBuffCrc32 stores the register uninverted: " << c.pcszText;
    }
    DWORD dwBuff = 0;
    ASSERT_EQ(1, crc.GetBuffCrc32(reinterpret_cast<const BYTE*>("123456789"), 9, &dwBuff));
    EXPECT_EQ(0x340BC6D9u, dwBuff);
}

TEST(Crc32, NonPositiveLengthsProcessNothing)
{
    CKVCrc32 crc;
    const BYTE by[4] = {1, 2, 3, 4};
    for (int iLength : {0, -1, -1000})
    {
        DWORD dwBuff = kUntouched;
        EXPECT_EQ(1, crc.GetBuffCrc32(by, iLength, &dwBuff));
        EXPECT_EQ(0xFFFFFFFFu, dwBuff) << iLength;
        DWORD dwEx = 0x12345678u;
        EXPECT_EQ(1, crc.GetBuffCrc32Ex(by, iLength, &dwEx));
        EXPECT_EQ(0x12345678u, dwEx) << iLength;
    }
}

TEST(Crc32, NullArgumentsAndMissingFilesFailAndLeaveResultUntouched)
{
    CKVCrc32 crc;
    const BYTE by[1] = {0};
    DWORD dwValue = kUntouched;
    EXPECT_EQ(0, crc.GetBuffCrc32(nullptr, 1, &dwValue));
    EXPECT_EQ(0, crc.GetBuffCrc32(by, 1, nullptr));
    EXPECT_EQ(0, crc.GetBuffCrc32Ex(nullptr, 1, &dwValue));
    EXPECT_EQ(0, crc.GetBuffCrc32Ex(by, 1, nullptr));
    EXPECT_EQ(0, crc.GetStringCrc32(nullptr, &dwValue));
    EXPECT_EQ(0, crc.GetStringCrc32("x", nullptr));
    for (const char* pcszFile : {static_cast<const char*>(nullptr), "/tmp/no-such-file"})
    {
        EXPECT_EQ(0, crc.GetFileCrc32open(pcszFile, &dwValue));
        EXPECT_EQ(0, crc.GetFileCrc32fopen(pcszFile, &dwValue));
    }
    EXPECT_EQ(0, crc.GetFileCrc32open("/etc/hostname", nullptr));
    EXPECT_EQ(0, crc.GetFileCrc32fopen("/etc/hostname", nullptr));
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
        DWORD dwOneShot = 0;
        ASSERT_EQ(1, crc.GetBuffCrc32(DataOf(data), static_cast<int>(nLength), &dwOneShot));
        EXPECT_EQ(ZlibCrc(data), ~dwOneShot) << nLength;
        for (int iRound = 0; iRound < 4; ++iRound)
        {
            DWORD dwRegister = 0xFFFFFFFFu;
            for (std::size_t nPos = 0, nChunk; nPos < nLength; nPos += nChunk)
            {
                nChunk = std::min<std::size_t>(nLength - nPos, 1 + rng() % (iRound < 2 ? 70 : 5000));
                ASSERT_EQ(1, crc.GetBuffCrc32Ex(data.data() + nPos, static_cast<int>(nChunk), &dwRegister));
            }
            EXPECT_EQ(ZlibCrc(data), ~dwRegister) << nLength << " round " << iRound;
        }
        const std::string strFile = WriteTemp("crc", data);
        DWORD dwOpen = kUntouched;
        DWORD dwFopen = kUntouched;
        ASSERT_EQ(1, crc.GetFileCrc32open(strFile.c_str(), &dwOpen));
        ASSERT_EQ(1, crc.GetFileCrc32fopen(strFile.c_str(), &dwFopen));
        EXPECT_EQ(ZlibCrc(data), dwOpen) << nLength;
        EXPECT_EQ(ZlibCrc(data), dwFopen) << nLength;
    }
}

// Every engine, at several start alignments and from arbitrary registers,
// gives zlib's answer. Engines the CPU lacks are reported, not run.
TEST(Crc32, EveryAvailableEngineAgreesWithZlib)
{
    using xeda_crc::CrcEngine;
    CKVCrc32 crc;
    DWORD dwTable[256];
    for (DWORD i = 0; i < 256; ++i)
    {
        const BYTE by = static_cast<BYTE>(i);
        dwTable[i] = 0;
        crc.GetBuffCrc32Ex(&by, 1, &dwTable[i]);
    }
    const Bytes data = RandomBytes((1 << 20) + 64, 99);
    std::string strMissing;
    for (const CrcEngine engine : {CrcEngine::Portable, CrcEngine::Clmul, CrcEngine::WideClmul})
    {
        const int iEngine = static_cast<int>(engine);
        if (!xeda_crc::Crc32EngineAvailable(engine))
        {
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
    EXPECT_TRUE(xeda_crc::Crc32EngineAvailable(CrcEngine::Portable));
    if (!strMissing.empty())
        GTEST_SKIP() << "not on this CPU, not checked: engines" << strMissing;
}
} // namespace
