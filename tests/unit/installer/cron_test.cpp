// Cron scheduling: the run time of the service-pack line, the four crontab
// commands byte for byte and through a real shell, and the cron checks
// against PATH shims of pidof and service.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "installer_test_util.h"
#include "xedasvpk.h"

using insttest::Error;
using insttest::Info;
using insttest::TraceLine;

namespace
{
TEST(ServicePackRunTime, TwoMinutesLaterOrMinuteTwoOfTheNextHour)
{
    const struct
    {
        int iHour, iMinute, iRunMinute, iRunHour;
    } cases[] = {
        {14, 5, 7, 14}, {14, 58, 2, 15}, {14, 59, 2, 15}, {23, 58, 2, 0}, {23, 59, 2, 0},
        {0, 0, 2, 0},   {23, 57, 59, 23}, {9, 30, 32, 9},  {22, 59, 2, 23},
    };
    for (const auto& c : cases)
    {
        int iMinute = -1;
        int iHour = -1;
        ComputeServicePackRunTime(c.iHour, c.iMinute, &iMinute, &iHour);
        EXPECT_EQ(c.iRunMinute, iMinute) << c.iHour << ":" << c.iMinute;
        EXPECT_EQ(c.iRunHour, iHour) << c.iHour << ":" << c.iMinute;
    }
}

// The commands as the shell must receive them, and the lines they append.
struct CRON_CASE
{
    enumCRON_LINE eLine;
    const char* pcszCommand;
    const char* pcszLine;
};

const CRON_CASE g_CronCases[] = {
    {CRON_LINE_SERVICE_PACK,
     R"(echo 7 14 \* \* \* root /var/tmp/kvlinxsp/kvacascr 1 NULL \>\> /dev/null 2\>\&1  >> /etc/crontab)",
     "7 14 * * * root /var/tmp/kvlinxsp/kvacascr 1 NULL >> /dev/null 2>&1"},
    {CRON_LINE_ROLLBACK,
     R"(echo  */1\ * \* \* \* root /var/tmp/installation/rollbackCA.sh 1 NULL \>\> /dev/null 2\>\&1  >> /etc/crontab)",
     "*/1 * * * * root /var/tmp/installation/rollbackCA.sh 1 NULL >> /dev/null 2>&1"},
    {CRON_LINE_BUILD_INSTALLER,
     R"(echo  */3\ * \* \* \* root /var/tmp/ClientBuild/x86_64/aclinux/kvinstall 1 NULL \>\> /dev/null 2\>\&1  >> /etc/crontab)",
     "*/3 * * * * root /var/tmp/ClientBuild/x86_64/aclinux/kvinstall 1 NULL >> /dev/null 2>&1"},
    {CRON_LINE_UNINSTALLER,
     R"(echo  */3\ * \* \* \* root /var/tmp/installation/kvuninstall_clagnt 1 NULL \>\> /dev/null 2\>\&1  >> /etc/crontab)",
     "*/3 * * * * root /var/tmp/installation/kvuninstall_clagnt 1 NULL >> /dev/null 2>&1"},
};

TEST(CronCommand, TextsAreByteExact)
{
    for (const CRON_CASE& c : g_CronCases)
    {
        char szCmd[MAX_CMD_LEN];
        ASSERT_EQ(TRUE, FormatCronCommand(c.eLine, 7, 14, szCmd, sizeof(szCmd)));
        EXPECT_STREQ(c.pcszCommand, szCmd);
    }
}

TEST(CronCommand, ShellAppendsExactlyTheExpectedLine)
{
    // An empty working directory: the unescaped "*/3\ *" word must not glob.
    char szDir[] = "/tmp/cwdXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szDir));
    ASSERT_EQ(0, chdir(szDir));
    for (const CRON_CASE& c : g_CronCases)
    {
        const std::string strBefore = insttest::ReadFile("/etc/crontab");
        char szCmd[MAX_CMD_LEN];
        ASSERT_EQ(TRUE, FormatCronCommand(c.eLine, 7, 14, szCmd, sizeof(szCmd)));
        ASSERT_EQ(0, std::system(szCmd));
        const std::string strAfter = insttest::ReadFile("/etc/crontab");
        ASSERT_EQ(strBefore, strAfter.substr(0, strBefore.size()));
        EXPECT_EQ(std::string(c.pcszLine) + "\n", strAfter.substr(strBefore.size()));
    }
}

TEST(CronCommand, RefusesNoLineAndABufferTooSmall)
{
    char szCmd[MAX_CMD_LEN];
    EXPECT_EQ(FALSE, FormatCronCommand(CRON_LINE_NONE, 0, 0, szCmd, sizeof(szCmd)));
    char szSmall[40];
    EXPECT_EQ(FALSE, FormatCronCommand(CRON_LINE_ROLLBACK, 0, 0, szSmall, sizeof(szSmall)));
}

// ---- CheckCronStatus ------------------------------------------------------------------

const char kShims[] = "/tmp/shims";
const char kLabel[] = "CheckCronStatus";

// Fake pidof and service: each records its call and answers with the status
// stored for its argument in a file of the shim directory.
const char kShimScript[] = R"SH(#!/bin/sh
echo "$(basename "$0") $*" >> /tmp/shims/calls
key=$(basename "$0")_$(echo "$*" | tr ' ' '_')
[ -f "/tmp/shims/$key" ] && exit "$(cat "/tmp/shims/$key")"
exit 1
)SH";

class CheckCronStatusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, std::system("rm -rf /tmp/shims && mkdir -p /tmp/shims"));
        for (const char* pcszTool : {"pidof", "service"})
        {
            const std::string strPath = std::string(kShims) + "/" + pcszTool;
            ASSERT_TRUE(insttest::WriteFile(strPath, kShimScript));
            ASSERT_EQ(0, chmod(strPath.c_str(), 0755));
        }
        const char* pcszPath = std::getenv("PATH");
        ASSERT_EQ(0, setenv("PATH", (std::string(kShims) + ":" + (pcszPath ? pcszPath : "")).c_str(), 1));
        insttest::ClearTrace();
    }

    static void Answer(const std::string& strKey, int iStatus)
    {
        ASSERT_TRUE(insttest::WriteFile(std::string(kShims) + "/" + strKey, std::to_string(iStatus)));
    }
};

TEST_F(CheckCronStatusTest, StopsAtTheFirstDaemonFoundOrStarted)
{
    const std::vector<std::string> vAll = {"pidof -x cron", "service cron start", "pidof -x crond",
                                           "service crond start"};
    const struct
    {
        const char* pcszName;
        std::vector<std::string> vSucceeding; // shim keys answering 0
        int iResult;
        std::size_t nCalls;
        std::vector<TraceLine> vTrace;
    } cases[] = {
        {"cron running", {"pidof_-x_cron"}, 1, 1,
         {Info(kLabel, "Entry"), Info(kLabel, "cron already running")}},
        {"cron startable", {"service_cron_start"}, 1, 2,
         {Info(kLabel, "Entry"), Info(kLabel, "cron started successfully")}},
        {"crond running", {"pidof_-x_crond"}, 1, 3,
         {Info(kLabel, "Entry"), Error(kLabel, "failed to start cron"),
          Info(kLabel, "crond already running")}},
        {"crond only, stopped", {"service_crond_start"}, 1, 4,
         {Info(kLabel, "Entry"), Error(kLabel, "failed to start cron"),
          Info(kLabel, "crond started successfully")}},
        {"no cron at all", {}, 0, 4,
         {Info(kLabel, "Entry"), Error(kLabel, "failed to start cron"),
          Error(kLabel, "failed to start crond "), Info(kLabel, "Exit")}},
    };
    for (const auto& c : cases)
    {
        ASSERT_EQ(0, std::system("rm -f /tmp/shims/calls /tmp/shims/*_*"));
        insttest::ClearTrace();
        for (const std::string& strKey : c.vSucceeding)
            Answer(strKey, 0);
        EXPECT_EQ(c.iResult, CheckCronStatus()) << c.pcszName;
        const std::vector<std::string> vExpected(vAll.begin(), vAll.begin() + c.nCalls);
        EXPECT_EQ(vExpected, insttest::ReadLines("/tmp/shims/calls")) << c.pcszName;
        EXPECT_EQ(c.vTrace, insttest::ReadTrace()) << c.pcszName;
    }
}
} // namespace
