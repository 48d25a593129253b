// The minor upgrade (-CAUPG, type 1): the client-agent package stage with its
// archive of the installed agent and its uninstaller line (or the rollback
// line when that stage fails), then the delta package.
#include "harness.h"

#include <algorithm>

namespace systest
{
namespace
{

const std::string kCaManifest = std::string(kModuleDir) + "linuxupgrade.ini";
const std::string kDeltaManifest = std::string(kModuleDir) + "minupg.ini";
const std::string kCaPackage = "/var/tmp/caPack.tar.gz";
const std::string kDeltaPackage = "/var/tmp/delta.tar.gz";
const std::string kArchive = "/usr/lib/Zelvano/ClientAgentOld.tar.gz";

const Trace kMinorFailed{"INFO", "main", "Minor Upgrade installation failed"};
const Trace kStageFailed{"ERROR", "InstallMinUPG", "DownloadAndInstallCA failed"};
const Trace kRollbackScheduled{"INFO", "scheduling cron job for rollback of Client agent", "Exit"};
const Trace kNoBackup{"ERROR", "Old  CA Backup is not present", "Exit"};

class MinorUpgradeTest : public SystemTest
{
protected:
    void SetUp() override
    {
        SystemTest::SetUp();
        SetUpgradeType("type=1");
    }

    RunResult RunUpgrade() { return RunSwitch(Http(1), Http(2), "-CAUPG"); }
};

TEST_F(MinorUpgradeTest, ArchivesTheAgentUnpacksBothPackagesAndSchedulesOnlyTheUninstaller)
{
    Publish(CaPackage());
    Publish(DeltaPackage());

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kUninstallLine});
    std::vector<std::string> members = ArchiveMembers(kArchive);
    EXPECT_NE(std::find(members.begin(), members.end(), "usr/lib/Zelvano/ClientAgent/bin/kvagent"), members.end())
        << testing::PrintToString(members);
    EXPECT_TRUE(IsExecutable("/var/tmp/installation/kvuninstall_clagnt"));
    EXPECT_TRUE(IsExecutable(kSpScript));
    EXPECT_TRUE(Exists(kCaPackage));
    EXPECT_TRUE(Exists(kDeltaPackage));
    EXPECT_TRUE(Exists(kCaManifest));
    EXPECT_TRUE(Exists(kDeltaManifest));
    EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/upd/linuxupgrade.ini", "/upd/caPack.tar.gz",
                                                          "/upd/minupg.ini", "/upd/delta.tar.gz"}));
    EXPECT_TRUE(Log().HasInOrder({
        {"INFO", "main", "Upgrade installation start point"},
        {"INFO", "InstallMinUPG", "Entry"},
        {"INFO", "InstallMinUPG", "minupg.ini"},
        {"INFO", "DownloadAndInstallCA", "Entry"},
        {"INFO", "DownloadAndInstallCA", "linuxupgrade.ini"},
        {"INFO", "GetMinorUpgradeCAPackName:", "caPack.tar.gz"},
        {"INFO", "GetMinorUpgradeCaPackName", "Exit"},
        {"INFO", "GetMinorUpgradeCAPackName", "Exit"},
        {"INFO", "DownloadAndInstallCA URL1=", Http(1) + "/caPack.tar.gz"},
        {"INFO", "DownloadAndInstallCA URL2=", Http(2) + "/caPack.tar.gz"},
        {"INFO", "DownloadAndInstallCA path=", "/var/tmp/"},
        {"INFO", "DownloadAndInstallCA", "Space availabe"},
        {"INFO", "CheckFileConsistency", "end."},
        {"INFO", "DownloadAndInstallCA", "Taking Old CA Backup."},
        {"INFO", "DownloadAndInstallCA", "ClientAgentOld.tar.gz taken."},
        {"INFO", "DownloadAndInstallCA", "Before Fork is called!!!!!."},
        {"INFO", "DownloadAndInstallCA", "Inside Child !!!!!."},
        {"INFO", "Extract status:", "Success"},
        {"INFO", "DownloadAndInstallCA", "Outside Child !!!!!."},
        {"INFO", "!!!!!UnInstall in progress", "executing !!!!!."},
        {"INFO", "scheduling cron job for uninstallation of client agent", "Exit"},
        {"INFO", "GetServicePackName:", "delta.tar.gz"},
        {"INFO", "InstallMinUPG URL1=", Http(1) + "/delta.tar.gz"},
        {"INFO", "InstallMinUPG URL2=", Http(2) + "/delta.tar.gz"},
        {"INFO", "InstallMinUPG path=", "/var/tmp/"},
        {"INFO", "InstallMinUPG", "Space availabe"},
        {"INFO", "InstallMinUPG", "Before Fork is called!!!!!."},
        {"INFO", "Extract status:", "Success"},
        {"INFO", "InstallMinUPG", "Outside Child !!!!!."},
        {"INFO", "!!!!!Scheduling cron job for Delta change via installation script", "Exit"},
        {"INFO", "main", "Exit"},
    }));
}

TEST_F(MinorUpgradeTest, EqualUrlsFetchEachManifestOnce)
{
    Publish(CaPackage());
    Publish(DeltaPackage());
    std::string upper = "HTTP://" + Fixture("FX_ADDR1") + ":" + Fixture("FX_HTTP_PORT") + "/UPD";
    RunResult r = RunSwitch(Http(1), upper, "-CAUPG");
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "DownloadAndInstallCA", "both URL are same"}));
    EXPECT_TRUE(Log().Has({"INFO", "InstallMinUPG", "both URL are same"}));
    EXPECT_EQ(Requests().size(), 4u);
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kUninstallLine});
}

