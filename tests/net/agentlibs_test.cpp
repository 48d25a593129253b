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

// Rows: what is at the config path (none, directory, plain file), buffer
// size, expected result. On failure the buffer is left exactly as it was.
TEST_F(AgentLibsTest, ConfigDirIsGivenOnlyWhenItIsADirectoryAndFits)
{
    for (const auto& [cKind, uSize, bExpected] : {std::make_tuple('-', 1024u, FALSE), std::make_tuple('f', 1024u, FALSE),
                                                  std::make_tuple('d', 37u, TRUE), std::make_tuple('d', 36u, FALSE)})
    {
        SCOPED_TRACE(std::string(1, cKind) + "/" + std::to_string(uSize));
        ASSERT_TRUE(nettest::RemoveTree("/usr/lib/Zelvano/ClientAgent"));
        ASSERT_TRUE(cKind != 'd' || nettest::MakeDirs(kConfigDir));
        ASSERT_TRUE(cKind != 'f' || (nettest::MakeDirs("/usr/lib/Zelvano/ClientAgent") &&
                                     netfx::WriteFile("/usr/lib/Zelvano/ClientAgent/config", "x")));
        char szBuffer[1024];
        std::memset(szBuffer, 'x', sizeof(szBuffer));
        EXPECT_EQ(bExpected, GetClientAgentConfigDir(szBuffer, uSize));
        EXPECT_EQ(bExpected ? kConfigDir : std::string(sizeof(szBuffer), 'x'),
                  bExpected ? std::string(szBuffer) : std::string(szBuffer, sizeof(szBuffer)));
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
