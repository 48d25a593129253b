// The minor upgrade (-CAUPG, type 1): the client-agent package stage with its
// archive of the installed agent and its uninstaller line (or the rollback
// line when that stage fails), then the delta package.
#include "harness.h"

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

class MinorUpgradeTest : public SystemTest
{
protected:
    RunResult RunUpgrade()
    {
        SetUpgradeType("type=1");
        return RunSwitch(Http(1), Http(2), "-CAUPG");
    }
};

TEST_F(MinorUpgradeTest, ArchivesTheAgentUnpacksBothPackagesAndSchedulesOnlyTheUninstaller)
{
    Publish(CaPackage());
    Publish(DeltaPackage());
    RunResult r = RunUpgrade();

    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(NewCrontabLines(), Strings{kUninstallLine});
    EXPECT_EQ(RunCommand({"/bin/tar", "-tzf", kArchive, "usr/lib/Zelvano/ClientAgent/bin/kvagent"}, "/dev/null"), 0)
        << "the archive holds the installed agent";
    EXPECT_TRUE(IsExecutable("/var/tmp/installation/kvuninstall_clagnt"));
    EXPECT_TRUE(IsExecutable(kSpScript));
    for (const std::string& file : {kCaPackage, kDeltaPackage, kCaManifest, kDeltaManifest})
        EXPECT_TRUE(Exists(file)) << file;
    EXPECT_EQ(RequestedPaths(),
              (Strings{"/upd/linuxupgrade.ini", "/upd/caPack.tar.gz", "/upd/minupg.ini", "/upd/delta.tar.gz"}));
    EXPECT_TRUE(Log().HasInOrder({
        {"INFO", "main", "Upgrade installation start point"}, {"INFO", "InstallMinUPG", "Entry"},
        {"INFO", "InstallMinUPG", "minupg.ini"}, {"INFO", "DownloadAndInstallCA", "Entry"},
        {"INFO", "DownloadAndInstallCA", "linuxupgrade.ini"}, {"INFO", "GetMinorUpgradeCAPackName:", "caPack.tar.gz"},
        {"INFO", "GetMinorUpgradeCaPackName", "Exit"}, {"INFO", "GetMinorUpgradeCAPackName", "Exit"},
        {"INFO", "DownloadAndInstallCA URL1=", Http(1) + "/caPack.tar.gz"},
        {"INFO", "DownloadAndInstallCA URL2=", Http(2) + "/caPack.tar.gz"},
        {"INFO", "DownloadAndInstallCA path=", "/var/tmp/"}, {"INFO", "DownloadAndInstallCA", "Space availabe"},
        {"INFO", "CheckFileConsistency", "end."}, {"INFO", "DownloadAndInstallCA", "Taking Old CA Backup."},
        {"INFO", "DownloadAndInstallCA", "ClientAgentOld.tar.gz taken."},
        {"INFO", "DownloadAndInstallCA", "Before Fork is called!!!!!."},
        {"INFO", "DownloadAndInstallCA", "Inside Child !!!!!."}, {"INFO", "Extract status:", "Success"},
        {"INFO", "DownloadAndInstallCA", "Outside Child !!!!!."}, {"INFO", "!!!!!UnInstall in progress", "executing !!!!!."},
        {"INFO", "scheduling cron job for uninstallation of client agent", "Exit"},
        {"INFO", "GetServicePackName:", "delta.tar.gz"}, {"INFO", "InstallMinUPG URL1=", Http(1) + "/delta.tar.gz"},
        {"INFO", "InstallMinUPG URL2=", Http(2) + "/delta.tar.gz"}, {"INFO", "InstallMinUPG path=", "/var/tmp/"},
        {"INFO", "InstallMinUPG", "Space availabe"}, {"INFO", "InstallMinUPG", "Before Fork is called!!!!!."},
        {"INFO", "Extract status:", "Success"}, {"INFO", "InstallMinUPG", "Outside Child !!!!!."},
        {"INFO", "!!!!!Scheduling cron job for Delta change via installation script", "Exit"},
        {"INFO", "main", "Exit"},
    }));
}

