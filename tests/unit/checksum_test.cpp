// CRC-32 and MD5 known answers, the checksummed files and MD5's path form. The engines, the chunked
// and file forms against zlib, and MD5 in pieces against OpenSSL, are the checksum fuzz target's,
// whose seeds every build replays.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "crc32.h"
#include "md5lib.h"
#include "testkit.h"

namespace
{
const BYTE* Bytes(const std::string& text)
{
    return reinterpret_cast<const BYTE*>(text.c_str());
}

std::string Hex(const BYTE* digest)
{
    char szHex[33];
    for (int i = 0; i < 16; ++i)
        snprintf(szHex + 2 * i, 3, "%02x", digest[i]);
    return szHex;
}

// Only the string form hands the register out inverted; a length of 0 or
// less processes nothing.
TEST(Crc32, KnownAnswers)
{
    CKVCrc32 crc;
    DWORD dwString = 0, dwBuff = 0, dwRegister = 0x1234;
    ASSERT_EQ(1, crc.GetStringCrc32("123456789", &dwString));
    ASSERT_EQ(1, crc.GetBuffCrc32(Bytes("123456789"), 9, &dwBuff));
    ASSERT_EQ(1, crc.GetBuffCrc32Ex(Bytes("123456789"), -1, &dwRegister));
    EXPECT_EQ(std::make_tuple(0xCBF43926u, 0x340BC6D9u, 0x1234u),
              std::make_tuple(dwString, dwBuff, dwRegister));
}

// The CRC of the payload after the first four bytes goes there little-endian
// (a short file gains them); then any changed byte fails the check. The
// descriptor form starts where the descriptor stands.
TEST(Checksum, AddCheckAndDescriptorForm)
{
    ASSERT_TRUE(tk::Write("/tmp/data", std::string(4, '\0') + "123456789"));
    ASSERT_EQ(1, AddCheckSumToFile("/tmp/data"));
    const std::string added = tk::Read("/tmp/data");
    EXPECT_EQ("\x26\x39\xF4\xCB"
              "123456789",
              added);
    EXPECT_EQ(1, CheckCheckSumOfFile("/tmp/data"));
    for (size_t offset : {0, 3, 4, 12})
    {
        std::string changed = added;
        changed[offset] ^= 1;
        ASSERT_TRUE(tk::Write("/tmp/data", changed));
        EXPECT_EQ(0, CheckCheckSumOfFile("/tmp/data")) << offset;
    }
    ASSERT_TRUE(tk::Write("/tmp/data", added));
    const int fd = open("/tmp/data", O_RDONLY);
    for (const auto& [start, expected] : {std::pair{0, 0x01D7120Fu}, {4, 0xCBF43926u}})
    {
        DWORD dwSum = 0;
        ASSERT_EQ(start, lseek(fd, start, SEEK_SET));
        ASSERT_EQ(1, CalculateCheckSumEx(fd, &dwSum));
        EXPECT_EQ(expected, dwSum) << start;
    }
    EXPECT_EQ(0, close(fd));
    ASSERT_TRUE(tk::Write("/tmp/data", "77"));
    ASSERT_EQ(1, AddCheckSumToFile("/tmp/data"));
    EXPECT_EQ(std::string(4, '\0'), tk::Read("/tmp/data"));
}

// A scripted file source: each read fills its count with 'a' + the read's index.
struct FakeWrap : IFileWrap
{
    int Open(const char*, int, int) override { return reads.empty() ? -1 : 7; }
    int Read(int, void* buffer, unsigned count) override
    {
        EXPECT_EQ(1024u, count);
        const int n = next < reads.size() ? reads[next] : 0;
        memset(buffer, 'a' + int(next++), size_t(std::clamp(n, 0, 1024)));
        return n;
    }
    int Close(int) override { return ++closes, 0; }
    std::vector<int> reads;
    size_t next = 0;
    int closes = 0;
};

// The path form reads through the wrapper and closes what it opened, once;
// a count past its buffer is refused like a read error. Validation says
// whether one byte anywhere differs. The digest of 1024 'a', 1000 'b' and
// 3 'c' is Python's. Known answers over every length and chunking are the
// fuzz target's (against OpenSSL).
TEST(Md5, PathFormAndValidation)
{
    const std::vector<int> cases[] = {{}, {1024, -1}, {2000}, {1024, 1000, 3, 0}};
    for (const auto& reads : cases)
    {
        CMd5 md5;
        FakeWrap wrap;
        wrap.reads = reads;
        ASSERT_EQ(1, md5.InitFileWrap(&wrap));
        ASSERT_EQ(0, md5.InitFileWrap(nullptr)) << "and keeps the wrapper";
        BYTE digest[16] = {};
        const bool ok = !reads.empty() && reads.back() == 0;
        EXPECT_EQ(ok, md5.CalculateMD5("p", digest) == 1);
        EXPECT_EQ(reads.empty() ? 0 : 1, wrap.closes);
        EXPECT_EQ(ok ? "6188aabc8ca4b0f38884834fddce897f" : std::string(32, '0'), Hex(digest));
    }
    CMd5 md5;
    BYTE digest[16];
    ASSERT_EQ(1, md5.CalculateMD5(Bytes("aaa"), 3, digest));
    for (int iByte : {-1, 0, 15})
    {
        BYTE expected[16];
        memcpy(expected, digest, 16);
        expected[std::max(iByte, 0)] ^= iByte < 0 ? 0 : 0x80;
        int iVerdict = 5;
        EXPECT_EQ(1, md5.ValidateMD5(Bytes("aaa"), 3, expected, &iVerdict));
        EXPECT_EQ(iByte < 0, iVerdict == 1) << iByte;
    }
    // A null buffer is refused even with nothing to read; the bit count
    // carries into its high word (only half a gigabyte would show it).
    CONTEXT_MD5 context{};
    ASSERT_EQ(1, md5.InitMD5(&context));
    EXPECT_EQ(0, md5.UpdateMD5(&context, nullptr, 0));
    context.ulNumberOfBits[0] = 0xFFFFFFF8u;
    ASSERT_EQ(1, md5.UpdateMD5(&context, Bytes("a"), 1));
    EXPECT_EQ(1u, context.ulNumberOfBits[1]);
}

} // namespace
