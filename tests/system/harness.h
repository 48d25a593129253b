// End-to-end harness: runs the real xedabldn binary inside the test's sandbox
// against the fixture servers, and reads back only what the agent or an
// administrator can observe: the exit status, the trace log, the files left,
// /etc/crontab and the requests that reached the update source.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace systest
{

using Strings = std::vector<std::string>;
using Args = Strings;

std::string ReadFile(const std::string& path);  // "" when missing
void WriteFile(const std::string& path, const std::string& text);
Strings Lines(const std::string& text);
bool Exists(const std::string& path);
bool IsExecutable(const std::string& path);
// key=value lines of a small INI text, without our own reader (known answers).
std::map<std::string, std::string> IniValues(const std::string& path);
Strings ListDir(const std::string& path);  // sorted names; empty when missing
// argv[0] is a path; stdout and stderr go to `output`. Exit code, or 128 + signal.
int RunCommand(const Args& argv, const std::string& output, const std::string& cwd = "");

struct Trace
{
    std::string level;  // "INFO" or "ERROR"
    std::string label;
    std::string message;
};
std::ostream& operator<<(std::ostream& os, const Trace& trace);

struct TraceLog
{
    std::vector<Trace> lines;
    Strings malformed;  // lines without the writer's format (header, CR LF, trailer)

    // An empty level or label matches any; with `prefix` the message need
    // only begin with trace.message.
    size_t Count(const Trace& trace, bool prefix = false) const;
    bool Has(const Trace& trace, bool prefix = false) const { return Count(trace, prefix) > 0; }
    // The traces appear in this order, other lines allowed in between.
    bool HasInOrder(const std::vector<Trace>& traces) const;
};

struct Request  // a line of the update source's access log
{
    std::string client;  // remote address
    std::string server;  // address:port the request arrived at
    std::string path;
    int status = 0;
};

struct RunResult
{
    int status = -1;
    std::string output;  // the installer's stdout and stderr (tar's listing)
    struct tm before{};  // local time just before and just after the run
    struct tm after{};
};

// make_update.py arguments of an update whose scripts only leave a mark of
// their run; `extra` adds members or manifest overrides.
Args Update(const std::string& kind, const std::string& name, const Strings& scripts, const Args& extra);
inline Args ServicePack(const Args& e = {}) { return Update("sp", "sp.tar.gz", {"kvlinxsp/kvacascr"}, e); }
inline Args DeltaPackage(const Args& e = {}) { return Update("delta", "delta.tar.gz", {"kvlinxsp/kvacascr"}, e); }
inline Args CaPackage(const Args& e = {})
{
    return Update("ca", "caPack.tar.gz", {"installation/kvuninstall_clagnt", "installation/rollbackCA.sh"}, e);
}
inline Args BuildPackage(const Args& e = {})
{
    return Update("ca", "linuxUpgradePack64.tar.gz", {"ClientBuild/x86_64/aclinux/kvinstall"}, e);
}

extern const char kModuleDir[];  // "/usr/lib/Zelvano/ClientAgent/"
extern const char kConfigDir[];  // "/usr/lib/Zelvano/ClientAgent/config/"
extern const char kSpScript[];   // "/var/tmp/kvlinxsp/kvacascr"
extern const char kUninstallLine[];
extern const char kRollbackLine[];
extern const char kBuildInstallLine[];

class SystemTest : public ::testing::Test
{
public:
    // nginx mode of servers.sh: "normal", "second-only" or "drop-direct".
    static void StartUpdateSource(const std::string& mode = "normal");
    static std::string Fixture(const std::string& key);  // a value of `servers.sh env`
    static int Servers(const Args& args);                // runs servers.sh

protected:
    static void SetUpTestSuite() { StartUpdateSource(); }
    void SetUp() override { Reset(); }
    void TearDown() override;
    // A fresh machine with an installed agent; table-driven tests call it
    // before each row.
    void Reset();

    // Base URL of a directory of the update source, without trailing '/':
    // address 1 is 127.0.0.1, address 2 the second base address.
    static std::string Http(int address, const std::string& dir = "upd") { return Url("http", address, dir); }
    static std::string Https(int address, const std::string& dir = "upd") { return Url("https", address, dir); }
    static std::string Www(const std::string& dir = "upd");  // its document root

    void Publish(const Args& args, const std::string& dir = "upd");  // make_update.py update
    void MakeUpdate(const Args& args);                               // make_update.py <args>
    void SetUpgradeType(const std::string& typeLine);  // e.g. "type=1"
    void WriteSslConfig(const std::string& caFile);

    RunResult Run(const Args& args, const std::string& shimDir = "");
    // The usual call: both base URLs, the switch, the module directory.
    RunResult RunSwitch(const std::string& url1, const std::string& url2, const std::string& sw,
                        const std::string& shimDir = "")
    {
        return Run({url1, url2, sw, kModuleDir}, shimDir);
    }

    // A directory of fake programs put first in PATH; each records
    // "name args" to <dir>/calls and then runs its body.
    std::string MakeShims(const std::string& name, const std::map<std::string, std::string>& scripts);
    void StartCron();  // the real cron daemon, in the sandbox's PID namespace

    Strings NewCrontabLines() const;
    std::vector<Request> Requests() const;
    Strings RequestedPaths() const;
    // What a run created or removed outside the installer's own places
    // (/var/tmp, /var/log, /usr/lib/Zelvano, /etc/crontab), "+path" or "-path".
    Strings ChangesOutsideOwnPlaces() const;

    TraceLog Log() const;
    // main's "<flow> installation failed", no "Exit" and no crontab line.
    void ExpectFailedWithoutLine(const std::string& flow);

private:
    static std::string Url(const std::string& scheme, int address, const std::string& dir);
    void StopCron();

    std::string m_crontabBaseline;
    std::set<std::string> m_before;
    int m_cronPid = -1;
    std::string m_lastOutput;
};

// Expectations shared by every run: exit status 0, a well-formed log, nothing
// outside the installer's own places changed.
#define EXPECT_CLEAN_RUN(result)                              \
    do                                                        \
    {                                                         \
        EXPECT_EQ((result).status, 0) << (result).output;     \
        EXPECT_EQ(Log().malformed, Strings{});                \
        EXPECT_EQ(ChangesOutsideOwnPlaces(), Strings{});      \
    } while (0)

}  // namespace systest
