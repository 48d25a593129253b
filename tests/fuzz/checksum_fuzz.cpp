// CRC-32 and MD5 against zlib and OpenSSL over fuzzed data: every engine the
// machine has, the chunked, string and file interfaces, and MD5 whole or in
// fuzzed pieces. The first bytes choose the start alignment, a repeat count
// (the file forms reach their 48 KiB read chunk) and the chunking.
#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "../../common/crc32_internal.h"
#include "fuzz.h"
#include "md5lib.h"

namespace
{
using xeda_crc::CrcEngine;
const char kFile[] = "/tmp/fuzz_crc";

DWORD Zlib(const BYTE* pData, size_t nSize)
{
    return static_cast<DWORD>(crc32(0, pData, static_cast<uInt>(nSize)));
}

void CheckCrc(CKVCrc32& crc, const BYTE* pData, size_t nSize, uint8_t byChunkSeed)
{
    DWORD dwTable[256] = {}; // the byte table: register 0 advanced over byte i
    for (DWORD i = 0; i < 256; ++i)
        crc.GetBuffCrc32Ex(reinterpret_cast<const BYTE*>(&i), 1, &dwTable[i]);
    for (CrcEngine engine : {CrcEngine::Portable, CrcEngine::Clmul, CrcEngine::WideClmul})
        if (xeda_crc::Crc32EngineAvailable(engine))
            FUZZ_CHECK(xeda_crc::Crc32AdvanceWith(engine, dwTable, ~0u, pData, nSize) ==
                       ~Zlib(pData, nSize));
    DWORD dwChunked = ~0u;
    for (size_t nAt = 0, nChunk = 0; nAt < nSize; nAt += nChunk)
    {
        nChunk = std::min<size_t>(nSize - nAt, 1 + (nAt * 7 + byChunkSeed) % 700);
        FUZZ_CHECK(crc.GetBuffCrc32Ex(pData + nAt, int(nChunk), &dwChunked) == 1);
    }
    FUZZ_CHECK(~dwChunked == Zlib(pData, nSize));
    DWORD dwOpen = 0, dwFopen = 0, dwSum = 0;
    FUZZ_CHECK(fuzz::WriteFile(kFile, std::string(reinterpret_cast<const char*>(pData), nSize)));
    FUZZ_CHECK(crc.GetFileCrc32open(kFile, &dwOpen) == 1 && dwOpen == Zlib(pData, nSize));
    FUZZ_CHECK(crc.GetFileCrc32fopen(kFile, &dwFopen) == 1 && dwFopen == Zlib(pData, nSize));
    FUZZ_CHECK(CalculateCheckSum(kFile, &dwSum) == TRUE);
    FUZZ_CHECK(dwSum == (nSize > 4 ? Zlib(pData + 4, nSize - 4) : 0));
}

void CheckMd5(const BYTE* pData, size_t nSize, uint8_t byChunkSeed)
{
    BYTE byExpected[16], byWhole[16];
    FUZZ_CHECK(EVP_Digest(pData, nSize, byExpected, nullptr, EVP_md5(), nullptr) == 1);
    CMd5 md5;
    FUZZ_CHECK(md5.CalculateMD5(pData, ULONG(nSize), byWhole) == 1);
    FUZZ_CHECK(std::memcmp(byWhole, byExpected, 16) == 0);
    CONTEXT_MD5 context{};
    FUZZ_CHECK(md5.InitMD5(&context) == 1);
    FUZZ_CHECK(md5.UpdateMD5(&context, pData, 0) == 1); // an empty piece changes nothing
    for (size_t nAt = 0, nChunk = 0; nAt < nSize; nAt += nChunk)
    {
        nChunk = std::min<size_t>(nSize - nAt, 1 + (nAt * 13 + byChunkSeed) % 200);
        FUZZ_CHECK(md5.UpdateMD5(&context, pData + nAt, ULONG(nChunk)) == 1);
    }
    FUZZ_CHECK(md5.FinalMD5(&context) == 1);
    FUZZ_CHECK(std::memcmp(context.uchMessageDigest, byExpected, 16) == 0);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    fuzz::Input input(pData, nSize);
    const size_t nAlign = input.Byte() % 64, nRepeat = 1 + input.Byte() % 64;
    const uint8_t byChunkSeed = input.Byte();
    const std::string rest = input.Rest();
    const size_t nLength = rest.size() * nRepeat;
    std::vector<BYTE> buffer(nAlign + nLength + 1); // never empty: a null buffer is refused
    BYTE* pStart = buffer.data() + nAlign;
    for (size_t i = 0; i < nRepeat; ++i)
        rest.copy(reinterpret_cast<char*>(pStart) + i * rest.size(), rest.size());
    CKVCrc32 crc;
    CheckCrc(crc, pStart, nLength, byChunkSeed);
    CheckMd5(pStart, nLength, byChunkSeed);
    return 0;
}
