// End-to-end harness: runs the real xedabldn binary inside the test's sandbox
// against the fixture servers, and reads back only what the agent or an
// administrator can observe: the exit status, the trace log, the files left
// in place, /etc/crontab and the requests that reached the update source.
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

// ---- files and processes ----------------------------------------------------

std::string ReadFile(const std::string& path);  // "" when missing
void WriteFile(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
bool IsExecutable(const std::string& path);
// Member names of a tar.gz, as /bin/tar lists them.
std::vector<std::string> ArchiveMembers(const std::string& archive);
// key=value lines of a small INI text, without our own reader (known answers).
std::map<std::string, std::string> IniValues(const std::string& path);
// Entries of a directory, names only, sorted; empty when it does not exist.
std::vector<std::string> ListDir(const std::string& path);

struct Command
{
    Args argv;                    // argv[0] is a path, no PATH search
    std::vector<std::string> env; // NAME=VALUE added to (or replacing in) ours
    std::string cwd;              // "" keeps ours
    std::string output;           // file for stdout and stderr; "" keeps ours
};
// Exit code, or 128 + signal number when the child was killed.
int RunCommand(const Command& command);

// ---- the trace log -------------------------------------------------------------

struct Trace
{
    std::string level;  // "INFO" or "ERROR"
    std::string label;  // the function name or short label of the line
    std::string message;
};
std::ostream& operator<<(std::ostream& os, const Trace& trace);

class TraceLog
{
public:
    static TraceLog Read(const std::string& path = "/var/log/xedabldn.log");

    const std::vector<Trace>& Lines() const& { return m_lines; }
    std::vector<Trace> Lines() && { return std::move(m_lines); }
    // Lines that do not have the writer's format (header, CR LF, trailer).
    const std::vector<std::string>& Malformed() const { return m_malformed; }
    size_t Count(const Trace& trace) const;
    bool Has(const Trace& trace) const { return Count(trace) > 0; }
    // A line of this level and label whose message begins with trace.message.
    bool HasPrefix(const Trace& trace) const;
    bool HasMessage(const std::string& message) const;
    // Lines of this level and message, whatever their label.
    size_t CountMessage(const std::string& level, const std::string& message) const;
    bool HasLabel(const std::string& label) const;
    size_t CountLevel(const std::string& level) const;
    // The traces appear in this order, other lines allowed in between.
    bool HasInOrder(const std::vector<Trace>& traces) const;
    std::string Text() const { return m_text; }

private:
    std::vector<Trace> m_lines;
    std::vector<std::string> m_malformed;
    std::string m_text;
};

// ---- the update source (nginx of tests/fixtures/servers.sh) --------------------

struct Request
{
    std::string client;  // remote address
    std::string server;  // address:port the request arrived at
    std::string scheme;  // http or https
    std::string method;
    std::string path;    // as the client sent it
    int status = 0;
};

// ---- what must not change ------------------------------------------------------

// Names of files and directories outside the installer's own places (/var/tmp,
// /var/log, /usr/lib/Zelvano, /etc/crontab), so that a run that created or
// removed anything elsewhere is caught.
class FileTreeSnapshot
{
public:
    static FileTreeSnapshot Take();
    // Paths present in one snapshot and not in the other, each prefixed by
    // "+" (created since `before`) or "-" (gone since `before`).
    std::vector<std::string> ChangesSince(const FileTreeSnapshot& before) const;

private:
    std::set<std::string> m_paths;
};

// ---- the fixture ---------------------------------------------------------------

struct RunResult
{
    int status = -1;
    std::string output;  // the installer's stdout and stderr (tar's listing)
    struct tm before{};  // local time just before and just after the run
    struct tm after{};
};

// Local time's service-pack schedule: two minutes later, minute 2 of the next
// hour from minute 58 or 59.
std::string ServicePackCronLine(const struct tm& now);

// Packages an update source serves, as make_update.py arguments; `extra`
// adds members or manifest overrides.
Args ServicePack(const Args& extra = {});     // sp.tar.gz holding kvlinxsp/kvacascr
Args CaPackage(const Args& extra = {});       // caPack.tar.gz holding installation/*
Args DeltaPackage(const Args& extra = {});    // delta.tar.gz holding kvlinxsp/kvacascr
Args BuildPackage(const Args& extra = {});    // linuxUpgradePack64.tar.gz holding ClientBuild/...

extern const char kModuleDir[];    // "/usr/lib/Zelvano/ClientAgent/"
extern const char kConfigDir[];    // "/usr/lib/Zelvano/ClientAgent/config/"
extern const char kSpScript[];     // "/var/tmp/kvlinxsp/kvacascr"
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
    void SetUp() override;
    void TearDown() override;

    // Base URL of a directory of the update source, without trailing '/':
    // address 1 is 127.0.0.1, address 2 the second base address.
    static std::string Http(int address, const std::string& dir = "upd");
    static std::string Https(int address, const std::string& dir = "upd");
    static std::string Www(const std::string& dir = "upd");  // its document root

    // make_update.py update <www>/<dir> <args...>
    void Publish(const Args& args, const std::string& dir = "upd");
    // make_update.py <args...> (package or manifest subcommands)
    void MakeUpdate(const Args& args);

    void SetUpgradeType(const std::string& typeLine);  // e.g. "type=1"
    void WriteSslConfig(const std::string& text);

    RunResult Run(const Args& args, const std::vector<std::string>& pathShims = {});
    // The usual call: both base URLs, the switch, the module directory.
    RunResult RunSwitch(const std::string& url1, const std::string& url2, const std::string& sw,
                        const std::vector<std::string>& pathShims = {});

    // A directory of fake programs (pidof, service, ...) put first in PATH;
    // each records "name args" to <dir>/calls and exits with its status.
    std::string MakeShims(const std::string& name, const std::map<std::string, std::string>& scripts);
    static std::vector<std::string> ShimCalls(const std::string& shimDir);

    // Starts the real cron daemon in the sandbox's PID namespace.
    void StartCron();
    void StopCron();

    std::vector<std::string> NewCrontabLines() const;
    std::vector<Request> Requests() const;
    std::vector<std::string> RequestedPaths() const;
    // What a run created or removed outside the installer's own places, plus
    // anything left in the installer's working directory.
    std::vector<std::string> ChangesOutsideOwnPlaces() const;

    TraceLog Log() const { return TraceLog::Read(); }

private:
    void ResetMachine();
    void ResetAgent();

    std::string m_crontabBaseline;
    FileTreeSnapshot m_before;
    int m_cronPid = -1;
    std::string m_lastOutput;
};

// Expectations shared by every run: exit status 0, a well-formed log, nothing
// outside the installer's own places changed.
#define EXPECT_CLEAN_RUN(result)                                              \
    do                                                                        \
    {                                                                         \
        EXPECT_EQ((result).status, 0) << (result).output;                     \
        EXPECT_EQ(Log().Malformed(), std::vector<std::string>{});             \
        EXPECT_EQ(ChangesOutsideOwnPlaces(), std::vector<std::string>{});     \
    } while (0)

}  // namespace systest
