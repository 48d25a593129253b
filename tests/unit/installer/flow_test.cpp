// The update flows in process against nginx on loopback, for what a run of
// the binary cannot show: the codes and buffers handed back to the caller, a
// failing free-space query, the exact buffer limits, refused names in every
// flow, and the child-process helper.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>

#include <cstring>

#include "installer_test_util.h"
#include "xedasvpk.h"

using namespace insttest;

namespace
{
const char kModule[] = "/tmp/module/";
const std::string kBase1 = "http://127.0.0.1:8080", kBase2 = "http://127.0.0.3:8080";
const char kUninstallerLine[] =
    "*/3 * * * * root /var/tmp/installation/kvuninstall_clagnt 1 NULL >> /dev/null 2>&1\n";

struct FLOW_CASE
{
    const char* pcszLabel;
    BOOLEAN (*pfnFlow)(char*, char*, char*, int, DWORD*);
    const char *pcszKind, *pcszManifest; // make_update.py --kind, the manifest's name
    const char* pcszMember;              // what the flow looks for after extraction
    bool bAgentStageFirst;
    bool bManifestInModuleBuffer; // else the caller's module path stays as it was
};

const FLOW_CASE g_Flows[] = {
    {"InstallXEDASP", InstallXEDASP, "sp", "capatch.ini", "kvlinxsp/kvacascr", false, true},
    {"DownloadAndInstallCA", DownloadAndInstallCA, "ca", "linuxupgrade.ini", "installation/kvuninstall_clagnt",
     false, false},
    {"InstallMinUPG", InstallMinUPG, "delta", "minupg.ini", "kvlinxsp/kvacascr", true, true},
    {"InstallMajorUPG", InstallMajorUPG, "ca", "linuxupgrade.ini", "ClientBuild/x86_64/aclinux/kvinstall", false,
     false},
};

int Shell(const std::string& strCommand) { return std::system(strCommand.c_str()); }

// make_update.py publishes a package and its manifest in nginx's root.
bool Publish(const std::string& strKind, const std::string& strName, const std::string& strOptions)
{
    return Shell("/usr/bin/python3 " + netfx::SourceDir() + "/tests/fixtures/make_update.py update " + netfx::Www() +
                 " --kind " + strKind + " --name " + strName + " " + strOptions) == 0;
}

std::string Script(const std::string& strMember) { return "--script '" + strMember + "=#!/bin/sh' "; }

class FlowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(netfx::StartNginx());
        ASSERT_TRUE(ShimTool("service", "exit 1"));
    }

    void SetUp() override { Reset(); }

    // A clean machine where cron runs: nothing published, downloaded or archived yet.
    void Reset()
    {
        ASSERT_EQ(0, Shell("rm -rf /var/tmp/* " + netfx::Www() + "* /tmp/module "
                           "/usr/lib/Zelvano/ClientAgentOld.tar.gz && mkdir -p /tmp/module "
                           "/usr/lib/Zelvano/ClientAgent && : > " + netfx::AccessLogPath()));
        ASSERT_TRUE(ShimTool("pidof", "exit 0"));
        m_strCrontab = ReadFile("/etc/crontab");
        ClearTrace();
        m_dwError = 0;
    }

    // The flow's package is always pkg.tar.gz; the minor flow's first stage gets its own.
    static void PublishFlow(const FLOW_CASE& flow, const std::string& strOptions)
    {
        ASSERT_TRUE(!flow.bAgentStageFirst || Publish("ca", "ca.tar.gz", Script("installation/kvuninstall_clagnt")));
        ASSERT_TRUE(Publish(flow.pcszKind, "pkg.tar.gz", Script(flow.pcszMember) + strOptions));
    }

    // Runs the flow with 260-byte buffers, as main hands them over.
    BOOLEAN Run(const FLOW_CASE& flow, const std::string& strBase1 = kBase1, const std::string& strModule = kModule)
    {
        std::strncpy(m_szURL1, strBase1.c_str(), MAX_PATH - 1);
        std::strncpy(m_szURL2, kBase2.c_str(), MAX_PATH - 1);
        std::strncpy(m_szModule, strModule.c_str(), MAX_PATH - 1);
        return flow.pfnFlow(m_szURL1, m_szURL2, m_szModule, flow.pfnFlow == InstallXEDASP ? 1 : 2, &m_dwError);
    }

    // The flow leaves the manifest's URLs, and for some its path, in the caller's buffers.
    void ExpectBuffers(const FLOW_CASE& flow) const
    {
        EXPECT_EQ(kBase1 + "/" + flow.pcszManifest, m_szURL1);
        EXPECT_EQ(kBase2 + "/" + flow.pcszManifest, m_szURL2);
        EXPECT_EQ(kModule + std::string(flow.bManifestInModuleBuffer ? flow.pcszManifest : ""), m_szModule);
    }

    std::string m_strCrontab;
    char m_szURL1[MAX_PATH] = {}, m_szURL2[MAX_PATH] = {}, m_szModule[MAX_PATH] = {};
    DWORD m_dwError = 0;
};

