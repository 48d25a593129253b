// The update installation module: the manifest readers, the package
// verification, the cron scheduling and the four update flows with their
// download wrapper. They live in one source so that every line they trace
// names this module; the flows themselves are one sequence of steps
// (manifest, record, space, package, verification, extraction, schedule)
// and a FLOW_DESC per flow that says how it differs.
#include "xedasvpk.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <new>

#include "crc32.h"
#include "handles.h"
#include "inifun.h"
#include "kvinstaller.h"
#include "log.h"
#include "md5lib.h"
#include "process.h"
#include "safefs.h"
#include "updatesig.h"

namespace
{
// ---- Manifest readers ---------------------------------------------------------

const char kServicePackSection[] = "service_pack_linux";
const char kDeltaSection[] = "minor_upg_pack_linux";
const char kClientAgentSection[] = "minor_upg_ca_pack_linux";
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

// One field a line, in the order of READER_DESC.
// clang-format off
const READER_DESC g_ServicePackReader = {
    kServicePackSection,
    "GetServicePackName",
    "GetServicePackName",
    "GetServicePackName:",
    nullptr,
    "GetServicePackName",
    "GetServicePackName szMD5:",
};
const READER_DESC g_MinorUpgradeReader = {
    kDeltaSection,
    "GetMinorUpgradePackName",
    "GetMinorUpgradeName",
    "GetServicePackName:",
    nullptr,
    "GetServicePackName",
    "GetServicePackName szMD5:",
};
const READER_DESC g_ClientAgentReader = {
    kClientAgentSection,
    "GetMinorUpgradeCAPackName",
    "GetMinorUpgradeCAPackName",
    "GetMinorUpgradeCAPackName:",
    "GetMinorUpgradeCaPackName",
    "GetMinorUpgradeCAPackName",
    "GetMinorUpgradeCAPackName szMD5:",
};
// clang-format on

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
            *pdwErrorCode = XEDA_ERR_MANIFEST_KEY;
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
        *pdwErrorCode = XEDA_ERR_READER_ARGUMENT;
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

BOOLEAN ReadUpgradeRecord(const READER_DESC& desc, const char* pcszIniFile, const char* pcszKeyName,
                          XEDA_UPGRADE_INFO* pInfo, DWORD* pdwErrorCode)
{
    return ReadManifestRecord(desc, pcszIniFile, pcszKeyName,
                              pInfo != nullptr ? pInfo->szAppName : nullptr,
                              pInfo != nullptr ? &pInfo->XedaSvPkInfo : nullptr, pdwErrorCode);
}

// ---- Verification ---------------------------------------------------------------

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
    UniqueFd fd(open(pcszFile, O_RDONLY | O_CLOEXEC));
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

// Installers of the first design hashed the first 8 bytes of the package's
// path, always "/var/tmp", so the update sources built for them publish that
// one digest in every manifest. Such a manifest is still accepted: its
// package passes on length and CRC-32 alone, the check it always had.
bool RenderFixedDigest(IMd5& md5, char (&szText)[kMd5TextSize])
{
    static const char kPathPrefix[] = "/var/tmp";
    BYTE byDigest[16] = {0};
    if (md5.CalculateMD5(reinterpret_cast<const BYTE*>(kPathPrefix), sizeof(kPathPrefix) - 1,
                         byDigest) == 0)
        return false;
    RenderMd5(byDigest, szText);
    return true;
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
    return CompareWithManifest("File length", info.dwFileLength, dwFileLength,
                               XEDA_ERR_LENGTH_MISMATCH, pdwErrorCode);
}

BOOLEAN CheckCrc(const char* pcszFile, const XEDA_SVPK_INFO& info, DWORD* pdwErrorCode)
{
    DWORD dwCrc = 0;
    if (CalculateCheckSum(pcszFile, &dwCrc) == 0)
    {
        RP_TRACE_ERROR(kCheckLabel, "CalculateCheckSum failed.");
        *pdwErrorCode = XEDA_ERR_CRC_FAILED;
        return FALSE;
    }
    return CompareWithManifest("Checksum", info.dwCRC32, dwCrc, XEDA_ERR_CRC_MISMATCH,
                               pdwErrorCode);
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
        *pdwErrorCode = XEDA_ERR_MD5_FAILED;
        return FALSE;
    }
    char szComputed[kMd5TextSize];
    RenderMd5(byDigest, szComputed);
    char szFixed[kMd5TextSize] = "";
    const char* pcszMatched = nullptr;
    if (strcasecmp(info.szMD5CheckSumString, szComputed) == 0)
        pcszMatched = szComputed;
    else if (RenderFixedDigest(*pMd5, szFixed) &&
             strcasecmp(info.szMD5CheckSumString, szFixed) == 0)
        pcszMatched = szFixed;
    char szMessage[MAX_CMD_LEN];
    if (pcszMatched == nullptr)
    {
        std::snprintf(szMessage, sizeof(szMessage), "MD5 mismatch In INI (%s), From file (%s)",
                      info.szMD5CheckSumString, szComputed);
        RP_TRACE_ERROR(kCheckLabel, "%s", szMessage);
        *pdwErrorCode = XEDA_ERR_MD5_MISMATCH;
        return FALSE;
    }
    std::snprintf(szMessage, sizeof(szMessage), "MD5 ini hash(%s) Hash= (%s)",
                  info.szMD5CheckSumString, pcszMatched);
    RP_TRACE_INFO(kCheckLabel, "%s", szMessage);
    return TRUE;
}
// On a machine with the vendor's keys the package must also be the one whose
// SHA-256 the signed manifest gives; the MD5 alone can be forged.
BOOLEAN CheckPackageSha256(const char* pcszFile, const char* pcszExpected, DWORD* pdwErrorCode)
{
    char szComputed[65];
    if (!Sha256OfFile(pcszFile, szComputed))
    {
        RP_TRACE_ERROR(kCheckLabel, "SHA-256 could not be computed.");
        *pdwErrorCode = XEDA_ERR_SHA256_FAILED;
        return FALSE;
    }
    const bool bMatch = strcasecmp(pcszExpected, szComputed) == 0;
    char szMessage[MAX_CMD_LEN];
    std::snprintf(szMessage, sizeof(szMessage), "SHA-256 %sIn INI (%s), From file (%s)",
                  bMatch ? "" : "mismatch ", pcszExpected, szComputed);
    if (bMatch)
    {
        RP_TRACE_INFO(kCheckLabel, "%s", szMessage);
        return TRUE;
    }
    RP_TRACE_ERROR(kCheckLabel, "%s", szMessage);
    *pdwErrorCode = XEDA_ERR_SHA256_MISMATCH;
    return FALSE;
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
        *pdwError = DISK_ERR_NO_PATH;
        return FALSE;
    }
    struct statvfs fs;
    if (statvfs(pcszPath, &fs) != 0)
    {
        RP_TRACE_ERROR(kLabel, "vfs failed");
        *pdwError = DISK_ERR_QUERY_FAILED;
        return FALSE;
    }
    // Only what an ordinary user may fill counts (f_bavail, not f_bfree).
    *puiFreeSize = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_bsize);
    if (*puiFreeSize == 0)
    {
        RP_TRACE_ERROR(kLabel, "No free space");
        *pdwError = DISK_ERR_NO_SPACE;
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
    UniqueFd fd(open(szFile, O_RDONLY | O_CLOEXEC));
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
        *pdwErrorCode = XEDA_ERR_VERIFY_ARGUMENT;
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

// ---- Cron scheduling ---------------------------------------------------------------

namespace
{
// One probe of CheckCronStatus: a command whose status 0 means a daemon runs.
struct CRON_PROBE
{
    const char* pcszCommand;
    const char* pcszSuccess;
    const char* pcszFailure; // ERROR trace when the command fails, or none
};

// cron before crond, and each started only when it is not already running,
// so that systems knowing only one of the two service names are served.
const CRON_PROBE g_CronProbes[] = {
    {"pidof -x cron > /dev/null", "cron already running", nullptr},
    {"service cron start > /dev/null 2>&1", "cron started successfully", "failed to start cron"},
    {"pidof -x crond > /dev/null", "crond already running", nullptr},
    {"service crond start > /dev/null 2>&1", "crond started successfully",
     "failed to start crond "},
};

// Every crontab line is schedule + " root " + script + kCronTail. The
// installer writes the line itself, in one append: no shell ever sees it,
// so no file name in the working directory can turn a '*' into something
// else.
struct CRON_LINE_DESC
{
    const char* pcszSchedule; // null: minute and hour are formatted in
    const char* pcszScript;
};

const CRON_LINE_DESC g_CronLines[] = {
    /* CRON_LINE_SERVICE_PACK */ {nullptr, "/var/tmp/kvlinxsp/kvacascr"},
    /* CRON_LINE_ROLLBACK */ {"*/1 * * * *", "/var/tmp/installation/rollbackCA.sh"},
    /* CRON_LINE_BUILD_INSTALLER */
    {"*/3 * * * *", "/var/tmp/ClientBuild/x86_64/aclinux/kvinstall"},
    /* CRON_LINE_UNINSTALLER */
    {"*/3 * * * *", "/var/tmp/installation/kvuninstall_clagnt"},
};
static_assert(sizeof(g_CronLines) / sizeof(g_CronLines[0]) == CRON_LINE_NONE,
              "one crontab line per enumCRON_LINE value");

const char kCronTail[] = " 1 NULL >> /dev/null 2>&1";
} // namespace

int CheckCronStatus()
{
    const char kLabel[] = "CheckCronStatus";
    RP_TRACE_INFO(kLabel, "Entry");
    for (const CRON_PROBE& probe : g_CronProbes)
    {
        if (RunShell(probe.pcszCommand) == 0)
        {
            RP_TRACE_INFO(kLabel, "%s", probe.pcszSuccess);
            return 1;
        }
        if (probe.pcszFailure != nullptr)
            RP_TRACE_ERROR(kLabel, "%s", probe.pcszFailure);
    }
    RP_TRACE_INFO(kLabel, "Exit");
    return 0;
}

BOOL FormatCronLine(enumCRON_LINE eLine, int iMinute, int iHour, char* pszLine, std::size_t nSize)
{
    if (eLine < CRON_LINE_SERVICE_PACK || eLine >= CRON_LINE_NONE)
        return FALSE;
    const CRON_LINE_DESC& line = g_CronLines[eLine];
    char szSchedule[64];
    if (line.pcszSchedule == nullptr)
        std::snprintf(szSchedule, sizeof(szSchedule), "%d %d * * *", iMinute, iHour);
    else if (!CopyBounded(szSchedule, line.pcszSchedule))
        return FALSE;
    return CopyBounded(pszLine, nSize, szSchedule) && AppendBounded(pszLine, nSize, " root ") &&
           AppendBounded(pszLine, nSize, line.pcszScript) &&
           AppendBounded(pszLine, nSize, kCronTail);
}

const char* CronScript(enumCRON_LINE eLine)
{
    return eLine >= CRON_LINE_SERVICE_PACK && eLine < CRON_LINE_NONE ? g_CronLines[eLine].pcszScript
                                                                     : nullptr;
}

void ComputeServicePackRunTime(int iHour, int iMinute, int* piRunMinute, int* piRunHour)
{
    // Minutes 58 and 59 both land on minute 2 of the next hour, never on 0 or 1.
    if (iMinute + 2 > 59)
    {
        iHour += 1;
        iMinute = 2;
    }
    else
    {
        iMinute += 2;
    }
    if (iHour > 23)
        iHour = 0;
    *piRunMinute = iMinute;
    *piRunHour = iHour;
}

BOOL GetServicePackRunTime(int* piRunMinute, int* piRunHour)
{
    const std::time_t tNow = std::time(nullptr);
    if (tNow == static_cast<std::time_t>(-1))
        return FALSE;
    struct tm tmLocal;
    if (localtime_r(&tNow, &tmLocal) == nullptr)
        return FALSE;
    ComputeServicePackRunTime(tmLocal.tm_hour, tmLocal.tm_min, piRunMinute, piRunHour);
    return TRUE;
}

// ---- Update flows ------------------------------------------------------------------

namespace
{
const char kWorkDir[] = "/var/tmp/";
const char kNameKey[] = "file_64";
const char kTar[] = "/bin/tar";
const char kOldAgentArchive[] = "/usr/lib/Zelvano/ClientAgentOld.tar.gz";
const char kExtractStatusLabel[] = "Extract status:";
const char kCrontab[] = "/etc/crontab";

// What a failed step deletes. The package goes before the manifest.
enum DELETE_SET : unsigned
{
    DELETE_NOTHING = 0,
    DELETE_MANIFEST = 1,
    DELETE_PACKAGE = 2,
    DELETE_PACKAGE_AND_MANIFEST = DELETE_PACKAGE | DELETE_MANIFEST,
};

struct FAILURE_DELETES
{
    DELETE_SET eReader;
    DELETE_SET eDiskQuery;
    DELETE_SET eNoSpace;
    DELETE_SET eVerify;
    DELETE_SET eExtract;
};

// Where the manifest is saved: the caller's module buffer extended in place,
// or a copy of it, leaving the caller's buffer as it was.
enum MANIFEST_PATH
{
    MANIFEST_IN_CALLER_BUFFER,
    MANIFEST_IN_OWN_COPY,
};

struct MANIFEST_DESC
{
    const char* pcszName;
    int iKind; // the request kind that names the manifest; INSTALL_REQUEST_NONE: any
    MANIFEST_PATH eWhere;
    const char* pcszSection; // the package's, where a signed manifest also keeps its SHA-256
};

struct FLOW_DESC;

// A flow that first installs the client-agent package, and the line that
// rolls the agent back when that stage fails after changing it.
struct FIRST_STAGE
{
    const FLOW_DESC* pStage; // none: the flow has no first stage
    enumCRON_LINE eRollbackLine;
};

// The service-pack and minor flows tell their caller about a null argument;
// the client-agent stage and the major flow only trace it.
enum NULL_ARGUMENT
{
    STORE_NULL_ARGUMENT_CODE,
    TRACE_NULL_ARGUMENT_ONLY,
};

enum CRON_CHECK
{
    NO_CRON_CHECK,
    CRON_MUST_RUN,
};

// ERROR texts of the steps whose messages differ between flows.
struct FAILURE_TEXTS
{
    const char* pcszManifestDownload;
    const char* pcszReader;
    const char* pcszPackageDownload;
};

// The client-agent stage archives the installed agent before unpacking, so
// that a failed stage can be rolled back.
enum AGENT_ARCHIVE
{
    NO_ARCHIVE,
    ARCHIVE_AGENT_FIRST,
};

enum EXTRACT_TRACES
{
    SILENT_EXTRACTION,
    TRACED_EXTRACTION, // the fork, child, status and "Outside Child" traces
};

enum EXTRACT_RETRY
{
    NO_RETRY,
    RETRY_ONCE, // the major upgrade unpacks its package a second time
};

struct EXTRACT_DESC
{
    EXTRACT_TRACES eTraces;
    EXTRACT_RETRY eRetry;
    const char* pcszProgressLabel; // "executing !!!!!." under this label, or none
};

struct FINISH_DESC
{
    const char* pcszExpectedPath;  // must exist after extraction
    const char* pcszMissingLabel;  // "Exit" (ERROR) when it does not, or no trace
    const char* pcszScheduleLabel; // "Exit" (INFO) before scheduling, or no trace
    enumCRON_LINE eCronLine;
};

typedef BOOLEAN (*RECORD_READER)(const char*, const char*, XEDA_UPGRADE_INFO*, DWORD*);

struct FLOW_DESC
{
    const char* pcszLabel;
    MANIFEST_DESC manifest;
    NULL_ARGUMENT eNullArgument;
    FIRST_STAGE firstStage;
    CRON_CHECK eCronCheck;
    RECORD_READER pfnReadRecord;
    FAILURE_TEXTS texts;
    FAILURE_DELETES deletes;
    AGENT_ARCHIVE eArchive;
    EXTRACT_DESC extract;
    FINISH_DESC finish;
};

// The service-pack record keeps its name in the record itself; the flows
// find every package name in szAppName.
BOOLEAN ReadServicePackRecord(const char* pcszIniFile, const char* pcszKeyName,
                              XEDA_UPGRADE_INFO* pRecord, DWORD* pdwErrorCode)
{
    if (!GetServicePackInfo(pcszIniFile, pcszKeyName, &pRecord->XedaSvPkInfo, pdwErrorCode))
        return FALSE;
    return CopyBounded(pRecord->szAppName, pRecord->XedaSvPkInfo.szServicePackName);
}

// Deletion columns: reader, disk query, no space, verification, extraction.

const FLOW_DESC g_ServicePackFlow = {
    "InstallXEDASP",
    {"capatch.ini", INSTALL_REQUEST_SERVICE_PACK, MANIFEST_IN_CALLER_BUFFER, kServicePackSection},
    STORE_NULL_ARGUMENT_CODE,
    {nullptr, CRON_LINE_NONE},
    NO_CRON_CHECK,
    ReadServicePackRecord,
    {"Ini downloa failed", "GetServicePackInfo failed.", "SP download failed"},
    {DELETE_MANIFEST, DELETE_MANIFEST, DELETE_NOTHING, DELETE_PACKAGE_AND_MANIFEST,
     DELETE_PACKAGE_AND_MANIFEST},
    NO_ARCHIVE,
    {SILENT_EXTRACTION, NO_RETRY, nullptr},
    {"/var/tmp/kvlinxsp/kvacascr", nullptr, nullptr, CRON_LINE_SERVICE_PACK},
};

const FLOW_DESC g_ClientAgentFlow = {
    "DownloadAndInstallCA",
    {"linuxupgrade.ini", INSTALL_REQUEST_NONE, MANIFEST_IN_OWN_COPY, kClientAgentSection},
    TRACE_NULL_ARGUMENT_ONLY,
    {nullptr, CRON_LINE_NONE},
    NO_CRON_CHECK,
    GetMinorUpgradeCAPackInfo,
    {"Caupg.ini download failed", "GetMinorUpgradeCAPackInfo. failed",
     "CA package download failed"},
    {DELETE_MANIFEST, DELETE_NOTHING, DELETE_NOTHING, DELETE_MANIFEST, DELETE_PACKAGE_AND_MANIFEST},
    ARCHIVE_AGENT_FIRST,
    {TRACED_EXTRACTION, NO_RETRY, "!!!!!UnInstall in progress"},
    {"/var/tmp/installation/kvuninstall_clagnt", " CA package dir not downloaded",
     "scheduling cron job for uninstallation of client agent", CRON_LINE_UNINSTALLER},
};

// No crontab line for the delta script: the client-agent installation that
// the first stage scheduled is what applies the delta.
const FLOW_DESC g_MinorUpgradeFlow = {
    "InstallMinUPG",
    {"minupg.ini", INSTALL_REQUEST_UPGRADE, MANIFEST_IN_CALLER_BUFFER, kDeltaSection},
    STORE_NULL_ARGUMENT_CODE,
    {&g_ClientAgentFlow, CRON_LINE_ROLLBACK},
    NO_CRON_CHECK,
    GetMinorUpgradePackInfo,
    {"minupg.ini download failed", "GetMinorUpgradePackInfo failed.",
     "MinorUpgrade  download failed"},
    {DELETE_MANIFEST, DELETE_MANIFEST, DELETE_NOTHING, DELETE_MANIFEST,
     DELETE_PACKAGE_AND_MANIFEST},
    NO_ARCHIVE,
    {TRACED_EXTRACTION, NO_RETRY, nullptr},
    {"/var/tmp/kvlinxsp/kvacascr", "Delta Changes not download",
     "!!!!!Scheduling cron job for Delta change via installation script", CRON_LINE_NONE},
};

// The second extraction unpacks the package this run verified, never a file
// of the build's usual name that anyone could have left in /var/tmp/.
const FLOW_DESC g_MajorUpgradeFlow = {
    "InstallMajorUPG",
    {"linuxupgrade.ini", INSTALL_REQUEST_NONE, MANIFEST_IN_OWN_COPY, kClientAgentSection},
    TRACE_NULL_ARGUMENT_ONLY,
    {nullptr, CRON_LINE_NONE},
    CRON_MUST_RUN,
    GetMinorUpgradeCAPackInfo,
    {"Caupg.ini download failed", "GetMinorUpgradeCAPackInfo. failed",
     "CA package download failed"},
    {DELETE_MANIFEST, DELETE_MANIFEST, DELETE_MANIFEST, DELETE_PACKAGE_AND_MANIFEST,
     DELETE_PACKAGE_AND_MANIFEST},
    NO_ARCHIVE,
    {TRACED_EXTRACTION, RETRY_ONCE, "!!!!!UnInstall in progress"},
    {"/var/tmp/ClientBuild", " ClientBuild dir is not downloaded",
     "scheduling cron job for installing major upgrade build", CRON_LINE_BUILD_INSTALLER},
};

// What a client-agent stage changed, which decides whether it can be rolled back.
struct STAGE_OUTCOME
{
    bool bArchiveTaken; // this run's archive of the installed agent
    bool bExtracted;    // this run's verified package unpacked
};

// Everything one run of a flow works on. The caller's three buffers are 260
// bytes each and are extended in place.
struct FLOW_RUN
{
    const FLOW_DESC& desc;
    char* pszURL1;
    char* pszURL2;
    char* pszModulePath;
    int iKind;
    DWORD* pdwError;

    char szFile[MAX_PATH] = {};
    char szURL1[MAX_PATH] = {}; // base URLs, later the package URLs
    char szURL2[MAX_PATH] = {};
    char szCaURL1[MAX_PATH] = {}; // base URLs for the client-agent stage
    char szCaURL2[MAX_PATH] = {};
    char szCaModulePath[MAX_PATH] = {}; // the manifest path when built apart from the caller's
    char* pszManifestPath = nullptr;
    char* pszManifestURL = nullptr;          // the one that served it
    char szSignaturePath[MAX_PATH + 4] = {}; // beside the manifest, ".sig" added
    char szSha256[65] = {};                  // the package's, from a signed manifest
    bool bSigned = false;                    // this machine holds the vendor's keys
    char szPath[MAX_PATH] = {};              // "/var/tmp/", later the package path
    XEDA_UPGRADE_INFO record = {};
    bool bManifestDownloaded = false;
    bool bSignatureDownloaded = false;
    bool bPackageDownloaded = false;
    DELETE_SET eDelete = DELETE_NOTHING;
    STAGE_OUTCOME outcome = {false, false};
};

bool Fail(FLOW_RUN& run, DELETE_SET eDelete)
{
    run.eDelete = eDelete;
    return false;
}

void DeleteAfterFailure(const FLOW_RUN& run)
{
    // A file that is already gone needs no deleting: results are not checked.
    if ((run.eDelete & DELETE_PACKAGE) != 0 && run.bPackageDownloaded)
        (void)unlink(run.szPath);
    if ((run.eDelete & DELETE_MANIFEST) != 0 && run.bManifestDownloaded)
        (void)unlink(run.pszManifestPath);
    if ((run.eDelete & DELETE_MANIFEST) != 0 && run.bSignatureDownloaded)
        (void)unlink(run.szSignaturePath);
}

// Appends all parts to a 260-byte buffer, or none of them.
bool AppendAll(char* pszBuffer, std::initializer_list<const char*> parts)
{
    const std::size_t nUsed = strnlen(pszBuffer, MAX_PATH);
    for (const char* pcszPart : parts)
    {
        if (!AppendBounded(pszBuffer, MAX_PATH, pcszPart))
        {
            if (nUsed < MAX_PATH)
                pszBuffer[nUsed] = '\0';
            return false;
        }
    }
    return true;
}

// A URL or path that would not fit its buffer fails the flow: no truncated
// name is ever downloaded or written.
bool TooLong(FLOW_RUN& run, const char* pcszWhat)
{
    RP_TRACE_ERROR(run.desc.pcszLabel, "%s longer than 259 characters", pcszWhat);
    return Fail(run, DELETE_MANIFEST);
}

void StoreCode(DWORD* pdwError, DWORD dwCode)
{
    if (pdwError != nullptr)
        *pdwError = dwCode;
}

// A crontab line runs its script as root until someone removes it: the
// script must be root's alone, and the line is appended only then.
bool ScheduleLine(const FLOW_RUN& run, enumCRON_LINE eLine, int iMinute, int iHour)
{
    const char* pcszScript = CronScript(eLine);
    const TRUST_RESULT trust = CheckRootOnly(pcszScript, TRUST_FILE);
    if (trust.eFault != TRUST_OK)
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "script not trusted: %s: %s", trust.strAt.c_str(),
                       TrustFaultText(trust.eFault));
        StoreCode(run.pdwError, XEDA_ERR_SCRIPT_NOT_TRUSTED);
        return false;
    }
    char szLine[MAX_CMD_LEN] = {0};
    const int iError = FormatCronLine(eLine, iMinute, iHour, szLine, sizeof(szLine))
                           ? AppendLine(kCrontab, szLine)
                           : ENAMETOOLONG;
    if (iError != 0)
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "crontab append failed: %s", std::strerror(iError));
        StoreCode(run.pdwError, XEDA_ERR_CRONTAB_APPEND);
        return false;
    }
    RP_TRACE_INFO(run.desc.pcszLabel, "crontab line added: %s", szLine);
    return true;
}

