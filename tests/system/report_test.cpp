// xedabldn-report on the logs of real runs: a service pack that installs and
// one that fails its CRC-32; then, made from their lines, overlapping runs,
// a rotation in the middle of a run and runs cut off; and the JSON fields
// against their table in docs/report.md.
#include <nlohmann/json.hpp>
#include <regex>

#include "fixture.h"

namespace sys
{
namespace
{
using ReportTest = SystemTest;
using Json = nlohmann::json;

// The lines of the trace log, on thread field `thread`.
Strings Traced(const std::string& thread)
{
    Strings lines = tk::Lines(tk::Read(tk::kTraceLog));
    for (std::string& line : lines)
        line.replace(15, 8, thread);
    return lines;
}
std::string Text(const Strings& lines, size_t nFrom, size_t nTo)
{
    std::string text;
    for (size_t i = nFrom; i < nTo && i < lines.size(); ++i)
        text += lines[i] + "\n";
    return text;
}
std::string Interleave(const Strings& a, const Strings& b)
{
    std::string text;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i)
        text += Text(a, i, i + 1) + Text(b, i, i + 1);
    return text;
}

// Every field of `json` has the type docs/report.md gives it, and is there.
void ExpectDocumented(const Json& json, const std::map<std::string, std::string>& types,
                      const std::string& prefix = "")
{
    for (const auto& [key, value] : json.items())
    {
        const auto type = types.find(prefix + key);
        ASSERT_NE(type, types.end()) << prefix + key << " is not documented";
        const std::string name = value.is_number_integer() ? "integer" : value.type_name();
        EXPECT_NE(std::string::npos, type->second.find(name)) << prefix + key << ": " << name;
        for (const Json& element : value.is_array() ? value : Json::array())
            ExpectDocumented(element, types, prefix + key + "[].");
    }
    for (const auto& [key, type] : types)
        EXPECT_TRUE(key.rfind(prefix, 0) != 0 ||
                    key.find('.', prefix.size()) != std::string::npos ||
                    json.contains(key.substr(prefix.size())))
            << key << " is missing";
}

TEST_F(ReportTest, VerdictsOnRealRunsAndOnLogsMadeOfThem)
{
    Publish(ServicePack());
    ExpectClean(RunSwitch("-CASP"));
    EXPECT_EQ("scheduled", tk::Report());
    const Strings ok = Traced("0000000A");
    ASSERT_EQ(0, tk::Run({XEDA_REPORT, "--json", "--last"}, kWork + "json"));
    std::map<std::string, std::string> types;
    const std::regex row(R"(\| `([a-z_.\[\]]+)` \| ([a-z ]+) \|.*)");
    for (const std::string& line : tk::Lines(tk::Read(tk::Source() + "/docs/report.md")))
        if (std::smatch m; std::regex_match(line, m, row))
            types[m[1]] = m[2];
    ExpectDocumented(Json::parse(tk::Read(kWork + "json")), types);

    Reset();
    Publish(ServicePack({"--set", "checksum1_64=1"}));
    ExpectClean(RunSwitch("-CASP"));
    EXPECT_EQ("failed: verification (CRC-32)", tk::Report());
    const Strings crc = Traced("0000000B"), crcOnA = Traced("0000000A");
    const size_t nMismatch =
        std::find_if(crc.begin(), crc.end(),
                     [](const std::string& line) { return line.find("mismatch") != line.npos; }) -
        crc.begin();
    const std::string cut = ok[ok.size() / 2].substr(0, 40);
    // clang-format off
    // Two runs taken in turn; a rotation after the run's ERROR line (without
    // the backup, or after it, its step is unknown); a run cut short in a
    // line, and a run after it on the same thread field; no run at all.
    const struct { std::string backup, log, verdict; } cases[] = {
        {"", Interleave(ok, crc), "failed: verification (CRC-32)"},
        {"", Interleave(crc, ok), "scheduled"},
        {Text(crc, 0, nMismatch + 1), Text(crc, nMismatch + 1, crc.size()), "failed: verification (CRC-32)"},
        {"", Text(ok, 0, ok.size() / 2) + cut, "unfinished"},
        {"", Text(ok, 0, ok.size() / 2) + cut + "\n" + Text(crcOnA, 0, crc.size()), "failed: verification (CRC-32)"},
        {"", "\x7f" "ELF\x02\x01\x01\n" + cut, "no run"},
    };
    // clang-format on
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.log);
        tk::Remove("/var/log/xedabldn.bak");
        ASSERT_TRUE((c.backup.empty() || tk::Write("/var/log/xedabldn.bak", c.backup)) &&
                    tk::Write(tk::kTraceLog, c.log));
        EXPECT_EQ(c.verdict, tk::Report());
    }
}
} // namespace
} // namespace sys