// A failed client-agent stage schedules the rollback when an archive of the
// agent exists (taken by this run or an earlier one), and nothing otherwise.
// Its own deletions follow the stage's table.
TEST_F(MinorUpgradeTest, FailedAgentStageRollsBackOnlyWithAnArchive)
{
    const Trace noManifest{"ERROR", "DownloadAndInstallCA", "GetMinorUpgradeCAPackInfo. failed"};
    struct
    {
        const char* name;
        Args ca;              // the client-agent package; none published when empty
        bool earlierArchive;  // an archive left by an earlier run
        Trace failure;        // the stage's own failure (its message's beginning)
        bool manifestLeft, packageLeft, archived;
    } const cases[] = {
        {"no uninstaller", {"--kind", "ca", "--name", "caPack.tar.gz", "--script", "installation/rollbackCA.sh=#!/bin/sh\n"},
         false, {"ERROR", " CA package dir not downloaded", "Exit"}, true, true, true},
        {"not an archive", {"--kind", "ca", "--name", "caPack.tar.gz", "--garbage", "5000"},
         false, {"ERROR", "Extract status:", "failed"}, false, false, true},
        {"404 manifest", {}, false, noManifest, false, false, false},
        {"404 manifest, earlier archive", {}, true, noManifest, false, false, true},
        {"CRC mismatch", CaPackage({"--set", "checksum1_64=1"}),
         false, {"ERROR", "CheckFileConsistency", "Checksum mismatch In INI (1), From file ("}, false, true, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Reset();
        if (c.earlierArchive)
            WriteFile(kArchive, "archive of an earlier run");
        if (!c.ca.empty())
            Publish(c.ca);
        Publish(DeltaPackage());
        RunResult r = RunUpgrade();

        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().Has(c.failure, true)) << c.failure;
        EXPECT_TRUE(Log().HasInOrder({{"ERROR", "InstallMinUPG", "DownloadAndInstallCA failed"},
                                      c.archived ? Trace{"INFO", "scheduling cron job for rollback of Client agent", "Exit"}
                                                 : Trace{"ERROR", "Old  CA Backup is not present", "Exit"},
                                      kMinorFailed}));
        EXPECT_EQ(NewCrontabLines(), c.archived ? Strings{kRollbackLine} : Strings{});
        EXPECT_EQ(Exists(kArchive), c.archived);
        if (c.earlierArchive)
        {
            EXPECT_EQ(ReadFile(kArchive), "archive of an earlier run");
        }
        EXPECT_EQ(Exists(kCaManifest), c.manifestLeft);
        EXPECT_EQ(Exists(kCaPackage), c.packageLeft);
        EXPECT_FALSE(Exists(kDeltaManifest)) << "the delta stage never ran";
    }
}

// A failure after the first stage undoes nothing of it: its uninstaller line
// stays and no rollback is scheduled. The delta's own files follow its table.
TEST_F(MinorUpgradeTest, FailedDeltaStageKeepsTheUninstallerLine)
{
    struct
    {
        const char* name;
        Args delta;  // none published when empty
        Trace trace;
        bool manifestLeft, packageLeft;
    } const cases[] = {
        {"404 manifest", {}, {"ERROR", "InstallMinUPG", "GetMinorUpgradePackInfo failed."}, false, false},
        {"MD5 mismatch", DeltaPackage({"--set", "checksum2_64=ffffffffffffffffffffffffffffffff"}),
         {"ERROR", "CheckFileConsistency", "MD5 mismatch In INI (ffffffffffffffffffffffffffffffff), From file ("},
         false, true},
        {"not an archive", {"--kind", "delta", "--name", "delta.tar.gz", "--garbage", "4000"},
         {"ERROR", "Extract status:", "failed"}, false, false},
        {"no delta script", {"--kind", "delta", "--name", "delta.tar.gz", "--file", "kvlinxsp/other=x"},
         {"ERROR", "Delta Changes not download", "Exit"}, true, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Reset();
        Publish(CaPackage());
        if (!c.delta.empty())
            Publish(c.delta);
        RunResult r = RunUpgrade();

        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().Has(c.trace, true)) << c.trace;
        EXPECT_TRUE(Log().Has(kMinorFailed));
        EXPECT_EQ(NewCrontabLines(), Strings{kUninstallLine});
        EXPECT_EQ(Exists(kDeltaManifest), c.manifestLeft);
        EXPECT_EQ(Exists(kDeltaPackage), c.packageLeft);
        EXPECT_TRUE(Exists(kCaManifest));
    }
}

}  // namespace
}  // namespace systest
