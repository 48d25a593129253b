// Checksummed files: the CRC-32 of everything after the first four bytes,
// stored little-endian in those four bytes. zlib is the independent CRC.
#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../../../common/crc32_internal.h"
#include "checksum_test_support.h"
#include "crc32.h"

using namespace sums_test;

namespace
{

constexpr DWORD kUntouched = 0x5A5A5A5Au;

// Around the 4-byte header and the read chunks (which start at offset 4),
// plus one large file.
constexpr std::size_t kChunk = xeda_crc::kCrcReadChunk;
const std::size_t kSizes[] = {0,    1,    2,    3,          4,      5,          6,
                              1023, 1024, 1025, 1028,       kChunk + 3, kChunk + 4, kChunk + 5,
                              100000, (1 << 20) + 7};

class FdHolder
{
public:
    explicit FdHolder(int iFile) : m_iFile(iFile) {}
    ~FdHolder()
    {
        if (m_iFile != -1)
            close(m_iFile);
    }
    int Get() const { return m_iFile; }

private:
    int m_iFile;
};

Bytes LittleEndian(DWORD dw)
{
    return {static_cast<BYTE>(dw), static_cast<BYTE>(dw >> 8), static_cast<BYTE>(dw >> 16),
            static_cast<BYTE>(dw >> 24)};
}

class ChecksumFile : public ::testing::Test
{
protected:
    CTempDir m_dir;
};

} // namespace

TEST_F(ChecksumFile, CalculateCheckSumIsCrcOfAllButFirstFourBytes)
{
    for (std::size_t nSize : kSizes)
    {
        const Bytes data = RandomBytes(nSize, static_cast<unsigned int>(nSize));
        const std::string strFile = m_dir.Write("f" + std::to_string(nSize), data);
        DWORD dwSum = kUntouched;
        ASSERT_EQ(1, CalculateCheckSum(strFile.c_str(), &dwSum)) << nSize;
        EXPECT_EQ(ZlibCrc(data, 4), dwSum) << nSize;
        if (nSize <= 4)
        {
            EXPECT_EQ(0u, dwSum) << nSize;
        }
    }
}

TEST_F(ChecksumFile, CalculateCheckSumFailuresLeaveResultUntouched)
{
    const std::string strFile = m_dir.Write("present", RandomBytes(10));
    const std::string strMissing = m_dir.PathOf("missing");
    DWORD dwSum = kUntouched;
    EXPECT_EQ(0, CalculateCheckSum(strMissing.c_str(), &dwSum));
    EXPECT_EQ(0, CalculateCheckSum(nullptr, &dwSum));
    EXPECT_EQ(0, CalculateCheckSum(strFile.c_str(), nullptr));
    EXPECT_EQ(kUntouched, dwSum);
}

TEST_F(ChecksumFile, CalculateCheckSumExStartsWhereTheDescriptorStands)
{
    for (std::size_t nSize : {std::size_t(0), std::size_t(3), std::size_t(1025), std::size_t(70000)})
    {
        const Bytes data = RandomBytes(nSize, 5);
        const std::string strFile = m_dir.Write("ex" + std::to_string(nSize), data);
        DWORD dwExpected = 0;
        ASSERT_EQ(1, CalculateCheckSum(strFile.c_str(), &dwExpected));

        FdHolder file(open(strFile.c_str(), O_RDONLY));
        ASSERT_NE(-1, file.Get());
        for (off_t offStart : {off_t(4), off_t(0)})
        {
            ASSERT_EQ(offStart, lseek(file.Get(), offStart, SEEK_SET));
            DWORD dwSum = kUntouched;
            ASSERT_EQ(1, CalculateCheckSumEx(file.Get(), &dwSum));
            EXPECT_EQ(offStart == 4 ? dwExpected : ZlibCrc(data), dwSum) << nSize;
            EXPECT_EQ(std::max(static_cast<off_t>(nSize), offStart), lseek(file.Get(), 0, SEEK_CUR))
                << "left at end of file (or where it stood past it), and still open";
        }
    }
}

