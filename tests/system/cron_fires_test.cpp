// The one test that waits for the real cron daemon: the scheduled service-pack
// script runs as root with the arguments 1 and NULL, at most three minutes on.
#include "fixture.h"

namespace sys
{
namespace
{
using CronFiresTest = SystemTest;

TEST_F(CronFiresTest, CronRunsTheScheduledScriptAsRoot)
{
    Publish({"--kind", "sp", "--name", "sp.tgz", "--script",
             "kvlinxsp/kvacascr=#!/bin/sh\necho $(id -u) $1 $2 > /var/tmp/fired\n"});
    StartCron();
    ExpectClean(RunSwitch("-CASP"));
    ASSERT_TRUE(ScheduledServicePack());
    for (int i = 0; i < 400 && tk::Read("/var/tmp/fired").empty(); ++i)
        usleep(500000);
    EXPECT_EQ("0 1 NULL\n", tk::Read("/var/tmp/fired"));
}
} // namespace
} // namespace sys
