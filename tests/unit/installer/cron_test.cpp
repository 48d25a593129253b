// Cron scheduling: the service-pack line's run time, the four crontab
// commands byte for byte, and the cron checks against PATH shims.
#include <gtest/gtest.h>

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
    } cases[] = {{14, 5, 7, 14}, {23, 57, 59, 23}, {14, 58, 2, 15}, {14, 59, 2, 15},
                 {22, 59, 2, 23}, {23, 58, 2, 0},  {23, 59, 2, 0}};
    for (const auto& c : cases)
    {
        int iMinute = -1;
        int iHour = -1;
        ComputeServicePackRunTime(c.iHour, c.iMinute, &iMinute, &iHour);
        EXPECT_EQ(c.iRunMinute, iMinute) << c.iHour << ":" << c.iMinute;
        EXPECT_EQ(c.iRunHour, iHour) << c.iHour << ":" << c.iMinute;
    }
}

TEST(CronCommand, TextsAreByteExact)
{
    const struct
    {
        enumCRON_LINE eLine;
        const char* pcszCommand;
    } cases[] = {
        {CRON_LINE_SERVICE_PACK,
         R"(echo 7 14 \* \* \* root /var/tmp/kvlinxsp/kvacascr 1 NULL \>\> /dev/null 2\>\&1  >> /etc/crontab)"},
        {CRON_LINE_ROLLBACK,
         R"(echo  */1\ * \* \* \* root /var/tmp/installation/rollbackCA.sh 1 NULL \>\> /dev/null 2\>\&1  >> /etc/crontab)"},
        {CRON_LINE_BUILD_INSTALLER,
         R"(echo  */3\ * \* \* \* root /var/tmp/ClientBuild/x86_64/aclinux/kvinstall 1 NULL \>\> /dev/null 2\>\&1  >> /etc/crontab)"},
        {CRON_LINE_UNINSTALLER,
         R"(echo  */3\ * \* \* \* root /var/tmp/installation/kvuninstall_clagnt 1 NULL \>\> /dev/null 2\>\&1  >> /etc/crontab)"},
    };
    for (const auto& c : cases)
    {
        char szCmd[MAX_CMD_LEN];
        ASSERT_EQ(TRUE, FormatCronCommand(c.eLine, 7, 14, szCmd, sizeof(szCmd)));
        EXPECT_STREQ(c.pcszCommand, szCmd);
    }
    char szCmd[MAX_CMD_LEN];
    EXPECT_EQ(FALSE, FormatCronCommand(CRON_LINE_NONE, 0, 0, szCmd, sizeof(szCmd)));
    char szSmall[40];
    EXPECT_EQ(FALSE, FormatCronCommand(CRON_LINE_ROLLBACK, 0, 0, szSmall, sizeof(szSmall)));
}

// Each shim records its call and succeeds only when a file named after the
// call exists, e.g. /tmp/shims/ok_pidof_-x_cron.
TEST(CheckCronStatus, StopsAtTheFirstDaemonFoundOrStarted)
{
    const char kBody[] = "echo \"${0##*/} $*\" >> /tmp/shims/calls\n"
                         "[ -f \"/tmp/shims/ok_${0##*/}_$(echo \"$*\" | tr ' ' _)\" ]";
    ASSERT_TRUE(insttest::ShimTool("pidof", kBody));
    ASSERT_TRUE(insttest::ShimTool("service", kBody));
    const char kLabel[] = "CheckCronStatus";
    const std::vector<std::string> vAll = {"pidof -x cron", "service cron start", "pidof -x crond",
                                           "service crond start"};
    const struct
    {
        const char* pcszSucceeding; // the call that succeeds, or none
        int iResult;
        std::size_t nCalls;
        std::vector<TraceLine> vTrace; // after "Entry"
    } cases[] = {
        {"pidof_-x_cron", 1, 1, {Info(kLabel, "cron already running")}},
        {"service_cron_start", 1, 2, {Info(kLabel, "cron started successfully")}},
        {"pidof_-x_crond", 1, 3, {Error(kLabel, "failed to start cron"), Info(kLabel, "crond already running")}},
        {"service_crond_start", 1, 4,
         {Error(kLabel, "failed to start cron"), Info(kLabel, "crond started successfully")}},
        {nullptr, 0, 4,
         {Error(kLabel, "failed to start cron"), Error(kLabel, "failed to start crond "), Info(kLabel, "Exit")}},
    };
    for (const auto& c : cases)
    {
        const std::string strCase = c.pcszSucceeding != nullptr ? c.pcszSucceeding : "none";
        ASSERT_EQ(0, std::system("rm -f /tmp/shims/calls /tmp/shims/ok_*"));
        ASSERT_TRUE(c.pcszSucceeding == nullptr ||
                    insttest::WriteFile(std::string("/tmp/shims/ok_") + c.pcszSucceeding, ""));
        insttest::ClearTrace();
        EXPECT_EQ(c.iResult, CheckCronStatus()) << strCase;
        EXPECT_EQ(std::vector<std::string>(vAll.begin(), vAll.begin() + c.nCalls),
                  insttest::ReadLines("/tmp/shims/calls"))
            << strCase;
        std::vector<TraceLine> vTrace = {Info(kLabel, "Entry")};
        vTrace.insert(vTrace.end(), c.vTrace.begin(), c.vTrace.end());
        EXPECT_EQ(vTrace, insttest::ReadTrace()) << strCase;
    }
}
} // namespace
