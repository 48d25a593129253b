// GoogleTest-side access to the test servers of tests/fixtures (servers.sh):
// nginx as the update source, the proxies, the scripted server, the proxy
// options file and sslConfig.ini. Every call runs servers.sh, which waits
// until a started server answers and fails loudly when it does not, so a
// test only has to check the bool: ASSERT_TRUE(netfx::StartNginx()).
// Meant for test programs running inside tests/sandbox.sh.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace netfx
{
// The fixed network plan of servers.sh (README.md in tests/fixtures).
constexpr const char* kAddr1 = "127.0.0.1";  // first base address
constexpr const char* kAddr2 = "127.0.0.3";  // second base address
constexpr const char* kOutAddr = "127.0.0.2"; // proxies connect out from here
constexpr int kHttpPort = 8080;
constexpr int kHttpsPort = 8443;
constexpr int kTinyproxyPort = 3128;
constexpr int kMicrosocksPort = 1080;
constexpr int kDantePort = 1081;
constexpr int kScriptedPort = 8090;
constexpr const char* kProxyUser = "xedauser";
constexpr const char* kProxyPass = "xedapass";
constexpr const char* kKvinetOpt = "/usr/lib/Zelvano/Zelvano/kvinet.opt";
constexpr const char* kConfigDir = "/usr/lib/Zelvano/ClientAgent/config/";

inline std::string Env(const char* pcszName)
{
    const char* pcszValue = std::getenv(pcszName);
    return pcszValue != nullptr ? pcszValue : "";
}

inline std::string SourceDir()
{
    std::string strDir = Env("XEDA_SOURCE_DIR");
#ifdef XEDA_SOURCE_DIR_FALLBACK
    if (strDir.empty())
        strDir = XEDA_SOURCE_DIR_FALLBACK;
#endif
    return strDir;
}

// Where servers.sh keeps the PKI, configurations, logs and the document root.
inline std::string Dir()
{
    const std::string strDir = Env("XEDA_FIXTURE_DIR");
    return strDir.empty() ? Env("SANDBOX_DIR") + "/fixtures" : strDir;
}

inline std::string Www() { return Dir() + "/www/"; }
inline std::string AccessLogPath() { return Dir() + "/nginx/access.log"; }
inline std::string CaFile() { return Dir() + "/pki/ca.crt"; }
inline std::string OtherCaFile() { return Dir() + "/pki/other-ca.crt"; }

namespace detail
{
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    void Reset()
    {
        if (m_fd >= 0)
            (void)close(m_fd); // nothing to do about a failed close of a pipe end
        m_fd = -1;
    }

private:
    int m_fd;
};

class SpawnActions
{
public:
    SpawnActions() { m_bOk = posix_spawn_file_actions_init(&m_actions) == 0; }
    ~SpawnActions()
    {
        if (m_bOk)
            (void)posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool Ok() const { return m_bOk; }
    posix_spawn_file_actions_t* Get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
    bool m_bOk;
};
} // namespace detail

// Runs argv[0] with the arguments and returns its exit status (-1 when it
// could not run). With pstrOut its standard output is collected; standard
// error always goes to the test's own, so a failing server shows its log.
inline int Exec(const std::vector<std::string>& vArgs, std::string* pstrOut = nullptr)
{
    std::vector<char*> vArgv;
    for (const std::string& strArg : vArgs)
        vArgv.push_back(const_cast<char*>(strArg.c_str()));
    vArgv.push_back(nullptr);

    int aiPipe[2] = {-1, -1};
    if (pstrOut != nullptr && pipe2(aiPipe, O_CLOEXEC) != 0)
        return -1;
    detail::Fd fdRead(aiPipe[0]);
    detail::Fd fdWrite(aiPipe[1]);
    detail::SpawnActions actions;
    if (!actions.Ok())
        return -1;
    if (pstrOut != nullptr && posix_spawn_file_actions_adddup2(actions.Get(), fdWrite.Get(), 1) != 0)
        return -1;
    pid_t pid = -1;
    if (posix_spawn(&pid, vArgv[0], actions.Get(), nullptr, vArgv.data(), environ) != 0)
        return -1;
    fdWrite.Reset();
    if (pstrOut != nullptr)
    {
        char acChunk[4096];
        ssize_t n = 0;
        while ((n = read(fdRead.Get(), acChunk, sizeof(acChunk))) > 0)
            pstrOut->append(acChunk, static_cast<size_t>(n));
    }
    int iStatus = 0;
    while (waitpid(pid, &iStatus, 0) < 0)
    {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

// servers.sh with the given arguments; true when it succeeded.
inline bool Servers(std::vector<std::string> vArgs, std::string* pstrOut = nullptr)
{
    vArgs.insert(vArgs.begin(), {"/bin/bash", SourceDir() + "/tests/fixtures/servers.sh"});
    return Exec(vArgs, pstrOut) == 0;
}

// mode: "normal" (both base addresses), "second-only" (127.0.0.1 refuses),
// "drop-direct" (connections from 127.0.0.1 are closed without an answer).
inline bool StartNginx(const std::string& strMode = "normal", const std::string& strRoot = "")
{
    std::vector<std::string> vArgs = {"start-nginx", "--mode", strMode};
    if (!strRoot.empty())
        vArgs.insert(vArgs.end(), {"--root", strRoot});
    return Servers(vArgs);
}

// kind: "tinyproxy" (HTTP), "microsocks" (SOCKS5) or "dante" (SOCKS4, no auth).
inline bool StartProxy(const std::string& strKind, bool bAuth, int iPort = 0)
{
    std::vector<std::string> vArgs = {"start-" + strKind};
    if (iPort != 0)
        vArgs.insert(vArgs.end(), {"--port", std::to_string(iPort)});
    if (bAuth)
        vArgs.insert(vArgs.end(), {"--auth", std::string(kProxyUser) + ":" + kProxyPass});
    return Servers(vArgs);
}

inline bool Stop(const std::string& strName) { return Servers({"stop", strName}); }
inline bool StopAll() { return Servers({"stop-all"}); }

inline std::string HttpUrl(const std::string& strPath, int iBase = 1)
{
    return std::string("http://") + (iBase == 1 ? kAddr1 : kAddr2) + ":" + std::to_string(kHttpPort) +
           "/" + strPath;
}

inline std::string HttpsUrl(const std::string& strPath, int iBase = 1)
{
    return std::string("https://") + (iBase == 1 ? kAddr1 : kAddr2) + ":" +
           std::to_string(kHttpsPort) + "/" + strPath;
}

inline std::string ScriptedUrl(const std::string& strPath, int iPort = kScriptedPort)
{
    return std::string("http://") + kAddr1 + ":" + std::to_string(iPort) + "/" + strPath;
}

inline bool WriteFile(const std::string& strPath, const std::string& strContent)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strContent;
    return static_cast<bool>(out.flush());
}

inline std::string ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::vector<std::string> ReadLines(const std::string& strPath)
{
    std::ifstream in(strPath);
    std::vector<std::string> vLines;
    for (std::string strLine; std::getline(in, strLine);)
        vLines.push_back(strLine);
    return vLines;
}

// The fixture dir and document root, before servers.sh has made them.
inline bool MakeFixtureDirs()
{
    for (const std::string& strDir : {Dir(), Www()})
        if (mkdir(strDir.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    return true;
}

// Puts a file into nginx's document root.
inline bool Publish(const std::string& strName, const std::string& strContent)
{
    return MakeFixtureDirs() && WriteFile(Www() + strName, strContent);
}

// nginx access log, one line per request:
// remote_addr server_addr:port scheme "request line" status body_bytes "user agent"
inline std::vector<std::string> AccessLog() { return ReadLines(AccessLogPath()); }

// Empties the access log (nginx appends to it, so this is safe while it runs).
inline bool ClearAccessLog() { return truncate(AccessLogPath().c_str(), 0) == 0; }

// Starts the scripted server with a JSON script (see scripted_server.py).
inline bool StartScripted(const std::string& strJson, int iPort = kScriptedPort)
{
    const std::string strScript = Dir() + "/script-" + std::to_string(iPort) + ".json";
    return MakeFixtureDirs() && WriteFile(strScript, strJson) &&
           Servers({"start-scripted", "--port", std::to_string(iPort), "--script", strScript});
}

// One JSON object per request the scripted server received.
inline std::vector<std::string> ScriptedRequests(int iPort = kScriptedPort)
{
    return ReadLines(Dir() + "/scripted-" + std::to_string(iPort) + "/requests.jsonl");
}

// The proxy options file, written by the independent kvinet_opt.py.
struct KvinetOpt
{
    int iUseProxy = 1;
    int iConnType = 0;
    std::string strHost = kAddr1;
    int iPort = kTinyproxyPort;
    std::string strUser;
    std::string strPassword;
    int iUseAuth = 0;
    int iLength = 788;
};

inline bool WriteKvinetOpt(const KvinetOpt& opt)
{
    std::string strPathPrinted; // the tool names the file it wrote; not needed here
    return Servers({"kvinet-opt", "--use-proxy", std::to_string(opt.iUseProxy), "--conn-type",
                    std::to_string(opt.iConnType), "--host", opt.strHost, "--port",
                    std::to_string(opt.iPort), "--user", opt.strUser, "--password", opt.strPassword,
                    "--use-auth", std::to_string(opt.iUseAuth), "--length",
                    std::to_string(opt.iLength)},
                   &strPathPrinted);
}

// variant: "none", "no-config-dir", "verify" [CAFILE], "noverify", "raw" VALUE [PATH].
inline bool SslConfig(const std::vector<std::string>& vArgs)
{
    std::vector<std::string> vAll = {"ssl-config"};
    vAll.insert(vAll.end(), vArgs.begin(), vArgs.end());
    return Servers(vAll);
}
} // namespace netfx
