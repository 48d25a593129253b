#include "kvinstaller.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "commondefs.h"
#include "handles.h"
#include "log.h"

KVMutex m_csCommunication;

namespace
{
const char kProxyOptionsDir[] = "/usr/lib/Zelvano/Zelvano/";
const char kProxyOptionsFile[] = "kvinet.opt";
const char kClientAgentRootDir[] = "/usr/lib/Zelvano/ClientAgent/";
const char kDownloadLabel[] = "DownloadFile";
const char kPasswordMask[] = "********";

// Reads until nSize bytes, end of file or an error; returns the count read
// or -1 on error.
ssize_t ReadFully(int fd, void* pvBuffer, size_t nSize)
{
    size_t nDone = 0;
    while (nDone < nSize)
    {
        const ssize_t n = read(fd, static_cast<char*>(pvBuffer) + nDone, nSize - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        nDone += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(nDone);
}

// The record's consumers use the text fields as C strings; a field written
// without terminator is cut at 259 characters rather than read past.
template <size_t N>
void TerminateField(char (&szField)[N])
{
    szField[N - 1] = '\0';
}

// One transfer of the URL into the destination on an opened handle.
bool Exchange(CKVInet& inet, TCHAR* pcszServerFileName, TCHAR* pcszLocalPath,
              DOWNLOAD_LIMIT* pLimit)
{
    RP_TRACE_INFO(kDownloadLabel, "Before SendRequestAndGetResponse.");
    CHAR* pszResponse = nullptr; // never written by the download exchange
    DWORD dwcbResponse = 0;
    const BOOLEAN bSent = inet.SpSendRequestAndGetResponse(pcszServerFileName, TRUE, pcszLocalPath,
                                                           &pszResponse, dwcbResponse);
    RP_TRACE_INFO(kDownloadLabel, "After SendRequestAndGetResponse.");
    if (pLimit != nullptr && inet.DownloadExceededLimit())
        pLimit->bExceeded = true;
    return bSent == TRUE;
}

// The second attempt, with the agent's proxy options (or directly again
// when they say not to use a proxy).
bool ProxyAttempt(CKVInet& inet, TCHAR* pcszServerFileName, TCHAR* pcszLocalPath,
                  DOWNLOAD_LIMIT* pLimit)
{
    RP_TRACE_INFO(kDownloadLabel, "Before calling ReadProxySettings.");
    INETSET inetSettings;
    std::memset(&inetSettings, 0, sizeof(inetSettings));
    if (ReadProxySettings(&inetSettings) != TRUE)
    {
        RP_TRACE_INFO(kDownloadLabel, "ReadProxySettings failed");
        return false;
    }
    const KVINETCONFIG& config = inetSettings.kvInetConfig;
    RP_TRACE_INFO(kDownloadLabel, "Proxy serverv name");
    RP_TRACE_INFO(kDownloadLabel, "%s", config.szHostName);
    RP_TRACE_INFO(kDownloadLabel, "Username");
    RP_TRACE_INFO(kDownloadLabel, "%s", config.szUserName);
    // Logs travel with support tickets: the password never reaches them.
    RP_TRACE_INFO(kDownloadLabel, "password");
    RP_TRACE_INFO(kDownloadLabel, "%s", kPasswordMask);

    if (inet.SPInitKVInet(pcszServerFileName, config.szHostName, static_cast<DWORD>(config.ushPort),
                          config.szUserName, config.szPassword, HTTP_REQ_VERB_POST,
                          config.shUseProxy, config.shConnType,
                          inetSettings.shUseAuthentication) != TRUE)
    {
        RP_TRACE_INFO(kDownloadLabel, "InitKVInet Failed");
        return false;
    }
    if (!Exchange(inet, pcszServerFileName, pcszLocalPath, pLimit))
    {
        RP_TRACE_INFO(kDownloadLabel, "failed with Proxy");
        inet.DeInitKVInet();
        return false;
    }
    return true;
}

// Direct attempt, then the proxy attempt. Throws the failed step's name
// when the URL cannot even be opened.
bool DownloadAttempts(CKVInet& inet, TCHAR* pcszServerFileName, TCHAR* pcszLocalPath,
                      DOWNLOAD_LIMIT* pLimit)
{
    inet.SetDownloadLimit(pLimit != nullptr ? pLimit->ullMaxBytes : UINT64_MAX);
    if (inet.SPInitKVInet(pcszServerFileName, nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_POST, 0,
                          0, 0) != TRUE)
    {
        RP_TRACE_INFO(kDownloadLabel, "InitKVInet Failed");
        throw std::string("InitKVInet");
    }
    RP_TRACE_INFO(kDownloadLabel, "InitKVInet Successfull");
    if (!Exchange(inet, pcszServerFileName, pcszLocalPath, pLimit))
    {
        inet.DeInitKVInet();
        RP_TRACE_INFO(kDownloadLabel, "SendRequestAndGetResponse Failed Without Proxy");
        if (!ProxyAttempt(inet, pcszServerFileName, pcszLocalPath, pLimit))
            return false;
    }
    RP_TRACE_INFO(kDownloadLabel, "successfull down");
    inet.DeInitKVInet();
    return true;
}
} // namespace

BOOLEAN DownloadFile(TCHAR* pcszServerFileName, TCHAR* pcszLocalPath, DWORD* pdwErrorCode)
{
    return DownloadFile(pcszServerFileName, pcszLocalPath, pdwErrorCode, nullptr);
}

BOOLEAN DownloadFile(TCHAR* pcszServerFileName, TCHAR* pcszLocalPath, DWORD* /*pdwErrorCode*/,
                     DOWNLOAD_LIMIT* pLimit)
{
    RP_TRACE_INFO(kDownloadLabel, "Entry");
    CKVInet inet;
    BOOLEAN bResult = FALSE;
    bool bTraceExit = false;
    {
        // Downloads never overlap: the lock covers both attempts. A failure
        // to release it is KVMutex's exception and reaches the caller.
        ScopedLock<KVMutex> lock(m_csCommunication);
        RP_TRACE_INFO(kDownloadLabel, "before calling InitKVInet");
        try
        {
            bResult =
                DownloadAttempts(inet, pcszServerFileName, pcszLocalPath, pLimit) ? TRUE : FALSE;
            bTraceExit = bResult == TRUE;
        }
        catch (const std::string& strFailedStep)
        {
            RP_TRACE_ERROR(kDownloadLabel, "%s failed", strFailedStep.c_str());
            bTraceExit = true;
        }
    }
    if (bTraceExit)
        RP_TRACE_INFO(kDownloadLabel, "Exit");
    return bResult;
}

BOOLEAN ReadProxySettings(P_INETSET piNetSet)
{
    RP_TRACE_INFO(__func__, "Entry");
    if (piNetSet == nullptr)
    {
        RP_TRACE_ERROR(__func__, "NULL Parameters.");
        return FALSE;
    }
    char szPath[MAX_PATH] = {0};
    // Both parts are constants that fit.
    (void)CopyBounded(szPath, kProxyOptionsDir);
    (void)AppendBounded(szPath, kProxyOptionsFile);

    UniqueFd fd(open(szPath, O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
    {
        char szMessage[1000];
        std::snprintf(szMessage, sizeof(szMessage), "open failed for args (%s)", szPath);
        RP_TRACE_ERROR(__func__, "%s", szMessage);
        return FALSE;
    }
    INETSET inetSettings;
    std::memset(&inetSettings, 0, sizeof(inetSettings));
    // A longer file is accepted: only the record at its start counts.
    if (ReadFully(fd.Get(), &inetSettings, sizeof(inetSettings)) !=
        static_cast<ssize_t>(sizeof(inetSettings)))
    {
        RP_TRACE_ERROR(__func__, "read() failed.");
        return FALSE;
    }
    TerminateField(inetSettings.kvInetConfig.szHostName);
    TerminateField(inetSettings.kvInetConfig.szUserName);
    TerminateField(inetSettings.kvInetConfig.szPassword);
    std::memcpy(piNetSet, &inetSettings, sizeof(inetSettings));
    RP_TRACE_INFO(__func__, "Exit");
    return TRUE;
}

void Decrypt(BYTE* pbBlock, int nSize)
{
    if (pbBlock == nullptr)
        return;
    for (int i = 0; i < nSize; ++i)
        pbBlock[i] = static_cast<BYTE>(((pbBlock[i] << 4) | (pbBlock[i] >> 4)) & 0xFF);
}

BOOLEAN GetClientAgentRootDir(char* pszClientAgentRootDir, DWORD dwSize)
{
    RP_TRACE_INFO(__func__, "Entry.");
    if (pszClientAgentRootDir == nullptr || dwSize == 0)
    {
        RP_TRACE_ERROR(__func__, "Invalid Parameters.");
        return FALSE;
    }
    if (dwSize < sizeof(kClientAgentRootDir))
    {
        RP_TRACE_ERROR(__func__, "Out buffer length is small.");
        return FALSE;
    }
    std::memcpy(pszClientAgentRootDir, kClientAgentRootDir, sizeof(kClientAgentRootDir));
    RP_TRACE_INFO(__func__, "Path:");
    RP_TRACE_INFO(__func__, "%s", pszClientAgentRootDir);
    RP_TRACE_INFO(__func__, "Exit.");
    return TRUE;
}
