// The update flows in process against nginx on loopback, for what a run of
// the binary cannot show: the codes and buffers handed back to the caller, a
// failing free-space query, the exact buffer limits, refused names in every
// flow, and the child-process helper.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "installer_test_util.h"
#include "netfixtures.h"
#include "xedasvpk.h"

using insttest::Error;
using insttest::Info;
using insttest::ReadTrace;

namespace
{
const char kModule[] = "/tmp/module/";
const std::string kBase1 = "http://127.0.0.1:8080";
const std::string kBase2 = "http://127.0.0.3:8080";
const char kUninstallerLine[] =
    "*/3 * * * * root /var/tmp/installation/kvuninstall_clagnt 1 NULL >> /dev/null 2>&1\n";

typedef BOOLEAN (*FLOW_FN)(char*, char*, char*, int, DWORD*);

// What a failure leaves in place. The minor flow's own disk query is never
// reached: its first stage queries the disk before it.
struct KEPT
{
    bool bApplies, bManifest, bPackage;
};

struct FLOW_CASE
{
    const char* pcszLabel;
    FLOW_FN pfnFlow;
    const char* pcszKind; // make_update.py --kind
    const char* pcszManifest;
    const char* pcszMember; // what the flow looks for after extraction
    bool bAgentStageFirst;
    bool bManifestInModuleBuffer; // else the caller's module path stays as it was
    KEPT diskQuery, noSpace;
};

const FLOW_CASE g_Flows[] = {
    {"InstallXEDASP", InstallXEDASP, "sp", "capatch.ini", "kvlinxsp/kvacascr", false, true, {true, false, false},
     {true, true, false}},
    {"DownloadAndInstallCA", DownloadAndInstallCA, "ca", "linuxupgrade.ini", "installation/kvuninstall_clagnt",
     false, false, {true, true, false}, {true, true, false}},
    {"InstallMinUPG", InstallMinUPG, "delta", "minupg.ini", "kvlinxsp/kvacascr", true, true, {false, false, false},
     {true, true, false}},
    {"InstallMajorUPG", InstallMajorUPG, "ca", "linuxupgrade.ini", "ClientBuild/x86_64/aclinux/kvinstall", false,
     false, {true, false, false}, {true, false, false}},
};

int Shell(const std::string& strCommand) { return std::system(strCommand.c_str()); }

// make_update.py publishes a package and its manifest in nginx's root.
bool Publish(const std::string& strKind, const std::string& strName, const std::string& strOptions)
{
    return Shell("/usr/bin/python3 " + netfx::SourceDir() + "/tests/fixtures/make_update.py update " +
                 netfx::Www() + " --kind " + strKind + " --name " + strName + " " + strOptions) == 0;
}

std::string Script(const std::string& strMember) { return "--script '" + strMember + "=#!/bin/sh' "; }

class FlowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(netfx::StartNginx());
        ASSERT_TRUE(insttest::ShimTool("pidof", "exit 0")); // the major flow finds cron running
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
        m_dwError = 0;
    }

    // The flow's package is always pkg.tar.gz; the minor flow's first stage gets its own.
    static void PublishFlow(const FLOW_CASE& flow, const std::string& strOptions)
    {
        ASSERT_TRUE(!flow.bAgentStageFirst ||
                    Publish("ca", "ca.tar.gz", Script("installation/kvuninstall_clagnt")));
        ASSERT_TRUE(Publish(flow.pcszKind, "pkg.tar.gz", Script(flow.pcszMember) + strOptions));
    }

    // Runs the flow with 260-byte buffers, as main hands them over.
    BOOLEAN Run(const FLOW_CASE& flow, const std::string& strBase1 = kBase1,
                const std::string& strModule = kModule)
    {
        std::strncpy(m_szURL1, strBase1.c_str(), MAX_PATH - 1);
        std::strncpy(m_szURL2, kBase2.c_str(), MAX_PATH - 1);
        std::strncpy(m_szModule, strModule.c_str(), MAX_PATH - 1);
        return flow.pfnFlow(m_szURL1, m_szURL2, m_szModule, flow.pfnFlow == InstallXEDASP ? 1 : 2, &m_dwError);
    }

    std::string AppendedCrontab() const { return insttest::ReadFile("/etc/crontab").substr(m_strCrontab.size()); }

    std::string m_strCrontab;
    char m_szURL1[MAX_PATH] = {};
    char m_szURL2[MAX_PATH] = {};
    char m_szModule[MAX_PATH] = {};
    DWORD m_dwError = 0;
};

