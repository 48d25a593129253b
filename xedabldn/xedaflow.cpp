// The update flows. All four run one sequence of steps (manifest, record,
// space, package, verification, extraction, schedule); a FLOW_DESC says how
// each flow differs: names, trace texts, what each failure deletes, what must
// exist after extraction and which crontab line ends it.
#include "xedasvpk.h"

#include <strings.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "kvinstaller.h"
#include "log.h"

namespace
{
const char kWorkDir[] = "/var/tmp/";
const char kNameKey[] = "file_64";
const char kTar[] = "/bin/tar";
const char kOldAgentArchive[] = "/usr/lib/Zelvano/ClientAgentOld.tar.gz";
const char kExtractStatusLabel[] = "Extract status:";

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
    int iKind; // the request kind that names the manifest; 0: any
    MANIFEST_PATH eWhere;
};

enum FIRST_STAGE
{
    NO_FIRST_STAGE,
    CLIENT_AGENT_STAGE_FIRST, // DownloadAndInstallCA, with the rollback on failure
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

// A shell command run right before extraction, with the traces around it.
struct SHELL_STEP
{
    const char* pcszBefore;
    const char* pcszCommand;
    const char* pcszAfter;
};

enum EXTRACT_TRACES
{
    SILENT_EXTRACTION,
    TRACED_EXTRACTION, // the fork, child, status and "Outside Child" traces
};

struct EXTRACT_DESC
{
    EXTRACT_TRACES eTraces;
    const char* pcszRetryCommand;  // a second attempt through the shell, or none
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
    FIRST_STAGE eFirstStage;
    CRON_CHECK eCronCheck;
    RECORD_READER pfnReadRecord;
    FAILURE_TEXTS texts;
    FAILURE_DELETES deletes;
    const SHELL_STEP* pBeforeExtract;
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

const SHELL_STEP g_OldAgentBackup = {
    "Taking Old CA Backup.",
    "tar -czf /usr/lib/Zelvano/ClientAgentOld.tar.gz /usr/lib/Zelvano/ClientAgent",
    "ClientAgentOld.tar.gz taken."};

// Deletion columns: reader, disk query, no space, verification, extraction.

const FLOW_DESC g_ServicePackFlow = {
    "InstallXEDASP",
    {"capatch.ini", 1, MANIFEST_IN_CALLER_BUFFER},
    NO_FIRST_STAGE,
    NO_CRON_CHECK,
    ReadServicePackRecord,
    {"Ini downloa failed", "GetServicePackInfo failed.", "SP download failed"},
    {DELETE_MANIFEST, DELETE_MANIFEST, DELETE_NOTHING, DELETE_PACKAGE_AND_MANIFEST,
     DELETE_PACKAGE_AND_MANIFEST},
    nullptr,
    {SILENT_EXTRACTION, nullptr, nullptr},
    {"/var/tmp/kvlinxsp/kvacascr", nullptr, nullptr, CRON_LINE_SERVICE_PACK},
};

const FLOW_DESC g_ClientAgentFlow = {
    "DownloadAndInstallCA",
    {"linuxupgrade.ini", 0, MANIFEST_IN_OWN_COPY},
    NO_FIRST_STAGE,
    NO_CRON_CHECK,
    GetMinorUpgradeCAPackInfo,
    {"Caupg.ini download failed", "GetMinorUpgradeCAPackInfo. failed", "CA package download failed"},
    {DELETE_MANIFEST, DELETE_NOTHING, DELETE_NOTHING, DELETE_MANIFEST, DELETE_PACKAGE_AND_MANIFEST},
    &g_OldAgentBackup,
    {TRACED_EXTRACTION, nullptr, "!!!!!UnInstall in progress"},
    {"/var/tmp/installation/kvuninstall_clagnt", " CA package dir not downloaded",
     "scheduling cron job for uninstallation of client agent", CRON_LINE_UNINSTALLER},
};

// No crontab line for the delta script: the client-agent installation that
// the first stage scheduled is what applies the delta.
const FLOW_DESC g_MinorUpgradeFlow = {
    "InstallMinUPG",
    {"minupg.ini", 2, MANIFEST_IN_CALLER_BUFFER},
    CLIENT_AGENT_STAGE_FIRST,
    NO_CRON_CHECK,
    GetMinorUpgradePackInfo,
    {"minupg.ini download failed", "GetMinorUpgradePackInfo failed.", "MinorUpgrade  download failed"},
    {DELETE_MANIFEST, DELETE_MANIFEST, DELETE_NOTHING, DELETE_MANIFEST, DELETE_PACKAGE_AND_MANIFEST},
    nullptr,
    {TRACED_EXTRACTION, nullptr, nullptr},
    {"/var/tmp/kvlinxsp/kvacascr", "Delta Changes not download",
     "!!!!!Scheduling cron job for Delta change via installation script", CRON_LINE_NONE},
};

// The shell retry always names the build's usual file name, whatever the
// manifest called the package.
const FLOW_DESC g_MajorUpgradeFlow = {
    "InstallMajorUPG",
    {"linuxupgrade.ini", 0, MANIFEST_IN_OWN_COPY},
    NO_FIRST_STAGE,
    CRON_MUST_RUN,
    GetMinorUpgradeCAPackInfo,
    {"Caupg.ini download failed", "GetMinorUpgradeCAPackInfo. failed", "CA package download failed"},
    {DELETE_MANIFEST, DELETE_MANIFEST, DELETE_MANIFEST, DELETE_PACKAGE_AND_MANIFEST,
     DELETE_PACKAGE_AND_MANIFEST},
    nullptr,
    {TRACED_EXTRACTION, "tar -xvf /var/tmp/linuxUpgradePack64.tar.gz -C /var/tmp",
     "!!!!!UnInstall in progress"},
    {"/var/tmp/ClientBuild", " ClientBuild dir is not downloaded",
     "scheduling cron job for installing major upgrade build", CRON_LINE_BUILD_INSTALLER},
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
    char szPath[MAX_PATH] = {}; // "/var/tmp/", later the package path
    XEDA_UPGRADE_INFO record = {};
    bool bManifestDownloaded = false;
    bool bPackageDownloaded = false;
    DELETE_SET eDelete = DELETE_NOTHING;
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

void RunShellIgnoringStatus(const char* pcszCommand)
{
    // Nothing downstream can tell whether the command worked (a crontab
    // append, an archive of the old agent): its status is deliberately unused.
    (void)std::system(pcszCommand);
}

// ---- The steps, in the order every flow runs them -----------------------------

bool CheckArguments(FLOW_RUN& run)
{
    RP_TRACE_INFO(run.desc.pcszLabel, "Entry");
    if (run.pszURL1 == nullptr || run.pszURL2 == nullptr || run.pszModulePath == nullptr)
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "Invalid Parameter");
        StoreCode(run.pdwError, 570);
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
    if (run.desc.manifest.iKind == 0 || run.desc.manifest.iKind == run.iKind)
    {
        (void)CopyBounded(run.szFile, run.desc.manifest.pcszName); // a constant that fits
        RP_TRACE_INFO(run.desc.pcszLabel, "%s", run.szFile);
    }
    return true;
}

bool RunClientAgentStage(FLOW_RUN& run)
{
    if (run.desc.eFirstStage != CLIENT_AGENT_STAGE_FIRST)
        return true;
    DWORD dwStageError = 0;
    if (DownloadAndInstallCA(run.szCaURL1, run.szCaURL2, run.pszModulePath, run.iKind,
                             &dwStageError))
        return true;
    RP_TRACE_ERROR(run.desc.pcszLabel, "DownloadAndInstallCA failed");
    // The archive may come from this run or an earlier one; either way the
    // old agent can be restored from it.
    if (access(kOldAgentArchive, F_OK) != 0)
    {
        RP_TRACE_ERROR("Old  CA Backup is not present", "Exit");
        return Fail(run, DELETE_NOTHING);
    }
    RP_TRACE_INFO("scheduling cron job for rollback of Client agent", "Exit");
    char szCmd[MAX_CMD_LEN] = {0};
    if (FormatCronCommand(CRON_LINE_ROLLBACK, 0, 0, szCmd, sizeof(szCmd)))
        RunShellIgnoringStatus(szCmd);
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
    StoreCode(run.pdwError, 608);
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
    if (!DownloadXEDASPServicePack(run.pszURL1, pszSecondURL, run.pszManifestPath, run.pdwError))
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "%s", run.desc.texts.pcszManifestDownload);
        return Fail(run, DELETE_NOTHING);
    }
    run.bManifestDownloaded = true;
    return true;
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
    if (!DownloadXEDASPServicePack(run.szURL1, run.szURL2, run.szPath, run.pdwError))
    {
        RP_TRACE_ERROR(run.desc.pcszLabel, "%s", run.desc.texts.pcszPackageDownload);
        return Fail(run, DELETE_NOTHING);
    }
    run.bPackageDownloaded = true;
    return true;
}

