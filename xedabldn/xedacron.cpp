// Cron scheduling: the installer never runs a package's script itself; it
// appends a line to /etc/crontab and lets the cron daemon run the script as
// root once the installer has ended.
#include "xedasvpk.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "log.h"

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
    {"service crond start > /dev/null 2>&1", "crond started successfully", "failed to start crond "},
};

// Every crontab command is "echo " + schedule + " root " + script + kTail.
// The schedule's '*' and the tail's ">>" and "2>&1" are escaped so that the
// shell hands them to echo as words; only the final ">> /etc/crontab" is the
// shell's own redirection. In the fixed schedules the escaped blank makes
// "*/1 *" one word, which echo prints with its single blank.
struct CRON_LINE_DESC
{
    const char* pcszSchedule; // null: minute and hour are formatted in
    const char* pcszScript;
};

const CRON_LINE_DESC g_CronLines[] = {
    /* CRON_LINE_SERVICE_PACK */ {nullptr, "/var/tmp/kvlinxsp/kvacascr"},
    /* CRON_LINE_ROLLBACK */ {" */1\\ * \\* \\* \\*", "/var/tmp/installation/rollbackCA.sh"},
    /* CRON_LINE_BUILD_INSTALLER */
    {" */3\\ * \\* \\* \\*", "/var/tmp/ClientBuild/x86_64/aclinux/kvinstall"},
    /* CRON_LINE_UNINSTALLER */ {" */3\\ * \\* \\* \\*", "/var/tmp/installation/kvuninstall_clagnt"},
};
static_assert(sizeof(g_CronLines) / sizeof(g_CronLines[0]) == CRON_LINE_NONE,
              "one crontab line per enumCRON_LINE value");

const char kCronTail[] = " 1 NULL \\>\\> /dev/null 2\\>\\&1  >> /etc/crontab";
} // namespace

int CheckCronStatus()
{
    const char kLabel[] = "CheckCronStatus";
    RP_TRACE_INFO(kLabel, "Entry");
    for (const CRON_PROBE& probe : g_CronProbes)
    {
        if (std::system(probe.pcszCommand) == 0)
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

BOOL FormatCronCommand(enumCRON_LINE eLine, int iMinute, int iHour, char* pszCmd, std::size_t nSize)
{
    if (eLine < CRON_LINE_SERVICE_PACK || eLine >= CRON_LINE_NONE)
        return FALSE;
    const CRON_LINE_DESC& line = g_CronLines[eLine];
    char szSchedule[64];
    if (line.pcszSchedule == nullptr)
        std::snprintf(szSchedule, sizeof(szSchedule), "%d %d \\* \\* \\*", iMinute, iHour);
    else if (!CopyBounded(szSchedule, line.pcszSchedule))
        return FALSE;
    return CopyBounded(pszCmd, nSize, "echo ") && AppendBounded(pszCmd, nSize, szSchedule) &&
           AppendBounded(pszCmd, nSize, " root ") && AppendBounded(pszCmd, nSize, line.pcszScript) &&
           AppendBounded(pszCmd, nSize, kCronTail);
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
