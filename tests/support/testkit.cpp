#include "testkit.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "log.h"
#include "logread.h"

extern char** environ;
namespace fs = std::filesystem;

namespace tk
{
std::string Read(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

bool Write(const std::string& path, const std::string& text)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    return static_cast<bool>(std::ofstream(path, std::ios::binary) << text);
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

Strings Lines(const std::string& text)
{
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

Strings Dir(const std::string& path)
{
    Strings names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path, ec))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

void Remove(const std::string& path)
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

// Between fork and exec only async-signal-safe calls, and _exit on failure,
// so that no test code runs twice.
pid_t Start(const Strings& argv, const std::string& output, const std::string& cwd)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int in = open("/dev/null", O_RDONLY),
              out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 ||
        chdir(cwd.c_str()) != 0)
        _exit(126);
    closefrom(3);
    execve(args[0], args.data(), environ);
    _exit(127);
}

int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Run(const Strings& argv, const std::string& output, const std::string& cwd)
{
    const pid_t pid = Start(argv, output, cwd);
    return pid < 0 ? -1 : Wait(pid);
}

namespace
{
std::string ParseLine(const std::string& line, bool bSource)
{
    RP_LOG_LINE fields;
    if (!ParseRpLogLine(line, fields))
        return "? " + line;
    const char cLevel = fields.dwTraceLevel == RP_TRACE_LEVEL_ERROR  ? 'E'
                        : fields.dwTraceLevel == RP_TRACE_LEVEL_INFO ? 'I'
                        : fields.dwTraceLevel == RP_TRACE_LEVEL_WARN ? 'W'
                                                                     : 'D';
    return std::string(1, cLevel) + " " + (bSource ? std::string(fields.svSourceName) + " " : "") +
           std::string(fields.svFunctionName) + "|" + std::string(fields.svMessage);
}

std::string FixtureDir()
{
    const std::string dir = std::string(getenv("SANDBOX_DIR")) + "/fixtures/";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}
} // namespace

Strings Trace(const std::string& path, bool bSource)
{
    const std::string text = Read(path);
    Strings lines;
    for (const std::string& line : Lines(text))
        lines.push_back(ParseLine(line, bSource));
    if (!text.empty() && text.back() != '\n')
        lines.push_back("? (no line end)");
    return lines;
}

std::string MissingInOrder(const Strings& lines, const Strings& expected)
{
    auto next = expected.begin();
    for (const std::string& line : lines)
        next += next != expected.end() &&
                (line == *next || (next->back() == '*' && line.compare(0, next->size() - 1, *next,
                                                                       0, next->size() - 1) == 0));
    return next == expected.end() ? "" : *next;
}

size_t Count(const Strings& lines, const std::string& line)
{
    return std::count(lines.begin(), lines.end(), line);
}

std::string Report(const std::string& log)
{
    static const std::map<std::string, int> kStatus = {
        {"scheduled", 0}, {"failed", 1}, {"unfinished", 2}, {"nothing requested", 4}};
    const std::string out = FixtureDir() + "report.out";
    Strings argv = {XEDA_REPORT, "--json", "--last"};
    if (!log.empty())
        argv.insert(argv.end(), {"--log", log});
    const int iStatus = Run(argv, out);
    const Strings lines = Lines(Read(out));
    if (lines.empty())
        return iStatus == 2 ? "no run" : "exit status " + std::to_string(iStatus);
    const nlohmann::json run = nlohmann::json::parse(lines.back(), nullptr, false);
    if (run.is_discarded() || !run["verdict"].is_string() || !run["outcome"].is_string())
        return lines.back();
    const auto expected = kStatus.find(run["outcome"].get<std::string>());
    if (expected == kStatus.end() || expected->second != iStatus)
        return "exit status " + std::to_string(iStatus) + " with " + lines.back();
    return run["verdict"];
}

std::string Source()
{
    return getenv("XEDA_SOURCE_DIR") ? getenv("XEDA_SOURCE_DIR") : XEDA_SOURCE_DIR_DEFAULT;
}

bool Servers(const Strings& args)
{
    Strings argv = {"/bin/bash", Source() + "/tests/fixtures/servers.sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    const bool ok = Run(argv, FixtureDir() + "servers.out") == 0;
    if (!ok)
        fprintf(stderr, "servers.sh failed:\n%s", Read(FixtureDir() + "servers.out").c_str());
    return ok;
}

std::string Www()
{
    return FixtureDir() + "www";
}
std::string CaFile()
{
    return FixtureDir() + "pki/ca.crt";
}

std::string Url(int iBase, const std::string& path, bool bHttps)
{
    return std::string(bHttps ? "https" : "http") + "://127.0.0." + (iBase == 1 ? "1" : "3") +
           (bHttps ? ":8443/" : ":8080/") + path;
}

bool Publish(const Strings& makeUpdateArgs, const std::string& dir)
{
    Strings argv = {"/usr/bin/python3", Source() + "/tests/fixtures/make_update.py", dir};
    argv.insert(argv.end(), makeUpdateArgs.begin(), makeUpdateArgs.end());
    return Run(argv, FixtureDir() + "make_update.out") == 0;
}

// nginx logs a request once it has finished it, which may trail the
// client's end by a moment.
std::vector<Request> Requests(size_t nAtLeast)
{
    std::vector<Request> requests;
    for (int i = 0; i == 0 || (i < 100 && requests.size() < nAtLeast); ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 0 : 20));
        requests.clear();
        for (const std::string& line : Lines(Read(FixtureDir() + "nginx/access.log")))
        {
            Request r{"", "", 0}; // client server:port "METHOD path HTTP/x" status
            std::string server, method, protocol;
            std::istringstream(line) >> r.client >> server >> method >> r.path >> protocol >>
                r.status;
            requests.push_back(r);
        }
    }
    return requests;
}

// Truncated, not removed: nginx keeps appending to its open descriptor.
void ClearRequests()
{
    std::ofstream(FixtureDir() + "nginx/access.log", std::ios::trunc);
}

Strings ScriptedRequests()
{
    return Lines(Read(FixtureDir() + "scripted.jsonl"));
}

bool StartScripted(const std::string& json)
{
    Remove(FixtureDir() + "scripted.jsonl");
    return Write(FixtureDir() + "script.json", json) &&
           Servers({"start-scripted", FixtureDir() + "script.json"});
}

bool WriteProxyOptions(const ProxyOptions& o)
{
    std::string record(788, '\0');
    const std::pair<size_t, int> numbers[] = {
        {0, o.shUseProxy}, {2, o.shConnType}, {264, o.iPort}, {786, o.shUseAuthentication}};
    for (const auto& [offset, value] : numbers) // 16 bits, little-endian
        record.replace(offset, 2,
                       {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)});
    for (const auto& [offset, text] :
         {std::pair{4, o.strHost}, {266, o.strUser}, {526, o.strPassword}})
        record.replace(offset, text.size(), text);
    record.resize(o.nLength, 'A');
    return Write("/usr/lib/Zelvano/Zelvano/kvinet.opt", record);
}

bool WriteSslConfig(const std::string& strLines)
{
    const std::string path = std::string(kConfigDir) + "sslConfig.ini";
    Remove(path);
    return strLines.empty() ? Write(path, "") && (Remove(path), true)
                            : Write(path, "[SSL]\n" + strLines);
}
} // namespace tk