BOOLEAN RunFlow(const FLOW_DESC& desc, char* pszURL1, char* pszURL2, char* pszModulePath, int iKind,
                DWORD* pdwError, STAGE_OUTCOME* pOutcome = nullptr);

// The download with URL fallback: 1 or 2 for the URL that served it, 0 when
// neither did (the second, when not null, is tried only after the first).
int DownloadFromEither(char* pcszURL1, char* pcszURL2, char* pcszPath, DWORD* pdwError,
                       DOWNLOAD_LIMIT* pLimit)
{
    RP_TRACE_INFO("DownloadXEDASPServicePack", "Entry");
    if (pcszURL1 == nullptr || pcszPath == nullptr)
    {
        StoreCode(pdwError, XEDA_ERR_DOWNLOAD_ARGUMENT);
        return 0;
    }
    if (DownloadFile(pcszURL1, pcszPath, pdwError, pLimit))
        return 1;
    if (pcszURL2 != nullptr && DownloadFile(pcszURL2, pcszPath, pdwError, pLimit))
        return 2;
    StoreCode(pdwError, XEDA_ERR_DOWNLOAD_FAILED);
    return 0;
}

// ---- The steps, in the order every flow runs them -----------------------------

bool CheckArguments(FLOW_RUN& run)
{
    RP_TRACE_INFO(run.desc.pcszLabel, "Entry");
    if (run.pszURL1 == nullptr || run.pszURL2 == nullptr || run.pszModulePath == nullptr)
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "Invalid Parameter");
        if (run.desc.eNullArgument == STORE_NULL_ARGUMENT_CODE)
            StoreCode(run.pdwError, XEDA_ERR_NULL_ARGUMENT);
        return Fail(run, DELETE_NOTHING);
    }
    return true;
}

