#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
const char kRollbackLine[] = "*/1 * * * * root /var/tmp/installation/rollbackCA.sh 1 NULL >> /dev/null 2>&1";
const char kBuildInstallLine[] =
    "*/3 * * * * root /var/tmp/ClientBuild/x86_64/aclinux/kvinstall 1 NULL >> /dev/null 2>&1";

namespace
{
// The harness keeps its own files under kWork, which the snapshot ignores;
// the installer runs in kCwd, which it watches (a glob in a crontab command
// could otherwise pick up a file there unnoticed).
const std::string kWork = "/tmp/xeda-sys";
const std::string kCwd = "/tmp/xeda-cwd";
const std::string kOutput = kWork + "/installer.out";
const std::string kLogFile = "/var/log/xedabldn.log";
const std::string kFixtures = std::string(XEDA_SYSTEST_SOURCE_DIR) + "/tests/fixtures/";

// Between fork and exec only async-signal-safe calls, and _exit on any
// failure so that no test code runs twice. The program starts as the agent
// would start it, with none of the test's own descriptors.
pid_t Spawn(const Args& args, const std::string& output, const std::string& cwd)
{
    Strings copy = args;
    std::vector<char*> argv;
    for (std::string& s : copy)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    int in = open("/dev/null", O_RDONLY);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
        dup2(out, STDERR_FILENO) < 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0))
        _exit(126);
    closefrom(STDERR_FILENO + 1);
    execve(argv[0], argv.data(), environ);
    _exit(127);
}

int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// A fixture script, its output kept in kWork/<log>.
int RunFixture(const std::string& program, const std::string& script, const Args& args, const std::string& log)
{
    Args argv{program, kFixtures + script};
    argv.insert(argv.end(), args.begin(), args.end());
    int status = RunCommand(argv, kWork + "/" + log);
    if (status != 0)
        ADD_FAILURE() << script << " failed:\n" << ReadFile(kWork + "/" + log);
    return status;
}

