// CKVCrc32: the standard CRC-32 (reflected polynomial 0xEDB88320) over
// buffers, strings and files, with two engines behind one byte-exact result:
// carry-less multiplication folding where the CPU has it, slicing-by-8
// everywhere else.
#include "crc32.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "crc32_internal.h"

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

#ifdef XEDA_CRC_CLMUL

// x^n mod P for the normal-form polynomial, then bit-reflected and shifted
// left by one: the multiplier that moves a reflected 64-bit lane n - 32 bits
// (low lane) or n + 32 bits further along the message.
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

// Folding 4 x 128 bits over 512 bits, and 128 bits over 128 bits.
constexpr unsigned long long kFold512Low = FoldConstant(512 + 32);
constexpr unsigned long long kFold512High = FoldConstant(512 - 32);
constexpr unsigned long long kFold128Low = FoldConstant(128 + 32);
constexpr unsigned long long kFold128High = FoldConstant(128 - 32);

__attribute__((target("pclmul"))) inline __m128i Fold(__m128i xAcc, __m128i xConstants,
                                                       __m128i xNext)
{
    const __m128i xLow = _mm_clmulepi64_si128(xAcc, xConstants, 0x00);
    const __m128i xHigh = _mm_clmulepi64_si128(xAcc, xConstants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(xLow, xHigh), xNext);
}

inline __m128i Load128(const BYTE* pcby)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pcby));
}

#endif

} // namespace

DWORD Crc32AdvancePortable(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff,
                           std::size_t nLength)
{
    for (; nLength >= 8; nLength -= 8, pcbyBuff += 8)
        dwCrc = SliceStep(dwCrc, pcbyBuff);
    for (; nLength > 0; --nLength, ++pcbyBuff)
        dwCrc = ByteStep(pdwTable, dwCrc, *pcbyBuff);
    return dwCrc;
}

#ifdef XEDA_CRC_CLMUL

bool Crc32ClmulAvailable()
{
    static const bool bAvailable = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") != 0;
    }();
    return bAvailable;
}

// The register is folded into the first 4 bytes, four 128-bit lanes are
// folded forward over the data, then collapsed into one lane. What remains
// is a 16-byte message with the same CRC as everything before it, which the
// byte table finishes from a zero register.
__attribute__((target("pclmul"))) DWORD Crc32AdvanceClmul(const DWORD* pdwTable, DWORD dwCrc,
                                                           const BYTE* pcbyBuff,
                                                           std::size_t nLength)
{
    if (nLength < 64)
        return Crc32AdvancePortable(pdwTable, dwCrc, pcbyBuff, nLength);

    const __m128i x512 = _mm_set_epi64x(static_cast<long long>(kFold512High),
                                        static_cast<long long>(kFold512Low));
    const __m128i x128 = _mm_set_epi64x(static_cast<long long>(kFold128High),
                                        static_cast<long long>(kFold128Low));
    __m128i xLane[4] = {_mm_xor_si128(Load128(pcbyBuff), _mm_cvtsi32_si128(static_cast<int>(dwCrc))),
                        Load128(pcbyBuff + 16), Load128(pcbyBuff + 32), Load128(pcbyBuff + 48)};
    for (pcbyBuff += 64, nLength -= 64; nLength >= 64; pcbyBuff += 64, nLength -= 64)
        for (int i = 0; i < 4; ++i)
            xLane[i] = Fold(xLane[i], x512, Load128(pcbyBuff + 16 * i));

    __m128i xAcc = xLane[0];
    for (int i = 1; i < 4; ++i)
        xAcc = Fold(xAcc, x128, xLane[i]);
    for (; nLength >= 16; pcbyBuff += 16, nLength -= 16)
        xAcc = Fold(xAcc, x128, Load128(pcbyBuff));

    BYTE byRest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(byRest), xAcc);
    dwCrc = Crc32AdvancePortable(pdwTable, 0, byRest, sizeof(byRest));
    return Crc32AdvancePortable(pdwTable, dwCrc, pcbyBuff, nLength);
}

#else

bool Crc32ClmulAvailable()
{
    return false;
}

DWORD Crc32AdvanceClmul(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff,
                        std::size_t nLength)
{
    return Crc32AdvancePortable(pdwTable, dwCrc, pcbyBuff, nLength);
}

#endif

DWORD Crc32Advance(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff, std::size_t nLength)
{
    if (Crc32ClmulAvailable())
        return Crc32AdvanceClmul(pdwTable, dwCrc, pcbyBuff, nLength);
    return Crc32AdvancePortable(pdwTable, dwCrc, pcbyBuff, nLength);
}

} // namespace xeda_crc

namespace
{

std::size_t LengthOf(int iLength)
{
    return iLength > 0 ? static_cast<std::size_t>(iLength) : 0;
}

struct FileCloser
{
    void operator()(FILE* fp) const
    {
        // Read-only stream: the result was settled by the reads.
        static_cast<void>(fclose(fp));
    }
};

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
    *pdwCrc32 = xeda_crc::Crc32Advance(m_dwCrcTable, xeda_crc::kCrcSeed, pcbyBuff, LengthOf(iLength));
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
    *pdwCrc32 = ~xeda_crc::Crc32Advance(m_dwCrcTable, xeda_crc::kCrcSeed,
                                        reinterpret_cast<const BYTE*>(pcszString),
                                        std::strlen(pcszString));
    return 1;
}

int CKVCrc32::GetFileCrc32open(const char* pcszFileName, DWORD* pdwCrc32)
{
    if (pcszFileName == nullptr || pdwCrc32 == nullptr)
        return 0;
    xeda_crc::CFdGuard file(open(pcszFileName, O_RDONLY));
    if (!file.IsOpen())
        return 0;
    *pdwCrc32 = xeda_crc::Crc32OfDescriptor(*this, file.Get());
    return 1;
}

int CKVCrc32::GetFileCrc32fopen(const char* pcszFileName, DWORD* pdwCrc32)
{
    if (pcszFileName == nullptr || pdwCrc32 == nullptr)
        return 0;
    std::unique_ptr<FILE, FileCloser> fp(fopen(pcszFileName, "rb"));
    if (!fp)
        return 0;
    *pdwCrc32 = xeda_crc::Crc32OfReads(*this, [&fp](BYTE* pbyBuffer, std::size_t nSize) {
        return fread(pbyBuffer, 1, nSize, fp.get());
    });
    return 1;
}
