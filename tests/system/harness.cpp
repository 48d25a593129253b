#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace systest
{

const char kModuleDir[] = "/usr/lib/Zelvano/ClientAgent/";
const char kConfigDir[] = "/usr/lib/Zelvano/ClientAgent/config/";
const char kSpScript[] = "/var/tmp/kvlinxsp/kvacascr";
const char kUninstallLine[] =
    "*/3 * * * * root /var/tmp/installation/kvuninstall_clagnt 1 NULL >> /dev/null 2>&1";
const char kRollbackLine[] =
    "*/1 * * * * root /var/tmp/installation/rollbackCA.sh 1 NULL >> /dev/null 2>&1";
const char kBuildInstallLine[] =
    "*/3 * * * * root /var/tmp/ClientBuild/x86_64/aclinux/kvinstall 1 NULL >> /dev/null 2>&1";

namespace
{
// Everything the harness itself keeps lies under kWork, which the snapshot
// ignores; the installer runs in kCwd, which the snapshot watches (a glob in
// a crontab command could otherwise pick up a file there unnoticed).
const std::string kWork = "/tmp/xeda-sys";
const std::string kCwd = "/tmp/xeda-cwd";
const std::string kOutput = kWork + "/installer.out";
const std::string kLogFile = "/var/log/xedabldn.log";
const std::string kLogBackup = "/var/log/xedabldn.bak";

std::string SourceDir()
{
    return XEDA_SYSTEST_SOURCE_DIR;
}

std::string ServersScript()
{
    return SourceDir() + "/tests/fixtures/servers.sh";
}

std::string MakeUpdateScript()
{
    return SourceDir() + "/tests/fixtures/make_update.py";
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
    {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
            return x.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child between fork and exec: only async-signal-safe calls, and
// _exit on any failure so that no test code runs twice.
[[noreturn]] void ExecChild(const Command& command, char** argv, char** envp)
{
    int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, STDIN_FILENO) < 0)
        _exit(126);
    if (!command.output.empty())
    {
        int out = open(command.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(out, STDERR_FILENO) < 0)
            _exit(126);
    }
    // The program starts as the agent would start it: nothing of the test's
    // own descriptors, only standard input, output and error.
    closefrom(STDERR_FILENO + 1);
    if (!command.cwd.empty() && chdir(command.cwd.c_str()) != 0)
        _exit(126);
    execve(argv[0], argv, envp);
    _exit(127);
}

pid_t Spawn(const Command& command)
{
    std::vector<std::string> args = command.argv;
    std::vector<std::string> env = MergedEnvironment(command.env);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    pid_t pid = fork();
    if (pid == 0)
        ExecChild(command, argv.data(), envp.data());
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
    {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void RemoveContents(const std::string& dir)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        fs::remove_all(entry.path(), ec);
}

bool IsDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return isdigit(c); });
}

// "dd-mm hh:mm:ss:XXXXXXXX" followed by the application name right-aligned
// in 12 columns and the level tag right-aligned in 7.
bool ParseHeader(const std::string& line, std::string& level)
{
    static const char kPattern[] = "99-99 99:99:99:XXXXXXXX ";
    if (line.size() < 45)
        return false;
    for (size_t i = 0; i + 1 < sizeof(kPattern); ++i)
    {
        unsigned char c = static_cast<unsigned char>(line[i]);
        bool ok = kPattern[i] == '9'   ? isdigit(c)
                  : kPattern[i] == 'X' ? (isdigit(c) || (c >= 'A' && c <= 'F'))
                                       : c == static_cast<unsigned char>(kPattern[i]);
        if (!ok)
            return false;
    }
    if (line.compare(24, 13, "    xedabldn ") != 0)
        return false;
    std::string tag = line.substr(37, 7);
    if (tag == " [INFO]")
        level = "INFO";
    else if (tag == "[ERROR]")
        level = "ERROR";
    else
        return false;
    return line[44] == ' ';
}

// Message, then " [file label:line]". The label may hold blanks and colons
// ("Extract status:"), the message anything: the trailer is the last " [".
bool ParseBody(const std::string& body, Trace& trace)
{
    if (body.empty() || body.back() != ']')
        return false;
    size_t colon = body.rfind(':');
    size_t open = body.rfind(" [");
    if (colon == std::string::npos || open == std::string::npos || colon < open)
        return false;
    if (!IsDigits(body.substr(colon + 1, body.size() - colon - 2)))
        return false;
    std::string fileAndLabel = body.substr(open + 2, colon - open - 2);
    size_t blank = fileAndLabel.find(' ');
    if (blank == std::string::npos || blank == 0)
        return false;
    trace.label = fileAndLabel.substr(blank + 1);
    trace.message = body.substr(0, open);
    return true;
}

