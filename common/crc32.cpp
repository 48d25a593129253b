// CKVCrc32: the standard CRC-32 (reflected polynomial 0xEDB88320) over
// buffers, strings and files. Several engines give one byte-exact result:
// carry-less multiplication folding on 128-bit lanes, or on 256-bit lanes
// where the CPU has VPCLMULQDQ, and slicing-by-8 tables everywhere else.
#include "crc32.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "crc32_internal.h"
#include "handles.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define XEDA_CRC_CLMUL 1
#endif

namespace xeda_crc
{
namespace
{

constexpr DWORD kCrcPolynomial = 0xEDB88320u;

constexpr DWORD ShiftEightBits(DWORD dwValue)
{
    for (int i = 0; i < 8; ++i)
        dwValue = (dwValue & 1u) ? (dwValue >> 1) ^ kCrcPolynomial : dwValue >> 1;
    return dwValue;
}

// Entry [k][i]: the register after byte i followed by k zero bytes, so that
// eight bytes can be folded in with eight independent look-ups.
struct SliceTables
{
    DWORD dwEntry[8][256];
};

constexpr SliceTables BuildSliceTables()
{
    SliceTables tables{};
    for (DWORD i = 0; i < 256; ++i)
        tables.dwEntry[0][i] = ShiftEightBits(i);
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i)
        {
            const DWORD dwPrev = tables.dwEntry[k - 1][i];
            tables.dwEntry[k][i] = (dwPrev >> 8) ^ tables.dwEntry[0][dwPrev & 0xFFu];
        }
    return tables;
}

constexpr SliceTables kSlice = BuildSliceTables();

inline DWORD LoadLittleEndian32(const BYTE* pcby)
{
    return static_cast<DWORD>(pcby[0]) | (static_cast<DWORD>(pcby[1]) << 8) |
           (static_cast<DWORD>(pcby[2]) << 16) | (static_cast<DWORD>(pcby[3]) << 24);
}

inline DWORD ByteStep(const DWORD* pdwTable, DWORD dwCrc, BYTE by)
{
    return pdwTable[(dwCrc ^ by) & 0xFFu] ^ (dwCrc >> 8);
}

inline DWORD SliceStep(DWORD dwCrc, const BYTE* pcby)
{
    const DWORD dwLow = LoadLittleEndian32(pcby) ^ dwCrc;
    const DWORD dwHigh = LoadLittleEndian32(pcby + 4);
    const auto& t = kSlice.dwEntry;
    return t[7][dwLow & 0xFFu] ^ t[6][(dwLow >> 8) & 0xFFu] ^ t[5][(dwLow >> 16) & 0xFFu] ^
           t[4][dwLow >> 24] ^ t[3][dwHigh & 0xFFu] ^ t[2][(dwHigh >> 8) & 0xFFu] ^
           t[1][(dwHigh >> 16) & 0xFFu] ^ t[0][dwHigh >> 24];
}

DWORD AdvancePortable(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff, std::size_t nLength)
{
    for (; nLength >= 8; nLength -= 8, pcbyBuff += 8)
        dwCrc = SliceStep(dwCrc, pcbyBuff);
    for (; nLength > 0; --nLength, ++pcbyBuff)
        dwCrc = ByteStep(pdwTable, dwCrc, *pcbyBuff);
    return dwCrc;
}

#ifdef XEDA_CRC_CLMUL

// x^n mod P (normal form), bit-reflected and shifted left by one, as the
// carry-less multiplier takes it. Folding a 128-bit lane d bits forward
// multiplies its first (low) 64-bit half by the constant for d + 32 and its
// second half by the constant for d - 32.
constexpr unsigned long long FoldConstant(int iPower)
{
    unsigned long long ullValue = 1;
    for (int i = 0; i < iPower; ++i)
    {
        ullValue <<= 1;
        if (ullValue & 0x100000000ull)
            ullValue ^= 0x104C11DB7ull;
    }
    unsigned long long ullReflected = 0;
    for (int i = 0; i < 32; ++i)
        if (ullValue & (1ull << i))
            ullReflected |= 1ull << (31 - i);
    return ullReflected << 1;
}

// Lanes folded side by side: enough of them to keep the multiplier busy
// while each fold waits for the previous one of its lane.
constexpr int kLanes = 8;
constexpr std::size_t kStride128 = 16 * kLanes;
constexpr std::size_t kStride256 = 32 * kLanes;

// The pair of constants for folding a lane nBytes forward.
constexpr unsigned long long FoldLow(std::size_t nBytes)
{
    return FoldConstant(static_cast<int>(8 * nBytes) + 32);
}
constexpr unsigned long long FoldHigh(std::size_t nBytes)
{
    return FoldConstant(static_cast<int>(8 * nBytes) - 32);
}

__attribute__((target("pclmul"))) inline __m128i Fold(__m128i xAcc, __m128i xConstants,
                                                      __m128i xNext)
{
    const __m128i xLow = _mm_clmulepi64_si128(xAcc, xConstants, 0x00);
    const __m128i xHigh = _mm_clmulepi64_si128(xAcc, xConstants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(xLow, xHigh), xNext);
}

__attribute__((target("avx2,vpclmulqdq"))) inline __m256i Fold(__m256i yAcc, __m256i yConstants,
                                                               __m256i yNext)
{
    const __m256i yLow = _mm256_clmulepi64_epi128(yAcc, yConstants, 0x00);
    const __m256i yHigh = _mm256_clmulepi64_epi128(yAcc, yConstants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(yLow, yHigh), yNext);
}

inline __m128i Load128(const BYTE* pcby)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pcby));
}

