// The driver: one request from the command line, one update flow, exit 0.
#include "xedabldn.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "commondefs.h"
#include "handles.h"
#include "inifun.h"
#include "log.h"
#include "xedamisc.h"
#include "xedasvpk.h"

const char* const g_szRPLogFileName__ = "/var/log/xedabldn.log";
const char* const g_szRPBackupFileName__ = "/var/log/xedabldn.bak";
const DWORD g_dwRPLogFileSize__ = 5242880;
const char* const g_szRPAppName__ = "xedabldn";
const DWORD g_dwRPCurrentTraceLevel__ = RP_TRACE_LEVEL_ERROR | RP_TRACE_LEVEL_INFO;

namespace
{
const char kLabel[] = "main";

enum enumCA_UPGRADE_TYPE
{
    CA_UPGRADE_TYPE_UNDEFINED = 0,
    CA_UPGRADE_TYPE_MINOR = 1,
    CA_UPGRADE_TYPE_MAJOR = 2,
};

// URL1, URL2, switch, module directory.
const int kArgumentCount = 4;

// The arguments copied into 260-byte buffers, which must fit with their
// terminator; the flows then extend the buffers in place and refuse what
// would not fit. The switch is only compared: a long one is just unknown.
const int kCopiedArguments[] = {1, 2, 4};

bool ArgumentsFit(char* argv[])
{
    for (int iPosition : kCopiedArguments)
    {
        if (strnlen(argv[iPosition], MAX_PATH) >= MAX_PATH)
        {
            RP_TRACE_ERROR(kLabel, "Argument %d longer than 259 characters", iPosition);
            return false;
        }
    }
    return true;
}

int RequestKind(const char* pcszSwitch)
{
    if (strcasecmp(pcszSwitch, "-CASP") == 0)
    {
        RP_TRACE_INFO(kLabel, "Service Pack installation Request -CASP");
        return INSTALL_REQUEST_SERVICE_PACK;
    }
    if (strcasecmp(pcszSwitch, "-CAUPG") == 0)
    {
        RP_TRACE_INFO(kLabel, "Minor/Major Upgrade installation Request -CAUPG");
        return INSTALL_REQUEST_UPGRADE;
    }
    return INSTALL_REQUEST_NONE;
}

// FALSE when the configuration directory cannot be had, or holds no room
// for the file name.
BOOLEAN GetUpgradeIniPath(char (&szIniFile)[MAX_PATH])
{
    return GetClientAgentConfigDir(szIniFile, MAX_PATH) && AppendBounded(szIniFile, "clntdata.ini");
}

const char kLockFile[] = "/run/xedabldn.lock";
// Far longer than any installation takes: past it the other run is taken to
// hang, and this request is dropped rather than held for ever.
const int kLockWaitSeconds = 3600;
const int kLockPollMilliseconds = 200;

bool TryLock(int fd, bool& bBusy)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    bBusy = errno == EWOULDBLOCK;
    if (!bBusy)
        RP_TRACE_ERROR(kLabel, "cannot lock %s: %s", kLockFile, std::strerror(errno));
    return false;
}

// One installer at a time: two runs would write the same package and the
// same archive. The lock is held until the process ends, and the kernel
// drops it then, however the run ends; no child inherits it past exec. A
// lock that cannot be had at all does not stop the request. Returns false
// when this run is to end without running its flow.
bool WaitForOtherInstallations(UniqueFd& fdLock)
{
    fdLock.Reset(open(kLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fdLock.IsOpen())
    {
        RP_TRACE_ERROR(kLabel, "cannot lock %s: %s", kLockFile, std::strerror(errno));
        return true;
    }
    bool bBusy = false;
    if (TryLock(fdLock.Get(), bBusy) || !bBusy)
        return true;
    RP_TRACE_INFO(kLabel, "waiting for another installation");
    struct timespec tStart;
    (void)clock_gettime(CLOCK_MONOTONIC, &tStart); // cannot fail for this clock
    for (struct timespec tNow = tStart; tNow.tv_sec - tStart.tv_sec < kLockWaitSeconds;)
    {
        (void)usleep(kLockPollMilliseconds * 1000); // an early wake only polls sooner
        if (TryLock(fdLock.Get(), bBusy) || !bBusy)
            return true;
        (void)clock_gettime(CLOCK_MONOTONIC, &tNow);
    }
    RP_TRACE_ERROR(kLabel, "another installation still runs after an hour");
    return false;
}

// Returns false when main is to end without its "Exit" trace.
bool RunUpgrade(char* pszURL1, char* pszURL2, char* pszModulePath, DWORD* pdwError)
{
    RP_TRACE_INFO(kLabel, "Upgrade installation start point");
    char szIniFile[MAX_PATH] = {0};
    if (!GetUpgradeIniPath(szIniFile))
    {
        RP_TRACE_ERROR(kLabel, "configuration directory unavailable");
        return false;
    }
    const int iType = GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 0, szIniFile, pdwError);
    if (iType == CA_UPGRADE_TYPE_MAJOR)
    {
        if (!InstallMajorUPG(pszURL1, pszURL2, pszModulePath, INSTALL_REQUEST_UPGRADE, pdwError))
        {
            RP_TRACE_INFO(kLabel, "Major Upgrade installation failed");
            return false;
        }
    }
    else if (iType == CA_UPGRADE_TYPE_MINOR)
    {
        if (!InstallMinUPG(pszURL1, pszURL2, pszModulePath, INSTALL_REQUEST_UPGRADE, pdwError))
        {
            RP_TRACE_INFO(kLabel, "Minor Upgrade installation failed");
            return false;
        }
    }
    return true;
}
} // namespace

int XedabldnMain(int argc, char* argv[])
{
    // Before anything is created: whatever the agent's umask, nothing the
    // installer makes is writable by others (files that hold secrets get
    // their own narrower modes).
    (void)umask(022);
    // An agent that does not wait for its children may have ignored SIGCHLD,
    // and that survives exec: every wait for tar, the shell or the cron
    // probes would then fail and a good package would be thrown away.
    (void)signal(SIGCHLD, SIG_DFL);
    RP_TRACE_INFO(kLabel, "Entry");
    char szURL1[MAX_PATH] = {0};
    char szURL2[MAX_PATH] = {0};
    char szModulePath[MAX_PATH] = {0};
    DWORD dwError = 0; // the flows' code; only their traces report it

    if (argc <= kArgumentCount || argv == nullptr)
    {
        RP_TRACE_ERROR(kLabel, "Invalid arguments less than 3");
        return 0;
    }
    if (!ArgumentsFit(argv))
        return 0;
    (void)CopyBounded(szURL1, argv[1]); // lengths checked above
    (void)CopyBounded(szURL2, argv[2]);
    (void)CopyBounded(szModulePath, argv[4]);

    const int iInstallACSP = RequestKind(argv[3]);
    UniqueFd fdLock;
    if (iInstallACSP != INSTALL_REQUEST_NONE && !WaitForOtherInstallations(fdLock))
        return 0;
    if (iInstallACSP == INSTALL_REQUEST_SERVICE_PACK)
    {
        RP_TRACE_INFO(kLabel, "In Service pack installation start point");
        if (!InstallXEDASP(szURL1, szURL2, szModulePath, iInstallACSP, &dwError))
        {
            RP_TRACE_INFO(kLabel, "Service Pack installation failed");
            return 0;
        }
    }
    else if (iInstallACSP == INSTALL_REQUEST_UPGRADE)
    {
        if (!RunUpgrade(szURL1, szURL2, szModulePath, &dwError))
            return 0;
    }
    RP_TRACE_INFO(kLabel, "Exit");
    return 0;
}
