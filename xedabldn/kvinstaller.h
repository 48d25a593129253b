// Download of one URL into one file: directly, then through the agent's proxy.
#pragma once

#include <cstdint>

#include "kvinet.h"
#include "kvmutex.h"
#include "typedef.h"

#pragma pack(push, 1)
typedef struct tagKVINETCONFIG
{
    SHORT shUseProxy;
    SHORT shConnType;
    char szHostName[260];
    USHORT ushPort;
    char szUserName[260];
    char szPassword[260];
} KVINETCONFIG;

typedef struct tagInetSettings
{
    KVINETCONFIG kvInetConfig;
    SHORT shUseAuthentication;
} INETSET, *P_INETSET;
#pragma pack(pop)

static_assert(sizeof(KVINETCONFIG) == 786, "options-file record layout");
static_assert(sizeof(INETSET) == 788, "options-file record layout");

// Serialises downloads of the process; held for the whole of DownloadFile.
extern KVMutex m_csCommunication;

BOOLEAN DownloadFile(TCHAR* pcszServerFileName, TCHAR* pcszLocalPath, DWORD* pdwErrorCode);

// The most one download may bring, and whether an attempt was cut off for
// bringing more.
struct DOWNLOAD_LIMIT
{
    uint64_t ullMaxBytes;
    bool bExceeded;
};
// The same with a limit (null: none).
BOOLEAN DownloadFile(TCHAR* pcszServerFileName, TCHAR* pcszLocalPath, DWORD* pdwErrorCode,
                     DOWNLOAD_LIMIT* pLimit);
BOOLEAN ReadProxySettings(P_INETSET piNetSet);
void Decrypt(BYTE* pbBlock, int nSize);
BOOLEAN GetClientAgentRootDir(char* pszClientAgentRootDir, DWORD dwSize);
