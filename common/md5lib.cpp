// CMd5: MD5 (RFC 1321). The high-level operations reach the incremental ones
// and the compression through the IMd5 interface, so a derived class that
// replaces one of them changes every digest built on it.
#include "md5lib.h"

#include <cstring>

namespace
{

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kLengthOffset = 56;
constexpr std::size_t kDigestSize = 16;
constexpr unsigned int kFileReadSize = 1024;

// 0x80 then zeros: the padding that ends every message.
const BYTE g_uchPadding[kBlockSize] = {0x80};

// floor(abs(sin(i + 1)) * 2^32), one per step.
constexpr ULONG kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline ULONG RotateLeft(ULONG ulValue, int iBits)
{
    return (ulValue << iBits) | (ulValue >> (32 - iBits));
}

// The four rounds differ only in their mixing function and in the order in
// which they take the message words.
struct RoundF
{
    static ULONG Mix(ULONG b, ULONG c, ULONG d) { return d ^ (b & (c ^ d)); }
    static int Word(int i) { return i; }
};
struct RoundG
{
    // The two terms never share a bit, so adding them equals OR-ing them and
    // lets the half that does not depend on b start early.
    static ULONG Mix(ULONG b, ULONG c, ULONG d) { return (c & ~d) + (b & d); }
    static int Word(int i) { return (5 * i + 1) & 15; }
};
struct RoundH
{
    static ULONG Mix(ULONG b, ULONG c, ULONG d) { return b ^ c ^ d; }
    static int Word(int i) { return (3 * i + 5) & 15; }
};
struct RoundI
{
    static ULONG Mix(ULONG b, ULONG c, ULONG d) { return c ^ (b | ~d); }
    static int Word(int i) { return (7 * i) & 15; }
};

template <typename Round, int iRound>
inline void RunRound(ULONG (&s)[4], const ULONG* pulWords)
{
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i)
    {
        const ULONG ulSum =
            s[0] + Round::Mix(s[1], s[2], s[3]) + kSine[16 * iRound + i] + pulWords[Round::Word(i)];
        const ULONG ulNewB = s[1] + RotateLeft(ulSum, kShift[iRound][i & 3]);
        s[0] = s[3];
        s[3] = s[2];
        s[2] = s[1];
        s[1] = ulNewB;
    }
}

void DecodeWords(const BYTE* pcby, ULONG* pulWords, std::size_t nWords)
{
    for (std::size_t i = 0; i < nWords; ++i, pcby += 4)
        pulWords[i] = static_cast<ULONG>(pcby[0]) | (static_cast<ULONG>(pcby[1]) << 8) |
                      (static_cast<ULONG>(pcby[2]) << 16) | (static_cast<ULONG>(pcby[3]) << 24);
}

// One compression of a 64-byte block, through the interface.
int TransformBytes(IMd5& md5, const BYTE* pcbyBlock, ULONG* pulState)
{
    ULONG ulWords[16];
    DecodeWords(pcbyBlock, ulWords, 16);
    return md5.TransformMD5(ulWords, pulState);
}

void AddLength(P_CONTEXT_MD5 pContextMD5, ULONG ulLength)
{
    const ULONG ulBits = ulLength << 3;
    pContextMD5->ulNumberOfBits[0] += ulBits;
    if (pContextMD5->ulNumberOfBits[0] < ulBits)
        ++pContextMD5->ulNumberOfBits[1];
    pContextMD5->ulNumberOfBits[1] += ulLength >> 29;
}

ULONG PendingBytes(const CONTEXT_MD5& context)
{
    return (context.ulNumberOfBits[0] >> 3) & 63;
}

// Closes the wrapper's handle on every way out of a path-form digest.
class CWrapHandle
{
public:
    CWrapHandle(IFileWrap& wrap, int iHandle) : m_wrap(wrap), m_iHandle(iHandle) {}
    ~CWrapHandle()
    {
        // The file was only read; its close cannot change the digest.
        static_cast<void>(m_wrap.Close(m_iHandle));
    }
    CWrapHandle(const CWrapHandle&) = delete;
    CWrapHandle& operator=(const CWrapHandle&) = delete;

private:
    IFileWrap& m_wrap;
    int m_iHandle;
};

