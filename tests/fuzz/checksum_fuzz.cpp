// CRC-32 and MD5 against zlib and OpenSSL over fuzzed data: every engine the
// machine has, the string, buffer, chunked, file and checksum-file forms,
// and MD5 whole or in pieces. The first three bytes choose the start
// alignment, a repeat count (so the file forms pass their 48 KiB read chunk)
// and the chunking, the descriptor's start and the byte flipped.
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "../../common/crc32_internal.h"
#include "fuzz.h"
#include "md5lib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 3)
        return 0;
    const size_t nAlign = pData[0] % 64, nRepeat = 1 + pData[1] % 64, nSeed = pData[2];
    const std::string unit(reinterpret_cast<const char*>(pData) + 3, nSize - 3);
    std::vector<BYTE> buffer(nAlign + unit.size() * nRepeat + 1); // never empty: null is refused
    BYTE* const p = buffer.data() + nAlign;
    const size_t n = unit.size() * nRepeat;
    for (size_t i = 0; i < nRepeat; ++i)
        unit.copy(reinterpret_cast<char*>(p) + i * unit.size(), unit.size());
    const auto zlib = [](const BYTE* pFrom, size_t nLength) {
        return DWORD(crc32(0, pFrom, uInt(nLength)));
    };

    CKVCrc32 crc;
    DWORD dwTable[256] = {}; // the byte table: register 0 advanced over byte i
    for (DWORD i = 0; i < 256; ++i)
        crc.GetBuffCrc32Ex(reinterpret_cast<const BYTE*>(&i), 1, &dwTable[i]);
    using xeda_crc::CrcEngine;
    for (CrcEngine engine : {CrcEngine::Portable, CrcEngine::Clmul, CrcEngine::WideClmul})
        FUZZ_CHECK(!xeda_crc::Crc32EngineAvailable(engine) ||
                   xeda_crc::Crc32AdvanceWith(engine, dwTable, ~0u, p, n) == ~zlib(p, n));
    DWORD dwChunked = ~0u, dwOpen = 0, dwFopen = 0, dwSum = 0;
    CMd5 md5;
    CONTEXT_MD5 context{};
    FUZZ_CHECK(md5.InitMD5(&context) == 1 && md5.UpdateMD5(&context, p, 0) == 1);
    for (size_t nAt = 0, nChunk = 0; nAt < n; nAt += nChunk)
    {
        nChunk = std::min(n - nAt, 1 + (nAt * 7 + nSeed) % 700);
        FUZZ_CHECK(crc.GetBuffCrc32Ex(p + nAt, int(nChunk), &dwChunked) == 1 &&
                   md5.UpdateMD5(&context, p + nAt, ULONG(nChunk)) == 1);
    }
    FUZZ_CHECK(~dwChunked == zlib(p, n));
    FUZZ_CHECK(tk::Write("/tmp/fuzz_crc", std::string(reinterpret_cast<char*>(p), n)));
    FUZZ_CHECK(crc.GetFileCrc32open("/tmp/fuzz_crc", &dwOpen) == 1 && dwOpen == zlib(p, n));
    FUZZ_CHECK(crc.GetFileCrc32fopen("/tmp/fuzz_crc", &dwFopen) == 1 && dwFopen == zlib(p, n));
    const DWORD dwRest = n > 4 ? zlib(p + 4, n - 4) : 0;
    FUZZ_CHECK(CalculateCheckSum("/tmp/fuzz_crc", &dwSum) && dwSum == dwRest);
    // Only the string form (up to its NUL) hands the register out as zlib
    // does; a length of 0 or less processes nothing.
    const std::string text = unit.substr(0, unit.find('\0'));
    DWORD dwString = 0, dwBuff = 0, dwKept = nSeed;
    FUZZ_CHECK(crc.GetStringCrc32(fuzz::Exact(text).get(), &dwString) == 1 &&
               dwString == zlib(reinterpret_cast<const BYTE*>(text.data()), text.size()));
    FUZZ_CHECK(crc.GetBuffCrc32(p, int(n), &dwBuff) == 1 && dwBuff == ~zlib(p, n));
    FUZZ_CHECK(crc.GetBuffCrc32Ex(p, -int(n % 2), &dwKept) == 1 && dwKept == nSeed);
    // The descriptor form starts where the descriptor stands.
    const int fd = open("/tmp/fuzz_crc", O_RDONLY);
    const size_t nAt = nAlign % (n + 1);
    FUZZ_CHECK(lseek(fd, off_t(nAt), SEEK_SET) == off_t(nAt) && CalculateCheckSumEx(fd, &dwSum) &&
               dwSum == zlib(p + nAt, n - nAt) && close(fd) == 0);
    // A checksummed file: the CRC of what follows the first four bytes goes
    // there, little-endian (a shorter file becomes those four bytes); then any
    // flipped byte fails the check.
    std::string stored = {char(dwRest), char(dwRest >> 8), char(dwRest >> 16), char(dwRest >> 24)};
    stored.append(reinterpret_cast<const char*>(p), n).erase(4, std::min<size_t>(n, 4));
    FUZZ_CHECK(AddCheckSumToFile("/tmp/fuzz_crc") && tk::Read("/tmp/fuzz_crc") == stored &&
               CheckCheckSumOfFile("/tmp/fuzz_crc"));
    stored[nSeed % stored.size()] ^= 1;
    FUZZ_CHECK(tk::Write("/tmp/fuzz_crc", stored) && !CheckCheckSumOfFile("/tmp/fuzz_crc"));

    BYTE byExpected[16], byWhole[16];
    FUZZ_CHECK(EVP_Digest(p, n, byExpected, nullptr, EVP_md5(), nullptr) == 1);
    FUZZ_CHECK(md5.CalculateMD5(p, ULONG(n), byWhole) == 1 && md5.FinalMD5(&context) == 1);
    FUZZ_CHECK(!std::memcmp(byWhole, byExpected, 16) &&
               !std::memcmp(context.uchMessageDigest, byExpected, 16));
    return 0;
}
