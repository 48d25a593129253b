// Download benchmark: DownloadFile fetching a file from the local nginx
// against the curl command-line tool fetching the same file to the same
// disk, in the same run, best of N interleaved runs. Each side runs as a
// process of its own (this program re-executed with --fetch, or curl), so
// both pay the same start-up and the peak resident memory of each is its
// own. Runs inside tests/sandbox.sh (see docs/performance.md).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commondefs.h"
#include "kvinstaller.h"
#include "testkit.h"

namespace
{
const char kCurl[] = "/usr/bin/curl";

struct Options
{
    std::vector<long> vSizesMiB = {64, 1024};
    int iRepeat = 3;
    std::string strDir = "/var/tmp";
};

struct RunResult
{
    double dSeconds = 0;
    long lPeakKiB = 0;
    bool bOk = false;
};

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            (void)close(m_fd); // written data was already checked by write()
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Incompressible content, cheap to make: xorshift64 in 1 MiB blocks.
bool MakeSource(const std::string& strPath, long lMiB)
{
    Fd fd(open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0)
        return false;
    std::vector<std::uint64_t> vBlock(1 << 17);
    std::uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (long i = 0; i < lMiB; ++i)
    {
        for (std::uint64_t& w : vBlock)
        {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        const size_t nBytes = vBlock.size() * sizeof(std::uint64_t);
        if (write(fd.Get(), vBlock.data(), nBytes) != static_cast<ssize_t>(nBytes))
            return false;
    }
    return true;
}

bool SameContent(const std::string& strA, const std::string& strB)
{
    Fd a(open(strA.c_str(), O_RDONLY | O_CLOEXEC));
    Fd b(open(strB.c_str(), O_RDONLY | O_CLOEXEC));
    if (a.Get() < 0 || b.Get() < 0)
        return false;
    std::vector<char> vA(1 << 20), vB(1 << 20);
    for (;;)
    {
        const ssize_t nA = read(a.Get(), vA.data(), vA.size());
        const ssize_t nB = read(b.Get(), vB.data(), vB.size());
        if (nA != nB || nA < 0)
            return false;
        if (nA == 0)
            return true;
        if (std::memcmp(vA.data(), vB.data(), static_cast<size_t>(nA)) != 0)
            return false;
    }
}

// Runs argv to completion; wall time and the child's peak resident memory.
RunResult Run(const std::vector<std::string>& vArgs)
{
    std::vector<char*> vArgv;
    for (const std::string& strArg : vArgs)
        vArgv.push_back(const_cast<char*>(strArg.c_str()));
    vArgv.push_back(nullptr);
    RunResult result;
    const auto tStart = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0)
    {
        execv(vArgv[0], vArgv.data());
        _exit(127);
    }
    int iStatus = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof(usage));
    while (wait4(pid, &iStatus, 0, &usage) < 0)
        if (errno != EINTR)
            return result;
    result.dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    result.lPeakKiB = usage.ru_maxrss;
    result.bOk = WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0;
    return result;
}

std::string SelfPath()
{
    char szPath[4096] = {0};
    const ssize_t n = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    return n > 0 ? std::string(szPath, static_cast<size_t>(n)) : std::string();
}

// The --fetch side: one DownloadFile, as the installer calls it.
int Fetch(const char* pcszUrl, const char* pcszDest)
{
    char szUrl[MAX_PATH] = {0};
    char szDest[MAX_PATH] = {0};
    if (!CopyBounded(szUrl, pcszUrl) || !CopyBounded(szDest, pcszDest))
        return 2;
    DWORD dwError = 0;
    return DownloadFile(szUrl, szDest, &dwError) == TRUE ? 0 : 1;
}