bool CopyArguments(FLOW_RUN& run)
{
    if (!CopyBounded(run.szURL1, run.pszURL1) || !CopyBounded(run.szURL2, run.pszURL2) ||
        !CopyBounded(run.szCaURL1, run.pszURL1) || !CopyBounded(run.szCaURL2, run.pszURL2))
        return TooLong(run, "base URL");
    (void)CopyBounded(run.szPath, kWorkDir); // a constant that fits
    if (run.desc.manifest.iKind == INSTALL_REQUEST_NONE || run.desc.manifest.iKind == run.iKind)
    {
        (void)CopyBounded(run.szFile, run.desc.manifest.pcszName); // a constant that fits
        RP_TRACE_INFO(run.desc.pcszLabel, "%s", run.szFile);
    }
    return true;
}

// Why a failed client-agent stage is not rolled back, or null when it is:
// only a stage that archived the agent and unpacked its own verified
// package has anything to undo, and only its own rollback script undoes it.
const char* WhyNoRollback(const STAGE_OUTCOME& stage)
{
    if (!stage.bArchiveTaken)
        return "this run took no archive of the agent";
    if (!stage.bExtracted)
        return "the client-agent package was not unpacked";
    return nullptr;
}

bool RunClientAgentStage(FLOW_RUN& run)
{
    const FIRST_STAGE& first = run.desc.firstStage;
    if (first.pStage == nullptr)
        return true;
    DWORD dwStageError = 0;
    STAGE_OUTCOME stage = {false, false};
    if (RunFlow(*first.pStage, run.szCaURL1, run.szCaURL2, run.pszModulePath, run.iKind,
                &dwStageError, &stage))
        return true;
    RP_TRACE_ERROR(run.desc.pcszLabel, "DownloadAndInstallCA failed");
    if (access(kOldAgentArchive, F_OK) != 0)
    {
        RP_TRACE_ERROR("Old  CA Backup is not present", "Exit");
        return Fail(run, DELETE_NOTHING);
    }
    const char* pcszWhyNot = WhyNoRollback(stage);
    if (pcszWhyNot == nullptr)
    {
        RP_TRACE_INFO("scheduling cron job for rollback of Client agent", "Exit");
        if (!ScheduleLine(run, first.eRollbackLine, 0, 0))
            pcszWhyNot = "its line was not appended";
    }
    if (pcszWhyNot != nullptr)
        RP_TRACE_ERROR(run.desc.pcszLabel, "no rollback scheduled: %s", pcszWhyNot);
    return Fail(run, DELETE_NOTHING);
}

