// The command line: which flow runs for which arguments, switch and upgrade
// type, and that every path ends with exit status 0.
#include "harness.h"

#include <filesystem>

namespace systest
{
namespace
{

// Nothing listens on port 1: a flow that starts fails at its first download.
const char kRefused[] = "http://127.0.0.1:1/upd";

const Trace kEntry{"INFO", "main", "Entry"};
const Trace kExit{"INFO", "main", "Exit"};
const Trace kUpgradeRequest{"INFO", "main", "Minor/Major Upgrade installation Request -CAUPG"};
const Trace kUpgradeStart{"INFO", "main", "Upgrade installation start point"};

class DispatchTest : public SystemTest
{
protected:
    void ExpectLogIs(const std::vector<Trace>& expected)
    {
        EXPECT_EQ(testing::PrintToString(Log().Lines()), testing::PrintToString(expected));
    }
};

TEST_F(DispatchTest, TooFewArgumentsRunNoFlow)
{
    for (const Args& args : {Args{}, Args{kRefused, kRefused, "-CASP"}})
    {
        SCOPED_TRACE(args.size());
        Reset();
        RunResult r = Run(args);
        EXPECT_CLEAN_RUN(r);
        ExpectLogIs({kEntry, {"ERROR", "main", "Invalid arguments less than 3"}});
    }
}

TEST_F(DispatchTest, SwitchIsMatchedIgnoringCase)
{
    const Trace sp[] = {{"INFO", "main", "Service Pack installation Request -CASP"},
                        {"INFO", "main", "In Service pack installation start point"},
                        {"INFO", "InstallXEDASP", "Entry"},
                        {"INFO", "main", "Service Pack installation failed"}};
    const Trace upg[] = {kUpgradeRequest, kUpgradeStart, {"INFO", "InstallMinUPG", "Entry"},
                         {"INFO", "main", "Minor Upgrade installation failed"}};
    for (const auto& [sw, t] : {std::pair{"-casp", sp}, {"-CaSp", sp}, {"-caupg", upg}, {"-CaUpG", upg}})
    {
        SCOPED_TRACE(sw);
        Reset();
        SetUpgradeType("type=1");
        RunResult r = RunSwitch(kRefused, kRefused, sw);
        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().HasInOrder({kEntry, t[0], t[1], t[2], t[3]}));
        EXPECT_FALSE(Log().Has(kExit)) << "a failed flow ends without Exit";
    }
}

TEST_F(DispatchTest, UnknownSwitchRunsNoFlow)
{
    for (const char* sw : {"-CASPX", "-CA", "CASP", ""})
    {
        SCOPED_TRACE(sw);
        Reset();
        SetUpgradeType("type=1");
        RunResult r = RunSwitch(kRefused, kRefused, sw);
        EXPECT_CLEAN_RUN(r);
        ExpectLogIs({kEntry, kExit});
    }
}

// The upgrade type selects the flow; a missing clntdata.ini ("") or
// configuration directory (nullptr) runs none.
TEST_F(DispatchTest, UpgradeTypeSelectsTheFlow)
{
    struct
    {
        const char* line;
        const char* flow;  // "" for none
        const char* failed;
    } const cases[] = {
        {"type=1", "InstallMinUPG", "Minor Upgrade installation failed"},
        {"type=2", "InstallMajorUPG", "Major Upgrade installation failed"},
        {"type = 2", "InstallMajorUPG", "Major Upgrade installation failed"},
        {"type=3", "", ""}, {"type=abc", "", ""}, {"; type=2", "", ""}, {"", "", ""}, {nullptr, "", ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.line != nullptr ? c.line : "(no configuration directory)");
        Reset();
        if (std::string(c.flow) == "InstallMajorUPG")
            StartCron();  // checked before the major flow's download
        std::error_code ec;
        if (c.line == nullptr)
            std::filesystem::remove_all(kConfigDir, ec);
        else if (*c.line != '\0')
            SetUpgradeType(c.line);
        RunResult r = RunSwitch(kRefused, kRefused, "-CAUPG");
        EXPECT_CLEAN_RUN(r);
        if (*c.flow == '\0')
        {
            std::vector<Trace> expected{kEntry, kUpgradeRequest, kUpgradeStart};
            if (c.line != nullptr)
                expected.push_back(kExit);
            ExpectLogIs(expected);
            continue;
        }
        EXPECT_TRUE(Log().HasInOrder({kUpgradeStart, {"INFO", c.flow, "Entry"}, {"INFO", "main", c.failed}}));
        EXPECT_FALSE(Log().HasLabel(std::string(c.flow) == "InstallMinUPG" ? "InstallMajorUPG" : "InstallMinUPG"));
    }
}

// An argument must fit its 260-byte buffer: 259 characters run the flow,
// 260 stop the run before any flow with one ERROR line naming its position.
TEST_F(DispatchTest, OverlongArgumentRunsNoFlowAndNamesItsPosition)
{
    for (const auto& [position, length] : {std::pair{1, 259}, {1, 260}, {2, 260}, {4, 260}})
    {
        SCOPED_TRACE(testing::Message() << "argument " << position << " of " << length);
        Reset();
        Publish(ServicePack());
        Args args{Http(1), Http(2), "-CASP", kModuleDir};
        std::string& arg = args[position - 1];
        arg += (position == 4 ? "" : "?") + std::string(length - arg.size() - (position == 4 ? 0 : 1), 'x');
        RunResult r = Run(args);
        EXPECT_CLEAN_RUN(r);
        if (length == 259)
        {
            EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP", "Entry"}));
            continue;
        }
        EXPECT_FALSE(Log().HasLabel("InstallXEDASP"));
        EXPECT_EQ(Requests().size(), 0u);
        std::vector<Trace> errors;
        for (const Trace& t : Log().Lines())
            if (t.level == "ERROR")
                errors.push_back(t);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].message.find(std::to_string(position)), std::string::npos) << errors[0];
    }
}

}  // namespace
}  // namespace systest