Options ParseOptions(int argc, char* argv[])
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string strName = argv[i];
        if (strName == "--sizes")
        {
            options.vSizesMiB.clear();
            for (char* pc = std::strtok(argv[i + 1], ","); pc != nullptr;
                 pc = std::strtok(nullptr, ","))
                options.vSizesMiB.push_back(std::atol(pc));
        }
        else if (strName == "--repeat")
            options.iRepeat = std::max(1, std::atoi(argv[i + 1]));
        else if (strName == "--dir")
            options.strDir = argv[i + 1];
    }
    return options;
}

bool BenchOneSize(const Options& options, long lMiB)
{
    const std::string strName = "bench-" + std::to_string(lMiB) + ".bin";
    const std::string strRoot = options.strDir + "/bench-www";
    const std::string strSource = strRoot + "/" + strName;
    const std::string strDest = options.strDir + "/bench-download.out";
    const std::string strUrl = tk::Url(1, strName);
    if (mkdir(strRoot.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    if (!MakeSource(strSource, lMiB) || !tk::Servers({"start-nginx", "--root", strRoot}))
    {
        std::fprintf(stderr, "cannot prepare %s or start nginx\n", strSource.c_str());
        return false;
    }
    const std::vector<std::string> vOurs = {SelfPath(), "--fetch", strUrl, strDest};
    const std::vector<std::string> vCurl = {kCurl, "-s", "-f", "-o", strDest, strUrl};
    (void)Run(vCurl); // warms the page cache and nginx
    std::vector<RunResult> vOurRuns, vCurlRuns;
    bool bSame = true;
    for (int r = 0; r < options.iRepeat; ++r)
    {
        // Alternate who goes first, so neither side always meets a fresher cache.
        for (int iSide = 0; iSide < 2; ++iSide)
        {
            const bool bOurs = (iSide == 0) == (r % 2 == 0);
            (void)unlink(strDest.c_str()); // absent on the first run
            const RunResult result = Run(bOurs ? vOurs : vCurl);
            if (!result.bOk)
            {
                std::fprintf(stderr, "%s failed\n", bOurs ? "DownloadFile" : "curl");
                return false;
            }
            (bOurs ? vOurRuns : vCurlRuns).push_back(result);
            if (bOurs && r == 0)
                bSame = SameContent(strSource, strDest);
        }
    }
    (void)unlink(strDest.c_str());
    (void)unlink(strSource.c_str());
    const auto best = [](const std::vector<RunResult>& v) {
        return std::min_element(
                   v.begin(), v.end(),
                   [](const RunResult& a, const RunResult& b) { return a.dSeconds < b.dSeconds; })
            ->dSeconds;
    };
    const auto peak = [](const std::vector<RunResult>& v) {
        long lPeak = 0;
        for (const RunResult& r : v)
            lPeak = std::max(lPeak, r.lPeakKiB);
        return lPeak;
    };
    const double dOurs = best(vOurRuns), dCurl = best(vCurlRuns);
    std::printf(
        "%6ld MiB  DownloadFile %7.3f s (%7.0f MiB/s)  curl %7.3f s (%7.0f MiB/s)  "
        "ratio %.3fx (goal <= 1.05x)  peak RSS DownloadFile %ld KiB, curl %ld KiB  content %s\n",
        lMiB, dOurs, lMiB / dOurs, dCurl, lMiB / dCurl, dOurs / dCurl, peak(vOurRuns),
        peak(vCurlRuns), bSame ? "identical" : "DIFFERS");
    std::fflush(stdout);
    return bSame;
}
} // namespace

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--fetch") == 0)
        return Fetch(argv[2], argv[3]);
    if (std::getenv("SANDBOX_DIR") == nullptr)
    {
        std::fprintf(stderr, "run inside tests/sandbox.sh (see docs/performance.md)\n");
        return 2;
    }
    const Options options = ParseOptions(argc, argv);
    std::printf("best of %d interleaved runs, destination in %s\n", options.iRepeat,
                options.strDir.c_str());
    bool bAllOk = true;
    for (long lMiB : options.vSizesMiB)
        bAllOk = BenchOneSize(options, lMiB) && bAllOk;
    return bAllOk ? 0 : 1;
}
