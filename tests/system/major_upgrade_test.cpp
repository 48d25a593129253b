// The major upgrade (-CAUPG, type 2): the cron check first, then the client
// build package, its extraction (with the fixed-name second attempt) and the
// line that schedules the build's installer.
#include "harness.h"

#include <signal.h>

namespace systest
{
namespace
{

const std::string kManifest = std::string(kModuleDir) + "linuxupgrade.ini";
const std::string kPackage = "/var/tmp/linuxUpgradePack64.tar.gz";
const std::string kInstaller = "/var/tmp/ClientBuild/x86_64/aclinux/kvinstall";
const Trace kMajorFailed{"INFO", "main", "Major Upgrade installation failed"};

class MajorUpgradeTest : public SystemTest
{
protected:
    void SetUp() override
    {
        SystemTest::SetUp();
        SetUpgradeType("type=2");
    }

    RunResult RunUpgrade(const std::vector<std::string>& shims = {})
    {
        return RunSwitch(Http(1), Http(2), "-CAUPG", shims);
    }

    void ExpectFailedWithoutLine()
    {
        EXPECT_TRUE(Log().Has(kMajorFailed));
        EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{});
    }
};

// The flow's own steps, with the real cron daemon running in the sandbox.
class MajorWithCronTest : public MajorUpgradeTest
{
protected:
    void SetUp() override
    {
        MajorUpgradeTest::SetUp();
        StartCron();
    }
};

TEST_F(MajorWithCronTest, UnpacksTheBuildAndSchedulesItsInstaller)
{
    Publish(BuildPackage());

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kBuildInstallLine});
    EXPECT_TRUE(IsExecutable(kInstaller));
    EXPECT_TRUE(Exists(kPackage));
    EXPECT_TRUE(Exists(kManifest));
    EXPECT_FALSE(Exists("/usr/lib/Zelvano/ClientAgentOld.tar.gz")) << "no archive in a major upgrade";
    EXPECT_EQ(RequestedPaths(),
              (std::vector<std::string>{"/upd/linuxupgrade.ini", "/upd/linuxUpgradePack64.tar.gz"}));
    EXPECT_TRUE(Log().HasInOrder({
        {"INFO", "main", "Upgrade installation start point"},
        {"INFO", "InstallMajorUPG", "Entry"},
        {"INFO", "InstallMajorUPG", "linuxupgrade.ini"},
        {"INFO", "CheckCronStatus", "Entry"},
        {"INFO", "CheckCronStatus", "cron already running"},
        {"INFO", "GetMinorUpgradeCAPackName:", "linuxUpgradePack64.tar.gz"},
        {"INFO", "InstallMajorUPG URL1=", Http(1) + "/linuxUpgradePack64.tar.gz"},
        {"INFO", "InstallMajorUPG URL2=", Http(2) + "/linuxUpgradePack64.tar.gz"},
        {"INFO", "InstallMajorUPG path=", "/var/tmp/"},
        {"INFO", "InstallMajorUPG", "Space availabe"},
        {"INFO", "CheckFileConsistency", "end."},
        {"INFO", "InstallMajorUPG", "Before Fork is called!!!!!."},
        {"INFO", "InstallMajorUPG", "Inside Child !!!!!."},
        {"INFO", "Extract status:", "Success"},
        {"INFO", "InstallMajorUPG", "Outside Child !!!!!."},
        {"INFO", "!!!!!UnInstall in progress", "executing !!!!!."},
        {"INFO", "scheduling cron job for installing major upgrade build", "Exit"},
        {"INFO", "main", "Exit"},
    }));
    EXPECT_FALSE(Log().HasLabel("Extract")) << "one extraction was enough";
}

TEST_F(MajorWithCronTest, SecondExtractionAttemptUnpacksTheFixedNamePackage)
{
    // A valid build left under the fixed name by an earlier run, and a new
    // package under another name that tar cannot unpack.
    MakeUpdate({"package", kPackage, "--script", "ClientBuild/x86_64/aclinux/kvinstall=#!/bin/sh\n"});
    Publish({"--kind", "ca", "--name", "other.tar.gz", "--garbage", "6000"});

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"ERROR", "Extract status:", "failed"},
                                  {"ERROR", "Extract", "Exit"},
                                  {"INFO", "Extract status:", "extracting linuxUpgadePack"},
                                  {"INFO", "Extract status:", "Success"},
                                  {"INFO", "scheduling cron job for installing major upgrade build", "Exit"}}));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kBuildInstallLine});
    EXPECT_TRUE(IsExecutable(kInstaller));
    EXPECT_TRUE(Exists("/var/tmp/other.tar.gz"));
}

TEST_F(MajorWithCronTest, BothExtractionAttemptsFailingDeletePackageAndManifest)
{
    Publish({"--kind", "ca", "--name", "linuxUpgradePack64.tar.gz", "--garbage", "6000"});

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"ERROR", "Extract status:", "failed"}, {"ERROR", "Extract", "Exit"}}));
    EXPECT_TRUE(Log().HasPrefix({"ERROR", "extraction is failed with error %s", ""}));
    EXPECT_FALSE(Log().Has({"INFO", "Extract status:", "extracting linuxUpgadePack"}));
    EXPECT_FALSE(Exists(kPackage));
    EXPECT_FALSE(Exists(kManifest));
    ExpectFailedWithoutLine();
}