bool BuildManifestLocation(FLOW_RUN& run)
{
    if (!AppendAll(run.pszURL1, {"/", run.szFile}) || !AppendAll(run.pszURL2, {"/", run.szFile}))
        return TooLong(run, "manifest URL");
    if (run.desc.manifest.eWhere == MANIFEST_IN_CALLER_BUFFER)
        run.pszManifestPath = run.pszModulePath;
    else if (CopyBounded(run.szCaModulePath, run.pszModulePath))
        run.pszManifestPath = run.szCaModulePath;
    else
        return TooLong(run, "manifest path");
    if (!AppendAll(run.pszManifestPath, {run.szFile}))
        return TooLong(run, "manifest path");
    return true;
}

bool CheckCronService(FLOW_RUN& run)
{
    if (run.desc.eCronCheck != CRON_MUST_RUN || CheckCronStatus() != 0)
        return true;
    RP_TRACE_ERROR(run.desc.pcszLabel, "cron service is not running");
    StoreCode(run.pdwError, XEDA_ERR_NO_CRON);
    return Fail(run, DELETE_NOTHING);
}

bool DownloadManifest(FLOW_RUN& run)
{
    char* pszSecondURL = run.pszURL2;
    if (strcasecmp(run.pszURL1, run.pszURL2) == 0)
    {
        RP_TRACE_INFO(run.desc.pcszLabel, "both URL are same");
        pszSecondURL = nullptr;
    }
    DOWNLOAD_LIMIT limit = {kMaxManifestBytes, false};
    const int iServedBy =
        DownloadFromEither(run.pszURL1, pszSecondURL, run.pszManifestPath, run.pdwError, &limit);
    if (iServedBy == 0)
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "%s", run.desc.texts.pcszManifestDownload);
        return Fail(run, DELETE_NOTHING);
    }
    run.pszManifestURL = iServedBy == 1 ? run.pszURL1 : run.pszURL2;
    run.bManifestDownloaded = true;
    return true;
}

