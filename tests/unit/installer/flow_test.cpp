// The four update flows called in process against nginx on loopback: what
// each failure leaves behind (their tables differ on purpose), the crontab
// line each success appends, refusals of names and of texts too long for
// their buffers, and the major flow's second extraction attempt.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "installer_test_util.h"
#include "netfixtures.h"
#include "xedasvpk.h"

using insttest::Error;
using insttest::Info;
using insttest::ReadTrace;
using insttest::TraceLine;

namespace
{
const char kModule[] = "/tmp/module/";
const std::string kBase1 = "http://127.0.0.1:8080";
const std::string kBase2 = "http://127.0.0.3:8080";

typedef BOOLEAN (*FLOW_FN)(char*, char*, char*, int, DWORD*);

// What a failure leaves in place: the manifest, the package. A case that
// cannot be staged for a flow is marked not applicable.
struct KEPT
{
    bool bApplies;
    bool bManifest;
    bool bPackage;
};
const KEPT kNotApplicable = {false, false, false};

struct FLOW_CASE
{
    const char* pcszName;
    const char* pcszLabel;
    FLOW_FN pfnFlow;
    int iKind;
    const char* pcszManifestKind; // make_update.py --kind
    const char* pcszManifest;
    const char* pcszPackage;
    const char* pcszMember; // what the flow looks for after extraction
    const char* pcszCronLine; // appended on success; "" for none, "SP" for the timed line
    bool bClientAgentStageFirst;
    KEPT reader, diskQuery, noSpace, verify, extract, missing;
};

const char kUninstallerLine[] =
    "*/3 * * * * root /var/tmp/installation/kvuninstall_clagnt 1 NULL >> /dev/null 2>&1";
const char kBuildLine[] =
    "*/3 * * * * root /var/tmp/ClientBuild/x86_64/aclinux/kvinstall 1 NULL >> /dev/null 2>&1";
const char kRollbackLine[] =
    "*/1 * * * * root /var/tmp/installation/rollbackCA.sh 1 NULL >> /dev/null 2>&1";

const FLOW_CASE g_Flows[] = {
    {"ServicePack", "InstallXEDASP", InstallXEDASP, 1, "sp", "capatch.ini", "sp.tar.gz", "kvlinxsp/kvacascr", "SP",
     false, {true, false, false}, {true, false, false}, {true, true, false}, {true, false, false},
     {true, false, false}, {true, true, true}},
    {"ClientAgent", "DownloadAndInstallCA", DownloadAndInstallCA, 2, "ca", "linuxupgrade.ini", "ca.tar.gz",
     "installation/kvuninstall_clagnt", kUninstallerLine, false, {true, false, false},
     {true, true, false}, {true, true, false}, {true, false, true}, {true, false, false},
     {true, true, true}},
    // Its first stage queries the disk too, so a failing query never reaches the delta stage.
    {"MinorUpgrade", "InstallMinUPG", InstallMinUPG, 2, "delta", "minupg.ini", "delta.tar.gz", "kvlinxsp/kvacascr",
     "", true, {true, false, false}, kNotApplicable, {true, true, false}, {true, false, true},
     {true, false, false}, {true, true, true}},
    {"MajorUpgrade", "InstallMajorUPG", InstallMajorUPG, 2, "ca", "linuxupgrade.ini", "major.tar.gz",
     "ClientBuild/x86_64/aclinux/kvinstall", kBuildLine, false, {true, false, false},
     {true, false, false}, {true, false, false}, {true, false, false}, {true, false, false},
     {true, true, true}},
};

int Shell(const std::string& strCommand) { return std::system(strCommand.c_str()); }

// make_update.py publishes a package and its manifest in nginx's root.
bool Publish(const std::string& strKind, const std::string& strName, const std::string& strOptions)
{
    return Shell("/usr/bin/python3 " + insttest::SourceDir() + "/tests/fixtures/make_update.py update " +
                 netfx::Www() + " --kind " + strKind + " --name '" + strName + "' " + strOptions) == 0;
}

std::string Member(const std::string& strPath) { return "--script '" + strPath + "=#!/bin/sh'"; }

int RequestsFor(const std::string& strPath)
{
    int iCount = 0;
    for (const std::string& strLine : netfx::AccessLog())
        if (strLine.find("\"GET /" + strPath + " ") != std::string::npos)
            ++iCount;
    return iCount;
}

class FlowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(netfx::StartNginx());
        // The major flow asks for a running cron first: a pidof that finds it.
        ASSERT_TRUE(insttest::ShimTool("pidof", 0));
    }

    void SetUp() override { Reset(); }

    // A clean machine: nothing published, downloaded or archived yet.
    void Reset()
    {
        ASSERT_EQ(0, Shell("rm -rf /var/tmp/* " + netfx::Www() + "* /tmp/module "
                           "/usr/lib/Zelvano/ClientAgentOld.tar.gz && mkdir -p /tmp/module "
                           "/usr/lib/Zelvano/ClientAgent && : > " + netfx::AccessLogPath()));
        m_strCrontab = insttest::ReadFile("/etc/crontab");
        insttest::ClearTrace();
    }

    // Runs the flow with the caller's 260-byte buffers, as main hands them over.
    BOOLEAN Run(const FLOW_CASE& flow, const std::string& strBase1 = kBase1,
                const std::string& strBase2 = kBase2, const std::string& strModule = kModule)
    {
        std::strncpy(m_szURL1, strBase1.c_str(), MAX_PATH - 1);
        std::strncpy(m_szURL2, strBase2.c_str(), MAX_PATH - 1);
        std::strncpy(m_szModule, strModule.c_str(), MAX_PATH - 1);
        return flow.pfnFlow(m_szURL1, m_szURL2, m_szModule, flow.iKind, &m_dwError);
    }

    // The first stage of the minor flow, published so that it succeeds.
    static void PublishClientAgentStage()
    {
        ASSERT_TRUE(Publish("ca", "ca.tar.gz", Member("installation/kvuninstall_clagnt")));
    }

    static void PublishFlow(const FLOW_CASE& flow, const std::string& strOptions)
    {
        if (flow.bClientAgentStageFirst)
            PublishClientAgentStage();
        ASSERT_TRUE(Publish(flow.pcszManifestKind, flow.pcszPackage, strOptions));
    }

    std::string AppendedCrontab() const
    {
        return insttest::ReadFile("/etc/crontab").substr(m_strCrontab.size());
    }

    std::string m_strCrontab;
    char m_szURL1[MAX_PATH] = {};
    char m_szURL2[MAX_PATH] = {};
    char m_szModule[MAX_PATH] = {};
    DWORD m_dwError = 0;
};

