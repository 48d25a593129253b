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

using Args = std::vector<std::string>;
using Strings = std::vector<std::string>;

std::string ReadFile(const std::string& path);  // "" when missing
void WriteFile(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
bool IsExecutable(const std::string& path);
Strings ArchiveMembers(const std::string& archive);  // as /bin/tar lists them
// key=value lines of a small INI text, without our own reader (known answers).
std::map<std::string, std::string> IniValues(const std::string& path);
Strings ListDir(const std::string& path);  // sorted names; empty when missing

struct Command
{
    Args argv;           // argv[0] is a path, no PATH search
    Strings env;         // NAME=VALUE added to (or replacing in) ours
    std::string cwd;     // "" keeps ours
    std::string output;  // file for stdout and stderr; "" keeps ours
};
int RunCommand(const Command& command);  // exit code, or 128 + signal

struct Trace
{
    std::string level;  // "INFO" or "ERROR"
    std::string label;
    std::string message;
};
std::ostream& operator<<(std::ostream& os, const Trace& trace);

class TraceLog
{
public:
    static TraceLog Read(const std::string& path = "/var/log/xedabldn.log");

    std::vector<Trace> Lines() const { return m_lines; }
    // Lines that do not have the writer's format (header, CR LF, trailer).
    const Strings& Malformed() const { return m_malformed; }
    size_t Count(const Trace& trace) const;
    bool Has(const Trace& trace) const { return Count(trace) > 0; }
    // A line of this level and label whose message begins with trace.message.
    bool HasPrefix(const Trace& trace) const;
    size_t CountMessage(const std::string& level, const std::string& message) const;
    bool HasLabel(const std::string& label) const;
    // The traces appear in this order, other lines allowed in between.
    bool HasInOrder(const std::vector<Trace>& traces) const;

private:
    std::vector<Trace> m_lines;
    Strings m_malformed;
};

struct Request  // a line of the update source's access log
{
    std::string client;  // remote address
    std::string server;  // address:port the request arrived at
    std::string scheme;
    std::string method;
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

// make_update.py arguments of the usual packages; `extra` adds members or
// manifest overrides.
Args ServicePack(const Args& extra = {});   // sp.tar.gz: kvlinxsp/kvacascr
Args CaPackage(const Args& extra = {});     // caPack.tar.gz: installation/*
Args DeltaPackage(const Args& extra = {});  // delta.tar.gz: kvlinxsp/kvacascr
Args BuildPackage(const Args& extra = {});  // linuxUpgradePack64.tar.gz: ClientBuild/...

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
    static std::string Http(int address, const std::string& dir = "upd");
    static std::string Https(int address, const std::string& dir = "upd");
    static std::string Www(const std::string& dir = "upd");  // its document root

    void Publish(const Args& args, const std::string& dir = "upd");  // make_update.py update
    void MakeUpdate(const Args& args);                               // make_update.py <args>
    void SetUpgradeType(const std::string& typeLine);  // e.g. "type=1"
    void WriteSslConfig(const std::string& caFile);

    RunResult Run(const Args& args, const Strings& pathShims = {});
    // The usual call: both base URLs, the switch, the module directory.
    RunResult RunSwitch(const std::string& url1, const std::string& url2, const std::string& sw,
                        const Strings& pathShims = {});

    // A directory of fake programs put first in PATH; each records
    // "name args" to <dir>/calls and then runs its body.
    std::string MakeShims(const std::string& name, const std::map<std::string, std::string>& scripts);
    static Strings ShimCalls(const std::string& shimDir);

    void StartCron();  // the real cron daemon, in the sandbox's PID namespace

    Strings NewCrontabLines() const;
    std::vector<Request> Requests() const;
    Strings RequestedPaths() const;
    // What a run created or removed outside the installer's own places
    // (/var/tmp, /var/log, /usr/lib/Zelvano, /etc/crontab), "+path" or "-path".
    Strings ChangesOutsideOwnPlaces() const;

    TraceLog Log() const { return TraceLog::Read(); }
    // main's "<flow> installation failed", no "Exit" and no crontab line.
    void ExpectFailedWithoutLine(const std::string& flow);

private:
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
        EXPECT_EQ(Log().Malformed(), Strings{});              \
        EXPECT_EQ(ChangesOutsideOwnPlaces(), Strings{});      \
    } while (0)

}  // namespace systest