// Fails the flow on a manifest that a machine with the vendor's keys must
// refuse: handled as a manifest that cannot be read, with its own code.
bool RefuseManifest(FLOW_RUN& run, DWORD dwCode, const char* pcszWhy)
{
    RP_TRACE_ERROR(run.desc.pcszLabel, "%s", pcszWhy);
    StoreCode(run.pdwError, dwCode);
    return Fail(run, run.desc.deletes.eReader);
}

// Anyone on the network path can answer in the source's place; on a machine
// that holds the vendor's keys the manifest counts only when one of them
// verifies its signature, fetched from the base URL that served it.
bool CheckManifestSignature(FLOW_RUN& run)
{
    if (!SignaturesRequired())
        return true;
    run.bSigned = true;
    char szURL[MAX_PATH] = {0};
    if (!CopyBounded(szURL, run.pszManifestURL) || !AppendAll(szURL, {".sig"}))
        return TooLong(run, "signature URL");
    (void)CopyBounded(run.szSignaturePath, run.pszManifestPath); // 4 bytes to spare
    (void)AppendBounded(run.szSignaturePath, ".sig");
    const char kTooLong[] = "signature longer than 1024 bytes";
    DOWNLOAD_LIMIT limit = {kMaxSignatureBytes, false};
    if (DownloadFromEither(szURL, nullptr, run.szSignaturePath, run.pdwError, &limit) == 0)
        return limit.bExceeded
                   ? RefuseManifest(run, XEDA_ERR_SIGNATURE_TOO_LONG, kTooLong)
                   : RefuseManifest(run, XEDA_ERR_SIGNATURE_MISSING, "signature download failed");
    run.bSignatureDownloaded = true;
    std::string strKeyFile;
    switch (VerifyManifestSignature(run.pszManifestPath, run.szSignaturePath, strKeyFile))
    {
    case SIGNATURE_VERIFIED:
        RP_TRACE_INFO(run.desc.pcszLabel, "manifest signed by %s", strKeyFile.c_str());
        return true;
    case SIGNATURE_NO_KEY:
        return RefuseManifest(run, XEDA_ERR_NO_TRUSTED_KEY, "no trusted update key");
    case SIGNATURE_TOO_LONG:
        return RefuseManifest(run, XEDA_ERR_SIGNATURE_TOO_LONG, kTooLong);
    case SIGNATURE_NOT_VALID:
        break;
    }
    return RefuseManifest(run, XEDA_ERR_SIGNATURE_INVALID, "manifest signature not verified");
}

