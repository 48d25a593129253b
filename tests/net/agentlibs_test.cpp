// The stand-ins of the agent's closed libraries: configuration directory and
// event log.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acevtlog.h"
#include "net_test_util.h"
#include "netfixtures.h"
#include "xedamisc.h"

namespace
{
const std::string kConfigDir = netfx::kConfigDir; // "/usr/lib/Zelvano/ClientAgent/config/"

class AgentLibsTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(nettest::RemoveTree("/usr/lib/Zelvano/ClientAgent")); }
};

TEST_F(AgentLibsTest, ConfigDirIsGivenOnlyWhenItExistsAndFits)
{
    ASSERT_EQ(36u, kConfigDir.size());
    struct Case
    {
        bool bDirExists;
        unsigned uSize;
        BOOLEAN bExpected;
    };
    for (const Case& c : {Case{false, 1024, FALSE}, Case{true, 1024, TRUE}, Case{true, 37, TRUE},
                          Case{true, 36, FALSE}, Case{true, 0, FALSE}})
    {
        SCOPED_TRACE(std::to_string(c.bDirExists) + "/" + std::to_string(c.uSize));
        ASSERT_TRUE(nettest::RemoveTree(kConfigDir));
        ASSERT_TRUE(!c.bDirExists || nettest::MakeDirs(kConfigDir));
        char szBuffer[1024];
        std::memset(szBuffer, 'x', sizeof(szBuffer));
        EXPECT_EQ(c.bExpected, GetClientAgentConfigDir(szBuffer, c.uSize));
        // On failure the buffer is left exactly as it was.
        const std::string strExpected =
            c.bExpected ? kConfigDir : std::string(sizeof(szBuffer), 'x');
        EXPECT_EQ(strExpected, c.bExpected ? std::string(szBuffer) : std::string(szBuffer, sizeof(szBuffer)));
    }
    EXPECT_EQ(FALSE, GetClientAgentConfigDir(nullptr, 1024));
}

TEST_F(AgentLibsTest, ConfigDirMustBeADirectory)
{
    ASSERT_TRUE(nettest::MakeDirs("/usr/lib/Zelvano/ClientAgent"));
    ASSERT_TRUE(netfx::WriteFile("/usr/lib/Zelvano/ClientAgent/config", "not a directory"));
    char szBuffer[1024] = {0};
    EXPECT_EQ(FALSE, GetClientAgentConfigDir(szBuffer, sizeof(szBuffer)));
}

TEST_F(AgentLibsTest, AppNameIsTheRunningProgram)
{
    EXPECT_STREQ("net_agentlibs_test", g_szAppName__);
}

TEST_F(AgentLibsTest, EventLogIsNotCreatedWithoutItsDirectory)
{
    WriteToLogExA(1, g_szAppName__, "Func", "../../common/kvstats", 7, "message");
    EXPECT_FALSE(nettest::Exists(nettest::kEventLogDir));
}

TEST_F(AgentLibsTest, EventLogLinesHaveTheTraceLogLayoutAndKeepPercentSigns)
{
    ASSERT_TRUE(nettest::MakeDirs(nettest::kEventLogDir));
    WriteToLogExA(1, g_szAppName__, "GetSingletonInst", "../../common/kvstats", 42, "failed %s %d %n");
    WriteToLogExA(2, "app", "KVStatsInit", "kvstats", 7, "Entry.");

    const std::vector<std::string> vRaw = netfx::ReadLines(nettest::kEventLog);
    ASSERT_EQ(2u, vRaw.size());
    // Same header as the trace log: app right-aligned in 12, tag in 7.
    EXPECT_EQ(" net_agentlibs_test [ERROR] failed %s %d %n [kvstats GetSingletonInst:42]\r",
              vRaw[0].substr(23));
    EXPECT_EQ("          app  [INFO] Entry. [kvstats KVStatsInit:7]\r", vRaw[1].substr(23));
    const std::vector<nettest::LogLine> vLines = nettest::ReadLog(nettest::kEventLog);
    EXPECT_EQ("ERROR", vLines[0].strLevel);
    EXPECT_EQ(42u, vLines[0].uLine);
    EXPECT_EQ("INFO", vLines[1].strLevel);
}
} // namespace
