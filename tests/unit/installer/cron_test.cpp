// Cron scheduling: the service-pack line's run time and the four crontab
// commands byte for byte. The cron checks run against shims in the system tests.
#include <gtest/gtest.h>

#include "xedasvpk.h"

namespace
{
TEST(ServicePackRunTime, TwoMinutesLaterOrMinuteTwoOfTheNextHour)
{
    const int cases[][4] = {// hour, minute -> run minute, run hour
                            {14, 5, 7, 14}, {23, 57, 59, 23}, {14, 58, 2, 15}, {14, 59, 2, 15}, {23, 58, 2, 0},
                            {23, 59, 2, 0}};
    for (const auto& c : cases)
    {
        int iMinute = -1, iHour = -1;
        ComputeServicePackRunTime(c[0], c[1], &iMinute, &iHour);
        EXPECT_EQ(c[2], iMinute) << c[0] << ":" << c[1];
        EXPECT_EQ(c[3], iHour) << c[0] << ":" << c[1];
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
    char szCmd[MAX_CMD_LEN];
    for (const auto& c : cases)
    {
        ASSERT_EQ(TRUE, FormatCronCommand(c.eLine, 7, 14, szCmd, sizeof(szCmd)));
        EXPECT_STREQ(c.pcszCommand, szCmd);
    }
    EXPECT_EQ(FALSE, FormatCronCommand(CRON_LINE_NONE, 0, 0, szCmd, sizeof(szCmd)));
    char szSmall[40]; // a real small buffer, so that the sanitizer sees any overrun
    EXPECT_EQ(FALSE, FormatCronCommand(CRON_LINE_ROLLBACK, 0, 0, szSmall, sizeof(szSmall)));
}
} // namespace