struct WatchedTree
{
    const char* root;
    int depth;  // levels below the root to list; -1 for all
};

// The trees a runaway path could reach from /var/tmp/, the module directory
// or the working directory, and the top of the file system.
const WatchedTree kWatched[] = {
    {"/", 0},   {"/etc", -1},  {"/var", -1},  {"/usr/lib", 0}, {"/usr/local", -1},
    {"/opt", 1}, {"/root", 0}, {"/tmp", -1}, {"/dev/shm", -1}, {"/srv", -1},
};

// The installer's own places, the harness's, the sandbox's and the trees'
// own (which a clone under /tmp puts in view), and what the host's package
// manager may change under a long test run.
const std::vector<std::string>& IgnoredTrees()
{
    static const std::vector<std::string> ignored = [] {
        std::vector<std::string> trees{
            "/var/tmp", "/var/log", "/usr/lib/Zelvano", kWork, "/var/cache",
            "/var/lib/apt", "/var/lib/dpkg", "/proc", "/sys", "/dev", "/run",
        };
        for (const char* name : {"SANDBOX_DIR", "XEDA_SOURCE_DIR", "XEDA_BINARY_DIR"})
        {
            const char* dir = getenv(name);
            std::error_code ec;
            std::string canonical = dir != nullptr ? fs::canonical(dir, ec).string() : "";
            if (!ec && canonical.size() > 1)
                trees.push_back(canonical);
        }
        return trees;
    }();
    return ignored;
}

bool IsIgnored(const std::string& path)
{
    const std::vector<std::string>& trees = IgnoredTrees();
    return std::any_of(trees.begin(), trees.end(), [&](const std::string& p) {
        return path.compare(0, p.size(), p) == 0 && (path.size() == p.size() || path[p.size()] == '/');
    });
}

void ListTree(const WatchedTree& tree, std::set<std::string>& paths)
{
    std::error_code ec;
    fs::recursive_directory_iterator it(tree.root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    {
        std::string path = it->path().string();
        if (IsIgnored(path))
        {
            it.disable_recursion_pending();
            continue;
        }
        paths.insert(path);
        if (tree.depth >= 0 && it.depth() >= tree.depth)
            it.disable_recursion_pending();
    }
}

std::map<std::string, std::string>& FixtureEnv()
{
    static std::map<std::string, std::string> env;
    return env;
}

struct tm LocalNow()
{
    struct tm t{};
    time_t now = time(nullptr);
    if (localtime_r(&now, &t) == nullptr)
        ADD_FAILURE() << "localtime_r failed";
    return t;
}
}  // namespace

// ---- files and processes ----------------------------------------------------

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    ASSERT_TRUE(out) << "cannot write " << path;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsExecutable(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) != 0;
}

std::vector<std::string> ArchiveMembers(const std::string& archive)
{
    std::string listing = kWork + "/archive.list";
    EXPECT_EQ(RunCommand({{"/bin/tar", "-tzf", archive}, {}, "", listing}), 0) << ReadFile(listing);
    return SplitLines(ReadFile(listing));
}

