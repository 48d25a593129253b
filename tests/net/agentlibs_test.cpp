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
const std::string kConfigDir = netfx::kConfigDir; // 36 characters

class AgentLibsTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(nettest::RemoveTree("/usr/lib/Zelvano/ClientAgent")); }
};

TEST_F(AgentLibsTest, ConfigDirIsGivenOnlyWhenItIsADirectoryAndFits)
{
    enum Kind { kNone, kDir, kFile };
    struct Case
    {
        Kind kind;
        unsigned uSize;
        BOOLEAN bExpected;
    };
    for (const Case& c : {Case{kNone, 1024, FALSE}, Case{kFile, 1024, FALSE}, Case{kDir, 1024, TRUE},
                          Case{kDir, 37, TRUE}, Case{kDir, 36, FALSE}, Case{kDir, 0, FALSE}})
    {
        SCOPED_TRACE(std::to_string(c.kind) + "/" + std::to_string(c.uSize));
        ASSERT_TRUE(nettest::RemoveTree("/usr/lib/Zelvano/ClientAgent"));
        ASSERT_TRUE(c.kind != kDir || nettest::MakeDirs(kConfigDir));
        ASSERT_TRUE(c.kind != kFile || (nettest::MakeDirs("/usr/lib/Zelvano/ClientAgent") &&
                                        netfx::WriteFile("/usr/lib/Zelvano/ClientAgent/config", "x")));
        char szBuffer[1024];
        std::memset(szBuffer, 'x', sizeof(szBuffer));
        EXPECT_EQ(c.bExpected, GetClientAgentConfigDir(szBuffer, c.uSize));
        // On failure the buffer is left exactly as it was.
        EXPECT_EQ(c.bExpected ? kConfigDir : std::string(sizeof(szBuffer), 'x'),
                  c.bExpected ? std::string(szBuffer) : std::string(szBuffer, sizeof(szBuffer)));
    }
    EXPECT_EQ(FALSE, GetClientAgentConfigDir(nullptr, 1024));
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
    // Same header as the trace log: app (the running program) right-aligned
    // in 12, tag in 7.
    EXPECT_EQ(" net_agentlibs_test [ERROR] failed %s %d %n [kvstats GetSingletonInst:42]\r",
              vRaw[0].substr(23));
    EXPECT_EQ("          app  [INFO] Entry. [kvstats KVStatsInit:7]\r", vRaw[1].substr(23));
    nettest::LogLine line;
    EXPECT_TRUE(nettest::ParseLine(vRaw[0], line)) << "time stamp layout";
}
} // namespace