// The name becomes a file under /var/tmp/: it must name a file there.
bool IsPlainFileName(const char* pcszName)
{
    return pcszName[0] != '\0' && std::strchr(pcszName, '/') == nullptr &&
           std::strcmp(pcszName, ".") != 0 && std::strcmp(pcszName, "..") != 0;
}

bool ReadPackageRecord(FLOW_RUN& run)
{
    char szKey[256] = {0};
    (void)CopyBounded(szKey, kNameKey); // a constant that fits
    if (!run.desc.pfnReadRecord(run.pszManifestPath, szKey, &run.record, run.pdwError))
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "%s", run.desc.texts.pcszReader);
        return Fail(run, run.desc.deletes.eReader);
    }
    if (!IsPlainFileName(run.record.szAppName))
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "package name refused: %s", run.record.szAppName);
        return Fail(run, DELETE_MANIFEST);
    }
    return true;
}

bool IsSha256Text(const char* pcszText)
{
    return std::strlen(pcszText) == 64 && std::strspn(pcszText, "0123456789abcdefABCDEF") == 64;
}

// Seconds since 1970, decimal digits only.
bool ParseSeconds(const char* pcszText, std::time_t* ptValue)
{
    if (pcszText[0] == '\0' || std::strspn(pcszText, "0123456789") != std::strlen(pcszText))
        return false;
    errno = 0;
    const long long llValue = std::strtoll(pcszText, nullptr, 10);
    *ptValue = static_cast<std::time_t>(llValue);
    return errno == 0;
}