__attribute__((target("avx2"))) inline __m256i Load256(const BYTE* pcby)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pcby));
}

// Collapses 128-bit lanes (in message order) into one, folds in the whole
// 16-byte blocks that follow, and lets the byte table finish: the remaining
// lane is a 16-byte message with the same CRC as everything before it, read
// from a zero register.
__attribute__((target("pclmul"))) DWORD FinishLanes(const DWORD* pdwTable, const __m128i* pxLanes,
                                                    int iLanes, const BYTE* pcbyBuff,
                                                    std::size_t nLength)
{
    const __m128i x128 =
        _mm_set_epi64x(static_cast<long long>(FoldHigh(16)), static_cast<long long>(FoldLow(16)));
    __m128i xAcc = pxLanes[0];
    for (int i = 1; i < iLanes; ++i)
        xAcc = Fold(xAcc, x128, pxLanes[i]);
    for (; nLength >= 16; pcbyBuff += 16, nLength -= 16)
        xAcc = Fold(xAcc, x128, Load128(pcbyBuff));

    BYTE byRest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(byRest), xAcc);
    const DWORD dwCrc = AdvancePortable(pdwTable, 0, byRest, sizeof(byRest));
    return AdvancePortable(pdwTable, dwCrc, pcbyBuff, nLength);
}

// In both engines the register is folded into the first 4 bytes, then every
// lane is folded forward over the data one stride at a time.
__attribute__((target("pclmul"))) DWORD AdvanceClmul(const DWORD* pdwTable, DWORD dwCrc,
                                                     const BYTE* pcbyBuff, std::size_t nLength)
{
    if (nLength < kStride128)
        return AdvancePortable(pdwTable, dwCrc, pcbyBuff, nLength);
    const __m128i xStride = _mm_set_epi64x(static_cast<long long>(FoldHigh(kStride128)),
                                           static_cast<long long>(FoldLow(kStride128)));
    __m128i xLane[kLanes];
    for (int i = 0; i < kLanes; ++i)
        xLane[i] = Load128(pcbyBuff + 16 * i);
    xLane[0] = _mm_xor_si128(xLane[0], _mm_cvtsi32_si128(static_cast<int>(dwCrc)));
    for (pcbyBuff += kStride128, nLength -= kStride128; nLength >= kStride128;
         pcbyBuff += kStride128, nLength -= kStride128)
        for (int i = 0; i < kLanes; ++i)
            xLane[i] = Fold(xLane[i], xStride, Load128(pcbyBuff + 16 * i));
    return FinishLanes(pdwTable, xLane, kLanes, pcbyBuff, nLength);
}

__attribute__((target("avx2,pclmul,vpclmulqdq"))) DWORD AdvanceWideClmul(const DWORD* pdwTable,
                                                                         DWORD dwCrc,
                                                                         const BYTE* pcbyBuff,
                                                                         std::size_t nLength)
{
    if (nLength < kStride256)
        return AdvanceClmul(pdwTable, dwCrc, pcbyBuff, nLength);
    const __m256i yStride = _mm256_set_epi64x(
        static_cast<long long>(FoldHigh(kStride256)), static_cast<long long>(FoldLow(kStride256)),
        static_cast<long long>(FoldHigh(kStride256)), static_cast<long long>(FoldLow(kStride256)));
    __m256i yLane[kLanes];
    for (int i = 0; i < kLanes; ++i)
        yLane[i] = Load256(pcbyBuff + 32 * i);
    yLane[0] = _mm256_xor_si256(yLane[0],
                                _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(dwCrc))));
    for (pcbyBuff += kStride256, nLength -= kStride256; nLength >= kStride256;
         pcbyBuff += kStride256, nLength -= kStride256)
        for (int i = 0; i < kLanes; ++i)
            yLane[i] = Fold(yLane[i], yStride, Load256(pcbyBuff + 32 * i));

    __m128i xLane[2 * kLanes];
    for (int i = 0; i < kLanes; ++i)
    {
        xLane[2 * i] = _mm256_castsi256_si128(yLane[i]);
        xLane[2 * i + 1] = _mm256_extracti128_si256(yLane[i], 1);
    }
    return FinishLanes(pdwTable, xLane, 2 * kLanes, pcbyBuff, nLength);
}

