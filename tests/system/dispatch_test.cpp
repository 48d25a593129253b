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

    // The major flow checks for cron first; here cron "runs" so that the
    // flow goes on to its (refused) download without starting a daemon.
    std::string CronRunning() { return MakeShims("cron-running", {{"pidof", "exit 0"}, {"service", "exit 1"}}); }
};

class TooFewArguments : public DispatchTest, public testing::WithParamInterface<Args>
{
};

TEST_P(TooFewArguments, RunNoFlowAndTraceTheError)
{
    RunResult r = Run(GetParam());
    EXPECT_CLEAN_RUN(r);
    ExpectLogIs({kEntry, {"ERROR", "main", "Invalid arguments less than 3"}});
}

INSTANTIATE_TEST_SUITE_P(Dispatch, TooFewArguments,
                         testing::Values(Args{}, Args{kRefused}, Args{kRefused, kRefused},
                                         Args{kRefused, kRefused, "-CASP"}));

struct SwitchCase
{
    const char* name;
    const char* sw;
    Trace request;  // main's trace of the recognised switch
    Trace start;    // main's trace of the flow's start point
    Trace flow;     // the flow's own first trace
    Trace failed;   // main's trace of the flow's failure

    friend void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }
};

class KnownSwitch : public DispatchTest, public testing::WithParamInterface<SwitchCase>
{
};

TEST_P(KnownSwitch, SelectsItsFlowWhateverTheCase)
{
    const SwitchCase& c = GetParam();
    SetUpgradeType("type=1");
    RunResult r = RunSwitch(kRefused, kRefused, c.sw);
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({kEntry, c.request, c.start, c.flow, c.failed}));
    EXPECT_FALSE(Log().Has(kExit)) << "a failed flow ends without Exit";
}

const Trace kSpRequest{"INFO", "main", "Service Pack installation Request -CASP"};
const Trace kSpStart{"INFO", "main", "In Service pack installation start point"};
const Trace kSpFlow{"INFO", "InstallXEDASP", "Entry"};
const Trace kSpFailed{"INFO", "main", "Service Pack installation failed"};
const Trace kMinorFlow{"INFO", "InstallMinUPG", "Entry"};
const Trace kMinorFailed{"INFO", "main", "Minor Upgrade installation failed"};

INSTANTIATE_TEST_SUITE_P(
    Dispatch, KnownSwitch,
    testing::Values(SwitchCase{"Casp", "-CASP", kSpRequest, kSpStart, kSpFlow, kSpFailed},
                    SwitchCase{"casp", "-casp", kSpRequest, kSpStart, kSpFlow, kSpFailed},
                    SwitchCase{"CaSp", "-CaSp", kSpRequest, kSpStart, kSpFlow, kSpFailed},
                    SwitchCase{"Caupg", "-CAUPG", kUpgradeRequest, kUpgradeStart, kMinorFlow, kMinorFailed},
                    SwitchCase{"caupg", "-caupg", kUpgradeRequest, kUpgradeStart, kMinorFlow, kMinorFailed},
                    SwitchCase{"CaUpG", "-CaUpG", kUpgradeRequest, kUpgradeStart, kMinorFlow, kMinorFailed}),
    [](const testing::TestParamInfo<SwitchCase>& info) { return std::string(info.param.name); });

class UnknownSwitch : public DispatchTest, public testing::WithParamInterface<const char*>
{
};

TEST_P(UnknownSwitch, RunsNoFlowAndTracesOnlyEntryAndExit)
{
    SetUpgradeType("type=1");
    RunResult r = RunSwitch(kRefused, kRefused, GetParam());
    EXPECT_CLEAN_RUN(r);
    ExpectLogIs({kEntry, kExit});
}

INSTANTIATE_TEST_SUITE_P(Dispatch, UnknownSwitch, testing::Values("-CASPX", "CASP", "-CA", "", "/CAUPG"));

TEST_F(DispatchTest, MissingConfigurationDirectoryEndsAfterTheUpgradeStartPoint)
{
    std::error_code ec;
    std::filesystem::remove_all(kConfigDir, ec);
    RunResult r = RunSwitch(kRefused, kRefused, "-CAUPG");
    EXPECT_CLEAN_RUN(r);
    ExpectLogIs({kEntry, kUpgradeRequest, kUpgradeStart});
}

