// xedabldn-report over logs written here: which run each line belongs to,
// the request and verdict of each run ("nothing requested" names the
// request itself), the exit status about the last one to begin.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "report.h"
#include "testkit.h"

namespace
{
using tk::Strings;

// "I label|message" lines of one run, in the writer's layout on thread field
// `thread` repeated 8 times; a line beginning with '!' is written as it is.
std::string Log(char thread, const Strings& lines)
{
    std::string text;
    for (const std::string& line : lines)
    {
        const size_t bar = line.find('|');
        text += line[0] == '!'
                    ? line.substr(1) + "\n"
                    : "07-12 10:58:30:" + std::string(8, toupper(thread)) + "     xedabldn " +
                          (line[0] == 'E' ? "[ERROR] " : " [INFO] ") + line.substr(bar + 1) +
                          " [x.cpp " + line.substr(2, bar - 2) + ":1]\r\n";
    }
    return text;
}
std::string Repeat(const std::string& text, int n)
{
    return n == 0 ? "" : text + Repeat(text, n - 1);
}
Strings operator+(Strings a, const Strings& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// The lines of two logs taken in turn.
std::string Interleave(const std::string& a, const std::string& b)
{
    const Strings x = tk::Lines(a), y = tk::Lines(b);
    std::string text;
    for (size_t i = 0; i < std::max(x.size(), y.size()); ++i)
        text += (i < x.size() ? x[i] + "\n" : "") + (i < y.size() ? y[i] + "\n" : "");
    return text;
}

// clang-format off
const Strings kEntry = {"I main|Entry"},
              kSp = {"I main|Entry", "I main|Service Pack installation Request -CASP", "I InstallXEDASP|Entry",
                     "I DownloadXEDASPServicePack|Entry", "I DownloadFile|Entry", "I SpSendRequestAndGetResponse|/m/capatch.ini",
                     "I DownloadFile|successfull down", "I GetServicePackName:|sp.tgz", "I GetServicePackName dwlength:|1024",
                     "I InstallXEDASP URL1=|http://a/sp.tgz", "I InstallXEDASP URL2=|http://b/sp.tgz", "I InstallXEDASP|Space availabe",
                     "I DownloadXEDASPServicePack|Entry", "I DownloadFile|Entry", "I DownloadFile|Entry",
                     "I DownloadFile|SendRequestAndGetResponse Failed Without Proxy", "I DownloadFile|Proxy serverv name",
                     "I DownloadFile|proxy.example", "I DownloadFile|successfull down"},
              kVerified = kSp + Strings{"I CheckFileConsistency|end."},
              kSpDone = kVerified + Strings{"I main|Exit"},
              kSpCrc = kSp + Strings{"E CheckFileConsistency|Checksum mismatch In INI (1), From file (2)",
                                     "I main|Service Pack installation failed"},
              kUpgrade = {"I main|Entry", "I main|Minor/Major Upgrade installation Request -CAUPG",
                          "I main|Upgrade installation start point"},
              kGarbage = {"!\x01\x02 binary", "!07-12 10:58:30:AAAAAAAA     xedabldn  [INFO] cut"};
// clang-format on

int Report(const std::vector<const char*>& args, std::string& text)
{
    std::vector<const char*> argv = {"xedabldn-report"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::ostringstream out, err;
    const int iStatus = report::ReportMain(static_cast<int>(argv.size()),
                                           const_cast<char**>(argv.data()), out, err);
    text = out.str();
    return iStatus;
}

TEST(Report, VerdictsOfEveryRunAndExitStatusOfTheLast)
{
    // clang-format off
    const struct { std::string log; std::string verdicts; int iStatus; } cases[] = {
        {Log('a', kSpDone), "service pack: scheduled", 0},
        {Log('a', kSpCrc), "service pack: failed: verification (CRC-32)", 1},
        {Log('a', kVerified + Strings{"I main|Service Pack installation failed"}), "service pack: failed: unknown step after verification", 1},
        {Log('a', kSp + Strings{"E InstallXEDASP|crontab append failed: EROFS", "I main|Service Pack installation failed"}), "service pack: failed: cron", 1},
        {Log('a', kEntry + Strings{"I main|Exit"}), "nothing requested: unknown switch", 4},
        {Log('a', kEntry + Strings{"E main|Argument 4 longer than 259 characters"}), "nothing requested: invalid arguments", 4},
        {Log('a', kUpgrade + Strings{"I main|Exit"}), "nothing requested: no upgrade pending", 4},
        {Log('a', kUpgrade), "no configuration directory: failed: configuration directory", 1},
        {Log('a', kUpgrade) + Log('a', kSpDone), "no configuration directory: failed: configuration directory; service pack: scheduled", 0},
        {Log('a', kEntry + Strings{"I main|waiting for another installation", "E main|another installation still runs after an hour"}),
         "unknown: failed: waiting for another installation", 1},
        {Log('a', kUpgrade + Strings{"I InstallMinUPG|Entry", "I DownloadAndInstallCA|Entry", "I DownloadAndInstallCA|Space availabe",
          "E CheckFileConsistency|MD5 mismatch In INI (a), From file (b)", "E InstallMinUPG|DownloadAndInstallCA failed",
          "I scheduling cron job for rollback of Client agent|Exit", "I main|Minor Upgrade installation failed"}), "minor upgrade: failed: verification (MD5)", 1},
        {Log('a', kUpgrade + Strings{"I InstallMajorUPG|Entry", "E CheckCronStatus|failed to start cron", "I CheckCronStatus|crond already running",
          "E Extract status:|failed", "E Extract|Exit", "I Extract status:|extracting linuxUpgadePack", "E  ClientBuild dir is not downloaded|Exit",
          "I main|Major Upgrade installation failed"}), "major upgrade: failed: script missing (ClientBuild)", 1},
        {Log('a', kUpgrade + Strings{"I InstallMajorUPG|Entry", "E InstallMajorUPG|cron service is not running",
          "I main|Major Upgrade installation failed"}), "major upgrade: failed: cron service", 1},
        {Log('a', kSp), "service pack: unfinished", 2},
        {"", "", 2},
        {Log('a', kGarbage), "", 2},
        {Log('a', kGarbage + kSpDone + kGarbage), "service pack: scheduled", 0},
        {Log('a', kEntry + Strings{"E main|Argument " + std::string(17000, 'x')}), "unknown: unfinished", 2},
        // No run waits for 64 others: one still open then is cut off.
        {Log('a', kSp) + Repeat(Log('b', kSpDone), 64) + Log('a', {"I main|Exit"}),
         "service pack: unfinished; " + Repeat("service pack: scheduled; ", 64) + "nothing requested: unknown", 4},
        // A run whose beginning is in no file read learns its request from its flow.
        {Log('a', Strings(kSpDone.begin() + 4, kSpDone.end())), "service pack: scheduled", 0},
        // Overlapping runs: by the thread field; on a shared one, by what the lines are.
        {Interleave(Log('a', kSpDone), Log('b', kSpCrc)), "service pack: scheduled; service pack: failed: verification (CRC-32)", 1},
        {Interleave(Log('b', kSpCrc), Log('a', kSpDone)), "service pack: failed: verification (CRC-32); service pack: scheduled", 0},
        {Log('a', kSp) + Log('a', kSpDone), "service pack: unfinished; service pack: scheduled", 0},
        {Log('a', kSp) + Log('a', kEntry + Strings{"I main|Exit"}), "service pack: unfinished; nothing requested: unknown switch", 4},
        {Log('a', kSp) + Log('a', kEntry + Strings{"I main|Service Pack installation Request -CASP",
          "I main|waiting for another installation"}) + Log('a', Strings(kSpCrc.end() - 2, kSpCrc.end()))
          + Log('a', Strings(kSpDone.begin() + 2, kSpDone.end())), "service pack: failed: verification (CRC-32); service pack: scheduled", 0},
    };
    // clang-format on
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.log);
        ASSERT_TRUE(tk::Write("/tmp/report.log", c.log));
        std::string out, verdicts;
        EXPECT_EQ(c.iStatus, Report({"--json", "--log", "/tmp/report.log"}, out));
        for (const std::string& line : tk::Lines(out))
        {
            const nlohmann::json run = nlohmann::json::parse(line);
            verdicts += (verdicts.empty() ? "" : "; ") +
                        (run["outcome"] == "nothing requested" ? ""
                         : run["request"].is_null()            ? "unknown: "
                                                    : run["request"].get<std::string>() + ": ") +
                        run["verdict"].get<std::string>();
        }
        EXPECT_EQ(c.verdicts, verdicts);
    }
    std::string out;
    EXPECT_EQ(3, Report({"--log", "/tmp/none"}, out));
    EXPECT_EQ(64, Report({"--jsn"}, out));
}

// What the log tells of a successful service pack: its package, where each
// download came from, the crontab line due two minutes on (the hour's 2nd
// minute from minute 58). Shown to a terminal, the log's text cannot send
// it control sequences.
TEST(Report, PackageDownloadsAndCrontabLine)
{
    ASSERT_TRUE(tk::Write("/tmp/report.log", Log('a', kSpDone)));
    std::string out;
    ASSERT_EQ(0, Report({"--json", "--last", "--log", "/tmp/report.log"}, out));
    const nlohmann::ordered_json run = nlohmann::ordered_json::parse(out);
    EXPECT_EQ(run["packages"].dump(), R"([{"name":"sp.tgz","length":1024}])");
    EXPECT_EQ(run["downloads"][0].dump(),
              R"({"file":"/m/capatch.ini","url":null,"base_url":1,"proxy_attempt":false,)"
              R"("proxy":null,"served":true,"seconds":0})");
    EXPECT_EQ(run["downloads"][1].dump(),
              R"({"file":null,"url":"http://b/sp.tgz","base_url":2,"proxy_attempt":true,)"
              R"("proxy":"proxy.example","served":true,"seconds":0})");
    EXPECT_EQ(run["crontab"].dump(),
              R"([{"line":"2 11 * * * root /var/tmp/kvlinxsp/kvacascr 1 NULL >> /dev/null 2>&1",)"
              R"("logged":false}])");
    ASSERT_TRUE(tk::Write("/tmp/report.log",
                          Log('a', {"I main|Entry", "I GetServicePackName:|\x1b]0;x\x07"})));
    ASSERT_EQ(2, Report({"--log", "/tmp/report.log"}, out));
    EXPECT_EQ(std::string::npos, out.find_first_of("\x1b\x07")) << out;
}
} // namespace
