// The command line: which flow runs for which arguments, switch and upgrade
// type; every path ends with exit status 0.
#include "fixture.h"

namespace sys
{
namespace
{
using DispatchTest = SystemTest;
const std::string kEntry = "I main|Entry", kExit = "I main|Exit",
                  kStart = "I main|Upgrade installation start point",
                  kUpgrade = "I main|Minor/Major Upgrade installation Request -CAUPG";

// The whole log when no flow runs (a flow that runs fails at its first
// download); else the flow's first and main's last line, and no line of
// the other upgrade flow.
TEST_F(DispatchTest, ArgumentsSwitchAndUpgradeTypeSelectTheFlow)
{
    const Strings tooFew = {kEntry, "E main|Invalid arguments less than 3"};
    // An argument must fit its 260-byte buffer; the switch is only compared.
    const std::string k259 = kRefused + "?" + std::string(259 - kRefused.size() - 1, 'x');
    // clang-format off
    // type "": no clntdata.ini; nullptr: no configuration directory. other: a
    // flow that must not run; none: log is the whole log.
    const struct { std::string verdict; Strings args; const char* type; Strings log; const char* other = nullptr; } cases[] = {
        {"nothing requested: invalid arguments", {}, "1", tooFew},
        {"nothing requested: invalid arguments", {kRefused, kRefused, "-CASP"}, "1", tooFew},
        {"nothing requested: unknown switch", {kRefused, kRefused, "-CASPX", kModule}, "1", {kEntry, kExit}},
        {"failed: manifest download", {kRefused, kRefused, "-casp", kModule}, "2", {kEntry, "I main|Service Pack installation Request -CASP",
          "I main|In Service pack installation start point", "I InstallXEDASP|Entry", "I main|Service Pack installation failed"},
         "InstallMajorUPG|"},
        {"failed: manifest download", {kRefused, kRefused, "-CaUpG", kModule}, "1", {kEntry, kUpgrade, kStart, "I InstallMinUPG|Entry",
          "I main|Minor Upgrade installation failed"}, "InstallMajorUPG|"},
        {"failed: manifest download", {kRefused, kRefused, "-CAUPG", kModule}, "2", {kEntry, kUpgrade, kStart, "I InstallMajorUPG|Entry",
          "I main|Major Upgrade installation failed"}, "InstallMinUPG|"},
        {"nothing requested: no upgrade pending", {kRefused, kRefused, "-CAUPG", kModule}, "3", {kEntry, kUpgrade, kStart, kExit}},
        {"nothing requested: no upgrade pending", {kRefused, kRefused, "-CAUPG", kModule}, "", {kEntry, kUpgrade, kStart, kExit}},
        {"failed: configuration directory", {kRefused, kRefused, "-CAUPG", kModule}, nullptr, {kEntry, kUpgrade, kStart, "E main|configuration directory unavailable"}},
        {"failed: name too long (manifest URL)", {k259, kRefused, "-CASP", kModule}, "1", {kEntry, "I InstallXEDASP|Entry"}, "InstallMajorUPG|"},
        {"nothing requested: invalid arguments", {k259 + "x", kRefused, "-CASP", kModule}, "1", {kEntry, "E main|Argument 1 longer than 259 characters"}},
        {"nothing requested: invalid arguments", {kRefused, k259 + "x", "-CASP", kModule}, "1", {kEntry, "E main|Argument 2 longer than 259 characters"}},
        {"nothing requested: unknown switch", {kRefused, kRefused, std::string(260, '-'), kModule}, "1", {kEntry, kExit}},
        {"nothing requested: invalid arguments", {kRefused, kRefused, "-CASP", kModule + std::string(260 - kModule.size(), '/')}, "1",
         {kEntry, "E main|Argument 4 longer than 259 characters"}},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.args) + " type " +
                     (c.type ? c.type : "(no directory)"));
        Reset(c.type ? c.type : "");
        if (c.type == nullptr)
            tk::Remove(tk::kConfigDir);
        if (c.type != nullptr && *c.type == '2')
            StartCron(); // checked before the major flow downloads
        ExpectClean(Run(c.args));
        EXPECT_EQ(c.verdict, tk::Report());
        const Strings trace = tk::Trace();
        EXPECT_EQ("", c.other ? tk::MissingInOrder(trace, c.log)
                              : (c.log == trace ? "" : "the whole log differs"));
        for (const std::string& line : trace)
            EXPECT_TRUE(!c.other || (line != kExit && line.find(c.other) == std::string::npos))
                << line;
    }
}

} // namespace
} // namespace sys
