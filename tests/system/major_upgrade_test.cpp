// The major upgrade (-CAUPG, type 2): the cron check first, then the client
// build package, its extraction (with the fixed-name second attempt) and the
// line that schedules the build's installer.
#include "harness.h"

namespace systest
{
namespace
{

const std::string kManifest = std::string(kModuleDir) + "linuxupgrade.ini";
const std::string kPackage = "/var/tmp/linuxUpgradePack64.tar.gz";
const std::string kInstaller = "/var/tmp/ClientBuild/x86_64/aclinux/kvinstall";
const Trace kCronEntry{"INFO", "CheckCronStatus", "Entry"};
const Trace kScheduled{"INFO", "scheduling cron job for installing major upgrade build", "Exit"};

class MajorUpgradeTest : public SystemTest
{
protected:
    RunResult RunUpgrade(const std::string& shims = "")
    {
        SetUpgradeType("type=2");
        return RunSwitch(Http(1), Http(2), "-CAUPG", shims);
    }
};

TEST_F(MajorUpgradeTest, UnpacksTheBuildAndSchedulesItsInstaller)
{
    Publish(BuildPackage());
    StartCron();
    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(NewCrontabLines(), Strings{kBuildInstallLine});
    EXPECT_TRUE(IsExecutable(kInstaller));
    EXPECT_TRUE(Exists(kPackage));
    EXPECT_TRUE(Exists(kManifest));
    EXPECT_FALSE(Exists("/usr/lib/Zelvano/ClientAgentOld.tar.gz")) << "no archive in a major upgrade";
    EXPECT_EQ(RequestedPaths(), (Strings{"/upd/linuxupgrade.ini", "/upd/linuxUpgradePack64.tar.gz"}));
    EXPECT_TRUE(Log().HasInOrder({
        {"INFO", "main", "Upgrade installation start point"}, {"INFO", "InstallMajorUPG", "Entry"},
        {"INFO", "InstallMajorUPG", "linuxupgrade.ini"}, kCronEntry, {"INFO", "CheckCronStatus", "cron already running"},
        {"INFO", "GetMinorUpgradeCAPackName:", "linuxUpgradePack64.tar.gz"},
        {"INFO", "InstallMajorUPG URL1=", Http(1) + "/linuxUpgradePack64.tar.gz"},
        {"INFO", "InstallMajorUPG URL2=", Http(2) + "/linuxUpgradePack64.tar.gz"},
        {"INFO", "InstallMajorUPG path=", "/var/tmp/"}, {"INFO", "InstallMajorUPG", "Space availabe"},
        {"INFO", "CheckFileConsistency", "end."}, {"INFO", "InstallMajorUPG", "Before Fork is called!!!!!."},
        {"INFO", "InstallMajorUPG", "Inside Child !!!!!."}, {"INFO", "Extract status:", "Success"},
        {"INFO", "InstallMajorUPG", "Outside Child !!!!!."}, {"INFO", "!!!!!UnInstall in progress", "executing !!!!!."},
        kScheduled, {"INFO", "main", "Exit"},
    }));
    EXPECT_FALSE(Log().Has({"", "Extract", ""}, true)) << "one extraction was enough";
}

TEST_F(MajorUpgradeTest, SecondExtractionAttemptUnpacksTheFixedNamePackage)
{
    // A valid build left under the fixed name by an earlier run, and a new
    // package under another name that tar cannot unpack.
    MakeUpdate({"package", kPackage, "--script", "ClientBuild/x86_64/aclinux/kvinstall=#!/bin/sh\n"});
    Publish({"--kind", "ca", "--name", "other.tar.gz", "--garbage", "6000"});
    StartCron();
    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"ERROR", "Extract status:", "failed"}, {"ERROR", "Extract", "Exit"},
                                  {"INFO", "Extract status:", "extracting linuxUpgadePack"},
                                  {"INFO", "Extract status:", "Success"}, kScheduled}));
    EXPECT_EQ(NewCrontabLines(), Strings{kBuildInstallLine});
    EXPECT_TRUE(IsExecutable(kInstaller));
    EXPECT_TRUE(Exists("/var/tmp/other.tar.gz"));
}

