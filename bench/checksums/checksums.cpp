// Checksum benchmark (not a test). For each file size it creates a file of
// random bytes, reads it once so that it sits in the page cache, then times
//   - CalculateCheckSum against zlib's crc32 streamed over the same bytes,
//   - CMd5's InitMD5/UpdateMD5/FinalMD5 streamed over the file against
//     OpenSSL's MD5 with the same chunks,
// keeping the best of several interleaved runs, and prints the ratios and
// the peak resident memory. Each size runs in a child process of its own so
// that each peak belongs to one size only.
//
//   bench_checksums [--dir D] [--sizes MiB,MiB,...] [--repeat N] [--keep]
#include <sys/resource.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <zlib.h>

#include "crc32.h"
#include "md5lib.h"

namespace
{

constexpr std::size_t kMiB = 1024 * 1024;
// Chunk for the streamed reads: the read size CalculateCheckSum uses, so
// the references pay the same system-call cost.
constexpr std::size_t kStreamChunk = 48 * 1024;

struct Options
{
    std::string strDir = "/var/tmp";
    std::vector<unsigned long> sizesMiB = {64, 1024};
    int iRepeat = 5;
    bool bKeep = false;
};

class CFd
{
public:
    explicit CFd(int iFile) : m_iFile(iFile) {}
    ~CFd()
    {
        if (m_iFile != -1)
            static_cast<void>(close(m_iFile)); // a lost write shows as differing results
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_iFile; }

private:
    int m_iFile;
};

struct MdCtxFree
{
    void operator()(EVP_MD_CTX* pCtx) const { EVP_MD_CTX_free(pCtx); }
};

bool WriteAll(int iFile, const unsigned char* pcby, std::size_t nLength)
{
    while (nLength > 0)
    {
        const ssize_t nWritten = write(iFile, pcby, nLength);
        if (nWritten <= 0)
            return false;
        pcby += nWritten;
        nLength -= static_cast<std::size_t>(nWritten);
    }
    return true;
}

// xorshift64*: fast enough that creating 1 GiB is not the slow part.
bool CreateRandomFile(const std::string& strPath, std::size_t nBytes)
{
    CFd file(open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    if (file.Get() == -1)
        return false;
    std::vector<unsigned char> block(kMiB);
    unsigned long long ullState = 0x9E3779B97F4A7C15ull;
    for (std::size_t nDone = 0; nDone < nBytes;)
    {
        for (std::size_t i = 0; i < block.size(); i += 8)
        {
            ullState ^= ullState >> 12;
            ullState ^= ullState << 25;
            ullState ^= ullState >> 27;
            const unsigned long long ullValue = ullState * 0x2545F4914F6CDD1Dull;
            std::memcpy(&block[i], &ullValue, 8);
        }
        const std::size_t nNow = std::min(block.size(), nBytes - nDone);
        if (!WriteAll(file.Get(), block.data(), nNow))
            return false;
        nDone += nNow;
    }
    return true;
}

// Calls fnChunk(bytes, count) for the file's bytes from nOffset to the end.
template <typename Fn>
bool StreamFile(const std::string& strPath, off_t nOffset, Fn fnChunk)
{
    CFd file(open(strPath.c_str(), O_RDONLY));
    if (file.Get() == -1 || lseek(file.Get(), nOffset, SEEK_SET) != nOffset)
        return false;
    unsigned char byBuffer[kStreamChunk];
    for (;;)
    {
        const ssize_t nRead = read(file.Get(), byBuffer, sizeof(byBuffer));
        if (nRead < 0)
            return false;
        if (nRead == 0)
            return true;
        fnChunk(byBuffer, static_cast<std::size_t>(nRead));
    }
}

template <typename Fn>
double Seconds(Fn fn)
{
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Outcome
{
    double dSeconds = 1e300;
    std::string strResult;
};

// Best time of each side over interleaved runs; the result text of the
// last run is kept to show that both sides agree.
template <typename Ours, typename Reference>
void Measure(int iRepeat, Ours fnOurs, Reference fnReference, Outcome& ours, Outcome& reference)
{
    for (int i = 0; i < iRepeat; ++i)
    {
        ours.dSeconds = std::min(ours.dSeconds, Seconds([&] { ours.strResult = fnOurs(); }));
        reference.dSeconds =
            std::min(reference.dSeconds, Seconds([&] { reference.strResult = fnReference(); }));
    }
}

std::string Hex(const unsigned char* pcby, std::size_t nLength)
{
    std::string str;
    char szByte[3];
    for (std::size_t i = 0; i < nLength; ++i)
    {
        std::snprintf(szByte, sizeof(szByte), "%02x", pcby[i]);
        str += szByte;
    }
    return str;
}

std::string OurCrc(const std::string& strPath)
{
    DWORD dwSum = 0;
    if (CalculateCheckSum(strPath.c_str(), &dwSum) != 1)
        return "failed";
    return Hex(reinterpret_cast<const unsigned char*>(&dwSum), 4);
}

std::string ZlibCrc(const std::string& strPath)
{
    uLong ulCrc = crc32(0, Z_NULL, 0);
    if (!StreamFile(strPath, 4, [&](const unsigned char* pcby, std::size_t n) {
            ulCrc = crc32(ulCrc, pcby, static_cast<uInt>(n));
        }))
        return "failed";
    const DWORD dwSum = static_cast<DWORD>(ulCrc);
    return Hex(reinterpret_cast<const unsigned char*>(&dwSum), 4);
}

std::string OurMd5(const std::string& strPath)
{
    CMd5 md5;
    CONTEXT_MD5 context;
    std::memset(&context, 0, sizeof(context));
    bool bOk = md5.InitMD5(&context) == 1;
    bOk = StreamFile(strPath, 0,
                     [&](const unsigned char* pcby, std::size_t n) {
                         bOk = bOk && md5.UpdateMD5(&context, pcby, static_cast<ULONG>(n)) == 1;
                     }) &&
          bOk;
    if (!bOk || md5.FinalMD5(&context) != 1)
        return "failed";
    return Hex(context.uchMessageDigest, 16);
}

std::string OpenSslMd5(const std::string& strPath)
{
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> pCtx(EVP_MD_CTX_new());
    if (!pCtx || EVP_DigestInit_ex(pCtx.get(), EVP_md5(), nullptr) != 1)
        return "failed";
    bool bOk = true;
    bOk = StreamFile(strPath, 0,
                     [&](const unsigned char* pcby, std::size_t n) {
                         bOk = bOk && EVP_DigestUpdate(pCtx.get(), pcby, n) == 1;
                     }) &&
          bOk;
    unsigned char byDigest[EVP_MAX_MD_SIZE];
    unsigned int uiSize = 0;
    if (!bOk || EVP_DigestFinal_ex(pCtx.get(), byDigest, &uiSize) != 1)
        return "failed";
    return Hex(byDigest, uiSize);
}

void Report(const char* pcszWhat, double dMiB, const Outcome& ours, const char* pcszRef,
            const Outcome& reference, double dGoal)
{
    const double dRatio = reference.dSeconds / ours.dSeconds;
    char szGoal[48] = "(for information)";
    if (dGoal > 0)
        std::snprintf(szGoal, sizeof(szGoal), "(goal >= %.1fx) %s", dGoal,
                      dRatio >= dGoal ? "met" : "MISSED");
    std::printf("  %-24s %7.0f MiB/s   %-18s %7.0f MiB/s   ratio %5.2fx %-22s %s\n", pcszWhat,
                dMiB / ours.dSeconds, pcszRef, dMiB / reference.dSeconds, dRatio, szGoal,
                ours.strResult == reference.strResult ? "results agree" : "RESULTS DIFFER");
}

// The CRC engines alone, without reads: one chunk-sized buffer, run over as
// many times as the file has chunks.
std::string CrcInMemory(bool bOurs, const std::vector<unsigned char>& buffer, std::size_t nRounds)
{
    CKVCrc32 crc;
    DWORD dwRegister = 0xFFFFFFFFu;
    uLong ulZlib = crc32(0, Z_NULL, 0);
    for (std::size_t i = 0; i < nRounds; ++i)
    {
        if (bOurs)
            crc.GetBuffCrc32Ex(buffer.data(), static_cast<int>(buffer.size()), &dwRegister);
        else
            ulZlib = crc32(ulZlib, buffer.data(), static_cast<uInt>(buffer.size()));
    }
    const DWORD dwSum = bOurs ? ~dwRegister : static_cast<DWORD>(ulZlib);
    return Hex(reinterpret_cast<const unsigned char*>(&dwSum), 4);
}

int RunOneSize(const Options& options, unsigned long ulMiB)
{
    const std::size_t nBytes = ulMiB * kMiB;
    const std::string strPath =
        options.strDir + "/xeda-bench-checksums-" + std::to_string(ulMiB) + "MiB.bin";
    if (!CreateRandomFile(strPath, nBytes) ||
        !StreamFile(strPath, 0, [](const unsigned char*, std::size_t) {}))
    {
        std::fprintf(stderr, "ERROR: cannot create or read %s\n", strPath.c_str());
        return 1;
    }

    Outcome crcOurs, crcZlib, md5Ours, md5Ssl, memOurs, memZlib;
    Measure(
        options.iRepeat, [&] { return OurCrc(strPath); }, [&] { return ZlibCrc(strPath); }, crcOurs,
        crcZlib);
    Measure(
        options.iRepeat, [&] { return OurMd5(strPath); }, [&] { return OpenSslMd5(strPath); },
        md5Ours, md5Ssl);
    const std::vector<unsigned char> chunk(kStreamChunk, 0xA5);
    const std::size_t nRounds = nBytes / kStreamChunk;
    Measure(
        options.iRepeat, [&] { return CrcInMemory(true, chunk, nRounds); },
        [&] { return CrcInMemory(false, chunk, nRounds); }, memOurs, memZlib);
    if (!options.bKeep && unlink(strPath.c_str()) != 0)
        std::fprintf(stderr, "warning: cannot remove %s\n", strPath.c_str());

    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        usage.ru_maxrss = -1;
    std::printf("file %lu MiB (%s, best of %d)\n", ulMiB, strPath.c_str(), options.iRepeat);
    Report("CalculateCheckSum", static_cast<double>(nBytes - 4) / kMiB, crcOurs, "zlib crc32",
           crcZlib, 2.0);
    Report("CMd5 Init/Update/Final", static_cast<double>(nBytes) / kMiB, md5Ours, "OpenSSL MD5",
           md5Ssl, 0.9);
    Report("CRC-32 engine in memory", static_cast<double>(nRounds * kStreamChunk) / kMiB, memOurs,
           "zlib in memory", memZlib, 0);
    std::printf("  peak resident memory (ru_maxrss) %ld KiB\n", usage.ru_maxrss);
    std::fflush(stdout);
    const bool bAgree = crcOurs.strResult == crcZlib.strResult &&
                        md5Ours.strResult == md5Ssl.strResult &&
                        memOurs.strResult == memZlib.strResult;
    return bAgree ? 0 : 1;
}

bool ParseSizes(const char* pcszList, std::vector<unsigned long>& sizes)
{
    sizes.clear();
    std::stringstream stream(pcszList);
    std::string strItem;
    while (std::getline(stream, strItem, ','))
    {
        char* pszEnd = nullptr;
        const unsigned long ulValue = std::strtoul(strItem.c_str(), &pszEnd, 10);
        if (strItem.empty() || *pszEnd != '\0' || ulValue == 0)
            return false;
        sizes.push_back(ulValue);
    }
    return !sizes.empty();
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string strArg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (strArg == "--dir" && bHasValue)
            options.strDir = argv[++i];
        else if (strArg == "--sizes" && bHasValue)
        {
            if (!ParseSizes(argv[++i], options.sizesMiB))
                return false;
        }
        else if (strArg == "--repeat" && bHasValue)
            options.iRepeat = std::atoi(argv[++i]);
        else if (strArg == "--keep")
            options.bKeep = true;
        else
            return false;
    }
    return options.iRepeat > 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
    {
        std::fprintf(stderr, "usage: %s [--dir D] [--sizes MiB,MiB,...] [--repeat N] [--keep]\n",
                     argv[0]);
        return 2;
    }
    int iStatus = 0;
    for (unsigned long ulMiB : options.sizesMiB)
    {
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == -1)
        {
            std::perror("fork");
            return 1;
        }
        if (pid == 0)
            _exit(RunOneSize(options, ulMiB));
        int iChild = 0;
        if (waitpid(pid, &iChild, 0) != pid || !WIFEXITED(iChild) || WEXITSTATUS(iChild) != 0)
            iStatus = 1;
    }
    return iStatus;
}
