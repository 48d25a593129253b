// The driver: argument checks, the switch, the upgrade type from
// clntdata.ini, and exit status 0 on every path. No update source answers
// here, so every flow that starts fails at its first download.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "installer_test_util.h"
#include "xedabldn.h"

using insttest::Error;
using insttest::Info;
using insttest::ReadTrace;
using insttest::TraceLine;

namespace
{
const char kConfigDir[] = "/usr/lib/Zelvano/ClientAgent/config/";
// Nothing listens on the discard port of the sandbox's own loopback.
const char kDeadURL[] = "http://127.0.0.1:9";

int RunMain(std::vector<std::string> vArgs)
{
    vArgs.insert(vArgs.begin(), "xedabldn");
    std::vector<char*> vArgv;
    for (std::string& strArg : vArgs)
        vArgv.push_back(&strArg[0]);
    vArgv.push_back(nullptr);
    return XedabldnMain(static_cast<int>(vArgs.size()), vArgv.data());
}

class DriverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, std::system("rm -rf /usr/lib/Zelvano/ClientAgent /tmp/module && mkdir -p /tmp/module"));
        insttest::ClearTrace();
    }

    static void WriteUpgradeType(const std::string& strType)
    {
        ASSERT_EQ(0, std::system((std::string("mkdir -p ") + kConfigDir).c_str()));
        ASSERT_TRUE(insttest::WriteFile(std::string(kConfigDir) + "clntdata.ini",
                                        "[DATA_FOR_UPGRADE]\ntype=" + strType + "\n"));
    }

    static std::vector<std::string> Request(const std::string& strSwitch)
    {
        return {kDeadURL, kDeadURL, strSwitch, "/tmp/module/"};
    }
};

TEST_F(DriverTest, FewerThanFourArgumentsRunNothing)
{
    const std::vector<std::vector<std::string>> cases = {
        {}, {kDeadURL}, {kDeadURL, kDeadURL}, {kDeadURL, kDeadURL, "-CASP"}};
    for (const auto& vArgs : cases)
    {
        insttest::ClearTrace();
        EXPECT_EQ(0, RunMain(vArgs));
        EXPECT_EQ((std::vector<TraceLine>{Info("main", "Entry"),
                                          Error("main", "Invalid arguments less than 3")}),
                  ReadTrace())
            << vArgs.size();
    }
}

TEST_F(DriverTest, ArgumentOf260CharactersIsRefusedByPosition)
{
    const std::string str259(259, 'a');
    const std::string str260(260, 'a');
    for (int iPosition = 1; iPosition <= 4; ++iPosition)
    {
        insttest::ClearTrace();
        std::vector<std::string> vArgs = Request("-CASP");
        vArgs[iPosition - 1] = str260;
        EXPECT_EQ(0, RunMain(vArgs));
        EXPECT_EQ((std::vector<TraceLine>{
                      Info("main", "Entry"),
                      Error("main", "Argument " + std::to_string(iPosition) +
                                        " longer than 259 characters")}),
                  ReadTrace());
    }
    insttest::ClearTrace();
    EXPECT_EQ(0, RunMain({str259, str259, "-unknown", str259}));
    EXPECT_EQ((std::vector<TraceLine>{Info("main", "Entry"), Info("main", "Exit")}), ReadTrace());
}

TEST_F(DriverTest, SwitchIsMatchedIgnoringCase)
{
    for (const char* pcszSwitch : {"-CASP", "-casp", "-CaSp"})
    {
        insttest::ClearTrace();
        EXPECT_EQ(0, RunMain(Request(pcszSwitch)));
        const std::vector<TraceLine> vTrace = ReadTrace();
        EXPECT_TRUE(insttest::HasSequence(
            vTrace, {Info("main", "Entry"), Info("main", "Service Pack installation Request -CASP"),
                     Info("main", "In Service pack installation start point"),
                     Info("InstallXEDASP", "Entry")}))
            << pcszSwitch;
        EXPECT_EQ(Info("main", "Service Pack installation failed"), vTrace.back()) << pcszSwitch;
    }
    for (const char* pcszSwitch : {"-CAUPG", "-caupg"})
    {
        insttest::ClearTrace();
        EXPECT_EQ(0, RunMain(Request(pcszSwitch)));
        EXPECT_TRUE(insttest::HasTrace(
            ReadTrace(), Info("main", "Minor/Major Upgrade installation Request -CAUPG")));
    }
}

TEST_F(DriverTest, UnknownSwitchRunsNoFlow)
{
    for (const char* pcszSwitch : {"-CASPX", "CASP", "", "-CA"})
    {
        insttest::ClearTrace();
        EXPECT_EQ(0, RunMain(Request(pcszSwitch)));
        EXPECT_EQ((std::vector<TraceLine>{Info("main", "Entry"), Info("main", "Exit")}), ReadTrace())
            << pcszSwitch;
    }
}

TEST_F(DriverTest, UpgradeTypeChoosesTheFlow)
{
    // A pidof that finds cron, so the major flow reaches its download.
    ASSERT_TRUE(insttest::ShimTool("pidof", 0));
    const struct
    {
        const char* pcszType; // null: no clntdata.ini; "-": no configuration directory
        TraceLine last;
        const char* pcszFlowEntry;
    } cases[] = {
        {"-", Info("main", "Upgrade installation start point"), nullptr},
        {nullptr, Info("main", "Exit"), nullptr},
        {"0", Info("main", "Exit"), nullptr},
        {"3", Info("main", "Exit"), nullptr},
        {"1", Info("main", "Minor Upgrade installation failed"), "InstallMinUPG"},
        {"2", Info("main", "Major Upgrade installation failed"), "InstallMajorUPG"},
    };
    for (const auto& c : cases)
    {
        SetUp();
        const std::string strType = c.pcszType != nullptr ? c.pcszType : "(none)";
        if (c.pcszType == nullptr)
            ASSERT_EQ(0, std::system((std::string("mkdir -p ") + kConfigDir).c_str()));
        else if (strType != "-")
            WriteUpgradeType(strType);
        EXPECT_EQ(0, RunMain(Request("-CAUPG"))) << strType;
        const std::vector<TraceLine> vTrace = ReadTrace();
        EXPECT_EQ(c.last, vTrace.back()) << strType;
        for (const char* pcszFlow : {"InstallMinUPG", "InstallMajorUPG"})
        {
            const bool bExpected = c.pcszFlowEntry != nullptr && std::string(c.pcszFlowEntry) == pcszFlow;
            EXPECT_EQ(bExpected, insttest::HasTrace(vTrace, Info(pcszFlow, "Entry")))
                << strType << " " << pcszFlow;
        }
    }
}
} // namespace
