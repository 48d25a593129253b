// CMd5 against RFC 1321's test suite, digests computed with Python's hashlib,
// and OpenSSL's MD5 over random data.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "checksum_test_support.h"
#include "md5lib.h"

using namespace sums_test;

namespace
{

using Digest = std::vector<BYTE>;

std::string Hex(const BYTE* pcby)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string str;
    for (int i = 0; i < 16; ++i)
    {
        str += kDigits[pcby[i] >> 4];
        str += kDigits[pcby[i] & 15];
    }
    return str;
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
    unsigned int uiSize = 0;
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), digest, &uiSize, EVP_md5(), nullptr));
    return Hex(digest);
}

Bytes FromText(const std::string& str)
{
    return Bytes(str.begin(), str.end());
}

CONTEXT_MD5 ZeroContext()
{
    CONTEXT_MD5 context;
    std::memset(&context, 0, sizeof(context));
    return context;
}

// A scripted IFileWrap that records how CMd5 uses it.
class CFakeWrap : public IFileWrap
{
public:
    int Open(const char* pcszPath, int iFlags, int iMode) override
    {
        ++m_iOpens;
        m_strPath = pcszPath;
        m_iFlags = iFlags;
        m_iMode = iMode;
        return m_iHandle;
    }
    int Read(int iHandle, void* pvBuffer, unsigned int uiCount) override
    {
        EXPECT_EQ(m_iHandle, iHandle);
        m_uiLastCount = uiCount;
        if (m_nReads >= m_reads.size())
            return 0;
        const int iResult = m_reads[m_nReads++];
        if (iResult > 0)
            std::memset(pvBuffer, 'x', static_cast<std::size_t>(iResult) > uiCount ? uiCount : iResult);
        return iResult;
    }
    int Close(int iHandle) override
    {
        EXPECT_EQ(m_iHandle, iHandle);
        ++m_iCloses;
        return 0;
    }

    int m_iHandle = 7;
    std::vector<int> m_reads; // results of successive reads, then 0
    std::size_t m_nReads = 0;
    int m_iOpens = 0, m_iCloses = 0, m_iFlags = -1, m_iMode = -1;
    unsigned int m_uiLastCount = 0;
    std::string m_strPath;
};

// A real file wrapper over the POSIX calls.
class CPosixWrap : public IFileWrap
{
public:
    int Open(const char* pcszPath, int iFlags, int iMode) override
    {
        return open(pcszPath, iFlags, iMode);
    }
    int Read(int iHandle, void* pvBuffer, unsigned int uiCount) override
    {
        return static_cast<int>(read(iHandle, pvBuffer, uiCount));
    }
    int Close(int iHandle) override { return close(iHandle); }
};

} // namespace