TEST_F(DispatchTest, MissingClntdataRunsNoFlow)
{
    RunResult r = RunSwitch(kRefused, kRefused, "-CAUPG");
    EXPECT_CLEAN_RUN(r);
    ExpectLogIs({kEntry, kUpgradeRequest, kUpgradeStart, kExit});
}

struct TypeCase
{
    const char* name;
    const char* line;  // the entry of [DATA_FOR_UPGRADE]
    const char* flow;  // label of the flow that must run, "" for none

    friend void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }
};

class UpgradeType : public DispatchTest, public testing::WithParamInterface<TypeCase>
{
};

TEST_P(UpgradeType, SelectsTheFlow)
{
    const TypeCase& c = GetParam();
    SetUpgradeType(c.line);
    RunResult r = RunSwitch(kRefused, kRefused, "-CAUPG", {CronRunning()});
    EXPECT_CLEAN_RUN(r);
    std::string flow = c.flow;
    if (flow.empty())
    {
        ExpectLogIs({kEntry, kUpgradeRequest, kUpgradeStart, kExit});
        return;
    }
    std::string other = flow == "InstallMinUPG" ? "InstallMajorUPG" : "InstallMinUPG";
    std::string failed = flow == "InstallMinUPG" ? "Minor Upgrade installation failed"
                                                 : "Major Upgrade installation failed";
    EXPECT_TRUE(Log().HasInOrder({kUpgradeStart, {"INFO", flow, "Entry"}, {"INFO", "main", failed}}));
    EXPECT_FALSE(Log().HasLabel(other));
    EXPECT_FALSE(Log().HasLabel("InstallXEDASP"));
}

INSTANTIATE_TEST_SUITE_P(
    Dispatch, UpgradeType,
    testing::Values(TypeCase{"Minor", "type=1", "InstallMinUPG"}, TypeCase{"Major", "type=2", "InstallMajorUPG"},
                    TypeCase{"MajorWithBlanks", "type = 2", "InstallMajorUPG"},
                    TypeCase{"Three", "type=3", ""}, TypeCase{"Zero", "type=0", ""},
                    TypeCase{"Word", "type=abc", ""}, TypeCase{"Empty", "type=", ""},
                    TypeCase{"CommentedOut", "; type=2", ""}, TypeCase{"OtherKey", "kind=2", ""}),
    [](const testing::TestParamInfo<TypeCase>& info) { return std::string(info.param.name); });

// An argument that does not fit its 260-byte buffer stops the run before any
// flow, with one ERROR line that says which argument it was.
class OverlongArgument : public DispatchTest, public testing::WithParamInterface<int>
{
};

TEST_P(OverlongArgument, RunsNoFlowAndNamesItsPosition)
{
    int position = GetParam();
    Args args{Http(1), Http(2), "-CASP", kModuleDir};
    args[position - 1] += std::string(260 - args[position - 1].size(), position == 4 ? 'm' : 'u');
    Publish(ServicePack());

    RunResult r = Run(args);

    EXPECT_CLEAN_RUN(r);
    EXPECT_FALSE(Log().HasLabel("InstallXEDASP"));
    EXPECT_EQ(Requests().size(), 0u);
    std::vector<Trace> errors;
    for (const Trace& t : Log().Lines())
        if (t.level == "ERROR")
            errors.push_back(t);
    ASSERT_EQ(errors.size(), 1u) << Log().Text();
    EXPECT_NE(errors[0].message.find(std::to_string(position)), std::string::npos) << errors[0];
}

INSTANTIATE_TEST_SUITE_P(Dispatch, OverlongArgument, testing::Values(1, 2, 4));

TEST_F(DispatchTest, ArgumentsOf259CharactersAreTakenWhole)
{
    Publish(ServicePack());
    std::string url1 = Http(1) + "?" + std::string(259 - Http(1).size() - 1, 'q');
    RunResult r = Run({url1, Http(2), "-CASP", kModuleDir});
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP", "Entry"}));
}

}  // namespace
}  // namespace systest
