// The one support layer of the unit, network and system tests: files, a
// process runner, the trace-log parser, and the client of the fixture servers
// (tests/fixtures). Everything runs inside tests/sandbox.sh, whose /tmp,
// /var/log, /var/tmp and /usr/lib overlay are the test's own.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tk
{
using Strings = std::vector<std::string>;

// ---- files
std::string Read(const std::string& path);                    // "" when missing
bool Write(const std::string& path, const std::string& text); // makes the parents
bool Exists(const std::string& path);                         // the name itself, links not followed
Strings Lines(const std::string& text);
Strings Dir(const std::string& path); // sorted names, empty when missing
void Remove(const std::string& path); // the whole tree

// ---- processes: argv[0] is a path; no descriptor of the test but standard
// input from /dev/null and standard output and error into `output`.
pid_t Start(const Strings& argv, const std::string& output = "/dev/null",
            const std::string& cwd = "/");
int Wait(pid_t pid); // exit status, or 128 + the signal
int Run(const Strings& argv, const std::string& output = "/dev/null", const std::string& cwd = "/");

// ---- the trace log. A line reads "I <label>|<message>" (E for ERROR; with
// bSource "I <source> <label>|<message>"); a line not in the writer's exact
// layout reads "? " and its raw text.
constexpr const char* kTraceLog = "/var/log/xedabldn.log";
Strings Trace(const std::string& path = kTraceLog, bool bSource = false);
// The first of `expected` that `lines` lack in this order; "" when none. An
// expected line ending in '*' matches every line that begins with the rest.
std::string MissingInOrder(const Strings& lines, const Strings& expected);
size_t Count(const Strings& lines, const std::string& line);
// The verdict xedabldn-report gives on the last run to begin, in the trace
// log (and its backup) or in `log`: "scheduled", "failed: verification
// (CRC-32)", "nothing requested: unknown switch", "unfinished"; "no run" when
// there is none. An exit status that disagrees with it is told instead.
std::string Report(const std::string& log = "");

// ---- the fixture servers and the agent's files
std::string Source();              // the source tree
bool Servers(const Strings& args); // tests/fixtures/servers.sh
std::string Www();                 // nginx's document root
std::string CaFile();              // the test CA, once nginx has started
// http(s)://127.0.0.1 (base 1) or 127.0.0.3 (base 2), ports 8080 and 8443.
std::string Url(int iBase, const std::string& path, bool bHttps = false);
bool Publish(const Strings& makeUpdateArgs, const std::string& dir = Www()); // make_update.py
struct Request
{
    std::string client, path;
    int status;
};
// nginx's access log, once it holds at least nAtLeast requests (or after 2 s).
std::vector<Request> Requests(size_t nAtLeast = 0);
void ClearRequests();
// The requests of the scripted server on port 8090, as JSON lines.
Strings ScriptedRequests();
bool StartScripted(const std::string& json);
// The 788-byte proxy options record, laid out by hand; nLength cuts it or
// pads it with 'A'.
struct ProxyOptions
{
    short shUseProxy, shConnType;
    int iPort;
    std::string strUser, strPassword;
    short shUseAuthentication;
    std::string strHost = "127.0.0.1";
    size_t nLength = 788;
};
bool WriteProxyOptions(const ProxyOptions& options);
constexpr const char* kConfigDir = "/usr/lib/Zelvano/ClientAgent/config/";
bool WriteSslConfig(const std::string& strLines); // "" removes sslConfig.ini
} // namespace tk