TEST(Md5KnownAnswers, Rfc1321Suite)
{
    const struct
    {
        const char* pcszText;
        const char* pcszDigest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    CMd5 md5;
    for (const auto& c : cases)
        EXPECT_EQ(c.pcszDigest, Md5Hex(md5, FromText(c.pcszText))) << '"' << c.pcszText << '"';
}

// 'a' repeated n times, digests from Python's hashlib: the lengths where the
// padding fits, just fits, and spills into another block.
TEST(Md5KnownAnswers, PaddingBoundaries)
{
    const struct
    {
        std::size_t nLength;
        const char* pcszDigest;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
        {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
    };
    CMd5 md5;
    for (const auto& c : cases)
        EXPECT_EQ(c.pcszDigest, Md5Hex(md5, Bytes(c.nLength, 'a'))) << c.nLength;
}

TEST(Md5KnownAnswers, RandomDataMatchesOpenSsl)
{
    CMd5 md5;
    for (std::size_t nLength = 0; nLength < 300; ++nLength)
    {
        const Bytes data = RandomBytes(nLength, static_cast<unsigned int>(nLength));
        ASSERT_EQ(OpenSslMd5Hex(data), Md5Hex(md5, data)) << nLength;
    }
    const Bytes big = RandomBytes((1 << 20) + 13);
    EXPECT_EQ(OpenSslMd5Hex(big), Md5Hex(md5, big));
}

// Whatever the split, the context after each update is the one a byte-wise
// copy leaves, not just the final digest.
TEST(Md5Incremental, SplitUpdatesLeaveTheSameContextAsByteWiseUpdates)
{
    CMd5 md5;
    const Bytes data = RandomBytes(5000, 42);
    std::mt19937 rng(1);
    for (int iRound = 0; iRound < 20; ++iRound)
    {
        CONTEXT_MD5 split = ZeroContext();
        CONTEXT_MD5 bytewise = ZeroContext();
        ASSERT_EQ(1, md5.InitMD5(&split));
        ASSERT_EQ(1, md5.InitMD5(&bytewise));
        std::size_t nPos = 0;
        while (nPos < data.size())
        {
            const std::size_t nChunk =
                std::min<std::size_t>(data.size() - nPos, rng() % (iRound < 10 ? 140 : 1500));
            ASSERT_EQ(1, md5.UpdateMD5(&split, data.data() + nPos, static_cast<ULONG>(nChunk)));
            for (std::size_t i = 0; i < nChunk; ++i)
                ASSERT_EQ(1, md5.UpdateMD5(&bytewise, data.data() + nPos + i, 1));
            nPos += nChunk;
            ASSERT_EQ(0, std::memcmp(&split, &bytewise, sizeof(split))) << "at " << nPos;
        }
        ASSERT_EQ(1, md5.FinalMD5(&split));
        EXPECT_EQ(OpenSslMd5Hex(data), Hex(split.uchMessageDigest));
    }
}

TEST(Md5Incremental, BitCountCarriesIntoHighWord)
{
    CMd5 md5;
    CONTEXT_MD5 context = ZeroContext();
    ASSERT_EQ(1, md5.InitMD5(&context));
    context.ulNumberOfBits[0] = 0xFFFFFFF8u;
    const BYTE by = 0;
    ASSERT_EQ(1, md5.UpdateMD5(&context, &by, 1));
    EXPECT_EQ(0u, context.ulNumberOfBits[0]);
    EXPECT_EQ(1u, context.ulNumberOfBits[1]);
}

TEST(Md5Incremental, InitKeepsBuffersAndSetsChainingValues)
{
    CMd5 md5;
    CONTEXT_MD5 context;
    std::memset(&context, 0xAA, sizeof(context));
    ASSERT_EQ(1, md5.InitMD5(&context));
    EXPECT_EQ(0u, context.ulNumberOfBits[0]);
    EXPECT_EQ(0u, context.ulNumberOfBits[1]);
    EXPECT_EQ(0x67452301u, context.ulOutputBuffer[0]);
    EXPECT_EQ(0x10325476u, context.ulOutputBuffer[3]);
    EXPECT_EQ(Bytes(64, 0xAA), Bytes(context.uchInputBuffer, context.uchInputBuffer + 64));
    EXPECT_EQ(Bytes(16, 0xAA), Bytes(context.uchMessageDigest, context.uchMessageDigest + 16));
}

TEST(Md5NullArguments, FailWithoutTouchingOutputs)
{
    CMd5 md5;
    CONTEXT_MD5 context = ZeroContext();
    ASSERT_EQ(1, md5.InitMD5(&context));
    const CONTEXT_MD5 before = context;
    ULONG ulWords[16] = {};
    const BYTE byInput[1] = {0};
    BYTE digest[16];
    std::memset(digest, 0xEE, sizeof(digest));

    EXPECT_EQ(0, md5.InitMD5(nullptr));
    EXPECT_EQ(0, md5.UpdateMD5(nullptr, byInput, 1));
    EXPECT_EQ(0, md5.UpdateMD5(&context, nullptr, 0));
    EXPECT_EQ(0, md5.UpdateMD5(&context, nullptr, 10));
    EXPECT_EQ(0, md5.FinalMD5(nullptr));
    EXPECT_EQ(0, md5.TransformMD5(nullptr, context.ulOutputBuffer));
    EXPECT_EQ(0, md5.TransformMD5(ulWords, nullptr));
    EXPECT_EQ(0, md5.CalculateMD5(nullptr, 0, digest));
    EXPECT_EQ(0, md5.CalculateMD5(byInput, 1, nullptr));
    EXPECT_EQ(0, md5.CalculateMD5(static_cast<const char*>(nullptr), digest));
    EXPECT_EQ(0, std::memcmp(&before, &context, sizeof(context)));
    EXPECT_EQ(Bytes(16, 0xEE), Bytes(digest, digest + 16));
}

TEST(Md5PathForm, WithoutWrapperFailsWithoutTouchingFiles)
{
    CMd5 md5;
    BYTE digest[16] = {};
    EXPECT_EQ(0, md5.CalculateMD5("/etc/hostname", digest));

    CFakeWrap wrap;
    ASSERT_EQ(1, md5.InitFileWrap(&wrap));
    EXPECT_EQ(1, md5.DeInitFileWrap());
    EXPECT_EQ(0, md5.CalculateMD5("/etc/hostname", digest));
    EXPECT_EQ(0, wrap.m_iOpens);
}

TEST(Md5PathForm, OpenFailureIsNeverClosed)
{
    CMd5 md5;
    CFakeWrap wrap;
    wrap.m_iHandle = -1;
    ASSERT_EQ(1, md5.InitFileWrap(&wrap));
    BYTE digest[16] = {};
    EXPECT_EQ(0, md5.CalculateMD5("some/path", digest));
    EXPECT_EQ(1, wrap.m_iOpens);
    EXPECT_EQ(0, wrap.m_iCloses);
    EXPECT_EQ("some/path", wrap.m_strPath);
    EXPECT_EQ(0, wrap.m_iFlags);
    EXPECT_EQ(0, wrap.m_iMode);
}

TEST(Md5PathForm, EveryOpenedFileIsClosedExactlyOnce)
{
    const struct
    {
        const char* pcszName;
        std::vector<int> reads;
        int iResult;
    } cases[] = {
        {"read error first", {-1}, 0},
        {"read error after data", {1024, 10, -1}, 0},
        {"count beyond the buffer", {2000}, 0},
        {"empty file", {}, 1},
        {"data then end", {1024, 1024, 5}, 1},
    };
    for (const auto& c : cases)
    {
        CMd5 md5;
        CFakeWrap wrap;
        wrap.m_reads = c.reads;
        ASSERT_EQ(1, md5.InitFileWrap(&wrap));
        BYTE digest[16];
        std::memset(digest, 0xEE, sizeof(digest));
        EXPECT_EQ(c.iResult, md5.CalculateMD5("p", digest)) << c.pcszName;
        EXPECT_EQ(1, wrap.m_iCloses) << c.pcszName;
        EXPECT_EQ(1024u, wrap.m_uiLastCount) << c.pcszName;
        if (c.iResult == 0)
        {
            EXPECT_EQ(Bytes(16, 0xEE), Bytes(digest, digest + 16)) << c.pcszName;
        }
    }
}

TEST(Md5PathForm, DigestOfRealFilesEqualsOpenSsl)
{
    CTempDir dir;
    CPosixWrap wrap;
    CMd5 md5;
    ASSERT_EQ(1, md5.InitFileWrap(&wrap));
    for (std::size_t nSize : {0, 1, 1023, 1024, 1025, 5000})
    {
        const Bytes data = RandomBytes(nSize, static_cast<unsigned int>(nSize));
        const std::string strFile = dir.Write("m" + std::to_string(nSize), data);
        BYTE digest[16] = {};
        ASSERT_EQ(1, md5.CalculateMD5(strFile.c_str(), digest)) << nSize;
        EXPECT_EQ(OpenSslMd5Hex(data), Hex(digest)) << nSize;
    }
}

TEST(Md5PathForm, NullWrapperKeepsThePreviousOne)
{
    CMd5 md5;
    CFakeWrap wrap;
    ASSERT_EQ(1, md5.InitFileWrap(&wrap));
    EXPECT_EQ(0, md5.InitFileWrap(nullptr));
    BYTE digest[16] = {};
    EXPECT_EQ(1, md5.CalculateMD5("p", digest));
    EXPECT_EQ(1, wrap.m_iOpens);
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(digest));
}

TEST(Md5Validate, VerdictRules)
{
    CMd5 md5;
    const Bytes data = FromText("abc");
    BYTE good[16];
    ASSERT_EQ(1, md5.CalculateMD5(data.data(), 3, good));
    for (int iByte : {-1, 0, 7, 15})
    {
        BYTE expected[16];
        std::memcpy(expected, good, 16);
        if (iByte >= 0)
            expected[iByte] ^= 0x80;
        int iVerdict = 55;
        EXPECT_EQ(1, md5.ValidateMD5(data.data(), 3, expected, &iVerdict)) << iByte;
        EXPECT_EQ(iByte < 0 ? 1 : 0, iVerdict) << iByte;
    }
}

TEST(Md5Validate, PathFormUsesTheWrapper)
{
    CMd5 md5;
    CFakeWrap wrap;
    wrap.m_reads = {3};
    ASSERT_EQ(1, md5.InitFileWrap(&wrap));
    BYTE expected[16];
    ASSERT_EQ(1, md5.CalculateMD5(reinterpret_cast<const BYTE*>("xxx"), 3, expected));
    int iVerdict = 55;
    EXPECT_EQ(1, md5.ValidateMD5("p", expected, &iVerdict));
    EXPECT_EQ(1, iVerdict);
}

TEST(Md5Validate, FailuresLeaveTheVerdictAlone)
{
    CMd5 md5;
    const BYTE byInput[3] = {'a', 'b', 'c'};
    const BYTE expected[16] = {};
    int iVerdict = 55;
    EXPECT_EQ(0, md5.ValidateMD5(nullptr, 3, expected, &iVerdict));
    EXPECT_EQ(0, md5.ValidateMD5(byInput, 3, nullptr, &iVerdict));
    EXPECT_EQ(0, md5.ValidateMD5(byInput, 3, expected, nullptr));
    EXPECT_EQ(0, md5.ValidateMD5(static_cast<const char*>(nullptr), expected, &iVerdict));
    EXPECT_EQ(0, md5.ValidateMD5("p", nullptr, &iVerdict));
    EXPECT_EQ(0, md5.ValidateMD5("p", expected, nullptr));
    EXPECT_EQ(0, md5.ValidateMD5("p", expected, &iVerdict)) << "no wrapper: computation fails";
    EXPECT_EQ(55, iVerdict);
}

namespace
{

// Derived classes that change one step: the high-level operations must
// reach them through the interface.
class CCountingMd5 : public CMd5
{
public:
    int TransformMD5(ULONG* pulInBuffer, ULONG* pulOutBuffer) override
    {
        ++m_iTransforms;
        const int iResult = CMd5::TransformMD5(pulInBuffer, pulOutBuffer);
        pulOutBuffer[0] ^= m_ulTwist;
        return m_iTransforms == m_iFailAt ? 0 : iResult;
    }
    int m_iTransforms = 0;
    int m_iFailAt = -1;
    ULONG m_ulTwist = 0;
};

class CFailingInitMd5 : public CMd5
{
public:
    int InitMD5(P_CONTEXT_MD5) override { return 0; }
};

class CFailingFinalMd5 : public CMd5
{
public:
    int FinalMD5(P_CONTEXT_MD5) override { return 0; }
};

} // namespace

TEST(Md5Virtual, TransformIsCalledThroughTheInterface)
{
    const Bytes data = RandomBytes(1000);
    CMd5 plain;
    CCountingMd5 counting;
    EXPECT_EQ(Md5Hex(plain, data), Md5Hex(counting, data));
    EXPECT_EQ(16, counting.m_iTransforms) << "15 data blocks and one padding block";

    CCountingMd5 twisted;
    twisted.m_ulTwist = 1;
    EXPECT_NE(Md5Hex(plain, data), Md5Hex(twisted, data));
}

TEST(Md5Virtual, FailingStepFailsTheDigestAndTheValidation)
{
    const Bytes data = RandomBytes(1000);
    BYTE digest[16];
    std::memset(digest, 0xEE, sizeof(digest));
    int iVerdict = 55;

    for (int iFailAt : {1, 2, 16})
    {
        CCountingMd5 failing;
        failing.m_iFailAt = iFailAt;
        EXPECT_EQ(0, failing.CalculateMD5(data.data(), 1000, digest)) << iFailAt;
        EXPECT_EQ(iFailAt, failing.m_iTransforms) << "stops at the first failure";
    }
    CFailingInitMd5 badInit;
    EXPECT_EQ(0, badInit.CalculateMD5(data.data(), 1000, digest));
    EXPECT_EQ(0, badInit.ValidateMD5(data.data(), 1000, digest, &iVerdict));
    CFailingFinalMd5 badFinal;
    EXPECT_EQ(0, badFinal.CalculateMD5(data.data(), 1000, digest));
    EXPECT_EQ(Bytes(16, 0xEE), Bytes(digest, digest + 16));
    EXPECT_EQ(55, iVerdict);
}