bool CpuHasClmul()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul");
}

bool CpuHasWideClmul()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("avx2") &&
           __builtin_cpu_supports("vpclmulqdq");
}

#endif

} // namespace

bool Crc32EngineAvailable(CrcEngine engine)
{
#ifdef XEDA_CRC_CLMUL
    // The CPU cannot change under a running process: ask it once.
    static const bool bClmul = CpuHasClmul();
    static const bool bWide = CpuHasWideClmul();
    if (engine == CrcEngine::Clmul)
        return bClmul;
    if (engine == CrcEngine::WideClmul)
        return bWide;
#endif
    return engine == CrcEngine::Portable;
}

DWORD Crc32AdvanceWith(CrcEngine engine, const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff,
                       std::size_t nLength)
{
#ifdef XEDA_CRC_CLMUL
    switch (engine)
    {
    case CrcEngine::Clmul:
        return AdvanceClmul(pdwTable, dwCrc, pcbyBuff, nLength);
    case CrcEngine::WideClmul:
        return AdvanceWideClmul(pdwTable, dwCrc, pcbyBuff, nLength);
    case CrcEngine::Portable:
        break;
    }
#else
    static_cast<void>(engine);
#endif
    return AdvancePortable(pdwTable, dwCrc, pcbyBuff, nLength);
}

DWORD Crc32Advance(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff, std::size_t nLength)
{
    static const CrcEngine best = Crc32EngineAvailable(CrcEngine::WideClmul) ? CrcEngine::WideClmul
                                  : Crc32EngineAvailable(CrcEngine::Clmul)   ? CrcEngine::Clmul
                                                                             : CrcEngine::Portable;
    return Crc32AdvanceWith(best, pdwTable, dwCrc, pcbyBuff, nLength);
}

} // namespace xeda_crc

namespace
{

std::size_t LengthOf(int iLength)
{
    return iLength > 0 ? static_cast<std::size_t>(iLength) : 0;
}

} // namespace

CKVCrc32::CKVCrc32()
{
    GenerateCrc32Table();
}

CKVCrc32::~CKVCrc32() = default;

void CKVCrc32::GenerateCrc32Table()
{
    for (DWORD i = 0; i < 256; ++i)
        m_dwCrcTable[i] = xeda_crc::ShiftEightBits(i);
}

int CKVCrc32::GetBuffCrc32(const BYTE* pcbyBuff, int iLength, DWORD* pdwCrc32)
{
    if (pcbyBuff == nullptr || pdwCrc32 == nullptr)
        return 0;
    *pdwCrc32 =
        xeda_crc::Crc32Advance(m_dwCrcTable, xeda_crc::kCrcSeed, pcbyBuff, LengthOf(iLength));
    return 1;
}

int CKVCrc32::GetBuffCrc32Ex(const BYTE* pcbyBuff, int iLength, DWORD* pdwCrc32)
{
    if (pcbyBuff == nullptr || pdwCrc32 == nullptr)
        return 0;
    *pdwCrc32 = xeda_crc::Crc32Advance(m_dwCrcTable, *pdwCrc32, pcbyBuff, LengthOf(iLength));
    return 1;
}

int CKVCrc32::GetStringCrc32(const char* pcszString, DWORD* pdwCrc32)
{
    if (pcszString == nullptr || pdwCrc32 == nullptr)
        return 0;
    *pdwCrc32 =
        ~xeda_crc::Crc32Advance(m_dwCrcTable, xeda_crc::kCrcSeed,
                                reinterpret_cast<const BYTE*>(pcszString), std::strlen(pcszString));
    return 1;
}

int CKVCrc32::GetFileCrc32open(const char* pcszFileName, DWORD* pdwCrc32)
{
    if (pcszFileName == nullptr || pdwCrc32 == nullptr)
        return 0;
    UniqueFd file(open(pcszFileName, O_RDONLY));
    if (!file.IsOpen())
        return 0;
    *pdwCrc32 = xeda_crc::Crc32OfDescriptor(*this, file.Get());
    return 1;
}

int CKVCrc32::GetFileCrc32fopen(const char* pcszFileName, DWORD* pdwCrc32)
{
    if (pcszFileName == nullptr || pdwCrc32 == nullptr)
        return 0;
    UniqueFile fp(fopen(pcszFileName, "rb"));
    if (!fp)
        return 0;
    *pdwCrc32 = xeda_crc::Crc32OfReads(*this, [&fp](BYTE* pbyBuffer, std::size_t nSize) {
        return fread(pbyBuffer, 1, nSize, fp.get());
    });
    return 1;
}