bool VerifyPackage(FLOW_RUN& run)
{
    if (CheckFileConsistency(run.szPath, &run.record.XedaSvPkInfo, run.pdwError))
        return true;
    return Fail(run, run.desc.deletes.eVerify);
}

bool RunBeforeExtract(FLOW_RUN& run)
{
    const SHELL_STEP* pStep = run.desc.pBeforeExtract;
    if (pStep == nullptr)
        return true;
    RP_TRACE_INFO(run.desc.pcszLabel, "%s", pStep->pcszBefore);
    RunShellIgnoringStatus(pStep->pcszCommand);
    RP_TRACE_INFO(run.desc.pcszLabel, "%s", pStep->pcszAfter);
    return true;
}

// The second attempt of the major upgrade; errno is cleared first so that
// what is left in it afterwards comes from running the command.
bool RetryExtractionThroughShell(FLOW_RUN& run)
{
    char szCmnd[MAX_CMD_LEN] = {0};
    (void)CopyBounded(szCmnd, run.desc.extract.pcszRetryCommand); // a constant that fits
    errno = 0;
    const int iStatus = std::system(szCmnd);
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
    char szTar[] = "/bin/tar";
    char szExtractFlags[] = "-xvf";
    char szDirFlag[] = "-C";
    char szWorkDir[sizeof(kWorkDir)];
    std::memcpy(szWorkDir, kWorkDir, sizeof(kWorkDir));
    char* const tararg[] = {szTar, szExtractFlags, run.szPath, szDirFlag, szWorkDir, nullptr};

    const bool bTraced = extract.eTraces == TRACED_EXTRACTION;
    if (bTraced)
        RP_TRACE_INFO(run.desc.pcszLabel, "Before Fork is called!!!!!.");
    const int iStatus =
        RunChildAndWait(kTar, tararg, bTraced ? run.desc.pcszLabel : nullptr);
    if (iStatus != 0)
    {
        if (bTraced)
        {
            RP_TRACE_ERROR(kExtractStatusLabel, "failed");
            RP_TRACE_ERROR("Extract", "Exit");
        }
        if (extract.pcszRetryCommand == nullptr || !RetryExtractionThroughShell(run))
            return Fail(run, run.desc.deletes.eExtract);
    }
    if (bTraced)
    {
        RP_TRACE_INFO(kExtractStatusLabel, "Success");
        RP_TRACE_INFO(run.desc.pcszLabel, "Outside Child !!!!!.");
    }
    if (extract.pcszProgressLabel != nullptr)
        RP_TRACE_INFO(extract.pcszProgressLabel, "executing !!!!!.");
    return true;
}

