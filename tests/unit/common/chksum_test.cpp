// Checksummed files: the CRC-32 of everything after the first four bytes,
// stored little-endian in those four bytes. zlib is the independent CRC.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "../../../common/crc32_internal.h"
#include "checksum_test_support.h"
#include "crc32.h"

using namespace sums_test;

namespace
{
constexpr DWORD kUntouched = 0x5A5A5A5Au;
constexpr std::size_t kChunk = xeda_crc::kCrcReadChunk;

struct Fd
{
    ~Fd() { (void)close(i); } // read-only: nothing is lost by a failed close
    int i;
};

// Sizes around the 4-byte header and the read chunks (which start at offset 4).
TEST(Checksum, CalculateCheckSumIsCrcOfAllButFirstFourBytes)
{
    for (std::size_t nSize : {std::size_t(0), std::size_t(3), std::size_t(4), std::size_t(5), std::size_t(1028),
                              kChunk + 3, kChunk + 4, kChunk + 5, std::size_t(1 << 20) + 7})
    {
        const Bytes data = RandomBytes(nSize, static_cast<unsigned int>(nSize));
        DWORD dwSum = kUntouched;
        ASSERT_EQ(1, CalculateCheckSum(WriteTemp("sum", data).c_str(), &dwSum)) << nSize;
        EXPECT_EQ(ZlibCrc(data, 4), dwSum) << nSize;
    }
}

TEST(Checksum, CalculateCheckSumExStartsWhereTheDescriptorStands)
{
    for (std::size_t nSize : {0, 3, 70000})
    {
        const Bytes data = RandomBytes(nSize, 5);
        const Fd file{open(WriteTemp("ex", data).c_str(), O_RDONLY)};
        ASSERT_NE(-1, file.i);
        for (off_t offStart : {4, 0})
        {
            ASSERT_EQ(offStart, lseek(file.i, offStart, SEEK_SET));
            DWORD dwSum = kUntouched;
            ASSERT_EQ(1, CalculateCheckSumEx(file.i, &dwSum));
            EXPECT_EQ(ZlibCrc(data, static_cast<std::size_t>(offStart)), dwSum) << nSize;
            EXPECT_EQ(std::max(static_cast<off_t>(nSize), offStart), lseek(file.i, 0, SEEK_CUR))
                << "left at end of file (or where it stood past it), and still open";
        }
    }
}

TEST(Checksum, FailuresLeaveResultDescriptorAndFileSystemUntouched)
{
    const Fd file{open(WriteTemp("present", RandomBytes(10)).c_str(), O_RDONLY)};
    DWORD dwSum = kUntouched;
    EXPECT_EQ(0, CalculateCheckSum("/tmp/no-such-file", &dwSum));
    EXPECT_EQ(0, CalculateCheckSumEx(-1, &dwSum));
    EXPECT_EQ(0, CalculateCheckSumEx(file.i, nullptr));
    EXPECT_EQ(kUntouched, dwSum);
    EXPECT_EQ(0, lseek(file.i, 0, SEEK_CUR)) << "descriptor not read";
    EXPECT_EQ(0, AddCheckSumToFile("/tmp/no-such-file"));
    EXPECT_EQ(-1, access("/tmp/no-such-file", F_OK)) << "never created";
    EXPECT_EQ(0, CheckCheckSumOfFile("/tmp/no-such-file"));
    // Its payload CRC is 0, but 4 bytes cannot be read back.
    EXPECT_EQ(0, CheckCheckSumOfFile(WriteTemp("two", Bytes{0, 0}).c_str()));
}

TEST(Checksum, StoredChecksumIsLittleEndianCrcOfPayload)
{
    const std::string strFile = WriteTemp("check", {0, 0, 0, 0, '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    ASSERT_EQ(1, AddCheckSumToFile(strFile.c_str()));
    EXPECT_EQ(Bytes({0x26, 0x39, 0xF4, 0xCB, '1', '2', '3', '4', '5', '6', '7', '8', '9'}), ReadAll(strFile));
    EXPECT_EQ(1, CheckCheckSumOfFile(strFile.c_str()));
}

// Adding keeps payload and length (a shorter file becomes four zero bytes);
// then changing any byte fails the check.
TEST(Checksum, AddThenCheckCatchesAnyChangedByte)
{
    for (std::size_t nSize : {std::size_t(0), std::size_t(2), std::size_t(4), std::size_t(5), kChunk + 5})
    {
        const Bytes data = RandomBytes(nSize, static_cast<unsigned int>(nSize) + 1);
        const std::string strFile = WriteTemp("rt", data);
        ASSERT_EQ(1, AddCheckSumToFile(strFile.c_str())) << nSize;
        EXPECT_EQ(1, CheckCheckSumOfFile(strFile.c_str())) << nSize;
        const Bytes added = ReadAll(strFile);
        ASSERT_EQ(std::max<std::size_t>(nSize, 4), added.size());
        EXPECT_TRUE(nSize >= 4 ? std::equal(data.begin() + 4, data.end(), added.begin() + 4) : added == Bytes(4, 0));
        for (std::size_t nOffset : {std::size_t(0), std::size_t(3), std::size_t(4), nSize / 2, nSize - 1})
        {
            if (nOffset >= nSize || nSize < 4)
                continue;
            Bytes changed = added;
            changed[nOffset] ^= 0x01;
            WriteTemp("rt", changed);
            EXPECT_EQ(0, CheckCheckSumOfFile(strFile.c_str())) << nSize << " offset " << nOffset;
        }
    }
}
} // namespace
