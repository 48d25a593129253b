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

const BYTE* AsBytes(const char* pcsz)
{
    return reinterpret_cast<const BYTE*>(pcsz);
}

// The register after the bytes, as GetBuffCrc32Ex advances it, from zlib.
DWORD ZlibAdvance(DWORD dwRegister, const BYTE* pcby, std::size_t nLength)
{
    return ~ZlibCrc(pcby, nLength, ~dwRegister);
}

// Lengths around every threshold of both engines: the 8-byte slices, the
// 16-byte and 64-byte folds, and the file read chunk.
constexpr std::size_t kChunk = xeda_crc::kCrcReadChunk;
const std::size_t kLengths[] = {0,    1,    3,    7,    8,    9,          15,     16,
                                17,   31,   32,   63,   64,   65,         79,     80,
                                127,  128,  129,  255,  256,  1000,       1023,   1024,
                                1025, 255 + 256, 256 * 3, 4095, 4096, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk + 100,
                                1 << 20};

} // namespace

TEST(Crc32KnownAnswers, StandardCheckValues)
{
    struct Case
    {
        const char* pcszText;
        DWORD dwCrc;
    };
    const Case cases[] = {{"123456789", 0xCBF43926u},
                          {"", 0x00000000u},
                          {"a", 0xE8B7BE43u},
                          {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
    CKVCrc32 crc;
    for (const Case& c : cases)
    {
        DWORD dwString = kUntouched;
        DWORD dwBuff = kUntouched;
        ASSERT_EQ(1, crc.GetStringCrc32(c.pcszText, &dwString));
        ASSERT_EQ(1, crc.GetBuffCrc32(AsBytes(c.pcszText), static_cast<int>(strlen(c.pcszText)),
                                      &dwBuff));
        EXPECT_EQ(c.dwCrc, dwString) << c.pcszText;
        EXPECT_EQ(~c.dwCrc, dwBuff) << "GetBuffCrc32 stores the register uninverted: " << c.pcszText;
    }
}

TEST(Crc32KnownAnswers, BuffCrcOfCheckStringIsComplement)
{
    CKVCrc32 crc;
    DWORD dwValue = 0;
    ASSERT_EQ(1, crc.GetBuffCrc32(AsBytes("123456789"), 9, &dwValue));
    EXPECT_EQ(0x340BC6D9u, dwValue);
}

// A single byte from a zero register reads one table entry; these entries
// are the published ones of the reflected 0xEDB88320 table.
TEST(Crc32KnownAnswers, TableEntriesThroughSingleBytes)
{
    const struct
    {
        BYTE byIndex;
        DWORD dwEntry;
    } entries[] = {{0, 0x00000000u}, {1, 0x77073096u}, {2, 0xEE0E612Cu}, {128, 0xEDB88320u},
                   {255, 0x2D02EF8Du}};
    CKVCrc32 crc;
    for (const auto& e : entries)
    {
        DWORD dwRegister = 0;
        ASSERT_EQ(1, crc.GetBuffCrc32Ex(&e.byIndex, 1, &dwRegister));
        EXPECT_EQ(e.dwEntry, dwRegister) << int(e.byIndex);
    }
}

TEST(Crc32EmptyInput, NonPositiveLengthsProcessNothing)
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

TEST(Crc32NullArguments, FailAndLeaveResultUntouched)
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
    EXPECT_EQ(0, crc.GetFileCrc32open(nullptr, &dwValue));
    EXPECT_EQ(0, crc.GetFileCrc32open("/etc/hostname", nullptr));
    EXPECT_EQ(0, crc.GetFileCrc32fopen(nullptr, &dwValue));
    EXPECT_EQ(0, crc.GetFileCrc32fopen("/etc/hostname", nullptr));
    EXPECT_EQ(kUntouched, dwValue);
}

TEST(Crc32Chunked, AnySplitEqualsOneShotAndZlib)
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
            for (std::size_t nPos = 0; nPos < nLength;)
            {
                const std::size_t nChunk =
                    std::min<std::size_t>(nLength - nPos, 1 + rng() % (iRound < 2 ? 70 : 5000));
                ASSERT_EQ(1, crc.GetBuffCrc32Ex(data.data() + nPos, static_cast<int>(nChunk),
                                                &dwRegister));
                nPos += nChunk;
            }
            EXPECT_EQ(dwOneShot, dwRegister) << nLength << " round " << iRound;
        }
    }
}

// Every engine, at every start alignment and from arbitrary registers,
// gives zlib's answer. Engines the CPU lacks are reported, not run.
TEST(Crc32Engines, EveryAvailableEngineAgreesWithZlib)
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
    const struct
    {
        CrcEngine engine;
        const char* pcszName;
    } engines[] = {{CrcEngine::Portable, "portable"},
                   {CrcEngine::Clmul, "clmul"},
                   {CrcEngine::WideClmul, "wide clmul"}};
    std::string strMissing;
    for (const auto& e : engines)
    {
        if (!xeda_crc::Crc32EngineAvailable(e.engine))
        {
            strMissing += std::string(" ") + e.pcszName;
            continue;
        }
        std::mt19937 rng(3);
        for (std::size_t nLength : kLengths)
            for (std::size_t nAlign = 0; nAlign < 40; nAlign += 13)
            {
                const DWORD dwStart = static_cast<DWORD>(rng());
                const BYTE* pcby = data.data() + nAlign;
                EXPECT_EQ(ZlibAdvance(dwStart, pcby, nLength),
                          xeda_crc::Crc32AdvanceWith(e.engine, dwTable, dwStart, pcby, nLength))
                    << e.pcszName << " " << nLength << "+" << nAlign;
            }
    }
    EXPECT_TRUE(xeda_crc::Crc32EngineAvailable(CrcEngine::Portable));
    if (!strMissing.empty())
        GTEST_SKIP() << "not on this CPU, not checked:" << strMissing;
}

TEST(Crc32Files, BothFileFormsGiveStandardCrcOfWholeFile)
{
    CTempDir dir;
    CKVCrc32 crc;
    for (std::size_t nLength : kLengths)
    {
        const Bytes data = RandomBytes(nLength, static_cast<unsigned int>(nLength) + 1);
        const std::string strFile = dir.Write("f" + std::to_string(nLength), data);
        DWORD dwOpen = kUntouched;
        DWORD dwFopen = kUntouched;
        ASSERT_EQ(1, crc.GetFileCrc32open(strFile.c_str(), &dwOpen));
        ASSERT_EQ(1, crc.GetFileCrc32fopen(strFile.c_str(), &dwFopen));
        EXPECT_EQ(ZlibCrc(data), dwOpen) << nLength;
        EXPECT_EQ(ZlibCrc(data), dwFopen) << nLength;
    }
}

TEST(Crc32Files, MissingFileFailsAndLeavesResultUntouched)
{
    CTempDir dir;
    const std::string strMissing = dir.PathOf("missing");
    CKVCrc32 crc;
    DWORD dwValue = kUntouched;
    EXPECT_EQ(0, crc.GetFileCrc32open(strMissing.c_str(), &dwValue));
    EXPECT_EQ(0, crc.GetFileCrc32fopen(strMissing.c_str(), &dwValue));
    EXPECT_EQ(kUntouched, dwValue);
}
