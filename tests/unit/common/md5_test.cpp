// CMd5 against RFC 1321's test suite, digests computed with Python's hashlib,
// and OpenSSL's MD5 over random data.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "checksum_test_support.h"
#include "md5lib.h"

using namespace sums_test;

namespace
{
const std::string kUnwritten(32, '0'); // Hex() of a zeroed digest buffer

std::string Hex(const BYTE* pcby)
{
    char szHex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(szHex + 2 * i, 3, "%02x", pcby[i]);
    return szHex;
}

std::string Md5Hex(IMd5& md5, const Bytes& data)
{
    BYTE digest[16] = {};
    EXPECT_EQ(1, md5.CalculateMD5(DataOf(data), static_cast<ULONG>(data.size()), digest));
    return Hex(digest);
}

std::string OpenSslMd5Hex(const Bytes& data)
{
    BYTE digest[16] = {};
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), digest, nullptr, EVP_md5(), nullptr));
    return Hex(digest);
}

CONTEXT_MD5 InitedContext(IMd5& md5)
{
    CONTEXT_MD5 context{};
    EXPECT_EQ(1, md5.InitMD5(&context));
    return context;
}

// A scripted IFileWrap that records how CMd5 uses it. Read n fills its
// bytes with 'a' + n, so data from a wrong place or read shows.
class CFakeWrap : public IFileWrap
{
public:
    int Open(const char* pcszPath, int iFlags, int iMode) override
    {
        m_strOpened += std::string(pcszPath) + " " + std::to_string(iFlags) + " " + std::to_string(iMode);
        return m_iHandle;
    }
    int Read(int iHandle, void* pvBuffer, unsigned int uiCount) override
    {
        EXPECT_EQ(m_iHandle, iHandle);
        EXPECT_EQ(1024u, uiCount);
        const int iResult = m_nReads < m_reads.size() ? m_reads[m_nReads] : 0;
        std::memset(pvBuffer, 'a' + static_cast<int>(m_nReads++), std::clamp<int>(iResult, 0, uiCount));
        return iResult;
    }
    int Close(int iHandle) override { EXPECT_EQ(m_iHandle, iHandle); return ++m_iCloses, 0; }

    int m_iHandle = 7, m_iCloses = 0;
    std::vector<int> m_reads; // results of successive reads, then 0
    std::size_t m_nReads = 0;
    std::string m_strOpened;
};

// Changes single steps: the high-level operations must reach them through
// the interface and stop at the first one that fails.
class CScriptedMd5 : public CMd5
{
public:
    int InitMD5(P_CONTEXT_MD5 pContext) override { return m_bFailInit ? 0 : CMd5::InitMD5(pContext); }
    int FinalMD5(P_CONTEXT_MD5 pContext) override { return m_bFailFinal ? 0 : CMd5::FinalMD5(pContext); }
    int TransformMD5(ULONG* pulInBuffer, ULONG* pulOutBuffer) override
    {
        const int iResult = CMd5::TransformMD5(pulInBuffer, pulOutBuffer);
        return ++m_iTransforms == m_iFailAt ? 0 : iResult;
    }
    int m_iTransforms = 0, m_iFailAt = -1;
    bool m_bFailInit = false, m_bFailFinal = false;
};

// RFC 1321's suite, 'a' repeated around the padding boundaries (hashlib),
// then random data of more lengths against OpenSSL.
TEST(Md5, KnownAnswers)
{
    const std::pair<std::string, const char*> kCases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890", "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
    };
    CMd5 md5;
    for (const auto& [strText, pcszDigest] : kCases)
        EXPECT_EQ(pcszDigest, Md5Hex(md5, Bytes(strText.begin(), strText.end()))) << strText;
    for (std::size_t nLength : {119, 120, 128, 299, (1 << 20) + 13})
    {
        const Bytes data = RandomBytes(nLength, static_cast<unsigned int>(nLength));
        EXPECT_EQ(OpenSslMd5Hex(data), Md5Hex(md5, data)) << nLength;
    }
}

// Whatever the split, the context after each update is the one a byte-wise
// copy leaves, not just the final digest; the bit count carries into its high word.
TEST(Md5, SplitUpdatesLeaveTheSameContextAsByteWiseUpdates)
{
    CMd5 md5;
    const Bytes data = RandomBytes(5000, 42);
    std::mt19937 rng(1);
    for (int iRound = 0; iRound < 20; ++iRound)
    {
        CONTEXT_MD5 split = InitedContext(md5), bytewise = InitedContext(md5);
        for (std::size_t nPos = 0, nChunk; nPos < data.size(); nPos += nChunk)
        {
            nChunk = std::min<std::size_t>(data.size() - nPos, rng() % (iRound < 10 ? 140 : 1500));
            ASSERT_EQ(1, md5.UpdateMD5(&split, data.data() + nPos, static_cast<ULONG>(nChunk)));
            for (std::size_t i = 0; i < nChunk; ++i)
                ASSERT_EQ(1, md5.UpdateMD5(&bytewise, data.data() + nPos + i, 1));
            ASSERT_EQ(0, std::memcmp(&split, &bytewise, sizeof(split))) << "at " << nPos;
        }
        ASSERT_EQ(1, md5.FinalMD5(&split));
        EXPECT_EQ(OpenSslMd5Hex(data), Hex(split.uchMessageDigest));
    }
    CONTEXT_MD5 context = InitedContext(md5);
    context.ulNumberOfBits[0] = 0xFFFFFFF8u; // one byte short of the carry into the high word
    ASSERT_EQ(1, md5.UpdateMD5(&context, data.data(), 1));
    EXPECT_EQ(0u, context.ulNumberOfBits[0]);
    EXPECT_EQ(1u, context.ulNumberOfBits[1]);
}

