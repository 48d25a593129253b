// Internals shared by crc32.cpp and chksum.cpp, and visible to their tests:
// the CRC engines behind CKVCrc32 and the one read loop every file operation
// runs. Not part of the library's public headers.
#pragma once

#include <cstddef>

#include <unistd.h>

#include "crc32.h"

namespace xeda_crc
{

// Register seed and final inversion of the standard CRC-32.
constexpr DWORD kCrcSeed = 0xFFFFFFFFu;

// Bytes read per system call by the file operations. Reading from the page
// cache costs more than the CRC itself, and most of that cost is per call, so
// the chunk is as large as a modest stack frame allows (well under 64 KiB).
constexpr std::size_t kCrcReadChunk = 48 * 1024;

// The ways to advance the register, from the one every machine has to the
// widest carry-less multiplication; each gives the same result.
enum class CrcEngine
{
    Portable,  // slicing-by-8 tables
    Clmul,     // PCLMULQDQ on 128-bit lanes
    WideClmul, // VPCLMULQDQ on 256-bit lanes (AVX2)
};

// True when the engine can run on this CPU (Portable always can).
bool Crc32EngineAvailable(CrcEngine engine);

// Advances the (non-inverted) CRC register over nLength bytes with the given
// engine, which must be available. pdwTable is the byte-wise table of the
// calling CKVCrc32; the engines use it for single bytes and their own
// compile-time tables or constants for wider steps. Exposed so that tests
// can check every engine the machine has.
DWORD Crc32AdvanceWith(CrcEngine engine, const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff,
                       std::size_t nLength);

// Advances the register with the fastest engine this CPU has.
DWORD Crc32Advance(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff, std::size_t nLength);

// Standard CRC-32 of everything fnRead(buffer, size) delivers, until a call
// yields less than one byte: end of file and a read error both end the data.
template <typename ReadFn>
DWORD Crc32OfReads(CKVCrc32& crc, ReadFn fnRead)
{
    BYTE byBuffer[kCrcReadChunk];
    DWORD dwRegister = kCrcSeed;
    for (;;)
    {
        const long lRead = static_cast<long>(fnRead(byBuffer, sizeof(byBuffer)));
        if (lRead < 1)
            break;
        crc.GetBuffCrc32Ex(byBuffer, static_cast<int>(lRead), &dwRegister);
    }
    return ~dwRegister;
}

// Standard CRC-32 from the descriptor's position to its end.
inline DWORD Crc32OfDescriptor(CKVCrc32& crc, int iFile)
{
    return Crc32OfReads(
        crc, [iFile](BYTE* pbyBuffer, std::size_t nSize) { return read(iFile, pbyBuffer, nSize); });
}

} // namespace xeda_crc
