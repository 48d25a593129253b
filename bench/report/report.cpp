// Report benchmark (not a test). For each size it has the real trace writer
// write a log of service-pack runs from two threads at once (so that runs
// overlap, on two thread fields; one run in seven fails its CRC-32), then
// times, best of several runs each, the real xedabldn-report reading it
// (--json to /dev/null) against wc -l and grep -c ERROR reading the same
// file, and reports each child's peak resident memory.
//
//   bench_report [--dir D] [--sizes MiB,MiB,...] [--repeat N] [--report PATH] [--keep]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log.h"

// The writer's globals, which a program's main module defines: no rotation.
const char* const g_szRPLogFileName__ = "/var/tmp/bench-report.log";
const char* const g_szRPBackupFileName__ = nullptr;
const DWORD g_dwRPLogFileSize__ = 0;
const char* const g_szRPAppName__ = "xedabldn";
const DWORD g_dwRPCurrentTraceLevel__ = RP_TRACE_LEVEL_ERROR | RP_TRACE_LEVEL_INFO;

extern char** environ;

namespace
{
constexpr double kGoalSeconds = 1.0; // at 5 MiB, the rotation size: "well under" it

struct TRACE
{
    DWORD dwLevel;
    const char* pcszLabel;
    const char* pcszMessage;
};
constexpr DWORD E = RP_TRACE_LEVEL_ERROR, I = RP_TRACE_LEVEL_INFO;

// A download whose direct attempt fails and whose second one serves it.
const TRACE kDownload[] = {
    {I, "DownloadXEDASPServicePack", "Entry"},
    {I, "DownloadFile", "Entry"},
    {I, "DownloadFile", "before calling InitKVInet"},
    {I, "SPInitKVInet", "Entry."},
    {I, "SetOptions", "Entry."},
    {I, "SPInitKVInet", "Exit."},
    {I, "DownloadFile", "InitKVInet Successfull"},
    {I, "SpSendRequestAndGetResponse", "Entry."},
    {I, "SpSendRequestAndGetResponse", "/var/tmp/servicepack_linux64.tar.gz"},
    {I, "SpSendRequestAndGetResponse", "Before curl_easy_perform."},
    {E, "SpSendRequestAndGetResponse", "curl_easy_perform failed"},
    {E, "SpSendRequestAndGetResponse", "Couldn't connect to server"},
    {E, "SpSendRequestAndGetResponse", "curl_easy_perform failed Error Code"},
    {E, "SpSendRequestAndGetResponse", "7"},
    {I, "DownloadFile", "SendRequestAndGetResponse Failed Without Proxy"},
    {I, "DownloadFile", "Before calling ReadProxySettings."},
    {I, "ReadProxySettings", "Exit"},
    {I, "DownloadFile", "Proxy serverv name"},
    {I, "DownloadFile", "proxy.example"},
    {I, "SPInitKVInet", "Entry."},
    {I, "SpSendRequestAndGetResponse", "Entry."},
    {I, "SpSendRequestAndGetResponse", "curl_easy_getinfo, Returned status code"},
    {I, "SpSendRequestAndGetResponse", "Request sent successfully..."},
    {I, "DownloadFile", "successfull down"},
    {I, "DownloadFile", "Exit"},
};
const TRACE kStart[] = {
    {I, "main", "Entry"},
    {I, "main", "Service Pack installation Request -CASP"},
    {I, "main", "In Service pack installation start point"},
    {I, "InstallXEDASP", "Entry"},
    {I, "InstallXEDASP", "capatch.ini"},
};
const TRACE kRecord[] = {
    {I, "GetServicePackName", "start."},
    {I, "GetServicePackName:", "servicepack_linux64.tar.gz"},
    {I, "GetServicePackName dwlength:", "53248123"},
    {I, "GetServicePackName dwCRC32:", "3405691582"},
    {I, "GetServicePackName szMD5:", "9e107d9d372bb6826bd81d3542a419d6"},
    {I, "GetServicePackName", "Exit"},
    {I, "InstallXEDASP URL1=", "http://updates.example/sp/servicepack_linux64.tar.gz"},
    {I, "InstallXEDASP URL2=", "http://mirror.example/sp/servicepack_linux64.tar.gz"},
    {I, "InstallXEDASP path=", "/var/tmp/"},
    {I, "GetDiskFreeSpace", "Entry"},
    {I, "GetDiskFreeSpace", "free space"},
    {I, "InstallXEDASP", "Space availabe"},
};
const TRACE kVerified[] = {
    {I, "CheckFileConsistency", "start."},
    {I, "CheckFileConsistency", "File length INI (53248123), From file (53248123)"},
    {I, "CheckFileConsistency", "Checksum INI (3405691582), From file (3405691582)"},
    {I, "CheckFileConsistency", "end."},
    {I, "main", "Exit"},
};
const TRACE kFailed[] = {
    {I, "CheckFileConsistency", "start."},
    {E, "CheckFileConsistency", "Checksum mismatch In INI (3405691582), From file (12345)"},
    {I, "main", "Service Pack installation failed"},
};

template <std::size_t N>
void Write(const TRACE (&traces)[N], const std::string& path)
{
    for (const TRACE& trace : traces)
        WriteToRpLogEx(path.c_str(), trace.dwLevel, g_szRPAppName__, trace.pcszLabel,
                       "xedasvpk.cpp", 100, "%s", trace.pcszMessage);
}

// Two threads write runs until the file reaches its size.
void WriteLog(const std::string& path, off_t nBytes)
{
    (void)unlink(path.c_str());
    std::atomic<long> nRuns{0};
    auto writer = [&] {
        struct stat st = {};
        while (stat(path.c_str(), &st) != 0 || st.st_size < nBytes)
        {
            Write(kStart, path);
            Write(kDownload, path);
            Write(kRecord, path);
            Write(kDownload, path);
            nRuns++ % 7 == 6 ? Write(kFailed, path) : Write(kVerified, path);
        }
    };
    std::thread first(writer), second(writer);
    first.join();
    second.join();
}

struct RESULT
{
    double dSeconds = 1e9; // best
    long lPeakKiB = 0;     // largest
    int iStatus = -1;
};

// Runs argv with its output to /dev/null, `repeat` times.
RESULT Measure(const std::vector<std::string>& argv, int iRepeat)
{
    RESULT result;
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (int i = 0; i < iRepeat; ++i)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        const auto tStart = std::chrono::steady_clock::now();
        pid_t pid = -1;
        int iStatus = 0;
        struct rusage usage = {};
        if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0 ||
            wait4(pid, &iStatus, 0, &usage) != pid)
            std::exit(2);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - tStart;
        posix_spawn_file_actions_destroy(&actions);
        result.dSeconds = std::min(result.dSeconds, elapsed.count());
        result.lPeakKiB = std::max(result.lPeakKiB, usage.ru_maxrss);
        result.iStatus = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    }
    return result;
}