// Every failure after the cron check, with what the flow's table deletes.
TEST_F(MajorUpgradeTest, FailuresDeleteWhatTheirStepPrescribes)
{
    struct
    {
        const char* name;
        Args build;  // none published when empty
        Trace trace;
        bool left;   // package (when downloaded) and manifest left
    } const cases[] = {
        {"404 manifest", {}, {"ERROR", "InstallMajorUPG", "GetMinorUpgradeCAPackInfo. failed"}, false},
        {"length mismatch", BuildPackage({"--set", "filelength_64=1"}),
         {"ERROR", "CheckFileConsistency", "File length mismatch In INI (1), From file ("}, false},
        {"both extractions fail", {"--kind", "ca", "--name", "linuxUpgradePack64.tar.gz", "--garbage", "6000"},
         {"ERROR", "extraction is failed with error %s", ""}, false},
        {"no ClientBuild", {"--kind", "ca", "--name", "linuxUpgradePack64.tar.gz", "--file", "Other/readme=x"},
         {"ERROR", " ClientBuild dir is not downloaded", "Exit"}, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Reset();
        if (!c.build.empty())
            Publish(c.build);
        StartCron();
        RunResult r = RunUpgrade();

        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().Has(c.trace, true)) << c.trace;
        EXPECT_FALSE(Log().Has({"INFO", "Extract status:", "extracting linuxUpgadePack"}));
        EXPECT_EQ(Exists(kPackage), c.left);
        EXPECT_EQ(Exists(kManifest), c.left);
        EXPECT_EQ(Exists("/var/tmp/Other/readme"), c.left);
        ExpectFailedWithoutLine("Major Upgrade");
    }
}

// A system with crond alone, or with no cron at all: cron is tried first,
// then crond; without either, nothing is downloaded.
TEST_F(MajorUpgradeTest, CronCheckTriesCronThenCrond)
{
    const Strings allCalls{"pidof -x cron", "service cron start", "pidof -x crond", "service crond start"};
    struct
    {
        const char* name;
        const char* pidof;  // shim bodies: $2 of pidof and $1 of service name the daemon
        const char* service;
        Strings calls;
        Trace last;
        bool proceeds;  // whether the flow goes on to download
    } const cases[] = {
        {"crond-running", "[ \"$2\" = crond ]", "exit 1", {allCalls.begin(), allCalls.begin() + 3},
         {"INFO", "CheckCronStatus", "crond already running"}, true},
        {"crond-startable", "exit 1", "[ \"$1\" = crond ]", allCalls,
         {"INFO", "CheckCronStatus", "crond started successfully"}, true},
        {"no-cron", "exit 1", "exit 1", allCalls, {"ERROR", "CheckCronStatus", "failed to start crond "}, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Reset();
        std::string shims = MakeShims(c.name, {{"pidof", c.pidof}, {"service", c.service}});
        Publish(BuildPackage());
        RunResult r = RunUpgrade(shims);

        EXPECT_CLEAN_RUN(r);
        EXPECT_EQ(Lines(ReadFile(shims + "/calls")), c.calls);
        EXPECT_TRUE(Log().HasInOrder({kCronEntry, {"ERROR", "CheckCronStatus", "failed to start cron"}, c.last}));
        if (c.proceeds)
        {
            EXPECT_EQ(NewCrontabLines(), Strings{kBuildInstallLine});
            continue;
        }
        EXPECT_TRUE(Log().HasInOrder({{"INFO", "CheckCronStatus", "Exit"},
                                      {"ERROR", "InstallMajorUPG", "cron service is not running"}}));
        EXPECT_EQ(Requests().size(), 0u) << "nothing is downloaded without cron";
        EXPECT_EQ(ListDir("/var/tmp"), Strings{});
        EXPECT_FALSE(Exists(kManifest));
        ExpectFailedWithoutLine("Major Upgrade");
    }
}

}  // namespace
}  // namespace systest