// A failing disk query (a /var without tmp/) and a package larger than the
// free space, in the flows whose run of the binary cannot show them. The
// minor flow's own disk query is never reached: its first stage queries first.
TEST_F(FlowTest, FreeSpaceFailuresLeaveWhatTheirFlowPrescribesAndExtendedBuffers)
{
    const struct
    {
        const FLOW_CASE& flow;
        bool bDiskQuery, bManifestKept;
    } cases[] = {{g_Flows[0], true, false}, {g_Flows[1], true, true}, {g_Flows[3], true, false},
                 {g_Flows[2], false, true}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.flow.pcszLabel) + (c.bDiskQuery ? ", disk query" : ", no space"));
        Reset();
        PublishFlow(c.flow, c.bDiskQuery ? "" : "--set filelength_64=4000000000");
        ASSERT_TRUE(!c.bDiskQuery ||
                    (mount("tmpfs", "/var", "tmpfs", 0, "size=1m") == 0 && mkdir("/var/log", 0755) == 0));
        EXPECT_EQ(FALSE, Run(c.flow));
        ASSERT_TRUE(!c.bDiskQuery || umount("/var") == 0);
        EXPECT_EQ(c.bManifestKept, Exists(std::string(kModule) + c.flow.pcszManifest));
        EXPECT_FALSE(Exists("/var/tmp/pkg.tar.gz"));
        EXPECT_EQ(c.flow.bAgentStageFirst ? kUninstallerLine : "",
                  ReadFile("/etc/crontab").substr(m_strCrontab.size()));
        ExpectBuffers(c.flow);
        EXPECT_EQ(0u, m_dwError); // the disk query's codes stay inside the flow
    }
}

TEST_F(FlowTest, NamesThatLeaveTheWorkDirectoryOrItsBuffersAreRefusedBeforeTheDownload)
{
    const std::pair<std::string, std::string> cases[] = {
        {"../escape.tar.gz", "package name refused: ../escape.tar.gz"},
        {std::string(240, 'n') + ".tgz", "package URL longer than 259 characters"},
    };
    for (const FLOW_CASE& flow : g_Flows)
        for (const auto& [strName, strTrace] : cases)
        {
            SCOPED_TRACE(std::string(flow.pcszLabel) + ", " + strName);
            Reset();
            PublishFlow(flow, "--set 'file_64=" + strName + "'");
            EXPECT_EQ(FALSE, Run(flow));
            EXPECT_EQ(Error(flow.pcszLabel, strTrace), LastTrace());
            EXPECT_FALSE(Exists(std::string(kModule) + flow.pcszManifest));
            EXPECT_FALSE(Exists("/var/escape.tar.gz"));
        }
}

// 248 characters: with "/capatch.ini" the manifest URL would take 260 bytes.
TEST_F(FlowTest, TextsOneCharacterTooLongForTheirBuffersFailBeforeAnyDownload)
{
    PublishFlow(g_Flows[0], "");
    const std::string cases[][3] = {
        {kBase1 + "/" + std::string(248 - kBase1.size() - 1, 'u'), kModule, "manifest URL longer than 259 characters"},
        {kBase1, "/tmp/" + std::string(243, 'm') + "/", "manifest path longer than 259 characters"},
    };
    for (const auto& c : cases)
    {
        ClearTrace();
        EXPECT_EQ(FALSE, Run(g_Flows[0], c[0], c[1]));
        EXPECT_EQ(Error("InstallXEDASP", c[2]), LastTrace());
        EXPECT_EQ(0u, m_dwError);
        EXPECT_TRUE(netfx::AccessLog().empty());
    }
}

TEST_F(FlowTest, FailureCodesReachTheCaller)
{
    const DWORD kErrno = 12345; // the code is errno, whatever its value, and its text is traced
    const struct
    {
        int iFlow;
        const char *pcszOptions, *pcszPidof;
        DWORD dwCode;
    } cases[] = {
        {0, "--set checksum1_64=1", "exit 0", 605},
        {3, "", "exit 1", 608},                  // no cron at all
        {3, "--garbage 2K", "exit 0", kErrno}, // both extractions fail
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.dwCode);
        Reset();
        PublishFlow(g_Flows[c.iFlow], c.pcszOptions);
        ASSERT_TRUE(ShimTool("pidof", c.pcszPidof));
        m_dwError = kErrno;
        EXPECT_EQ(FALSE, Run(g_Flows[c.iFlow]));
        ExpectBuffers(g_Flows[c.iFlow]);
        EXPECT_TRUE(c.dwCode == kErrno ? m_dwError != kErrno : m_dwError == c.dwCode) << m_dwError;
        if (c.dwCode == kErrno)
        {
            EXPECT_EQ(Error("extraction is failed with error %s", std::strerror(static_cast<int>(m_dwError))),
                      LastTrace());
        }
    }
}

TEST(RunChildAndWait, ReturnsTheWaitStatusAndTracesFromTheChild)
{
    const auto run = [](std::string strProgram, const char* pcszLabel) {
        char* const argv[] = {&strProgram[0], nullptr};
        return RunChildAndWait(strProgram.c_str(), argv, pcszLabel);
    };
    ClearTrace();
    EXPECT_EQ(0, run("/bin/true", "child label"));
    const int iFalse = run("/bin/false", nullptr), iMissing = run("/no/such/program", nullptr);
    EXPECT_TRUE(WIFEXITED(iFalse) && WEXITSTATUS(iFalse) == 1);
    EXPECT_TRUE(WIFEXITED(iMissing) && WEXITSTATUS(iMissing) == 127);
    EXPECT_EQ((std::vector<TraceLine>{Info("child label", "Inside Child !!!!!.")}), ReadTrace());
}
} // namespace