long CountLines(const std::string& path, const char* pcszWhat)
{
    const std::string command = std::string("grep -cF '") + pcszWhat + "' " + path;
    FILE* pipe = popen(command.c_str(), "r");
    long lCount = 0;
    if (pipe == nullptr || std::fscanf(pipe, "%ld", &lCount) != 1)
        lCount = -1;
    if (pipe != nullptr)
        (void)pclose(pipe);
    return lCount;
}
} // namespace

int main(int argc, char* argv[])
{
    std::string dir = "/var/tmp", report = XEDA_REPORT;
    std::vector<long> sizes = {5, 50};
    int iRepeat = 5;
    bool bKeep = false;
    for (int i = 1; i < argc; i += 2)
    {
        const std::string option = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--keep")
        {
            bKeep = true;
            --i;
        }
        else if (option == "--dir")
            dir = value;
        else if (option == "--repeat")
            iRepeat = std::atoi(value.c_str());
        else if (option == "--report")
            report = value;
        else if (option == "--sizes")
        {
            sizes.clear();
            std::istringstream in(value);
            for (std::string size; std::getline(in, size, ',');)
                sizes.push_back(std::atol(size.c_str()));
        }
    }
    bool bMet = true;
    for (long lMiB : sizes)
    {
        const std::string path = dir + "/bench-report-" + std::to_string(lMiB) + ".log";
        WriteLog(path, lMiB * 1024 * 1024);
        const RESULT ours = Measure({report, "--json", "--log", path}, iRepeat);
        const RESULT wc = Measure({"/usr/bin/wc", "-l", path}, iRepeat);
        const RESULT grep = Measure({"/usr/bin/grep", "-c", "ERROR", path}, iRepeat);
        const bool bGoal = lMiB > 5 || ours.dSeconds < kGoalSeconds;
        bMet = bMet && bGoal && ours.iStatus != 3;
        std::printf("%ld MiB, %ld lines, %ld runs: xedabldn-report --json %.3f s (peak %ld KiB, "
                    "exit %d); wc -l %.3f s; grep -c ERROR %.3f s; report/grep %.1fx%s\n",
                    lMiB, CountLines(path, ""), CountLines(path, "Entry [xedasvpk.cpp main:"),
                    ours.dSeconds, ours.lPeakKiB, ours.iStatus, wc.dSeconds, grep.dSeconds,
                    ours.dSeconds / grep.dSeconds,
                    lMiB > 5 ? ""
                    : bGoal  ? "; goal < 1 s: met"
                             : "; goal < 1 s: MISSED");
        if (!bKeep)
            (void)unlink(path.c_str());
    }
    return bMet ? 0 : 1;
}
