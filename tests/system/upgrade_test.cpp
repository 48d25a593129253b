// The upgrades (-CAUPG). Minor (type 1): the client-agent stage with its
// archive of the installed agent and its uninstaller line (the rollback
// line when that stage fails), then the delta package. Major (type 2): the
// cron check, the build and its extraction (with the fixed-name second
// attempt), the line that schedules the build's installer.
#include "fixture.h"

namespace sys
{
namespace
{
const std::string kArchive = "/usr/lib/Zelvano/ClientAgentOld.tar.gz";
const Strings kAgent = Update("ca", "ca.tgz",
                              {"installation/kvuninstall_clagnt", "installation/rollbackCA.sh"}),
              kDelta = Update("delta", "delta.tgz", {"kvlinxsp/kvacascr"}),
              kBuild = Update("ca", "linuxUpgradePack64.tar.gz",
                              {"ClientBuild/x86_64/aclinux/kvinstall"});

class UpgradeTest : public SystemTest
{
protected:
    // pidof and service, first on PATH, as shell bodies that see the
    // command's arguments; every call goes to kWork/calls.
    static void Shims(const std::string& pidof, const std::string& service = "exit 1")
    {
        for (const auto& [name, body] :
             {std::pair<std::string, std::string>{"pidof", pidof}, {"service", service}})
            ASSERT_TRUE(
                tk::Write(kWork + "shims/" + name,
                          "#!/bin/sh\necho " + name + " \"$*\" >> " + kWork + "calls\n" + body) &&
                chmod((kWork + "shims/" + name).c_str(), 0755) == 0);
        tk::Remove(kWork + "calls");
        static const std::string path = getenv("PATH");
        ASSERT_EQ(0, setenv("PATH", (kWork + "shims:" + path).c_str(), 1));
    }
};

// A file in the working directory named like the line's schedule plus a
// line of its own changes nothing; the archive holds the agent's keys and is
// root's alone.
TEST_F(UpgradeTest, MinorArchivesTheAgentUnpacksBothPackagesAndSchedulesTheUninstaller)
{
    ASSERT_TRUE(tk::Write("/tmp/3 =x\n* * * * * root sh /tmp/evil\n#", ""));
    Reset("1");
    Publish(kAgent);
    Publish(kDelta);
    ExpectClean(RunSwitch("-CAUPG"));
    EXPECT_EQ("scheduled", tk::Report());
    EXPECT_EQ(NewCrontabLines(), Strings{kUninstallLine});
    EXPECT_EQ(Left(), (Strings{"ca.tgz", "delta.tgz", "installation", "kvlinxsp",
                               "linuxupgrade.ini", "minupg.ini", "archive"}));
    EXPECT_EQ(0, tk::Run({"/bin/tar", "-xzOf", kArchive, "usr/lib/Zelvano/ClientAgent/bin/kvagent"},
                         kWork + "agent"));
    EXPECT_EQ("agent\n", tk::Read(kWork + "agent"));
    EXPECT_EQ(0600u, Mode(kArchive));
    EXPECT_EQ(Paths(), (Strings{"/upd/linuxupgrade.ini", "/upd/ca.tgz", "/upd/minupg.ini",
                                "/upd/delta.tgz"}));
    EXPECT_EQ("", tk::MissingInOrder(tk::Trace(), tk::Lines(R"(I InstallMinUPG|minupg.ini
I DownloadAndInstallCA|Entry
I DownloadAndInstallCA|linuxupgrade.ini
I GetMinorUpgradeCAPackName|start.
I GetMinorUpgradeCAPackName:|ca.tgz
I GetMinorUpgradeCaPackName|Exit
I GetMinorUpgradeCAPackName szMD5:*
I GetMinorUpgradeCAPackName|Exit
I DownloadAndInstallCA URL1=|http://127.0.0.1:8080/upd/ca.tgz
I DownloadAndInstallCA URL2=|http://127.0.0.3:8080/upd/ca.tgz
I DownloadAndInstallCA|Space availabe
I CheckFileConsistency|end.
I DownloadAndInstallCA|Taking Old CA Backup.
I DownloadAndInstallCA|ClientAgentOld.tar.gz taken.
I DownloadAndInstallCA|Before Fork is called!!!!!.
I DownloadAndInstallCA|Inside Child !!!!!.
I DownloadAndInstallCA|Outside Child !!!!!.
I !!!!!UnInstall in progress|executing !!!!!.
I scheduling cron job for uninstallation of client agent|Exit
I GetMinorUpgradePackName|start.
I GetServicePackName:|delta.tgz
I GetServicePackName szMD5:*
I GetServicePackName|Exit
I InstallMinUPG URL1=|http://127.0.0.1:8080/upd/delta.tgz
I InstallMinUPG URL2=|http://127.0.0.3:8080/upd/delta.tgz
I InstallMinUPG|Space availabe
I InstallMinUPG|Before Fork is called!!!!!.
I InstallMinUPG|Inside Child !!!!!.
I InstallMinUPG|Outside Child !!!!!.
I !!!!!Scheduling cron job for Delta change via installation script|Exit
I main|Exit)")));
}

// A failed agent stage is rolled back only when it changed something: it
// took the archive of the agent and unpacked its own package, whose rollback
// script then runs. An archive that failed keeps the earlier one. A failure
// after that stage undoes nothing of it.
TEST_F(UpgradeTest, MinorFailureTable)
{
    const std::string
        rollback = "I scheduling cron job for rollback of Client agent|Exit",
        noBackup = "E Old  CA Backup is not present|Exit",
        noArchive = "E InstallMinUPG|no rollback scheduled: this run took no archive of the agent";
    const Strings caLeft = {"ca.tgz", "installation", "linuxupgrade.ini", "archive"}, none;
    // clang-format off
    const struct { std::string verdict; Strings agent, delta, trace, left, crontab; std::string wrap; bool bEarlierArchive; } cases[] = {
        {"script missing (kvuninstall_clagnt)", Update("ca", "ca.tgz", {"installation/rollbackCA.sh"}), kDelta, {"E  CA package dir not downloaded|Exit", rollback},
         caLeft, {kRollbackLine}},
        {"extraction", Garbage("ca", "ca.tgz", "5000"), kDelta, {"E Extract status:|failed", "E Extract|Exit",
         "E InstallMinUPG|no rollback scheduled: the client-agent package was not unpacked"}, {"archive"}, {}},
        {"unreadable manifest (file_64)", Update("ca", "ca.tgz", {}, {"--garbage-manifest", "1K"}), kDelta, {"E DownloadAndInstallCA|GetMinorUpgradeCAPackInfo. failed",
         noBackup}, {}, {}},
        {"manifest download", none, kDelta, {noArchive}, {"archive"}, {}, "", true},
        {"script missing (kvuninstall_clagnt)", Update("ca", "ca.tgz", {"installation/rollbackCA.sh"}), kDelta, {"E DownloadAndInstallCA|ClientAgentOld.tar.gz not taken: tar failed",
         "E  CA package dir not downloaded|Exit", noArchive}, caLeft, {}, kGzipPacksNothing, true},
        {"verification (CRC-32)", Update("ca", "ca.tgz", {}, {"--set", "checksum1_64=1"}), kDelta,
         {"E CheckFileConsistency|Checksum mismatch In INI (1), From file (*", noBackup}, {"ca.tgz"}, {}},
        {"free space (too little space)", Update("ca", "ca.tgz", {}, {"--set", "filelength_64=2097152"}), kDelta, {"E DownloadAndInstallCA|Space not availabe", noBackup},
         {"linuxupgrade.ini"}, {}, kSmallTmp},
        {"free space (no /var/tmp/)", kAgent, kDelta, {"E DownloadAndInstallCA|GetDiskFreeSpace failed.", noBackup}, {"linuxupgrade.ini"}, {}, kNoTmp},
        {"unreadable manifest (file_64)", kAgent, Update("delta", "d", {}, {"--garbage-manifest", "1K"}), {"E InstallMinUPG|GetMinorUpgradePackInfo failed."}, caLeft,
         {kUninstallLine}},
        {"verification (MD5)", kAgent, Update("delta", "delta.tgz", {}, {"--set", "checksum2_64=" + std::string(32, 'f')}),
         {"E CheckFileConsistency|MD5 mismatch In INI (" + std::string(32, 'f') + "), From file (*"},
         {"ca.tgz", "delta.tgz", "installation", "linuxupgrade.ini", "archive"}, {kUninstallLine}},
        {"extraction", kAgent, Garbage("delta", "delta.tgz", "4000"), {"E Extract status:|failed"}, caLeft, {kUninstallLine}},
        {"script missing (kvacascr)", kAgent, Update("delta", "delta.tgz", {"kvlinxsp/x"}), {"E Delta Changes not download|Exit"},
         {"ca.tgz", "delta.tgz", "installation", "kvlinxsp", "linuxupgrade.ini", "minupg.ini", "archive"}, {kUninstallLine}},
        {"free space (too little space)", kAgent, Update("delta", "delta.tgz", {}, {"--set", "filelength_64=4000000000"}), {"E InstallMinUPG|Space not availabe"},
         {"ca.tgz", "installation", "linuxupgrade.ini", "minupg.ini", "archive"}, {kUninstallLine}},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.trace.front() + " " + c.wrap);
        Reset("1");
        ASSERT_TRUE(!c.bEarlierArchive || tk::Write(kArchive, "earlier"));
        for (const Strings* update : {&c.agent, &c.delta})
            ASSERT_TRUE(update->empty() || tk::Publish(*update, tk::Www() + "/upd"));
        ExpectClean(RunSwitch("-CAUPG", c.wrap));
        EXPECT_EQ("failed: " + c.verdict, tk::Report());
        const Strings trace = tk::Trace();
        EXPECT_EQ("", tk::MissingInOrder(trace, c.trace));
        EXPECT_EQ("", tk::MissingInOrder(trace, {"I main|Minor Upgrade installation failed"}));
        EXPECT_EQ(c.crontab != Strings{kUninstallLine},
                  tk::Count(trace, "E InstallMinUPG|DownloadAndInstallCA failed") == 1);
        EXPECT_EQ(0u, tk::Count(trace, "I main|Exit"));
        EXPECT_EQ(c.left, Left());
        EXPECT_EQ(c.crontab, NewCrontabLines());
        EXPECT_TRUE(!c.bEarlierArchive || tk::Read(kArchive) == "earlier");
    }
}

TEST_F(UpgradeTest, MajorUnpacksTheBuildAndSchedulesItsInstaller)
{
    Reset("2");
    StartCron();            // the real pidof finds it
    Strings build = kBuild; // as the older sources publish it, and signed
    build.insert(build.end(), {"--path-digest", "--sign", kKeys + "a.key"});
    ASSERT_TRUE(MakeKey("a") && InstallKey("a"));
    Publish(build);
    ExpectClean(RunSwitch("-CAUPG"));
    EXPECT_EQ("scheduled", tk::Report());
    EXPECT_EQ(NewCrontabLines(), Strings{kBuildLine});
    EXPECT_EQ(Left(), (Strings{"ClientBuild", "linuxUpgradePack64.tar.gz", "linuxupgrade.ini"}));
    EXPECT_EQ(Paths(), (Strings{"/upd/linuxupgrade.ini", "/upd/linuxupgrade.ini.sig",
                                "/upd/linuxUpgradePack64.tar.gz"}));
    EXPECT_EQ(0u, tk::Count(tk::Trace(), "E Extract|Exit"));
    EXPECT_EQ("",
              tk::MissingInOrder(tk::Trace(), tk::Lines(R"(I main|Upgrade installation start point
I InstallMajorUPG|Entry
I InstallMajorUPG|linuxupgrade.ini
I CheckCronStatus|Entry
I CheckCronStatus|cron already running
I InstallMajorUPG|manifest signed by a.pem
I GetMinorUpgradeCAPackName:|linuxUpgradePack64.tar.gz
I GetMinorUpgradeCAPackName szMD5:|fc513f04005552c2466fbf89716f3154
I InstallMajorUPG URL1=|http://127.0.0.1:8080/upd/linuxUpgradePack64.tar.gz
I InstallMajorUPG URL2=|http://127.0.0.3:8080/upd/linuxUpgradePack64.tar.gz
I InstallMajorUPG path=|/var/tmp/
I InstallMajorUPG|Space availabe
I CheckFileConsistency|end.
I InstallMajorUPG|Before Fork is called!!!!!.
I InstallMajorUPG|Inside Child !!!!!.
I Extract status:|Success
I InstallMajorUPG|Outside Child !!!!!.
I !!!!!UnInstall in progress|executing !!!!!.
I scheduling cron job for installing major upgrade build|Exit
I main|Exit)")));
    // Support engineers search the log by module: the readers, the
    // verification, the cron probes, the flow and its child name xedasvpk.cpp.
    std::set<std::string> sources;
    for (const std::string& line : tk::Trace(tk::kTraceLog, true))
        sources.insert(line.substr(2, line.find(' ', 2) - 2));
    EXPECT_EQ(sources, (std::set<std::string>{"kvinet.cpp", "kvinstaller.cpp", "xedabldn.cpp",
                                              "xedasvpk.cpp"}));
    EXPECT_EQ("", tk::MissingInOrder(tk::Trace(tk::kTraceLog, true),
                                     {"I xedasvpk.cpp CheckCronStatus|Entry",
                                      "I xedasvpk.cpp DownloadXEDASPServicePack|Entry",
                                      "I xedasvpk.cpp GetMinorUpgradeCAPackName|start.",
                                      "I xedasvpk.cpp InstallMajorUPG|Inside Child !!!!!."}));

    // What another user left under the build's usual name is never unpacked:
    // the second attempt unpacks the verified package again.
    Reset("2");
    Shims("exit 0");
    Publish(kBuild, "earlier");
    ASSERT_EQ(0,
              tk::Run({"/bin/cp", tk::Www() + "/earlier/linuxUpgradePack64.tar.gz", "/var/tmp/"}));
    ASSERT_EQ(0, chown("/var/tmp/linuxUpgradePack64.tar.gz", 65534, 65534));
    Publish(Garbage("ca", "other.tgz", "6000"));
    ExpectClean(RunSwitch("-CAUPG"));
    EXPECT_EQ("failed: extraction", tk::Report());
    EXPECT_EQ("", tk::MissingInOrder(tk::Trace(), {"E Extract status:|failed", "E Extract|Exit",
                                                   "E extraction is failed with error %s|*"}));
    EXPECT_EQ(NewCrontabLines(), Strings{});
    EXPECT_EQ(Left(), Strings{"linuxUpgradePack64.tar.gz"});
}

// cron is tried before crond, and started only when it does not run; with
// neither, nothing is downloaded. Then every later failure, with what it leaves.
TEST_F(UpgradeTest, MajorFailureTable)
{
    const Strings calls = {"pidof -x cron", "service cron start", "pidof -x crond",
                           "service crond start"};
    const Strings built = {"ClientBuild", "linuxUpgradePack64.tar.gz", "linuxupgrade.ini"};
    // clang-format off
    const struct { std::string verdict, pidof, service; Strings update, trace, left; size_t nRequests;
                   std::string wrap; size_t nCalls = 1; } cases[] = {
        {"scheduled", "[ \"$2\" = cron ]", "exit 1", kBuild, {"I CheckCronStatus|cron already running"}, built, 2},
        {"scheduled", "[ \"$2\" = crond ]", "exit 1", kBuild, {"E CheckCronStatus|failed to start cron", "I CheckCronStatus|crond already running"},
         built, 2, "", 3},
        {"scheduled", "exit 1", "[ \"$1\" = crond ]", kBuild, {"E CheckCronStatus|failed to start cron", "I CheckCronStatus|crond started successfully"},
         built, 2, "", 4},
        {"failed: cron service", "exit 1", "exit 1", kBuild, {"E CheckCronStatus|failed to start cron", "E CheckCronStatus|failed to start crond ",
         "I CheckCronStatus|Exit", "E InstallMajorUPG|cron service is not running"}, {}, 0, "", 4},
        {"failed: unreadable manifest (file_64)", "exit 0", "", Update("ca", "p", {}, {"--garbage-manifest", "1K"}), {"E InstallMajorUPG|GetMinorUpgradeCAPackInfo. failed"}, {}, 1},
        {"failed: verification (length)", "exit 0", "", Update("ca", "linuxUpgradePack64.tar.gz", {}, {"--set", "filelength_64=99999"}),
         {"E CheckFileConsistency|File length mismatch In INI (99999), From file (*"}, {}, 2},
        {"failed: extraction", "exit 0", "", Garbage("ca", "linuxUpgradePack64.tar.gz", "6000"),
         {"E Extract status:|failed", "E Extract|Exit", "E extraction is failed with error %s|*"}, {}, 2},
        {"failed: script missing (ClientBuild)", "exit 0", "", Update("ca", "linuxUpgradePack64.tar.gz", {"Other/x"}), {"E  ClientBuild dir is not downloaded|Exit"},
         {"Other", "linuxUpgradePack64.tar.gz", "linuxupgrade.ini"}, 2},
        {"failed: free space (too little space)", "exit 0", "", Update("ca", "p", {}, {"--set", "filelength_64=2097152"}), {"E InstallMajorUPG|Space not availabe"}, {}, 1,
         kSmallTmp},
        {"failed: free space (no /var/tmp/)", "exit 0", "", kBuild, {"E InstallMajorUPG|GetDiskFreeSpace failed."}, {}, 1, kNoTmp},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.trace.back());
        Reset("2");
        Shims(c.pidof, c.service);
        ASSERT_TRUE(c.update.empty() || tk::Publish(c.update, tk::Www() + "/upd"));
        ExpectClean(RunSwitch("-CAUPG", c.wrap));
        EXPECT_EQ(c.verdict, tk::Report());
        const Strings trace = tk::Trace();
        const bool bInstalls = c.left == built;
        EXPECT_EQ(tk::Lines(tk::Read(kWork + "calls")),
                  Strings(calls.begin(), calls.begin() + c.nCalls));
        EXPECT_EQ("", tk::MissingInOrder(trace, c.trace));
        EXPECT_EQ("", tk::MissingInOrder(trace,
                                         {bInstalls ? "I main|Exit"
                                                    : "I main|Major Upgrade installation failed"}));
        EXPECT_EQ(0u, tk::Count(trace, "I Extract status:|extracting linuxUpgadePack"));
        EXPECT_EQ(c.left, Left());
        EXPECT_EQ(NewCrontabLines(), bInstalls ? Strings{kBuildLine} : Strings{});
        EXPECT_EQ(c.nRequests, tk::Requests(c.nRequests).size());
    }
}
} // namespace
} // namespace sys