std::string ServicePackLine(int iHour, int iMinute)
{
    int iRunMinute = 0;
    int iRunHour = 0;
    ComputeServicePackRunTime(iHour, iMinute, &iRunMinute, &iRunHour);
    return std::to_string(iRunMinute) + " " + std::to_string(iRunHour) +
           " * * * root /var/tmp/kvlinxsp/kvacascr 1 NULL >> /dev/null 2>&1\n";
}

std::tm LocalNow()
{
    const std::time_t tNow = std::time(nullptr);
    std::tm tmNow{};
    localtime_r(&tNow, &tmNow);
    return tmNow;
}

TEST_F(FlowTest, EachFlowSucceedsAndAppendsItsLine)
{
    for (const FLOW_CASE& flow : g_Flows)
    {
        SCOPED_TRACE(flow.pcszName);
        Reset();
        PublishFlow(flow, Member(flow.pcszMember));
        const std::tm tmBefore = LocalNow();
        EXPECT_EQ(TRUE, Run(flow));
        const std::tm tmAfter = LocalNow();
        EXPECT_TRUE(insttest::Exists(std::string(kModule) + flow.pcszManifest));
        EXPECT_TRUE(insttest::Exists(std::string("/var/tmp/") + flow.pcszPackage));
        EXPECT_TRUE(insttest::Exists(std::string("/var/tmp/") + flow.pcszMember));
        const std::string strAppended = AppendedCrontab();
        if (std::string(flow.pcszCronLine) == "SP")
            EXPECT_TRUE(strAppended == ServicePackLine(tmBefore.tm_hour, tmBefore.tm_min) ||
                        strAppended == ServicePackLine(tmAfter.tm_hour, tmAfter.tm_min))
                << strAppended;
        else if (flow.bClientAgentStageFirst)
            EXPECT_EQ(std::string(kUninstallerLine) + "\n", strAppended); // the first stage's only
        else
            EXPECT_EQ(std::string(flow.pcszCronLine) + "\n", strAppended);
    }
}