// What a signed manifest must add: the package's SHA-256, and a time after
// which it is refused, so that an old signed manifest cannot be replayed to
// install an old package once a fix has shipped.
bool ReadSignedFields(FLOW_RUN& run)
{
    if (!run.bSigned)
        return true;
    const char* pcszSection = run.desc.manifest.pcszSection;
    char szValue[MAX_PATH] = {0};
    (void)GetPrivateProfileString(pcszSection, "sha256_64", "", szValue, MAX_PATH,
                                  run.pszManifestPath); // missing reads as ""
    if (!IsSha256Text(szValue))
        return RefuseManifest(run, XEDA_ERR_SHA256_FIELD, "sha256_64 missing or malformed");
    (void)CopyBounded(run.szSha256, szValue); // 64 digits fit
    std::time_t tExpires = 0;
    (void)GetPrivateProfileString(pcszSection, "expires_64", "", szValue, MAX_PATH,
                                  run.pszManifestPath);
    if (!ParseSeconds(szValue, &tExpires))
        return RefuseManifest(run, XEDA_ERR_EXPIRY_FIELD, "expires_64 missing or malformed");
    if (std::time(nullptr) <= tExpires)
        return true;
    struct tm tmExpires;
    char szWhen[64] = "?";
    if (gmtime_r(&tExpires, &tmExpires) != nullptr)
        (void)std::strftime(szWhen, sizeof(szWhen), "%Y-%m-%d %H:%M:%S UTC", &tmExpires);
    RP_TRACE_ERROR(run.desc.pcszLabel, "manifest expired at %s", szWhen);
    StoreCode(run.pdwError, XEDA_ERR_MANIFEST_EXPIRED);
    return Fail(run, run.desc.deletes.eReader);
}

void TraceWithSuffixLabel(const FLOW_RUN& run, const char* pcszSuffix, const char* pcszText)
{
    char szLabel[64];
    std::snprintf(szLabel, sizeof(szLabel), "%s %s", run.desc.pcszLabel, pcszSuffix);
    RP_TRACE_INFO(szLabel, "%s", pcszText);
}

bool BuildPackageURLs(FLOW_RUN& run)
{
    if (!AppendAll(run.szURL1, {"/", run.record.szAppName}) ||
        !AppendAll(run.szURL2, {"/", run.record.szAppName}))
        return TooLong(run, "package URL");
    TraceWithSuffixLabel(run, "URL1=", run.szURL1);
    TraceWithSuffixLabel(run, "URL2=", run.szURL2);
    TraceWithSuffixLabel(run, "path=", run.szPath);
    return true;
}

bool CheckFreeSpace(FLOW_RUN& run)
{
    uint64_t uiFreeSize = 0;
    DWORD dwError = 0; // the flow's caller never sees the disk query's codes
    if (!GetDiskFreeSpace(run.szPath, &uiFreeSize, &dwError))
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "GetDiskFreeSpace failed.");
        return Fail(run, run.desc.deletes.eDiskQuery);
    }
    // Strictly smaller: no margin is kept for the unpacked files.
    if (run.record.XedaSvPkInfo.dwFileLength >= uiFreeSize)
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "Space not availabe");
        return Fail(run, run.desc.deletes.eNoSpace);
    }
    RP_TRACE_INFO(run.desc.pcszLabel, "Space availabe");
    return true;
}

bool DownloadPackage(FLOW_RUN& run)
{
    if (!AppendAll(run.szPath, {run.record.szAppName}))
        return TooLong(run, "package path");
    // Both URLs, even when equal: an equal pair is simply tried twice.
    // Never more than the manifest announced: a source that keeps sending
    // cannot fill /var/tmp/ past the free-space check.
    DOWNLOAD_LIMIT limit = {run.record.XedaSvPkInfo.dwFileLength, false};
    if (DownloadFromEither(run.szURL1, run.szURL2, run.szPath, run.pdwError, &limit) == 0)
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "%s", run.desc.texts.pcszPackageDownload);
        return Fail(run, DELETE_NOTHING);
    }
    run.bPackageDownloaded = true;
    return true;
}

bool VerifyPackage(FLOW_RUN& run)
{
    if (CheckFileConsistency(run.szPath, &run.record.XedaSvPkInfo, run.pdwError) &&
        (!run.bSigned || CheckPackageSha256(run.szPath, run.szSha256, run.pdwError)))
        return true;
    return Fail(run, run.desc.deletes.eVerify);
}

// Writes the archive beside the old one and puts it in place only once tar
// has succeeded: a failure (a full disk, say) keeps the last good archive.
// The agent's files include its keys, so the archive is root's alone.
bool WriteAgentArchive(std::string& strWhyNot)
{
    ReplacingFile archive;
    if (!archive.Create(kOldAgentArchive))
    {
        strWhyNot = std::strerror(errno);
        return false;
    }
    if (RunProgram({kTar, "-czf", archive.Path(), "/usr/lib/Zelvano/ClientAgent"}) != 0)
    {
        strWhyNot = "tar failed";
        return false;
    }
    if (!archive.Commit())
    {
        strWhyNot = std::strerror(errno);
        return false;
    }
    return true;
}

// The flow goes on whether or not the archive was taken; only the rollback
// depends on it.
bool TakeAgentArchive(FLOW_RUN& run)
{
    if (run.desc.eArchive != ARCHIVE_AGENT_FIRST)
        return true;
    RP_TRACE_INFO(run.desc.pcszLabel, "Taking Old CA Backup.");
    std::string strWhyNot;
    run.outcome.bArchiveTaken = WriteAgentArchive(strWhyNot);
    if (run.outcome.bArchiveTaken)
        RP_TRACE_INFO(run.desc.pcszLabel, "ClientAgentOld.tar.gz taken.");
    else
        RP_TRACE_ERROR(run.desc.pcszLabel, "ClientAgentOld.tar.gz not taken: %s",
                       strWhyNot.c_str());
    return true;
}

