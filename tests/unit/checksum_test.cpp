// MD5's path form, validation and context. Every CRC-32 form, the checksummed files and MD5's
// known answers are the checksum fuzz target's (against zlib and OpenSSL), whose seeds every
// build replays.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "md5lib.h"

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

// The high-level operations reach the incremental ones through the
// interface, so a program deriving from CMd5 changes what they compute, and
// is deleted whole through a CMd5 pointer.
TEST(Md5, ADerivedClassChangesWhatTheHighLevelOperationsCompute)
{
    struct Zeroed : CMd5
    {
        int FinalMD5(P_CONTEXT_MD5 pContext) override
        {
            return CMd5::FinalMD5(pContext) && (memset(pContext->uchMessageDigest, 0, 16), 1);
        }
    };
    std::unique_ptr<CMd5> md5(new Zeroed);
    BYTE digest[16];
    ASSERT_EQ(1, md5->CalculateMD5(Bytes("abc"), 3, digest));
    EXPECT_EQ(std::string(32, '0'), Hex(digest));
}

} // namespace