int SetVerdict(const BYTE* pcuchComputed, const BYTE* pcuchExpected, int* piIsValid)
{
    *piIsValid = std::memcmp(pcuchComputed, pcuchExpected, kDigestSize) == 0 ? 1 : 0;
    return 1;
}

} // namespace

CMd5::CMd5() : m_pFileWrap(nullptr) {}

CMd5::~CMd5() = default;

int CMd5::CalculateMD5(const BYTE* pcuchInputBuffer, ULONG ulInputBufferLength,
                       BYTE* puchMessageDigest)
{
    if (pcuchInputBuffer == nullptr || puchMessageDigest == nullptr)
        return 0;
    CONTEXT_MD5 context;
    std::memset(&context, 0, sizeof(context));
    if (!InitMD5(&context) || !UpdateMD5(&context, pcuchInputBuffer, ulInputBufferLength) ||
        !FinalMD5(&context))
        return 0;
    std::memcpy(puchMessageDigest, context.uchMessageDigest, kDigestSize);
    return 1;
}

int CMd5::CalculateMD5(const char* pcszInputFilePath, BYTE* puchMessageDigest)
{
    if (pcszInputFilePath == nullptr || puchMessageDigest == nullptr || m_pFileWrap == nullptr)
        return 0;
    const int iHandle = m_pFileWrap->Open(pcszInputFilePath, 0, 0);
    if (iHandle == -1)
        return 0;
    CWrapHandle handle(*m_pFileWrap, iHandle);

    CONTEXT_MD5 context;
    std::memset(&context, 0, sizeof(context));
    if (!InitMD5(&context))
        return 0;
    BYTE byBuffer[kFileReadSize];
    for (;;)
    {
        const int iRead = m_pFileWrap->Read(iHandle, byBuffer, kFileReadSize);
        if (iRead == 0)
            break;
        // A count outside 0..1024 can only come from a faulty wrapper; it is
        // refused like a read error rather than trusted past the buffer.
        if (iRead < 0 || static_cast<unsigned int>(iRead) > kFileReadSize)
            return 0;
        if (!UpdateMD5(&context, byBuffer, static_cast<ULONG>(iRead)))
            return 0;
    }
    if (!FinalMD5(&context))
        return 0;
    std::memcpy(puchMessageDigest, context.uchMessageDigest, kDigestSize);
    return 1;
}

int CMd5::ValidateMD5(const BYTE* pcuchInputBuffer, ULONG ulInputBufferLength,
                      const BYTE* pcuchMessageDigest, int* piIsValid)
{
    BYTE uchComputed[kDigestSize];
    if (pcuchInputBuffer == nullptr || pcuchMessageDigest == nullptr || piIsValid == nullptr ||
        !CalculateMD5(pcuchInputBuffer, ulInputBufferLength, uchComputed))
        return 0;
    return SetVerdict(uchComputed, pcuchMessageDigest, piIsValid);
}

int CMd5::ValidateMD5(const char* pcszInputFilePath, const BYTE* pcuchMessageDigest, int* piIsValid)
{
    BYTE uchComputed[kDigestSize];
    if (pcszInputFilePath == nullptr || pcuchMessageDigest == nullptr || piIsValid == nullptr ||
        !CalculateMD5(pcszInputFilePath, uchComputed))
        return 0;
    return SetVerdict(uchComputed, pcuchMessageDigest, piIsValid);
}

int CMd5::InitMD5(P_CONTEXT_MD5 pContextMD5)
{
    if (pContextMD5 == nullptr)
        return 0;
    pContextMD5->ulNumberOfBits[0] = 0;
    pContextMD5->ulNumberOfBits[1] = 0;
    pContextMD5->ulOutputBuffer[0] = 0x67452301;
    pContextMD5->ulOutputBuffer[1] = 0xEFCDAB89;
    pContextMD5->ulOutputBuffer[2] = 0x98BADCFE;
    pContextMD5->ulOutputBuffer[3] = 0x10325476;
    return 1;
}

