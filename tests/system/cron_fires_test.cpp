// The one test that waits for the real cron daemon: a service pack's script,
// scheduled by the installer, is run by cron as root with "1" and "NULL".
#include "harness.h"

#include <chrono>
#include <thread>

namespace systest
{
namespace
{

using CronFiresTest = SystemTest;

TEST_F(CronFiresTest, CronRunsTheScheduledServicePackScriptAsRoot)
{
    const std::string marker = "/var/tmp/cron-fired";
    Publish({"--kind", "sp", "--name", "sp.tar.gz", "--script",
             "kvlinxsp/kvacascr=#!/bin/sh\necho \"$(id -u) $1 $2\" > " + marker + "\n"});
    StartCron();

    RunResult r = RunSwitch(Http(1), Http(2), "-CASP");
    ASSERT_EQ(NewCrontabLines().size(), 1u);
    EXPECT_CLEAN_RUN(r);

    // The line fires at the start of the minute after next: at most three
    // minutes from now, whatever the second the run ended in.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(200);
    std::string fired;
    while ((fired.empty() || fired.back() != '\n') && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        fired = ReadFile(marker);
    }
    EXPECT_EQ(fired, "0 1 NULL\n");
}

}  // namespace
}  // namespace systest