// One kind of failure: how to stage it for a flow and undo what staging did.
struct FAILURE
{
    const char* pcszName;
    KEPT FLOW_CASE::*pKept;
    std::function<void(const FLOW_CASE&)> stage;
    std::function<void()> unstage;
};

TEST_F(FlowTest, EachFailureLeavesWhatItsFlowPrescribes)
{
    const std::string strVar = "/var";
    const FAILURE failures[] = {
        {"reader", &FLOW_CASE::reader,
         [](const FLOW_CASE& f) { PublishFlow(f, Member(f.pcszMember) + " --drop checksum1_64"); },
         [] {}},
        {"disk query", &FLOW_CASE::diskQuery,
         [](const FLOW_CASE& f) {
             PublishFlow(f, Member(f.pcszMember));
             // A fresh /var without tmp/ makes the free-space query fail.
             ASSERT_EQ(0, mount("tmpfs", "/var", "tmpfs", 0, "size=1m"));
             ASSERT_EQ(0, mkdir("/var/log", 0755));
         },
         [] { ASSERT_EQ(0, umount("/var")); }},
        {"no space", &FLOW_CASE::noSpace,
         [](const FLOW_CASE& f) {
             PublishFlow(f, Member(f.pcszMember) + " --set filelength_64=4000000000");
         },
         [] {}},
        {"verify", &FLOW_CASE::verify,
         [](const FLOW_CASE& f) { PublishFlow(f, Member(f.pcszMember) + " --set checksum1_64=1"); },
         [] {}},
        {"extract", &FLOW_CASE::extract,
         [](const FLOW_CASE& f) { PublishFlow(f, "--garbage 3K"); }, [] {}},
        {"missing", &FLOW_CASE::missing,
         [](const FLOW_CASE& f) { PublishFlow(f, Member("other/file")); }, [] {}},
    };
    for (const FLOW_CASE& flow : g_Flows)
    {
        for (const FAILURE& failure : failures)
        {
            const KEPT& kept = flow.*failure.pKept;
            if (!kept.bApplies)
                continue;
            SCOPED_TRACE(std::string(flow.pcszName) + ", " + failure.pcszName);
            Reset();
            failure.stage(flow);
            EXPECT_EQ(FALSE, Run(flow));
            failure.unstage();
            EXPECT_EQ(kept.bManifest, insttest::Exists(std::string(kModule) + flow.pcszManifest));
            EXPECT_EQ(kept.bPackage, insttest::Exists(std::string("/var/tmp/") + flow.pcszPackage));
            const std::string strAppended = AppendedCrontab();
            EXPECT_EQ(flow.bClientAgentStageFirst ? std::string(kUninstallerLine) + "\n" : "",
                      strAppended);
        }
    }
}

TEST_F(FlowTest, VerificationCodeReachesTheCaller)
{
    const FLOW_CASE& flow = g_Flows[0];
    PublishFlow(flow, Member(flow.pcszMember) + " --set checksum1_64=1");
    EXPECT_EQ(FALSE, Run(flow));
    EXPECT_EQ(605u, m_dwError);
}

