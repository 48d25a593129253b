// CRC-32 (IEEE 802.3, reflected 0xEDB88320) and the checksummed-file helpers.
#pragma once

#include "typedef.h"

class CKVCrc32
{
public:
    CKVCrc32();
    ~CKVCrc32();

    int GetBuffCrc32(const BYTE* pcbyBuff, int iLength, DWORD* pdwCrc32);
    int GetBuffCrc32Ex(const BYTE* pcbyBuff, int iLength, DWORD* pdwCrc32);
    int GetStringCrc32(const char* pcszString, DWORD* pdwCrc32);
    int GetFileCrc32open(const char* pcszFileName, DWORD* pdwCrc32);
    int GetFileCrc32fopen(const char* pcszFileName, DWORD* pdwCrc32);

private:
    void GenerateCrc32Table();

    DWORD m_dwCrcTable[256];
};

// A checksummed file holds, in its first four bytes, the CRC-32 of the rest.
BOOL CalculateCheckSum(const TCHAR* pszFileName, DWORD* pdwChecksum);
BOOL CalculateCheckSumEx(int iFile, DWORD* pdwChecksum);
BOOL AddCheckSumToFile(const TCHAR* pszFileName);
BOOL CheckCheckSumOfFile(const TCHAR* pszFileName);
