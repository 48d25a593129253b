// Manifest records and package verification: what every update flow reads
// from its manifest and checks before it unpacks anything.
#include "xedasvpk.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "crc32.h"
#include "inifun.h"
#include "log.h"
#include "md5lib.h"

namespace
{
// ---- Manifest readers ---------------------------------------------------------

const char kLengthKey[] = "filelength_64";
const char kCrcKey[] = "checksum1_64";
const char kHashKey[] = "checksum2_64";
const char kLengthLabel[] = "GetServicePackName dwlength:";
const char kCrcLabel[] = "GetServicePackName dwCRC32:";
const std::size_t kHashChars = 32;

// What sets the three readers apart; the algorithm is ReadManifestRecord.
struct READER_DESC
{
    const char* pcszSection;
    const char* pcszLabel;         // "start.", "pdwErrorCode is NULL." and "failed"
    const char* pcszInvalidLabel;  // "Invalid Parameters."
    const char* pcszNameLabel;     // the name read
    const char* pcszNameExitLabel; // an "Exit" right after the name, or none
    const char* pcszTailLabel;     // failures after the name, and the final "Exit"
    const char* pcszHashLabel;     // the hash stored
};

const READER_DESC g_ServicePackReader = {
    "service_pack_linux",
    "GetServicePackName",
    "GetServicePackName",
    "GetServicePackName:",
    nullptr,
    "GetServicePackName",
    "GetServicePackName szMD5:",
};
const READER_DESC g_MinorUpgradeReader = {
    "minor_upg_pack_linux",
    "GetMinorUpgradePackName",
    "GetMinorUpgradeName",
    "GetServicePackName:",
    nullptr,
    "GetServicePackName",
    "GetServicePackName szMD5:",
};
const READER_DESC g_ClientAgentReader = {
    "minor_upg_ca_pack_linux",
    "GetMinorUpgradeCAPackName",
    "GetMinorUpgradeCAPackName",
    "GetMinorUpgradeCAPackName:",
    "GetMinorUpgradeCaPackName",
    "GetMinorUpgradeCAPackName",
    "GetMinorUpgradeCAPackName szMD5:",
};

// One key of the section and where its value goes: a text cut to
// nTextChars characters, or an unsigned decimal number.
struct MANIFEST_FIELD
{
    const char* pcszKey;
    const char* pcszFailText;
    const char* pcszFailLabel;
    const char* pcszTraceLabel;
    char* pszText;
    std::size_t nTextChars;
    DWORD* pdwNumber;
    const char* pcszExitLabel; // an "Exit" traced right after this field, or none
};

// "%u" semantics of the scanf family: leading blanks and a sign accepted,
// conversion stops at the first non-digit, and a value without digits
// leaves the field as the caller cleared it. strtoul gives the same result
// without scanf's undefined behaviour on out-of-range input.
void ConvertUnsigned(const char* pcszValue, DWORD* pdwNumber)
{
    char* pszEnd = nullptr;
    const unsigned long ulValue = std::strtoul(pcszValue, &pszEnd, 10);
    if (pszEnd != pcszValue)
        *pdwNumber = static_cast<DWORD>(ulValue);
}

void StoreText(const char* pcszValue, char* pszText, std::size_t nChars)
{
    std::strncpy(pszText, pcszValue, nChars);
    pszText[nChars] = '\0';
}

BOOLEAN ReadManifestFields(const READER_DESC& desc, const char* pcszIniFile,
                           const MANIFEST_FIELD (&fields)[4], DWORD* pdwErrorCode)
{
    for (const MANIFEST_FIELD& field : fields)
    {
        char szValue[MAX_PATH] = {0};
        if (GetPrivateProfileString(desc.pcszSection, field.pcszKey, "0", szValue, MAX_PATH,
                                    pcszIniFile) == 0)
        {
            RP_TRACE_ERROR(field.pcszFailLabel, "%s", field.pcszFailText);
            *pdwErrorCode = 591;
            return FALSE;
        }
        if (field.pszText != nullptr)
        {
            StoreText(szValue, field.pszText, field.nTextChars);
            RP_TRACE_INFO(field.pcszTraceLabel, "%s", field.pszText);
        }
        else
        {
            ConvertUnsigned(szValue, field.pdwNumber);
            RP_TRACE_INFO(field.pcszTraceLabel, "%s", szValue);
        }
        if (field.pcszExitLabel != nullptr)
            RP_TRACE_INFO(field.pcszExitLabel, "Exit");
    }
    RP_TRACE_INFO(desc.pcszTailLabel, "Exit");
    return TRUE;
}

// pszName and pInfo are null when the caller's record pointer was null.
BOOLEAN ReadManifestRecord(const READER_DESC& desc, const char* pcszIniFile,
                           const char* pcszKeyName, char* pszName, XEDA_SVPK_INFO* pInfo,
                           DWORD* pdwErrorCode)
{
    RP_TRACE_INFO(desc.pcszLabel, "start.");
    if (pdwErrorCode == nullptr)
    {
        RP_TRACE_ERROR(desc.pcszLabel, "pdwErrorCode is NULL.");
        return FALSE;
    }
    if (pcszIniFile == nullptr || pcszKeyName == nullptr || pInfo == nullptr)
    {
        RP_TRACE_ERROR(desc.pcszInvalidLabel, "Invalid Parameters.");
        *pdwErrorCode = 590;
        return FALSE;
    }
    const MANIFEST_FIELD fields[4] = {
        {pcszKeyName, "failed", desc.pcszLabel, desc.pcszNameLabel, pszName, MAX_PATH - 1, nullptr,
         desc.pcszNameExitLabel},
        {kLengthKey, "SP length failed", desc.pcszTailLabel, kLengthLabel, nullptr, 0,
         &pInfo->dwFileLength, nullptr},
        {kCrcKey, "CRC32 failed", desc.pcszTailLabel, kCrcLabel, nullptr, 0, &pInfo->dwCRC32,
         nullptr},
        {kHashKey, "Md5sum failed", desc.pcszTailLabel, desc.pcszHashLabel,
         pInfo->szMD5CheckSumString, kHashChars, nullptr, nullptr},
    };
    return ReadManifestFields(desc, pcszIniFile, fields, pdwErrorCode);
}

BOOLEAN ReadUpgradeRecord(const READER_DESC& desc, const char* pcszIniFile,
                          const char* pcszKeyName, XEDA_UPGRADE_INFO* pInfo, DWORD* pdwErrorCode)
{
    return ReadManifestRecord(desc, pcszIniFile, pcszKeyName,
                              pInfo != nullptr ? pInfo->szAppName : nullptr,
                              pInfo != nullptr ? &pInfo->XedaSvPkInfo : nullptr, pdwErrorCode);
}

// ---- Verification ---------------------------------------------------------------

class ScopedFd
{
public:
    explicit ScopedFd(int iFd) : m_iFd(iFd) {}
    ~ScopedFd()
    {
        if (m_iFd >= 0)
            (void)close(m_iFd); // read-only descriptor: nothing to lose on close
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int Get() const { return m_iFd; }

private:
    int m_iFd;
};

const char kCheckLabel[] = "CheckFileConsistency";
const std::size_t kMd5TextSize = 36;
// Large enough that the per-call overhead vanishes next to hashing, small
// enough for the stack; a package is never held in memory as a whole.
const std::size_t kMd5ChunkSize = 64 * 1024;

ssize_t ReadRetrying(int iFd, BYTE* pbyBuffer, std::size_t nSize)
{
    ssize_t nRead;
    do
        nRead = read(iFd, pbyBuffer, nSize);
    while (nRead < 0 && errno == EINTR);
    return nRead;
}

// Streams the whole content of the file through the incremental MD5.
BOOL ComputeFileMd5(IMd5& md5, const char* pcszFile, BYTE (&byDigest)[16])
{
    ScopedFd fd(open(pcszFile, O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return FALSE;
    CONTEXT_MD5 context;
    std::memset(&context, 0, sizeof(context));
    if (md5.InitMD5(&context) == 0)
        return FALSE;
    BYTE byChunk[kMd5ChunkSize];
    for (;;)
    {
        const ssize_t nRead = ReadRetrying(fd.Get(), byChunk, sizeof(byChunk));
        if (nRead < 0)
            return FALSE;
        if (nRead == 0)
            break;
        if (md5.UpdateMD5(&context, byChunk, static_cast<ULONG>(nRead)) == 0)
            return FALSE;
    }
    if (md5.FinalMD5(&context) == 0)
        return FALSE;
    std::memcpy(byDigest, context.uchMessageDigest, sizeof(byDigest));
    return TRUE;
}

void RenderMd5(const BYTE (&byDigest)[16], char (&szText)[kMd5TextSize])
{
    szText[0] = '\0';
    for (BYTE byValue : byDigest)
    {
        char szPair[3];
        std::snprintf(szPair, sizeof(szPair), "%02x", static_cast<unsigned int>(byValue));
        (void)AppendBounded(szText, szPair); // 32 digits always fit in 36 bytes
    }
}

// Length and CRC-32 are traced alike: "<what> INI (..), From file (..)", the
// manifest's value first.
BOOLEAN CompareWithManifest(const char* pcszWhat, DWORD dwInIni, DWORD dwFromFile, DWORD dwCode,
                            DWORD* pdwErrorCode)
{
    char szMessage[MAX_CMD_LEN];
    if (dwInIni != dwFromFile)
    {
        std::snprintf(szMessage, sizeof(szMessage), "%s mismatch In INI (%u), From file (%u)",
                      pcszWhat, dwInIni, dwFromFile);
        RP_TRACE_ERROR(kCheckLabel, "%s", szMessage);
        *pdwErrorCode = dwCode;
        return FALSE;
    }
    std::snprintf(szMessage, sizeof(szMessage), "%s INI (%u), From file (%u)", pcszWhat, dwInIni,
                  dwFromFile);
    RP_TRACE_INFO(kCheckLabel, "%s", szMessage);
    return TRUE;
}

BOOLEAN CheckLength(const char* pcszFile, const XEDA_SVPK_INFO& info, DWORD* pdwErrorCode)
{
    // A missing file reads as -1, traced as 4294967295: only the low 32 bits count.
    const DWORD dwFileLength = static_cast<DWORD>(GetFileLength(pcszFile));
    return CompareWithManifest("File length", info.dwFileLength, dwFileLength, 603, pdwErrorCode);
}

BOOLEAN CheckCrc(const char* pcszFile, const XEDA_SVPK_INFO& info, DWORD* pdwErrorCode)
{
    DWORD dwCrc = 0;
    if (CalculateCheckSum(pcszFile, &dwCrc) == 0)
    {
        RP_TRACE_ERROR(kCheckLabel, "CalculateCheckSum failed.");
        *pdwErrorCode = 604;
        return FALSE;
    }
    return CompareWithManifest("Checksum", info.dwCRC32, dwCrc, 605, pdwErrorCode);
}

BOOLEAN CheckMd5(const char* pcszFile, const XEDA_SVPK_INFO& info, DWORD* pdwErrorCode)
{
    std::unique_ptr<CMd5> pMd5(new (std::nothrow) CMd5());
    if (!pMd5)
    {
        RP_TRACE_ERROR(kCheckLabel, "objectcreation failed.");
        return FALSE;
    }
    BYTE byDigest[16] = {0};
    if (ComputeFileMd5(*pMd5, pcszFile, byDigest) == 0)
    {
        RP_TRACE_ERROR(kCheckLabel, "CheckSumCalc.CalculateMD5 failed.");
        *pdwErrorCode = 606;
        return FALSE;
    }
    char szComputed[kMd5TextSize];
    RenderMd5(byDigest, szComputed);
    char szMessage[MAX_CMD_LEN];
    if (strcasecmp(info.szMD5CheckSumString, szComputed) != 0)
    {
        std::snprintf(szMessage, sizeof(szMessage), "MD5 mismatch In INI (%s), From file (%s)",
                      info.szMD5CheckSumString, szComputed);
        RP_TRACE_ERROR(kCheckLabel, "%s", szMessage);
        *pdwErrorCode = 607;
        return FALSE;
    }
    std::snprintf(szMessage, sizeof(szMessage), "MD5 ini hash(%s) Hash= (%s)",
                  info.szMD5CheckSumString, szComputed);
    RP_TRACE_INFO(kCheckLabel, "%s", szMessage);
    return TRUE;
}
} // namespace

BOOLEAN GetServicePackInfo(const char* pcszIniFile, const char* pcszKeyName,
                           XEDA_SVPK_INFO* pServicePackInfo, DWORD* pdwErrorCode)
{
    return ReadManifestRecord(g_ServicePackReader, pcszIniFile, pcszKeyName,
                              pServicePackInfo != nullptr ? pServicePackInfo->szServicePackName
                                                          : nullptr,
                              pServicePackInfo, pdwErrorCode);
}

BOOLEAN GetMinorUpgradePackInfo(const char* pcszIniFile, const char* pcszKeyName,
                                XEDA_UPGRADE_INFO* pMinorUPgardePackInfo, DWORD* pdwErrorCode)
{
    return ReadUpgradeRecord(g_MinorUpgradeReader, pcszIniFile, pcszKeyName, pMinorUPgardePackInfo,
                             pdwErrorCode);
}

BOOLEAN GetMinorUpgradeCAPackInfo(const char* pcszIniFile, const char* pcszKeyName,
                                  XEDA_UPGRADE_INFO* pMinorUPgardePackInfo, DWORD* pdwErrorCode)
{
    return ReadUpgradeRecord(g_ClientAgentReader, pcszIniFile, pcszKeyName, pMinorUPgardePackInfo,
                             pdwErrorCode);
}

BOOLEAN GetDiskFreeSpace(const char* pcszPath, uint64_t* puiFreeSize, DWORD* pdwError)
{
    const char kLabel[] = "GetDiskFreeSpace";
    RP_TRACE_INFO(kLabel, "Entry");
    if (pcszPath == nullptr || puiFreeSize == nullptr || pdwError == nullptr)
    {
        RP_TRACE_ERROR(kLabel, "Invalid Parameter");
        return FALSE;
    }
    *pdwError = 0;
    *puiFreeSize = 0;
    if (access(pcszPath, F_OK) != 0)
    {
        RP_TRACE_ERROR(kLabel, "Invalid Path");
        *pdwError = 1002;
        return FALSE;
    }
    struct statvfs fs;
    if (statvfs(pcszPath, &fs) != 0)
    {
        RP_TRACE_ERROR(kLabel, "vfs failed");
        *pdwError = 1001;
        return FALSE;
    }
    // Only what an ordinary user may fill counts (f_bavail, not f_bfree).
    *puiFreeSize = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_bsize);
    if (*puiFreeSize == 0)
    {
        RP_TRACE_ERROR(kLabel, "No free space");
        *pdwError = 1005;
        return TRUE;
    }
    RP_TRACE_INFO(kLabel, "free space");
    RP_TRACE_INFO(kLabel, "EXIT");
    return TRUE;
}

long GetFileLength(const char* pszFileName)
{
    if (pszFileName == nullptr || access(pszFileName, F_OK) != 0)
        return -1;
    char szFile[MAX_PATH] = {0};
    if (!CopyBounded(szFile, pszFileName))
        return -1;
    ScopedFd fd(open(szFile, O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0 || lseek(fd.Get(), 0, SEEK_SET) < 0)
        return -1;
    const off_t lSize = lseek(fd.Get(), 0, SEEK_END);
    return lSize < 0 ? -1 : static_cast<long>(lSize);
}

BOOLEAN CheckFileConsistency(const char* pcszFile, const XEDA_SVPK_INFO* pServicePackInfo,
                             DWORD* pdwErrorCode)
{
    RP_TRACE_INFO(kCheckLabel, "start.");
    if (pdwErrorCode == nullptr)
    {
        RP_TRACE_ERROR(kCheckLabel, "NULL error code.");
        return FALSE;
    }
    if (pcszFile == nullptr || pServicePackInfo == nullptr)
    {
        RP_TRACE_ERROR(kCheckLabel, "Invalid Parameters.");
        *pdwErrorCode = 601;
        return FALSE;
    }
    // Cheapest first: a wrong length stops before any content is read.
    if (!CheckLength(pcszFile, *pServicePackInfo, pdwErrorCode) ||
        !CheckCrc(pcszFile, *pServicePackInfo, pdwErrorCode) ||
        !CheckMd5(pcszFile, *pServicePackInfo, pdwErrorCode))
        return FALSE;
    RP_TRACE_INFO(kCheckLabel, "end.");
    return TRUE;
}