std::map<std::string, std::string> IniValues(const std::string& path)
{
    std::map<std::string, std::string> values;
    for (std::string line : SplitLines(ReadFile(path)))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

std::vector<std::string> ListDir(const std::string& path)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int RunCommand(const Command& command)
{
    pid_t pid = Spawn(command);
    return pid < 0 ? -1 : Wait(pid);
}

// ---- the trace log -------------------------------------------------------------

std::ostream& operator<<(std::ostream& os, const Trace& trace)
{
    return os << "[" << trace.level << "] <" << trace.label << "> " << trace.message;
}

TraceLog TraceLog::Read(const std::string& path)
{
    TraceLog log;
    log.m_text = ReadFile(path);
    for (std::string line : SplitLines(log.m_text))
    {
        Trace trace;
        bool ok = !line.empty() && line.back() == '\r';
        if (ok)
            line.pop_back();
        ok = ok && ParseHeader(line, trace.level) && ParseBody(line.substr(45), trace);
        if (ok)
            log.m_lines.push_back(trace);
        else
            log.m_malformed.push_back(line);
    }
    if (!log.m_text.empty() && log.m_text.back() != '\n')
        log.m_malformed.push_back("(last line not ended by CR LF)");
    return log;
}

size_t TraceLog::Count(const Trace& t) const
{
    return std::count_if(m_lines.begin(), m_lines.end(), [&](const Trace& x) {
        return x.level == t.level && x.label == t.label && x.message == t.message;
    });
}

bool TraceLog::HasPrefix(const Trace& t) const
{
    return std::any_of(m_lines.begin(), m_lines.end(), [&](const Trace& x) {
        return x.level == t.level && x.label == t.label && x.message.rfind(t.message, 0) == 0;
    });
}

bool TraceLog::HasMessage(const std::string& message) const
{
    return std::any_of(m_lines.begin(), m_lines.end(),
                       [&](const Trace& x) { return x.message == message; });
}

size_t TraceLog::CountMessage(const std::string& level, const std::string& message) const
{
    return std::count_if(m_lines.begin(), m_lines.end(), [&](const Trace& x) {
        return x.level == level && x.message == message;
    });
}

size_t TraceLog::CountLevel(const std::string& level) const
{
    return std::count_if(m_lines.begin(), m_lines.end(), [&](const Trace& x) { return x.level == level; });
}

bool TraceLog::HasLabel(const std::string& label) const
{
    return std::any_of(m_lines.begin(), m_lines.end(),
                       [&](const Trace& x) { return x.label == label; });
}

bool TraceLog::HasInOrder(const std::vector<Trace>& traces) const
{
    auto next = traces.begin();
    for (const Trace& x : m_lines)
    {
        if (next == traces.end())
            break;
        if (x.level == next->level && x.label == next->label && x.message == next->message)
            ++next;
    }
    return next == traces.end();
}

// ---- what must not change ------------------------------------------------------

FileTreeSnapshot FileTreeSnapshot::Take()
{
    FileTreeSnapshot snapshot;
    for (const WatchedTree& tree : kWatched)
        ListTree(tree, snapshot.m_paths);
    return snapshot;
}

std::vector<std::string> FileTreeSnapshot::ChangesSince(const FileTreeSnapshot& before) const
{
    std::vector<std::string> changes;
    for (const std::string& p : m_paths)
        if (before.m_paths.count(p) == 0)
            changes.push_back("+" + p);
    for (const std::string& p : before.m_paths)
        if (m_paths.count(p) == 0)
            changes.push_back("-" + p);
    return changes;
}

namespace
{
// make_update.py arguments of an update whose scripts only leave a mark of
// their run: what a real package's scripts install is theirs.
Args Update(const char* kind, const char* name, std::initializer_list<const char*> scripts, const Args& extra)
{
    Args args{"--kind", kind, "--name", name};
    for (const char* script : scripts)
    {
        std::string base = fs::path(script).filename().string();
        args.push_back("--script");
        args.push_back(std::string(script) + "=#!/bin/sh\necho \"$@\" > /var/tmp/" + base + ".ran\n");
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}
}  // namespace

Args ServicePack(const Args& extra)
{
    return Update("sp", "sp.tar.gz", {"kvlinxsp/kvacascr"}, extra);
}

Args CaPackage(const Args& extra)
{
    return Update("ca", "caPack.tar.gz", {"installation/kvuninstall_clagnt", "installation/rollbackCA.sh"}, extra);
}

Args DeltaPackage(const Args& extra)
{
    return Update("delta", "delta.tar.gz", {"kvlinxsp/kvacascr"}, extra);
}

Args BuildPackage(const Args& extra)
{
    return Update("ca", "linuxUpgradePack64.tar.gz", {"ClientBuild/x86_64/aclinux/kvinstall"}, extra);
}

std::string ServicePackCronLine(const struct tm& now)
{
    int hour = now.tm_hour;
    int minute = now.tm_min + 2;
    if (minute > 59)
    {
        ++hour;
        minute = 2;
    }
    if (hour > 23)
        hour = 0;
    return std::to_string(minute) + " " + std::to_string(hour) +
           " * * * root /var/tmp/kvlinxsp/kvacascr 1 NULL >> /dev/null 2>&1";
}

// ---- the fixture ---------------------------------------------------------------

int SystemTest::Servers(const Args& args)
{
    Command command{{"/bin/bash", ServersScript()}, {}, "", kWork + "/servers.out"};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    int status = RunCommand(command);
    if (status != 0)
        std::cerr << "servers.sh failed:\n" << ReadFile(command.output);
    return status;
}

std::string SystemTest::Fixture(const std::string& key)
{
    auto& env = FixtureEnv();
    if (env.empty())
    {
        std::error_code ec;
        fs::create_directories(kWork, ec);
        Command command{{"/bin/bash", ServersScript(), "env"}, {}, "", kWork + "/fixture.env"};
        if (RunCommand(command) != 0)
            ADD_FAILURE() << "servers.sh env failed: " << ReadFile(command.output);
        for (const std::string& line : SplitLines(ReadFile(command.output)))
        {
            size_t eq = line.find('=');
            if (eq != std::string::npos)
                env[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    auto it = env.find(key);
    if (it == env.end())
    {
        ADD_FAILURE() << "servers.sh env gives no " << key;
        return {};
    }
    return it->second;
}

void SystemTest::StartUpdateSource(const std::string& mode)
{
    std::error_code ec;
    fs::create_directories(Www(""), ec);
    ASSERT_EQ(Servers({"start-nginx", "--mode", mode, "--root", Www("")}), 0);
}

std::string SystemTest::Http(int address, const std::string& dir)
{
    std::string base = "http://" + Fixture(address == 1 ? "FX_ADDR1" : "FX_ADDR2") + ":" +
                       Fixture("FX_HTTP_PORT");
    return dir.empty() ? base : base + "/" + dir;
}

std::string SystemTest::Https(int address, const std::string& dir)
{
    std::string base = "https://" + Fixture(address == 1 ? "FX_ADDR1" : "FX_ADDR2") + ":" +
                       Fixture("FX_HTTPS_PORT");
    return dir.empty() ? base : base + "/" + dir;
}

std::string SystemTest::Www(const std::string& dir)
{
    return dir.empty() ? kWork + "/www" : kWork + "/www/" + dir;
}

void SystemTest::MakeUpdate(const Args& args)
{
    Command command{{"/usr/bin/python3", MakeUpdateScript()}, {}, "", kWork + "/make_update.out"};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    ASSERT_EQ(RunCommand(command), 0) << ReadFile(command.output);
}

void SystemTest::Publish(const Args& args, const std::string& dir)
{
    std::error_code ec;
    fs::create_directories(Www(dir), ec);
    Args all{"update", Www(dir)};
    all.insert(all.end(), args.begin(), args.end());
    MakeUpdate(all);
}

void SystemTest::SetUpgradeType(const std::string& typeLine)
{
    WriteFile(std::string(kConfigDir) + "clntdata.ini", "[DATA_FOR_UPGRADE]\n" + typeLine + "\n");
}

void SystemTest::WriteSslConfig(const std::string& text)
{
    WriteFile(std::string(kConfigDir) + "sslConfig.ini", text);
}

RunResult SystemTest::Run(const Args& args, const std::vector<std::string>& pathShims)
{
    RunResult result;
    std::string path;
    for (const std::string& dir : pathShims)
        path += dir + ":";
    const char* inherited = getenv("PATH");
    path += inherited != nullptr ? inherited : "/usr/sbin:/usr/bin:/sbin:/bin";
    Command command{{XEDA_SYSTEST_INSTALLER}, {"PATH=" + path}, kCwd, kOutput};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    result.before = LocalNow();
    result.status = RunCommand(command);
    result.after = LocalNow();
    result.output = ReadFile(kOutput);
    m_lastOutput = result.output;
    return result;
}

RunResult SystemTest::RunSwitch(const std::string& url1, const std::string& url2,
                                const std::string& sw, const std::vector<std::string>& pathShims)
{
    return Run({url1, url2, sw, kModuleDir}, pathShims);
}

std::string SystemTest::MakeShims(const std::string& name,
                                  const std::map<std::string, std::string>& scripts)
{
    std::string dir = kWork + "/shims/" + name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    for (const auto& [program, body] : scripts)
    {
        std::string file = dir + "/" + program;
        WriteFile(file, "#!/bin/sh\necho \"" + program + " $*\" >> " + dir + "/calls\n" + body + "\n");
        fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec, ec);
        EXPECT_FALSE(ec) << "chmod " << file;
    }
    return dir;
}

std::vector<std::string> SystemTest::ShimCalls(const std::string& shimDir)
{
    return SplitLines(ReadFile(shimDir + "/calls"));
}

void SystemTest::StartCron()
{
    ASSERT_LT(m_cronPid, 0) << "cron already started";
    std::error_code ec;
    fs::remove("/run/crond.pid", ec);
    m_cronPid = Spawn({{"/usr/sbin/cron", "-f"}, {}, "/", kWork + "/cron.out"});
    ASSERT_GT(m_cronPid, 0) << "fork failed";
    // cron writes its pid file once it has read the crontabs and is ready.
    for (int i = 0; i < 250 && !Exists("/run/crond.pid"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(Exists("/run/crond.pid")) << ReadFile(kWork + "/cron.out");
    // cron notices a changed /etc/crontab by its modification time in whole
    // seconds: an append in the same second as the crontab's last write would
    // go unseen, so let that second pass before the installer runs.
    struct stat st;
    ASSERT_EQ(stat("/etc/crontab", &st), 0);
    while (time(nullptr) <= st.st_mtime)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void SystemTest::StopCron()
{
    if (m_cronPid < 0)
        return;
    if (kill(m_cronPid, SIGTERM) != 0)
        ADD_FAILURE() << "kill cron: " << strerror(errno);
    Wait(m_cronPid);
    m_cronPid = -1;
}

std::vector<std::string> SystemTest::NewCrontabLines() const
{
    std::string now = ReadFile("/etc/crontab");
    if (now.compare(0, m_crontabBaseline.size(), m_crontabBaseline) != 0)
        return {"(the crontab's earlier lines were changed)"};
    std::string added = now.substr(m_crontabBaseline.size());
    std::vector<std::string> lines = SplitLines(added);
    if (!added.empty() && added.back() != '\n')
        lines.back() += " (no newline)";
    return lines;
}

std::vector<Request> SystemTest::Requests() const
{
    // nginx writes a request's line when it finalises the request, which can
    // trail the client's end by a moment: read until the log is stable.
    std::string path = Fixture("FX_ACCESS_LOG");
    std::string text = ReadFile(path);
    for (int i = 0; i < 50; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string again = ReadFile(path);
        if (again == text)
            break;
        text = again;
    }
    std::vector<Request> requests;
    for (const std::string& line : SplitLines(text))
    {
        // client server:port scheme "METHOD path HTTP/x" status bytes "agent"
        Request r;
        std::istringstream in(line);
        in >> r.client >> r.server >> r.scheme;
        size_t open = line.find('"');
        size_t agent = line.rfind(" \"");
        if (open == std::string::npos || agent == std::string::npos || agent <= open)
            continue;
        std::string middle = line.substr(open + 1, agent - open - 1);  // METHOD path HTTP/x" status bytes
        size_t close = middle.rfind('"');
        std::istringstream request(middle.substr(0, close));
        request >> r.method >> r.path;
        std::istringstream tail(middle.substr(close + 1));
        tail >> r.status;
        requests.push_back(r);
    }
    return requests;
}

std::vector<std::string> SystemTest::RequestedPaths() const
{
    std::vector<std::string> paths;
    for (const Request& r : Requests())
        paths.push_back(r.path);
    return paths;
}

std::vector<std::string> SystemTest::ChangesOutsideOwnPlaces() const
{
    return FileTreeSnapshot::Take().ChangesSince(m_before);
}

void SystemTest::ResetMachine()
{
    static const std::string baseline = ReadFile("/etc/crontab");
    m_crontabBaseline = baseline;
    WriteFile("/etc/crontab", baseline);
    RemoveContents("/var/tmp");
    std::error_code ec;
    fs::remove(kLogFile, ec);
    fs::remove(kLogBackup, ec);
    fs::remove_all("/usr/lib/Zelvano", ec);
    fs::remove_all(Www(""), ec);
    fs::remove_all(kCwd, ec);
    fs::create_directories(Www(""), ec);
    fs::create_directories(kCwd, ec);
    // Truncating keeps nginx's open descriptor valid (it appends).
    if (truncate(Fixture("FX_ACCESS_LOG").c_str(), 0) != 0 && errno != ENOENT)
        ADD_FAILURE() << "truncate access log: " << strerror(errno);
}

// An installed agent: its program, its configuration directory with the SSL
// settings an agent normally has (verify against the update source's CA).
void SystemTest::ResetAgent()
{
    WriteFile(std::string(kModuleDir) + "bin/kvagent", "agent program\n");
    WriteSslConfig("[SSL]\nSSL_VERIFY_CERT=1\nSSL_CERT_STORE_PATH=" + Fixture("FX_CA") + "\n");
}

void SystemTest::SetUp()
{
    ResetMachine();
    ResetAgent();
    m_before = FileTreeSnapshot::Take();
}

void SystemTest::TearDown()
{
    StopCron();
    if (!HasFailure())
        return;
    std::cerr << "---- /var/log/xedabldn.log\n" << ReadFile(kLogFile)
              << "---- installer output\n" << m_lastOutput << "---- new crontab lines\n";
    for (const std::string& line : NewCrontabLines())
        std::cerr << line << "\n";
    std::cerr << "---- requests\n";
    for (const Request& r : Requests())
        std::cerr << r.client << " " << r.method << " " << r.path << " " << r.status << "\n";
    std::cerr << "---- /var/tmp\n";
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator("/var/tmp", ec))
        std::cerr << entry.path().string() << "\n";
}

}  // namespace systest