// tar runs as root and would keep the archive's owners and modes, and would
// unpack into whatever folder another user left under a name the package
// uses. So the package is unpacked into a new folder of root's alone, owners
// and group or other write bits dropped, and each entry is then moved into
// /var/tmp/: root's own folders from an earlier update are merged into,
// anything else there is replaced. 0, or tar's wait status, or -1.
int UnpackPackage(const FLOW_RUN& run, bool bTraced)
{
    PrivateFolder unpack;
    if (!unpack.Create(kWorkDir))
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "cannot unpack: %s", std::strerror(errno));
        return -1;
    }
    const char* pcszLabel = run.desc.pcszLabel;
    const int iStatus = RunProgram(
        {kTar, "--no-same-owner", "--no-same-permissions", "-xvf", run.szPath, "-C", unpack.Path()},
        [bTraced, pcszLabel] {
            if (bTraced)
                RP_TRACE_INFO(pcszLabel, "Inside Child !!!!!.");
        });
    if (iStatus != 0)
        return iStatus;
    UniqueFd fdWork(open(kWorkDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string strFailed = kWorkDir;
    if (!fdWork.IsOpen() || !MoveEntriesInto(unpack.Fd(), fdWork.Get(), strFailed))
    {
        RP_TRACE_ERROR(pcszLabel, "cannot move %s into place: %s", strFailed.c_str(),
                       std::strerror(errno));
        return -1;
    }
    return 0;
}

// The major upgrade's second attempt; errno is cleared first so that what is
// left in it afterwards comes from that attempt.
bool RetryExtraction(FLOW_RUN& run)
{
    errno = 0;
    const int iStatus = UnpackPackage(run, false);
    const int iError = errno;
    if (iStatus == 0)
    {
        RP_TRACE_INFO(kExtractStatusLabel, "extracting linuxUpgadePack");
        return true;
    }
    RP_TRACE_ERROR("extraction is failed with error %s", "%s", std::strerror(iError));
    StoreCode(run.pdwError, static_cast<DWORD>(iError));
    return false;
}

bool ExtractPackage(FLOW_RUN& run)
{
    const EXTRACT_DESC& extract = run.desc.extract;
    const bool bTraced = extract.eTraces == TRACED_EXTRACTION;
    if (bTraced)
        RP_TRACE_INFO(run.desc.pcszLabel, "Before Fork is called!!!!!.");
    if (UnpackPackage(run, bTraced) != 0)
    {
        if (bTraced)
        {
            RP_TRACE_ERROR(kExtractStatusLabel, "failed");
            RP_TRACE_ERROR("Extract", "Exit");
        }
        else
        {
            RP_TRACE_ERROR(run.desc.pcszLabel, "extraction failed");
        }
        if (extract.eRetry != RETRY_ONCE || !RetryExtraction(run))
            return Fail(run, run.desc.deletes.eExtract);
    }
    run.outcome.bExtracted = true;
    if (bTraced)
    {
        RP_TRACE_INFO(kExtractStatusLabel, "Success");
        RP_TRACE_INFO(run.desc.pcszLabel, "Outside Child !!!!!.");
    }
    if (extract.pcszProgressLabel != nullptr)
        RP_TRACE_INFO(extract.pcszProgressLabel, "executing !!!!!.");
    return true;
}

bool ScheduleScript(FLOW_RUN& run)
{
    const FINISH_DESC& finish = run.desc.finish;
    int iMinute = 0;
    int iHour = 0;
    // Every failure says so in the log: the report of a run reads it there.
    if (finish.eCronLine == CRON_LINE_SERVICE_PACK && !GetServicePackRunTime(&iMinute, &iHour))
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "local time unavailable");
        return Fail(run, DELETE_NOTHING);
    }
    if (access(finish.pcszExpectedPath, F_OK) != 0)
    {
        if (finish.pcszMissingLabel != nullptr)
            RP_TRACE_ERROR(finish.pcszMissingLabel, "Exit");
        else
            RP_TRACE_ERROR(run.desc.pcszLabel, "script missing: %s", finish.pcszExpectedPath);
        return Fail(run, DELETE_NOTHING);
    }
    if (finish.pcszScheduleLabel != nullptr)
        RP_TRACE_INFO(finish.pcszScheduleLabel, "Exit");
    if (finish.eCronLine != CRON_LINE_NONE && !ScheduleLine(run, finish.eCronLine, iMinute, iHour))
        return Fail(run, DELETE_NOTHING);
    return true;
}

typedef bool (*FLOW_STEP)(FLOW_RUN&);

const FLOW_STEP g_FlowSequence[] = {
    CheckArguments,   CopyArguments,    RunClientAgentStage,    BuildManifestLocation,
    CheckCronService, DownloadManifest, CheckManifestSignature, ReadPackageRecord,
    ReadSignedFields, BuildPackageURLs, CheckFreeSpace,         DownloadPackage,
    VerifyPackage,    TakeAgentArchive, ExtractPackage,         ScheduleScript,
};

BOOLEAN RunFlow(const FLOW_DESC& desc, char* pszURL1, char* pszURL2, char* pszModulePath, int iKind,
                DWORD* pdwError, STAGE_OUTCOME* pOutcome)
{
    FLOW_RUN run{desc, pszURL1, pszURL2, pszModulePath, iKind, pdwError};
    BOOLEAN bResult = TRUE;
    for (FLOW_STEP step : g_FlowSequence)
    {
        if (!step(run))
        {
            DeleteAfterFailure(run);
            bResult = FALSE;
            break;
        }
    }
    if (pOutcome != nullptr)
        *pOutcome = run.outcome;
    return bResult;
}
} // namespace

BOOLEAN DownloadXEDASPServicePack(char* pcszURL1, char* pcszURL2, char* pcszPath, DWORD* pdwError)
{
    return DownloadFromEither(pcszURL1, pcszURL2, pcszPath, pdwError, nullptr) != 0 ? TRUE : FALSE;
}

BOOLEAN InstallXEDASP(char* pcszURL1, char* pcszURL2, char* szModulePath, int iInstallACSP,
                      DWORD* pdwError)
{
    return RunFlow(g_ServicePackFlow, pcszURL1, pcszURL2, szModulePath, iInstallACSP, pdwError);
}

BOOLEAN DownloadAndInstallCA(char* pcszURL1, char* pcszURL2, char* szModulePath, int iInstallACSP,
                             DWORD* pdwError)
{
    return RunFlow(g_ClientAgentFlow, pcszURL1, pcszURL2, szModulePath, iInstallACSP, pdwError);
}

BOOLEAN InstallMinUPG(char* pcszURL1, char* pcszURL2, char* szModulePath, int iInstallACSP,
                      DWORD* pdwError)
{
    return RunFlow(g_MinorUpgradeFlow, pcszURL1, pcszURL2, szModulePath, iInstallACSP, pdwError);
}

BOOLEAN InstallMajorUPG(char* pcszURL1, char* pcszURL2, char* szModulePath, int iInstallACSP,
                        DWORD* pdwError)
{
    return RunFlow(g_MajorUpgradeFlow, pcszURL1, pcszURL2, szModulePath, iInstallACSP, pdwError);
}