TEST_F(FlowTest, TextsTooLongForTheirBuffersFailBeforeAnyDownload)
{
    const FLOW_CASE& flow = g_Flows[0];
    PublishFlow(flow, Member(flow.pcszMember));
    // 248 characters: with "/capatch.ini" the manifest URL would take 260.
    const std::string strLongBase = kBase1 + "/" + std::string(248 - kBase1.size() - 1, 'u');
    const std::string strLongModule = "/tmp/" + std::string(244, 'm') + "/";
    const struct
    {
        std::string strBase1, strModule, strTrace;
    } cases[] = {
        {strLongBase, kModule, "manifest URL longer than 259 characters"},
        {kBase1, strLongModule, "manifest path longer than 259 characters"},
    };
    for (const auto& c : cases)
    {
        insttest::ClearTrace();
        m_dwError = 0;
        EXPECT_EQ(FALSE, Run(flow, c.strBase1, kBase2, c.strModule));
        EXPECT_EQ(Error("InstallXEDASP", c.strTrace), ReadTrace().back());
        EXPECT_EQ(0u, m_dwError);
        EXPECT_TRUE(netfx::AccessLog().empty());
    }
}

TEST_F(FlowTest, PackageNamesThatLeaveTheWorkDirectoryAreRefused)
{
    const std::string strLongName = std::string(240, 'n') + ".tgz";
    const struct
    {
        std::string strName, strTrace;
    } cases[] = {
        {"../escape.tar.gz", "package name refused: ../escape.tar.gz"},
        {"sub/pkg.tar.gz", "package name refused: sub/pkg.tar.gz"},
        {"..", "package name refused: .."},
        {".", "package name refused: ."},
        {strLongName, "package URL longer than 259 characters"},
    };
    for (const FLOW_CASE& flow : g_Flows)
    {
        for (const auto& c : cases)
        {
            SCOPED_TRACE(std::string(flow.pcszName) + ", " + c.strName);
            Reset();
            PublishFlow(flow, Member(flow.pcszMember) + " --set 'file_64=" + c.strName + "'");
            EXPECT_EQ(FALSE, Run(flow));
            EXPECT_EQ(Error(flow.pcszLabel, c.strTrace), ReadTrace().back());
            EXPECT_FALSE(insttest::Exists(std::string(kModule) + flow.pcszManifest));
            EXPECT_EQ(0, RequestsFor(flow.pcszPackage));
            EXPECT_FALSE(insttest::Exists("/var/escape.tar.gz"));
        }
    }
}

TEST_F(FlowTest, MajorUpgradeRetriesExtractionThroughTheShellWithTheFixedName)
{
    const FLOW_CASE& flow = g_Flows[3];
    PublishFlow(flow, "--garbage 2K");
    ASSERT_EQ(0, Shell("/usr/bin/python3 " + insttest::SourceDir() +
                       "/tests/fixtures/make_update.py package /var/tmp/linuxUpgradePack64.tar.gz " +
                       Member(flow.pcszMember)));
    EXPECT_EQ(TRUE, Run(flow));
    EXPECT_TRUE(insttest::HasSequence(
        ReadTrace(), {Error("Extract status:", "failed"), Error("Extract", "Exit"),
                      Info("Extract status:", "extracting linuxUpgadePack"),
                      Info("Extract status:", "Success"), Info("InstallMajorUPG", "Outside Child !!!!!."),
                      Info("!!!!!UnInstall in progress", "executing !!!!!.")}));
    EXPECT_EQ(std::string(kBuildLine) + "\n", AppendedCrontab());
}

TEST_F(FlowTest, MajorUpgradeFailingBothExtractionsTracesTheErrorTextAndStoresErrno)
{
    const FLOW_CASE& flow = g_Flows[3];
    PublishFlow(flow, "--garbage 2K");
    m_dwError = 12345;
    EXPECT_EQ(FALSE, Run(flow));
    EXPECT_NE(12345u, m_dwError);
    EXPECT_EQ(Error("extraction is failed with error %s", std::strerror(static_cast<int>(m_dwError))),
              ReadTrace().back());
}