TEST_F(MinorUpgradeTest, StageFailingAfterItsArchiveSchedulesTheRollback)
{
    Publish({"--kind", "ca", "--name", "caPack.tar.gz", "--script", "installation/rollbackCA.sh=#!/bin/sh\n"});
    Publish(DeltaPackage());

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"ERROR", " CA package dir not downloaded", "Exit"}, kStageFailed,
                                  kRollbackScheduled, kMinorFailed}));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kRollbackLine});
    EXPECT_TRUE(Exists(kArchive));
    EXPECT_TRUE(Exists(kCaManifest)) << "a missing uninstaller deletes nothing";
    EXPECT_TRUE(Exists(kCaPackage));
    EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/upd/linuxupgrade.ini", "/upd/caPack.tar.gz"}));
}

TEST_F(MinorUpgradeTest, StageFailingBeforeAnyArchiveSchedulesNothing)
{
    Publish(DeltaPackage());

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"ERROR", "DownloadAndInstallCA", "GetMinorUpgradeCAPackInfo. failed"},
                                  kStageFailed, kNoBackup, kMinorFailed}));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{});
    EXPECT_FALSE(Exists(kArchive));
    EXPECT_FALSE(Exists(kCaManifest)) << "the 404 page is deleted";
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/upd/linuxupgrade.ini"});
}

TEST_F(MinorUpgradeTest, StageFailingBeforeItsArchiveRollsBackToAnEarlierArchive)
{
    WriteFile(kArchive, "archive of an earlier run");
    Publish(DeltaPackage());

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({kStageFailed, kRollbackScheduled, kMinorFailed}));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kRollbackLine});
    EXPECT_EQ(ReadFile(kArchive), "archive of an earlier run");
}

TEST_F(MinorUpgradeTest, AgentPackageThatFailsVerificationLeavesThePackageAndTakesNoArchive)
{
    Publish(CaPackage({"--set", "checksum1_64=1"}));
    Publish(DeltaPackage());

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasPrefix({"ERROR", "CheckFileConsistency", "Checksum mismatch In INI (1), From file ("}));
    EXPECT_TRUE(Log().HasInOrder({kStageFailed, kNoBackup, kMinorFailed}));
    EXPECT_FALSE(Exists(kCaManifest));
    EXPECT_TRUE(Exists(kCaPackage));
    EXPECT_FALSE(Exists(kArchive));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{});
}

TEST_F(MinorUpgradeTest, AgentPackageThatTarCannotUnpackIsDeletedAndRolledBack)
{
    Publish({"--kind", "ca", "--name", "caPack.tar.gz", "--garbage", "5000"});
    Publish(DeltaPackage());

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"ERROR", "Extract status:", "failed"}, {"ERROR", "Extract", "Exit"},
                                  kStageFailed, kRollbackScheduled}));
    EXPECT_FALSE(Exists(kCaManifest));
    EXPECT_FALSE(Exists(kCaPackage));
    EXPECT_TRUE(Exists(kArchive)) << "the archive is taken before the extraction";
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kRollbackLine});
}

struct DeltaFailure
{
    const char* name;
    Args delta;            // make_update.py update arguments of the delta package
    Trace trace;           // the failure's own trace (its message's beginning)
    bool manifestLeft;
    bool packageLeft;

    friend void PrintTo(const DeltaFailure& c, std::ostream* os) { *os << c.name; }
};

class DeltaStageFailure : public MinorUpgradeTest, public testing::WithParamInterface<DeltaFailure>
{
};

// A failure after the first stage undoes nothing of it: its uninstaller line
// stays and no rollback is scheduled.
TEST_P(DeltaStageFailure, KeepsTheUninstallerLineAndDeletesPerTheDeltaTable)
{
    const DeltaFailure& c = GetParam();
    Publish(CaPackage());
    if (!c.delta.empty())
        Publish(c.delta);

    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasPrefix(c.trace)) << c.trace;
    EXPECT_TRUE(Log().Has(kMinorFailed));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{kUninstallLine});
    EXPECT_EQ(Exists(kDeltaManifest), c.manifestLeft);
    EXPECT_EQ(Exists(kDeltaPackage), c.packageLeft);
    EXPECT_TRUE(Exists(kCaManifest));
}

INSTANTIATE_TEST_SUITE_P(
    MinorUpgrade, DeltaStageFailure,
    testing::Values(
        DeltaFailure{"ManifestMissing", {}, {"ERROR", "InstallMinUPG", "GetMinorUpgradePackInfo failed."}, false, false},
        DeltaFailure{"LengthMismatch",
                     DeltaPackage({"--set", "filelength_64=9"}),
                     {"ERROR", "CheckFileConsistency", "File length mismatch In INI (9), From file ("},
                     false,
                     true},
        DeltaFailure{"CrcMismatch",
                     DeltaPackage({"--set", "checksum1_64=9"}),
                     {"ERROR", "CheckFileConsistency", "Checksum mismatch In INI (9), From file ("},
                     false,
                     true},
        DeltaFailure{"Md5Mismatch",
                     DeltaPackage({"--set", "checksum2_64=ffffffffffffffffffffffffffffffff"}),
                     {"ERROR", "CheckFileConsistency", "MD5 mismatch In INI (ffffffffffffffffffffffffffffffff), From file ("},
                     false,
                     true},
        DeltaFailure{"TarCannotUnpack",
                     {"--kind", "delta", "--name", "delta.tar.gz", "--garbage", "4000"},
                     {"ERROR", "Extract status:", "failed"},
                     false,
                     false},
        DeltaFailure{"NoDeltaScript",
                     {"--kind", "delta", "--name", "delta.tar.gz", "--file", "kvlinxsp/other=x"},
                     {"ERROR", "Delta Changes not download", "Exit"},
                     true,
                     true}),
    [](const testing::TestParamInfo<DeltaFailure>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace systest
