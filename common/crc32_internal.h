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

// Bytes read per system call by the file operations. Larger than a page so
// the per-call cost vanishes against the CRC itself, small enough to stay in
// the first-level cache and to keep the stack frame modest.
constexpr std::size_t kCrcReadChunk = 32 * 1024;

// Advances the (non-inverted) CRC register over nLength bytes. pdwTable is the
// byte-wise table of the calling CKVCrc32; the engines use it for single bytes
// and their own compile-time tables for wider steps.
DWORD Crc32Advance(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff, std::size_t nLength);

// The two engines Crc32Advance chooses between, exposed so that tests can
// check each one on any machine.
DWORD Crc32AdvancePortable(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff,
                           std::size_t nLength);
// True when the carry-less multiplication engine can run on this CPU.
bool Crc32ClmulAvailable();
// Only to be called when Crc32ClmulAvailable() is true.
DWORD Crc32AdvanceClmul(const DWORD* pdwTable, DWORD dwCrc, const BYTE* pcbyBuff,
                        std::size_t nLength);

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
    return Crc32OfReads(crc, [iFile](BYTE* pbyBuffer, std::size_t nSize) {
        return read(iFile, pbyBuffer, nSize);
    });
}

// Owns one open file descriptor of a function.
class CFdGuard
{
public:
    explicit CFdGuard(int iFile) : m_iFile(iFile) {}
    ~CFdGuard()
    {
        // Not checked on purpose: every caller has settled its result from
        // the reads or the write before the close, and a failed close leaves
        // nothing to undo.
        if (m_iFile != -1)
            static_cast<void>(close(m_iFile));
    }
    CFdGuard(const CFdGuard&) = delete;
    CFdGuard& operator=(const CFdGuard&) = delete;

    int Get() const { return m_iFile; }
    bool IsOpen() const { return m_iFile != -1; }

private:
    int m_iFile;
};

} // namespace xeda_crc
