// Checksummed files: the first four bytes hold, little-endian, the CRC-32 of
// every byte after them. The functions report failure only through their
// result; errno stays as the failing call left it.
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "crc32.h"
#include "crc32_internal.h"
#include "handles.h"

namespace
{

constexpr off_t kPayloadOffset = 4;
constexpr std::size_t kStoredSize = 4;

BOOL StoreCrcOfRest(int iFile, DWORD* pdwChecksum)
{
    CKVCrc32 crc;
    *pdwChecksum = xeda_crc::Crc32OfDescriptor(crc, iFile);
    return 1;
}

void EncodeStored(DWORD dwValue, BYTE (&byStored)[kStoredSize])
{
    for (std::size_t i = 0; i < kStoredSize; ++i)
        byStored[i] = static_cast<BYTE>(dwValue >> (8 * i));
}

} // namespace

BOOL CalculateCheckSum(const TCHAR* pszFileName, DWORD* pdwChecksum)
{
    if (pszFileName == nullptr || pdwChecksum == nullptr)
        return 0;
    if (access(pszFileName, F_OK) != 0)
        return 0;
    UniqueFd file(open(pszFileName, O_RDONLY, 0600));
    if (!file.IsOpen())
        return 0;
    // Seeking past the end of a short file is not an error: the payload is
    // then empty and its CRC is 0.
    if (lseek(file.Get(), kPayloadOffset, SEEK_SET) == static_cast<off_t>(-1))
        return 0;
    return StoreCrcOfRest(file.Get(), pdwChecksum);
}

BOOL CalculateCheckSumEx(int iFile, DWORD* pdwChecksum)
{
    if (iFile == -1 || pdwChecksum == nullptr)
        return 0;
    return StoreCrcOfRest(iFile, pdwChecksum);
}

BOOL AddCheckSumToFile(const TCHAR* pszFileName)
{
    DWORD dwChecksum = 0;
    if (pszFileName == nullptr || CalculateCheckSum(pszFileName, &dwChecksum) != 1)
        return 0;
    // No O_CREAT and no O_TRUNC: the checksum overwrites the four reserved
    // bytes in place and every payload byte stays where it is.
    UniqueFd file(open(pszFileName, O_RDWR, 0600));
    if (!file.IsOpen())
        return 0;
    BYTE byStored[kStoredSize];
    EncodeStored(dwChecksum, byStored);
    const ssize_t nWritten = write(file.Get(), byStored, sizeof(byStored));
    return nWritten == static_cast<ssize_t>(sizeof(byStored)) ? 1 : 0;
}

BOOL CheckCheckSumOfFile(const TCHAR* pszFileName)
{
    DWORD dwChecksum = 0;
    if (pszFileName == nullptr || CalculateCheckSum(pszFileName, &dwChecksum) != 1)
        return 0;
    UniqueFd file(open(pszFileName, O_RDONLY));
    if (!file.IsOpen())
        return 0;
    BYTE byStored[kStoredSize];
    if (read(file.Get(), byStored, sizeof(byStored)) != static_cast<ssize_t>(sizeof(byStored)))
        return 0;
    BYTE byExpected[kStoredSize];
    EncodeStored(dwChecksum, byExpected);
    return std::memcmp(byStored, byExpected, kStoredSize) == 0 ? 1 : 0;
}