// "dd-mm hh:mm:ss:XXXXXXXX", the application name right-aligned in 12
// columns and the level tag right-aligned in 7, then a blank; then the
// message and " [file label:line]". The label may hold blanks and colons
// ("Extract status:"), the message anything: the trailer is the last " [".
bool ParseLine(const std::string& line, Trace& trace)
{
    static const char kPattern[] = "99-99 99:99:99:XXXXXXXX     xedabldn ";
    if (line.size() < 46 || line[44] != ' ')
        return false;
    for (size_t i = 0; i + 1 < sizeof(kPattern); ++i)
    {
        int c = static_cast<unsigned char>(line[i]);
        if (kPattern[i] == '9' ? !isdigit(c) : kPattern[i] == 'X' ? !isxdigit(c) || islower(c) : c != kPattern[i])
            return false;
    }
    std::string tag = line.substr(37, 7), body = line.substr(45);
    size_t open = body.rfind(" ["), blank = body.find(' ', open + 2), colon = body.rfind(':');
    std::string number = colon == std::string::npos ? "" : body.substr(colon + 1, body.size() - colon - 2);
    if ((tag != " [INFO]" && tag != "[ERROR]") || open == std::string::npos || body.back() != ']' || colon < open ||
        blank >= colon || blank == open + 2 || number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    trace.level = tag == " [INFO]" ? "INFO" : "ERROR";
    trace.label = body.substr(blank + 1, colon - blank - 1);
    trace.message = body.substr(0, open);
    return true;
}

// The trees a runaway path could reach from /var/tmp/, the module directory
// or the working directory, with the depth to list (-1: all).
const std::pair<const char*, int> kWatched[] = {
    {"/", 0},   {"/etc", -1},  {"/var", -1},  {"/usr/lib", 0}, {"/usr/local", -1},
    {"/opt", 1}, {"/root", 0}, {"/tmp", -1}, {"/dev/shm", -1}, {"/srv", -1},
};

// The installer's own places, the harness's, the sandbox's and the trees'
// own (which a clone under /tmp puts in view), and what the host's package
// manager may change under a long test run.
bool IsIgnored(const std::string& path)
{
    static const Strings ignored = [] {
        Strings trees{"/var/tmp", "/var/log", "/usr/lib/Zelvano", kWork, "/var/cache",
                      "/var/lib/apt", "/var/lib/dpkg", "/proc", "/sys", "/dev", "/run"};
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
    return std::any_of(ignored.begin(), ignored.end(), [&](const std::string& p) {
        return path.compare(0, p.size(), p) == 0 && (path.size() == p.size() || path[p.size()] == '/');
    });
}

std::set<std::string> TakeSnapshot()
{
    std::set<std::string> paths;
    for (const auto& [root, depth] : kWatched)
    {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        {
            std::string path = it->path().string();
            bool ignored = IsIgnored(path);
            if (!ignored)
                paths.insert(path);
            if (ignored || (depth >= 0 && it.depth() >= depth))
                it.disable_recursion_pending();
        }
    }
    return paths;
}

struct tm LocalNow()
{
    struct tm t{};
    time_t now = time(nullptr);
    if (localtime_r(&now, &t) == nullptr)
        ADD_FAILURE() << "localtime_r failed";
    return t;
}

bool Matches(const Trace& x, const Trace& t, bool prefix)
{
    return (t.level.empty() || x.level == t.level) && (t.label.empty() || x.label == t.label) &&
           (prefix ? x.message.rfind(t.message, 0) == 0 : x.message == t.message);
}
}  // namespace

// ---- files, processes, the trace log, packages ---------------------------------

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

Strings Lines(const std::string& text)
{
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
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

std::map<std::string, std::string> IniValues(const std::string& path)
{
    std::map<std::string, std::string> values;
    for (std::string line : Lines(ReadFile(path)))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

Strings ListDir(const std::string& path)
{
    Strings names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int RunCommand(const Args& argv, const std::string& output, const std::string& cwd)
{
    pid_t pid = Spawn(argv, output, cwd);
    return pid < 0 ? -1 : Wait(pid);
}

std::ostream& operator<<(std::ostream& os, const Trace& trace)
{
    return os << "[" << trace.level << "] <" << trace.label << "> " << trace.message;
}

size_t TraceLog::Count(const Trace& t, bool prefix) const
{
    return std::count_if(lines.begin(), lines.end(), [&](const Trace& x) { return Matches(x, t, prefix); });
}

bool TraceLog::HasInOrder(const std::vector<Trace>& traces) const
{
    auto next = traces.begin();
    for (const Trace& x : lines)
        if (next != traces.end() && Matches(x, *next, false))
            ++next;
    return next == traces.end();
}

Args Update(const std::string& kind, const std::string& name, const Strings& scripts, const Args& extra)
{
    Args args{"--kind", kind, "--name", name};
    for (const std::string& script : scripts)
    {
        args.push_back("--script");
        args.push_back(script + "=#!/bin/sh\necho \"$@\" > /var/tmp/" + fs::path(script).filename().string() +
                       ".ran\n");
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// ---- the fixture ---------------------------------------------------------------

int SystemTest::Servers(const Args& args)
{
    return RunFixture("/bin/bash", "servers.sh", args, "servers.out");
}

std::string SystemTest::Fixture(const std::string& key)
{
    static std::map<std::string, std::string> env;
    if (env.empty())
    {
        std::error_code ec;
        fs::create_directories(kWork, ec);
        RunFixture("/bin/bash", "servers.sh", {"env"}, "fixture.env");
        env = IniValues(kWork + "/fixture.env");
    }
    auto it = env.find(key);
    if (it == env.end())
        ADD_FAILURE() << "servers.sh env gives no " << key;
    return it == env.end() ? std::string() : it->second;
}

void SystemTest::StartUpdateSource(const std::string& mode)
{
    std::error_code ec;
    fs::create_directories(Www(""), ec);
    ASSERT_EQ(Servers({"start-nginx", "--mode", mode, "--root", Www("")}), 0);
}

std::string SystemTest::Url(const std::string& scheme, int address, const std::string& dir)
{
    return scheme + "://" + Fixture(address == 1 ? "FX_ADDR1" : "FX_ADDR2") + ":" +
           Fixture(scheme == "http" ? "FX_HTTP_PORT" : "FX_HTTPS_PORT") + "/" + dir;
}

std::string SystemTest::Www(const std::string& dir)
{
    return dir.empty() ? kWork + "/www" : kWork + "/www/" + dir;
}

void SystemTest::MakeUpdate(const Args& args)
{
    ASSERT_EQ(RunFixture("/usr/bin/python3", "make_update.py", args, "make_update.out"), 0);
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

void SystemTest::WriteSslConfig(const std::string& caFile)
{
    WriteFile(std::string(kConfigDir) + "sslConfig.ini", "[SSL]\nSSL_VERIFY_CERT=1\nSSL_CERT_STORE_PATH=" + caFile + "\n");
}

RunResult SystemTest::Run(const Args& args, const std::string& shimDir)
{
    const char* inherited = getenv("PATH");
    std::string path = inherited != nullptr ? inherited : "/usr/sbin:/usr/bin:/sbin:/bin";
    EXPECT_EQ(setenv("PATH", (shimDir.empty() ? path : shimDir + ":" + path).c_str(), 1), 0);
    Args argv{XEDA_SYSTEST_INSTALLER};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result;
    result.before = LocalNow();
    result.status = RunCommand(argv, kOutput, kCwd);
    result.after = LocalNow();
    EXPECT_EQ(setenv("PATH", path.c_str(), 1), 0);
    result.output = m_lastOutput = ReadFile(kOutput);
    return result;
}

std::string SystemTest::MakeShims(const std::string& name, const std::map<std::string, std::string>& scripts)
{
    std::string dir = kWork + "/shims/" + name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    for (const auto& [program, body] : scripts)
    {
        std::string file = dir + "/" + program;
        WriteFile(file, "#!/bin/sh\necho \"" + program + " $*\" >> " + dir + "/calls\n" + body + "\n");
        fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read, ec);
        EXPECT_FALSE(ec) << "chmod " << file;
    }
    return dir;
}

void SystemTest::StartCron()
{
    StopCron();
    std::error_code ec;
    fs::remove("/run/crond.pid", ec);
    m_cronPid = Spawn({"/usr/sbin/cron", "-f"}, kWork + "/cron.out", "/");
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

Strings SystemTest::NewCrontabLines() const
{
    std::string now = ReadFile("/etc/crontab");
    if (now.compare(0, m_crontabBaseline.size(), m_crontabBaseline) != 0)
        return {"(the crontab's earlier lines were changed)"};
    std::string added = now.substr(m_crontabBaseline.size());
    Strings lines = Lines(added);
    if (!added.empty() && added.back() != '\n')
        lines.back() += " (no newline)";
    return lines;
}

std::vector<Request> SystemTest::Requests() const
{
    // nginx logs a request when it finalises it, which can trail the
    // client's end by a moment: read until the log is stable.
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
    for (const std::string& line : Lines(text))
    {
        // client server:port scheme "METHOD path HTTP/x" status bytes "agent"
        Request r;
        std::string scheme, method, protocol;
        std::istringstream(line) >> r.client >> r.server >> scheme >> method >> r.path >> protocol >> r.status;
        requests.push_back(r);
    }
    return requests;
}

Strings SystemTest::RequestedPaths() const
{
    Strings paths;
    for (const Request& r : Requests())
        paths.push_back(r.path);
    return paths;
}

Strings SystemTest::ChangesOutsideOwnPlaces() const
{
    std::set<std::string> now = TakeSnapshot();
    Strings changes;
    for (const std::string& p : now)
        if (m_before.count(p) == 0)
            changes.push_back("+" + p);
    for (const std::string& p : m_before)
        if (now.count(p) == 0)
            changes.push_back("-" + p);
    return changes;
}

TraceLog SystemTest::Log() const
{
    TraceLog log;
    std::string text = ReadFile(kLogFile);
    for (std::string line : Lines(text))
    {
        Trace trace;
        bool crlf = !line.empty() && line.back() == '\r';
        if (crlf)
            line.pop_back();
        if (crlf && ParseLine(line, trace))
            log.lines.push_back(trace);
        else
            log.malformed.push_back(line);
    }
    if (!text.empty() && text.back() != '\n')
        log.malformed.push_back("(last line not ended by CR LF)");
    return log;
}

void SystemTest::ExpectFailedWithoutLine(const std::string& flow)
{
    TraceLog log = Log();
    EXPECT_TRUE(log.Has({"INFO", "main", flow + " installation failed"}));
    EXPECT_FALSE(log.Has({"INFO", "main", "Exit"}));
    EXPECT_EQ(NewCrontabLines(), Strings{});
}

void SystemTest::Reset()
{
    StopCron();
    static const std::string baseline = ReadFile("/etc/crontab");
    m_crontabBaseline = baseline;
    WriteFile("/etc/crontab", baseline);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/var/tmp", ec))
        fs::remove_all(entry.path(), ec);
    for (const std::string& path : {kLogFile, std::string("/var/log/xedabldn.bak"), std::string("/usr/lib/Zelvano"),
                                    Www(""), kCwd})
        fs::remove_all(path, ec);
    fs::create_directories(Www(""), ec);
    fs::create_directories(kCwd, ec);
    // Truncating keeps nginx's open descriptor valid (it appends).
    if (truncate(Fixture("FX_ACCESS_LOG").c_str(), 0) != 0 && errno != ENOENT)
        ADD_FAILURE() << "truncate access log: " << strerror(errno);
    // An installed agent, verifying the update source against its CA.
    WriteFile(std::string(kModuleDir) + "bin/kvagent", "agent program\n");
    WriteSslConfig(Fixture("FX_CA"));
    m_before = TakeSnapshot();
}

void SystemTest::TearDown()
{
    StopCron();
    if (HasFailure())
        std::cerr << "---- " << kLogFile << "\n" << ReadFile(kLogFile) << "---- installer output\n" << m_lastOutput
                  << "---- access log\n" << ReadFile(Fixture("FX_ACCESS_LOG"));
}

}  // namespace systest