TEST_F(MajorWithCronTest, BuildWithoutClientBuildDirectoryIsNotScheduled)
{
    Publish({"--kind", "ca", "--name", "linuxUpgradePack64.tar.gz", "--file", "Other/readme=x"});

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"ERROR", " ClientBuild dir is not downloaded", "Exit"}));
    EXPECT_TRUE(Exists(kPackage));
    EXPECT_TRUE(Exists(kManifest));
    EXPECT_TRUE(Exists("/var/tmp/Other/readme"));
    ExpectFailedWithoutLine();
}

TEST_F(MajorWithCronTest, MissingManifestGivesA404BodyThatIsDeleted)
{
    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"ERROR", "InstallMajorUPG", "GetMinorUpgradeCAPackInfo. failed"}));
    EXPECT_FALSE(Exists(kManifest));
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/upd/linuxupgrade.ini"});
    ExpectFailedWithoutLine();
}

struct Mismatch
{
    const char* name;
    const char* key;
    const char* value;
    const char* messageStart;

    friend void PrintTo(const Mismatch& c, std::ostream* os) { *os << c.name; }
};

class MajorMismatch : public MajorWithCronTest, public testing::WithParamInterface<Mismatch>
{
};

TEST_P(MajorMismatch, DeletesPackageAndManifest)
{
    const Mismatch& c = GetParam();
    Publish(BuildPackage({"--set", std::string(c.key) + "=" + c.value}));

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasPrefix({"ERROR", "CheckFileConsistency", c.messageStart}));
    EXPECT_FALSE(Exists(kPackage));
    EXPECT_FALSE(Exists(kManifest));
    EXPECT_FALSE(Exists("/var/tmp/ClientBuild"));
    ExpectFailedWithoutLine();
}

INSTANTIATE_TEST_SUITE_P(
    MajorUpgrade, MajorMismatch,
    testing::Values(Mismatch{"Length", "filelength_64", "1", "File length mismatch In INI (1), From file ("},
                    Mismatch{"Crc", "checksum1_64", "2", "Checksum mismatch In INI (2), From file ("},
                    Mismatch{"Md5", "checksum2_64", "00000000000000000000000000000000",
                             "MD5 mismatch In INI (00000000000000000000000000000000), From file ("}),
    [](const testing::TestParamInfo<Mismatch>& info) { return std::string(info.param.name); });

// The cron check against a real cron that is stopped: its service starts it.
TEST_F(MajorUpgradeTest, StoppedCronIsStartedThroughItsService)
{
    Publish(BuildPackage());

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"INFO", "CheckCronStatus", "Entry"},
                                  {"INFO", "CheckCronStatus", "cron started successfully"}}));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kBuildInstallLine});
    std::string pid = ReadFile("/run/crond.pid");
    ASSERT_FALSE(pid.empty()) << "the service left no running cron";
    EXPECT_EQ(kill(std::stoi(pid), SIGTERM), 0) << "the daemon the run started";
}

struct CronScenario
{
    const char* name;
    const char* pidof;    // shell body of the pidof shim; $2 is cron or crond
    const char* service;  // shell body of the service shim; $1 is cron or crond
    std::vector<std::string> calls;
    std::vector<Trace> traces;
    bool proceeds;  // whether the flow goes on to download

    friend void PrintTo(const CronScenario& c, std::ostream* os) { *os << c.name; }
};

class CronCheck : public MajorUpgradeTest, public testing::WithParamInterface<CronScenario>
{
};

TEST_P(CronCheck, TriesCronThenCrondInOrder)
{
    const CronScenario& c = GetParam();
    std::string shims = MakeShims(c.name, {{"pidof", c.pidof}, {"service", c.service}});
    Publish(BuildPackage());

    RunResult r = RunUpgrade({shims});

    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(ShimCalls(shims), c.calls);
    EXPECT_TRUE(Log().HasInOrder(c.traces));
    if (c.proceeds)
    {
        EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kBuildInstallLine});
        return;
    }
    EXPECT_TRUE(Log().Has({"ERROR", "InstallMajorUPG", "cron service is not running"}));
    EXPECT_EQ(Requests().size(), 0u) << "nothing is downloaded without cron";
    EXPECT_EQ(ListDir("/var/tmp"), std::vector<std::string>{});
    EXPECT_FALSE(Exists(kManifest));
    ExpectFailedWithoutLine();
}

const Trace kCronEntry{"INFO", "CheckCronStatus", "Entry"};
const Trace kCronFailed{"ERROR", "CheckCronStatus", "failed to start cron"};

INSTANTIATE_TEST_SUITE_P(
    MajorUpgrade, CronCheck,
    testing::Values(
        CronScenario{"CrondRunning",
                     "[ \"$2\" = crond ]",
                     "exit 1",
                     {"pidof -x cron", "service cron start", "pidof -x crond"},
                     {kCronEntry, kCronFailed, {"INFO", "CheckCronStatus", "crond already running"}},
                     true},
        CronScenario{"OnlyCrondStartable",
                     "exit 1",
                     "[ \"$1\" = crond ]",
                     {"pidof -x cron", "service cron start", "pidof -x crond", "service crond start"},
                     {kCronEntry, kCronFailed, {"INFO", "CheckCronStatus", "crond started successfully"}},
                     true},
        CronScenario{"NoCronAtAll",
                     "exit 1",
                     "exit 1",
                     {"pidof -x cron", "service cron start", "pidof -x crond", "service crond start"},
                     {kCronEntry, kCronFailed, {"ERROR", "CheckCronStatus", "failed to start crond "},
                      {"INFO", "CheckCronStatus", "Exit"}, {"ERROR", "InstallMajorUPG", "cron service is not running"}},
                     false}),
    [](const testing::TestParamInfo<CronScenario>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace systest
