// CRC-32 and MD5 known answers, the checksummed files, MD5's path form and
// the library's two locks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "cguard.h"
#include "crc32.h"
#include "kvmutex.h"
#include "md5lib.h"
#include "testkit.h"

namespace
{
using Bytes = std::basic_string<BYTE>;

Bytes Random(size_t n)
{
    std::mt19937 rng(static_cast<unsigned>(n));
    Bytes bytes(n, 0);
    std::generate(bytes.begin(), bytes.end(), rng);
    return bytes;
}

DWORD Zlib(const Bytes& data, size_t nSkip = 0)
{
    return nSkip >= data.size() ? 0 : crc32(0, data.data() + nSkip, uInt(data.size() - nSkip));
}

const char* File(const Bytes& data)
{
    EXPECT_TRUE(tk::Write("/tmp/data", std::string(data.begin(), data.end())));
    return "/tmp/data";
}

// Known answers; the engines, the chunked and the file forms against zlib
// over many lengths and alignments are the checksum fuzz target's, whose
// seeds every build replays.
TEST(Crc32, KnownAnswersAndInterfaces)
{
    CKVCrc32 crc;
    DWORD dwString = 0, dwBuff = 0, dwOpen = 0, dwFopen = 0, dwSum = 0;
    const BYTE* pcbyDigits = reinterpret_cast<const BYTE*>("123456789");
    ASSERT_EQ(1, crc.GetStringCrc32("123456789", &dwString));
    ASSERT_EQ(1, crc.GetBuffCrc32(pcbyDigits, 9, &dwBuff));
    EXPECT_EQ(0xCBF43926u, dwString);
    EXPECT_EQ(0x340BC6D9u, dwBuff) << "the register, not inverted";
    const Bytes data = Random(100000); // past the 48 KiB read chunk
    ASSERT_EQ(1, crc.GetFileCrc32open(File(data), &dwOpen));
    ASSERT_EQ(1, crc.GetFileCrc32fopen("/tmp/data", &dwFopen));
    ASSERT_EQ(1, CalculateCheckSum("/tmp/data", &dwSum));
    EXPECT_EQ(Zlib(data), dwOpen);
    EXPECT_EQ(Zlib(data), dwFopen);
    EXPECT_EQ(Zlib(data, 4), dwSum) << "everything after the first four bytes";
    DWORD dwRegister = 0x1234; // a length of 0 or less processes nothing
    EXPECT_EQ(1, crc.GetBuffCrc32Ex(data.data(), -1, &dwRegister));
    EXPECT_EQ(0x1234u, dwRegister);
}

// The payload's CRC goes little-endian into the first four bytes (which a
// short file gains); then any changed byte fails the check. The descriptor
// form starts where the descriptor stands.
TEST(Checksum, AddCheckAndDescriptorForm)
{
    ASSERT_EQ(1,
              AddCheckSumToFile(File({0, 0, 0, 0, '1', '2', '3', '4', '5', '6', '7', '8', '9'})));
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
    ASSERT_EQ(1, AddCheckSumToFile(File({7, 7})));
    EXPECT_EQ(std::string(4, '\0'), tk::Read("/tmp/data"));
    const Bytes data = Random(70000);
    const int fd = open(File(data), O_RDONLY);
    for (off_t start : {4, 0})
    {
        DWORD dwSum = 0;
        ASSERT_EQ(start, lseek(fd, start, SEEK_SET));
        ASSERT_EQ(1, CalculateCheckSumEx(fd, &dwSum));
        EXPECT_EQ(Zlib(data, size_t(start)), dwSum);
    }
    EXPECT_EQ(0, close(fd));
}

std::string Hex(const BYTE* digest)
{
    char szHex[33];
    for (int i = 0; i < 16; ++i)
        snprintf(szHex + 2 * i, 3, "%02x", digest[i]);
    return szHex;
}

std::string Md5(const Bytes& data)
{
    CMd5 md5;
    BYTE digest[16] = {};
    EXPECT_EQ(1, md5.CalculateMD5(data.c_str(), ULONG(data.size()), digest));
    return Hex(digest);
}

std::string OpenSsl(const Bytes& data)
{
    BYTE digest[16];
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), digest, nullptr, EVP_md5(), nullptr));
    return Hex(digest);
}

// RFC 1321's suite and 'a' around the padding boundaries (by hashlib); the
// bit count carries into its high word. Random data whole or in pieces
// against OpenSSL is the checksum fuzz target's.
TEST(Md5, KnownAnswersAndBitCount)
{
    const std::pair<std::string, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"}};
    for (const auto& [text, digest] : cases)
        EXPECT_EQ(digest, Md5(Bytes(text.begin(), text.end()))) << text;
    CMd5 md5;
    CONTEXT_MD5 context{};
    ASSERT_EQ(1, md5.InitMD5(&context));
    context.ulNumberOfBits[0] = 0xFFFFFFF8u;
    ASSERT_EQ(1, md5.UpdateMD5(&context, Random(1).data(), 1));
    EXPECT_EQ(1u, context.ulNumberOfBits[1]);
    EXPECT_EQ(0, md5.UpdateMD5(&context, nullptr, 0));
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
// whether one byte anywhere differs.
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
        EXPECT_EQ(ok ? OpenSsl(Bytes(1024, 'a') + Bytes(1000, 'b') + Bytes(3, 'c'))
                     : std::string(32, '0'),
                  Hex(digest));
    }
    CMd5 md5;
    BYTE digest[16];
    ASSERT_EQ(1, md5.CalculateMD5(reinterpret_cast<const BYTE*>("aaa"), 3, digest));
    for (int iByte : {-1, 0, 15})
    {
        BYTE expected[16];
        memcpy(expected, digest, 16);
        expected[std::max(iByte, 0)] ^= iByte < 0 ? 0 : 0x80;
        int iVerdict = 5;
        EXPECT_EQ(1, md5.ValidateMD5(reinterpret_cast<const BYTE*>("aaa"), 3, expected, &iVerdict));
        EXPECT_EQ(iByte < 0, iVerdict == 1) << iByte;
    }
}

// Two threads enter a section many times; the count, read and written back
// with a yield between, loses updates unless the lock excludes them.
TEST(Locks, TwoThreadsRunTheirLockedSectionsOneAfterTheOther)
{
    auto count = [](auto lock, auto unlock) {
        std::atomic<long> lCount{0};
        auto body = [&] {
            for (int i = 0; i < 20000; ++i)
            {
                lock();
                const long lSeen = lCount;
                std::this_thread::yield();
                lCount = lSeen + 1;
                unlock();
            }
        };
        std::thread first(body), second(body);
        first.join();
        second.join();
        return long(lCount);
    };
    KVMutex mutex;
    CCriticalSectionGuard guard;
    EXPECT_EQ(40000, count([&] { mutex.Lock(); }, [&] { mutex.Unlock(); }));
    EXPECT_EQ(40000, count([&] { guard.Lock(); }, [&] { guard.Unlock(); }));
    EXPECT_LT(count([] {}, [] {}), 40000) << "the probe sees a missing lock";
}
} // namespace