TEST_F(FlowTest, FreeSpaceFailuresLeaveWhatTheirFlowPrescribesAndExtendedBuffers)
{
    const struct
    {
        const char* pcszName;
        KEPT FLOW_CASE::*pKept;
        const char* pcszOptions;
        bool bFreshVar; // a /var without tmp/ makes the query itself fail
    } failures[] = {{"disk query", &FLOW_CASE::diskQuery, "", true},
                    {"no space", &FLOW_CASE::noSpace, "--set filelength_64=4000000000", false}};
    for (const FLOW_CASE& flow : g_Flows)
    {
        for (const auto& failure : failures)
        {
            const KEPT& kept = flow.*failure.pKept;
            if (!kept.bApplies)
                continue;
            SCOPED_TRACE(std::string(flow.pcszLabel) + ", " + failure.pcszName);
            Reset();
            PublishFlow(flow, failure.pcszOptions);
            if (failure.bFreshVar)
            {
                ASSERT_EQ(0, mount("tmpfs", "/var", "tmpfs", 0, "size=1m"));
                ASSERT_EQ(0, mkdir("/var/log", 0755));
            }
            EXPECT_EQ(FALSE, Run(flow));
            ASSERT_TRUE(!failure.bFreshVar || umount("/var") == 0);
            EXPECT_EQ(kept.bManifest, insttest::Exists(std::string(kModule) + flow.pcszManifest));
            EXPECT_EQ(kept.bPackage, insttest::Exists("/var/tmp/pkg.tar.gz"));
            EXPECT_EQ(flow.bAgentStageFirst ? kUninstallerLine : "", AppendedCrontab());
            EXPECT_EQ(kBase1 + "/" + flow.pcszManifest, m_szURL1);
            EXPECT_EQ(kBase2 + "/" + flow.pcszManifest, m_szURL2);
            EXPECT_EQ(kModule + std::string(flow.bManifestInModuleBuffer ? flow.pcszManifest : ""), m_szModule);
            EXPECT_EQ(0u, m_dwError); // the disk query's codes stay inside the flow
        }
    }
}

TEST_F(FlowTest, NamesThatLeaveTheWorkDirectoryOrItsBuffersAreRefusedBeforeTheDownload)
{
    const std::string strLongName = std::string(240, 'n') + ".tgz";
    const struct
    {
        std::string strName, strTrace;
    } cases[] = {
        {"../escape.tar.gz", "package name refused: ../escape.tar.gz"},
        {strLongName, "package URL longer than 259 characters"},
    };
    for (const FLOW_CASE& flow : g_Flows)
    {
        for (const auto& c : cases)
        {
            SCOPED_TRACE(std::string(flow.pcszLabel) + ", " + c.strName);
            Reset();
            PublishFlow(flow, "--set 'file_64=" + c.strName + "'");
            EXPECT_EQ(FALSE, Run(flow));
            EXPECT_EQ(Error(flow.pcszLabel, c.strTrace), ReadTrace().back());
            EXPECT_FALSE(insttest::Exists(std::string(kModule) + flow.pcszManifest));
            EXPECT_FALSE(insttest::Exists("/var/escape.tar.gz"));
        }
    }
}

// 248 characters: with "/capatch.ini" the manifest URL would take 260 bytes.
TEST_F(FlowTest, TextsOneCharacterTooLongForTheirBuffersFailBeforeAnyDownload)
{
    PublishFlow(g_Flows[0], "");
    const struct
    {
        std::string strBase1, strModule, strTrace;
    } cases[] = {
        {kBase1 + "/" + std::string(248 - kBase1.size() - 1, 'u'), kModule,
         "manifest URL longer than 259 characters"},
        {kBase1, "/tmp/" + std::string(243, 'm') + "/", "manifest path longer than 259 characters"},
    };
    for (const auto& c : cases)
    {
        insttest::ClearTrace();
        EXPECT_EQ(FALSE, Run(g_Flows[0], c.strBase1, c.strModule));
        EXPECT_EQ(Error("InstallXEDASP", c.strTrace), ReadTrace().back());
        EXPECT_EQ(0u, m_dwError);
        EXPECT_TRUE(netfx::AccessLog().empty());
    }
}

TEST_F(FlowTest, VerificationCodeReachesTheCaller)
{
    PublishFlow(g_Flows[0], "--set checksum1_64=1");
    EXPECT_EQ(FALSE, Run(g_Flows[0]));
    EXPECT_EQ(605u, m_dwError);
}

TEST_F(FlowTest, MajorUpgradeFailingBothExtractionsStoresErrnoAndTracesItsText)
{
    ASSERT_TRUE(Publish("ca", "pkg.tar.gz", "--garbage 2K"));
    m_dwError = 12345;
    EXPECT_EQ(FALSE, Run(g_Flows[3]));
    EXPECT_NE(12345u, m_dwError);
    EXPECT_EQ(Error("extraction is failed with error %s", std::strerror(static_cast<int>(m_dwError))),
              ReadTrace().back());
}

TEST_F(FlowTest, MajorUpgradeWithoutCronStores608WithTheManifestUrlsBuilt)
{
    ASSERT_TRUE(insttest::ShimTool("pidof", "exit 1"));
    ASSERT_TRUE(insttest::ShimTool("service", "exit 1"));
    EXPECT_EQ(FALSE, Run(g_Flows[3]));
    ASSERT_TRUE(insttest::ShimTool("pidof", "exit 0"));
    ASSERT_EQ(0, unlink("/tmp/shims/service"));
    EXPECT_EQ(608u, m_dwError);
    EXPECT_EQ(kBase1 + "/linuxupgrade.ini", m_szURL1);
    EXPECT_EQ(kBase2 + "/linuxupgrade.ini", m_szURL2);
    EXPECT_STREQ(kModule, m_szModule);
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
    const int iFalse = RunChildAndWait(szFalse, argvFalse, nullptr);
    EXPECT_TRUE(WIFEXITED(iFalse) && WEXITSTATUS(iFalse) == 1);
    const int iMissing = RunChildAndWait(szMissing, argvMissing, nullptr);
    EXPECT_TRUE(WIFEXITED(iMissing) && WEXITSTATUS(iMissing) == 127);
    EXPECT_EQ((std::vector<insttest::TraceLine>{Info("child label", "Inside Child !!!!!.")}), ReadTrace());
}
} // namespace