// Whole blocks are compressed straight from the input instead of being
// copied through uchInputBuffer byte by byte. The context still ends exactly
// as the byte-wise copy would leave it: the pending tail at the front of
// uchInputBuffer, the rest of the last compressed block behind it.
int CMd5::UpdateMD5(P_CONTEXT_MD5 pContextMD5, const BYTE* pcuchMessageBuffer,
                    ULONG ulMessageBufferLength)
{
    if (pContextMD5 == nullptr || pcuchMessageBuffer == nullptr)
        return 0;
    BYTE* puchBlock = pContextMD5->uchInputBuffer;
    const ULONG ulIndex = PendingBytes(*pContextMD5);
    AddLength(pContextMD5, ulMessageBufferLength);

    const ULONG ulFill = kBlockSize - ulIndex;
    if (ulMessageBufferLength < ulFill)
    {
        std::memmove(puchBlock + ulIndex, pcuchMessageBuffer, ulMessageBufferLength);
        return 1;
    }
    std::memmove(puchBlock + ulIndex, pcuchMessageBuffer, ulFill);
    if (!TransformBytes(*this, puchBlock, pContextMD5->ulOutputBuffer))
        return 0;

    const BYTE* pcuchLast = puchBlock;
    ULONG ulPos = ulFill;
    for (; ulMessageBufferLength - ulPos >= kBlockSize; ulPos += kBlockSize)
    {
        pcuchLast = pcuchMessageBuffer + ulPos;
        if (!TransformBytes(*this, pcuchLast, pContextMD5->ulOutputBuffer))
        {
            std::memmove(puchBlock, pcuchLast, kBlockSize);
            return 0;
        }
    }
    const ULONG ulRest = ulMessageBufferLength - ulPos;
    if (pcuchLast != puchBlock)
        std::memmove(puchBlock + ulRest, pcuchLast + ulRest, kBlockSize - ulRest);
    std::memmove(puchBlock, pcuchMessageBuffer + ulPos, ulRest);
    return 1;
}

int CMd5::FinalMD5(P_CONTEXT_MD5 pContextMD5)
{
    if (pContextMD5 == nullptr)
        return 0;
    const ULONG ulBitsLow = pContextMD5->ulNumberOfBits[0];
    const ULONG ulBitsHigh = pContextMD5->ulNumberOfBits[1];
    const ULONG ulIndex = PendingBytes(*pContextMD5);
    const ULONG ulPadding =
        ulIndex < kLengthOffset ? kLengthOffset - ulIndex : kLengthOffset + kBlockSize - ulIndex;
    if (!UpdateMD5(pContextMD5, g_uchPadding, ulPadding))
        return 0;

    ULONG ulWords[16];
    DecodeWords(pContextMD5->uchInputBuffer, ulWords, kLengthOffset / 4);
    ulWords[14] = ulBitsLow;
    ulWords[15] = ulBitsHigh;
    if (!TransformMD5(ulWords, pContextMD5->ulOutputBuffer))
        return 0;

    for (std::size_t i = 0; i < kDigestSize; ++i)
        pContextMD5->uchMessageDigest[i] =
            static_cast<BYTE>(pContextMD5->ulOutputBuffer[i / 4] >> (8 * (i % 4)));
    return 1;
}

int CMd5::TransformMD5(ULONG* pulInBuffer, ULONG* pulOutBuffer)
{
    if (pulInBuffer == nullptr || pulOutBuffer == nullptr)
        return 0;
    ULONG s[4] = {pulOutBuffer[0], pulOutBuffer[1], pulOutBuffer[2], pulOutBuffer[3]};
    RunRound<RoundF, 0>(s, pulInBuffer);
    RunRound<RoundG, 1>(s, pulInBuffer);
    RunRound<RoundH, 2>(s, pulInBuffer);
    RunRound<RoundI, 3>(s, pulInBuffer);
    for (int i = 0; i < 4; ++i)
        pulOutBuffer[i] += s[i];
    return 1;
}

BOOL CMd5::InitFileWrap(IFileWrap* pFileWrap)
{
    if (pFileWrap == nullptr)
        return 0;
    m_pFileWrap = pFileWrap;
    return 1;
}

BOOL CMd5::DeInitFileWrap()
{
    m_pFileWrap = nullptr;
    return 1;
}