// One bad argument per operation; without a wrapper the path form fails.
TEST(Md5, InvalidArgumentsFailWithoutTouchingOutputs)
{
    CMd5 md5;
    CONTEXT_MD5 context = InitedContext(md5);
    const CONTEXT_MD5 before = context;
    const BYTE byInput[3] = {'a', 'b', 'c'};
    BYTE digest[16] = {};
    int iVerdict = 55;
    EXPECT_EQ(0, md5.InitMD5(nullptr));
    EXPECT_EQ(0, md5.UpdateMD5(&context, nullptr, 0));
    EXPECT_EQ(0, md5.FinalMD5(nullptr));
    EXPECT_EQ(0, md5.TransformMD5(nullptr, context.ulOutputBuffer));
    EXPECT_EQ(0, md5.CalculateMD5(byInput, 1, nullptr));
    EXPECT_EQ(0, md5.ValidateMD5("p", digest, &iVerdict));
    EXPECT_EQ(0, md5.CalculateMD5("p", digest));
    EXPECT_EQ(0, std::memcmp(&before, &context, sizeof(context)));
    EXPECT_EQ(kUnwritten, Hex(digest));
    EXPECT_EQ(55, iVerdict);
}

// Every opened file is closed exactly once; the digest is that of the data read.
TEST(Md5PathForm, ReadsAndCloses)
{
    const struct { int iHandle; std::vector<int> reads; int iResult; } kCases[] = {
        {-1, {}, 0},              // open fails: nothing to close
        {7, {-1}, 0},             // read error
        {7, {1024, 10, -1}, 0},   // read error after data
        {7, {2000}, 0},           // count beyond the buffer
        {7, {}, 1},               // empty file
        {7, {1024, 1000, 64, 3}, 1},
    };
    for (const auto& c : kCases)
    {
        CMd5 md5;
        CFakeWrap wrap;
        wrap.m_iHandle = c.iHandle, wrap.m_reads = c.reads;
        ASSERT_EQ(1, md5.InitFileWrap(&wrap));
        BYTE digest[16] = {};
        EXPECT_EQ(c.iResult, md5.CalculateMD5("p", digest)) << c.reads.size();
        EXPECT_EQ(c.iHandle == -1 ? 0 : 1, wrap.m_iCloses) << c.reads.size();
        EXPECT_EQ("p 0 0", wrap.m_strOpened) << "opened once, read-only";
        Bytes data;
        for (std::size_t i = 0; i < c.reads.size(); ++i)
            data.insert(data.end(), static_cast<std::size_t>(std::max(c.reads[i], 0)), static_cast<BYTE>('a' + i));
        EXPECT_EQ(c.iResult == 1 ? OpenSslMd5Hex(data) : kUnwritten, Hex(digest)) << c.reads.size();
    }
}

// Both forms: a matching digest gives 1, one differing byte anywhere gives 0.
// Only the wrapper last set is used, until it is removed.
TEST(Md5Validate, VerdictRules)
{
    CMd5 md5;
    CFakeWrap wrap;
    ASSERT_EQ(1, md5.InitFileWrap(&wrap));
    EXPECT_EQ(0, md5.InitFileWrap(nullptr)) << "and keeps the wrapper set before";
    const BYTE byInput[3] = {'a', 'a', 'a'};
    BYTE good[16];
    ASSERT_EQ(1, md5.CalculateMD5(byInput, 3, good));
    for (int iByte : {-1, 0, 15})
    {
        BYTE expected[16];
        std::memcpy(expected, good, 16);
        expected[std::max(iByte, 0)] ^= iByte < 0 ? 0 : 0x80;
        int iVerdict = 55, iPathVerdict = 55;
        wrap.m_reads = {3}, wrap.m_nReads = 0;
        EXPECT_EQ(1, md5.ValidateMD5(byInput, 3, expected, &iVerdict)) << iByte;
        EXPECT_EQ(1, md5.ValidateMD5("p", expected, &iPathVerdict)) << iByte;
        EXPECT_EQ(iByte < 0 ? 1 : 0, iVerdict) << iByte;
        EXPECT_EQ(iByte < 0 ? 1 : 0, iPathVerdict) << iByte;
    }
    EXPECT_EQ(1, md5.DeInitFileWrap());
    EXPECT_EQ(0, md5.CalculateMD5("p", good));
}

TEST(Md5Virtual, StepsAreCalledThroughTheInterface)
{
    const Bytes data = RandomBytes(1000);
    CMd5 plain;
    CScriptedMd5 counting;
    EXPECT_EQ(Md5Hex(plain, data), Md5Hex(counting, data));
    EXPECT_EQ(16, counting.m_iTransforms) << "15 data blocks and one padding block";

    BYTE digest[16] = {};
    for (int iFailAt : {1, 16})
    {
        CScriptedMd5 failing;
        failing.m_iFailAt = iFailAt;
        EXPECT_EQ(0, failing.CalculateMD5(data.data(), 1000, digest)) << iFailAt;
        EXPECT_EQ(iFailAt, failing.m_iTransforms) << "stops at the first failure";
    }
    CScriptedMd5 badInit, badFinal;
    badInit.m_bFailInit = true;
    badFinal.m_bFailFinal = true;
    int iVerdict = 55;
    EXPECT_EQ(0, badInit.ValidateMD5(data.data(), 1000, digest, &iVerdict));
    EXPECT_EQ(0, badFinal.CalculateMD5(data.data(), 1000, digest));
    EXPECT_EQ(kUnwritten, Hex(digest));
    EXPECT_EQ(55, iVerdict);
}
} // namespace