TEST_F(ChecksumFile, CalculateCheckSumExRejectsMissingArguments)
{
    const std::string strFile = m_dir.Write("present", RandomBytes(10));
    FdHolder file(open(strFile.c_str(), O_RDONLY));
    DWORD dwSum = kUntouched;
    EXPECT_EQ(0, CalculateCheckSumEx(-1, &dwSum));
    EXPECT_EQ(0, CalculateCheckSumEx(file.Get(), nullptr));
    EXPECT_EQ(kUntouched, dwSum);
    EXPECT_EQ(0, lseek(file.Get(), 0, SEEK_CUR)) << "descriptor not read";
}

TEST_F(ChecksumFile, StoredChecksumIsLittleEndianCrcOfPayload)
{
    Bytes data = {0, 0, 0, 0, '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const std::string strFile = m_dir.Write("check", data);
    ASSERT_EQ(1, AddCheckSumToFile(strFile.c_str()));
    const Bytes expected = {0x26, 0x39, 0xF4, 0xCB, '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(expected, CTempDir::Read(strFile));
}

TEST_F(ChecksumFile, AddThenCheckRoundTripKeepsPayloadAndLength)
{
    for (std::size_t nSize : kSizes)
    {
        if (nSize < 4)
            continue;
        const Bytes data = RandomBytes(nSize, static_cast<unsigned int>(nSize) + 3);
        const std::string strFile = m_dir.Write("rt" + std::to_string(nSize), data);
        ASSERT_EQ(1, AddCheckSumToFile(strFile.c_str())) << nSize;
        EXPECT_EQ(1, CheckCheckSumOfFile(strFile.c_str())) << nSize;

        Bytes expected = LittleEndian(ZlibCrc(data, 4));
        expected.insert(expected.end(), data.begin() + 4, data.end());
        EXPECT_EQ(expected, CTempDir::Read(strFile)) << nSize;
    }
}

TEST_F(ChecksumFile, AnyChangedByteFailsTheCheck)
{
    const std::size_t nSize = 3000;
    const Bytes data = RandomBytes(nSize, 11);
    for (std::size_t nOffset : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(3),
                                std::size_t(4), std::size_t(1024), nSize - 1})
    {
        const std::string strFile = m_dir.Write("chg" + std::to_string(nOffset), data);
        ASSERT_EQ(1, AddCheckSumToFile(strFile.c_str()));
        Bytes changed = CTempDir::Read(strFile);
        changed[nOffset] ^= 0x01;
        m_dir.Write("chg" + std::to_string(nOffset), changed);
        EXPECT_EQ(0, CheckCheckSumOfFile(strFile.c_str())) << "offset " << nOffset;
    }
}

TEST_F(ChecksumFile, ShortFileBecomesFourZeroBytes)
{
    for (std::size_t nSize : {std::size_t(0), std::size_t(2), std::size_t(3)})
    {
        const std::string strFile = m_dir.Write("short" + std::to_string(nSize),
                                                RandomBytes(nSize, 1));
        ASSERT_EQ(1, AddCheckSumToFile(strFile.c_str())) << nSize;
        EXPECT_EQ(Bytes(4, 0), CTempDir::Read(strFile)) << nSize;
        EXPECT_EQ(1, CheckCheckSumOfFile(strFile.c_str())) << nSize;
    }
}

TEST_F(ChecksumFile, AddAndCheckFailWithoutAUsableFile)
{
    const std::string strMissing = m_dir.PathOf("missing");
    EXPECT_EQ(0, AddCheckSumToFile(nullptr));
    EXPECT_EQ(0, CheckCheckSumOfFile(nullptr));
    EXPECT_EQ(0, AddCheckSumToFile(strMissing.c_str()));
    EXPECT_EQ(-1, access(strMissing.c_str(), F_OK)) << "never created";
    EXPECT_EQ(0, CheckCheckSumOfFile(strMissing.c_str()));

    // Too short to hold a stored value: its payload CRC is 0 but 4 bytes
    // cannot be read back.
    const std::string strShort = m_dir.Write("short", Bytes{0, 0});
    EXPECT_EQ(0, CheckCheckSumOfFile(strShort.c_str()));
}
