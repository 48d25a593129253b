// The command line: which flow runs for which arguments, switch and upgrade
// type, and that every path ends with exit status 0.
#include "harness.h"

#include <filesystem>

namespace systest
{
namespace
{

using DispatchTest = SystemTest;

// Nothing listens on port 1: a flow that starts fails at its first download.
const char kRefused[] = "http://127.0.0.1:1/upd";
const Trace kEntry{"INFO", "main", "Entry"};
const Trace kExit{"INFO", "main", "Exit"};

// The whole log when no flow runs; the flow's first and last lines (and no
// trace of the other upgrade flow) when one does.
TEST_F(DispatchTest, ArgumentsSwitchAndUpgradeTypeSelectTheFlow)
{
    const Trace tooFew{"ERROR", "main", "Invalid arguments less than 3"};
    const Trace upgrade[] = {{"INFO", "main", "Minor/Major Upgrade installation Request -CAUPG"},
                             {"INFO", "main", "Upgrade installation start point"}};
    const std::vector<Trace> noFlow{kEntry, upgrade[0], upgrade[1], kExit};
    auto flow = [&](const char* label, const char* failed) {
        return std::vector<Trace>{kEntry, upgrade[0], upgrade[1], {"INFO", label, "Entry"}, {"INFO", "main", failed}};
    };
    struct
    {
        Args args;
        const char* type;  // clntdata.ini line; "" none, nullptr no configuration directory
        std::vector<Trace> log;
        bool whole;             // log is the whole log
        const char* notLabel;  // a flow that must not run
    } const cases[] = {
        {{}, "type=1", {kEntry, tooFew}, true, ""},
        {{kRefused, kRefused, "-CASP"}, "type=1", {kEntry, tooFew}, true, ""},
        {{kRefused, kRefused, "-CASPX", kModuleDir}, "type=1", {kEntry, kExit}, true, ""},
        {{kRefused, kRefused, "-CA", kModuleDir}, "type=1", {kEntry, kExit}, true, ""},
        {{kRefused, kRefused, "-casp", kModuleDir}, "type=1",
         {kEntry, {"INFO", "main", "Service Pack installation Request -CASP"},
          {"INFO", "main", "In Service pack installation start point"}, {"INFO", "InstallXEDASP", "Entry"},
          {"INFO", "main", "Service Pack installation failed"}}, false, "InstallMajorUPG"},
        {{kRefused, kRefused, "-CaUpG", kModuleDir}, "type=1",
         flow("InstallMinUPG", "Minor Upgrade installation failed"), false, "InstallMajorUPG"},
        {{kRefused, kRefused, "-CAUPG", kModuleDir}, "type=2",
         flow("InstallMajorUPG", "Major Upgrade installation failed"), false, "InstallMinUPG"},
        {{kRefused, kRefused, "-CAUPG", kModuleDir}, "type=3", noFlow, true, ""},
        {{kRefused, kRefused, "-CAUPG", kModuleDir}, "", noFlow, true, ""},
        {{kRefused, kRefused, "-CAUPG", kModuleDir}, nullptr, {kEntry, upgrade[0], upgrade[1]}, true, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.args) + " " + (c.type != nullptr ? c.type : "(no config dir)"));
        Reset();
        std::error_code ec;
        if (c.type == nullptr)
            std::filesystem::remove_all(kConfigDir, ec);
        else if (*c.type != '\0')
            SetUpgradeType(c.type);
        if (std::string(c.type != nullptr ? c.type : "") == "type=2")
            StartCron();  // checked before the major flow's download
        RunResult r = Run(c.args);
        EXPECT_CLEAN_RUN(r);
        if (c.whole)
        {
            EXPECT_EQ(testing::PrintToString(Log().lines), testing::PrintToString(c.log));
            continue;
        }
        EXPECT_TRUE(Log().HasInOrder(c.log));
        EXPECT_FALSE(Log().Has(kExit)) << "a failed flow ends without Exit";
        EXPECT_FALSE(Log().Has({"", c.notLabel, ""}, true));
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
        EXPECT_FALSE(Log().Has({"", "InstallXEDASP", ""}, true));
        EXPECT_EQ(Requests().size(), 0u);
        ASSERT_EQ(Log().Count({"ERROR", "", ""}, true), 1u);
        for (const Trace& t : Log().lines)
            EXPECT_TRUE(t.level != "ERROR" || t.message.find(std::to_string(position)) != std::string::npos) << t;
    }
}

}  // namespace
}  // namespace systest