TEST_F(FlowTest, MajorUpgradeWithoutCronFailsWith608BeforeAnyDownload)
{
    const FLOW_CASE& flow = g_Flows[3];
    PublishFlow(flow, Member(flow.pcszMember));
    ASSERT_TRUE(insttest::ShimTool("pidof", 1));
    ASSERT_TRUE(insttest::ShimTool("service", 1));
    EXPECT_EQ(FALSE, Run(flow));
    ASSERT_TRUE(insttest::ShimTool("pidof", 0));
    ASSERT_EQ(0, unlink("/tmp/shims/service"));
    EXPECT_EQ(608u, m_dwError);
    EXPECT_EQ(Error("InstallMajorUPG", "cron service is not running"), ReadTrace().back());
    EXPECT_TRUE(netfx::AccessLog().empty());
    EXPECT_EQ(kBase1 + "/linuxupgrade.ini", m_szURL1);
    EXPECT_STREQ(kModule, m_szModule);
}

TEST_F(FlowTest, MinorUpgradeSchedulesRollbackOnlyWhenAnArchiveExists)
{
    const FLOW_CASE& flow = g_Flows[2];
    // No agent package published: the first stage fails before its archive.
    EXPECT_EQ(FALSE, Run(flow));
    EXPECT_EQ(Error("Old  CA Backup is not present", "Exit"), ReadTrace().back());
    EXPECT_EQ("", AppendedCrontab());

    // An agent package without the uninstaller: the archive is taken first.
    Reset();
    ASSERT_TRUE(Publish("ca", "ca.tar.gz", Member("installation/other")));
    EXPECT_EQ(FALSE, Run(flow));
    EXPECT_TRUE(insttest::Exists("/usr/lib/Zelvano/ClientAgentOld.tar.gz"));
    EXPECT_TRUE(insttest::HasSequence(
        ReadTrace(), {Error(" CA package dir not downloaded", "Exit"),
                      Error("InstallMinUPG", "DownloadAndInstallCA failed"),
                      Info("scheduling cron job for rollback of Client agent", "Exit")}));
    EXPECT_EQ(std::string(kRollbackLine) + "\n", AppendedCrontab());
    EXPECT_EQ(std::string(kModule), m_szModule); // the manifest name comes after the first stage
}

TEST_F(FlowTest, CallerBuffersEndWithTheManifestName)
{
    const FLOW_CASE& flow = g_Flows[0];
    PublishFlow(flow, Member(flow.pcszMember));
    ASSERT_EQ(TRUE, Run(flow));
    EXPECT_EQ(kBase1 + "/capatch.ini", m_szURL1);
    EXPECT_EQ(kBase2 + "/capatch.ini", m_szURL2);
    EXPECT_EQ(std::string(kModule) + "capatch.ini", m_szModule);
}

TEST(RunChildAndWait, ReturnsTheWaitStatusAndTracesFromTheChild)
{
    char szTrue[] = "/bin/true";
    char szFalse[] = "/bin/false";
    char szMissing[] = "/no/such/program";
    char* const argvTrue[] = {szTrue, nullptr};
    char* const argvFalse[] = {szFalse, nullptr};
    char* const argvMissing[] = {szMissing, nullptr};
    insttest::ClearTrace();
    EXPECT_EQ(0, RunChildAndWait(szTrue, argvTrue, "child label"));
    EXPECT_EQ((std::vector<TraceLine>{Info("child label", "Inside Child !!!!!.")}), ReadTrace());
    const int iFalse = RunChildAndWait(szFalse, argvFalse, nullptr);
    EXPECT_TRUE(WIFEXITED(iFalse) && WEXITSTATUS(iFalse) == 1);
    const int iMissing = RunChildAndWait(szMissing, argvMissing, nullptr);
    EXPECT_TRUE(WIFEXITED(iMissing) && WEXITSTATUS(iMissing) == 127);
    EXPECT_EQ(1u, ReadTrace().size());
}
} // namespace