bool FormatFinishCommand(const FINISH_DESC& finish, char (&szCmd)[MAX_CMD_LEN])
{
    int iMinute = 0;
    int iHour = 0;
    if (finish.eCronLine == CRON_LINE_SERVICE_PACK && !GetServicePackRunTime(&iMinute, &iHour))
        return false;
    return FormatCronCommand(finish.eCronLine, iMinute, iHour, szCmd, sizeof(szCmd));
}

bool ScheduleScript(FLOW_RUN& run)
{
    const FINISH_DESC& finish = run.desc.finish;
    char szCmd[MAX_CMD_LEN] = {0};
    if (finish.eCronLine != CRON_LINE_NONE && !FormatFinishCommand(finish, szCmd))
        return Fail(run, DELETE_NOTHING);
    if (access(finish.pcszExpectedPath, F_OK) != 0)
    {
        if (finish.pcszMissingLabel != nullptr)
            RP_TRACE_ERROR(finish.pcszMissingLabel, "Exit");
        return Fail(run, DELETE_NOTHING);
    }
    if (finish.pcszScheduleLabel != nullptr)
        RP_TRACE_INFO(finish.pcszScheduleLabel, "Exit");
    if (finish.eCronLine != CRON_LINE_NONE)
        RunShellIgnoringStatus(szCmd);
    return true;
}

typedef bool (*FLOW_STEP)(FLOW_RUN&);

const FLOW_STEP g_FlowSequence[] = {
    CheckArguments,   CopyArguments,    RunClientAgentStage, BuildManifestLocation,
    CheckCronService, DownloadManifest, ReadPackageRecord,   BuildPackageURLs,
    CheckFreeSpace,   DownloadPackage,  VerifyPackage,       RunBeforeExtract,
    ExtractPackage,   ScheduleScript,
};

BOOLEAN RunFlow(const FLOW_DESC& desc, char* pszURL1, char* pszURL2, char* pszModulePath,
                int iKind, DWORD* pdwError)
{
    FLOW_RUN run{desc, pszURL1, pszURL2, pszModulePath, iKind, pdwError};
    for (FLOW_STEP step : g_FlowSequence)
    {
        if (!step(run))
        {
            DeleteAfterFailure(run);
            return FALSE;
        }
    }
    return TRUE;
}
} // namespace

int RunChildAndWait(const char* pcszProgram, char* const argv[], const char* pcszChildLabel)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0)
    {
        if (pcszChildLabel != nullptr)
            RP_TRACE_INFO(pcszChildLabel, "Inside Child !!!!!.");
        execv(pcszProgram, argv);
        // _exit: the child must not run the parent's exit handlers or flush
        // its copies of the parent's buffers.
        _exit(127);
    }
    int iStatus = 0;
    while (waitpid(pid, &iStatus, 0) < 0)
    {
        if (errno != EINTR)
            return -1;
    }
    return iStatus;
}

BOOLEAN DownloadXEDASPServicePack(char* pcszURL1, char* pcszURL2, char* pcszPath, DWORD* pdwError)
{
    RP_TRACE_INFO("DownloadXEDASPServicePack", "Entry");
    if (pcszURL1 == nullptr || pcszPath == nullptr)
    {
        StoreCode(pdwError, 580);
        return FALSE;
    }
    BOOLEAN bDone = DownloadFile(pcszURL1, pcszPath, pdwError);
    if (!bDone && pcszURL2 != nullptr)
        bDone = DownloadFile(pcszURL2, pcszPath, pdwError);
    if (bDone)
        return TRUE;
    StoreCode(pdwError, 581);
    return FALSE;
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
