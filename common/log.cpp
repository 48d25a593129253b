#include "log.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "handles.h"

namespace
{
// Private to the log; the INI module has a lock of its own. Nothing takes
// another lock while holding this one.
pthread_mutex_t g_Guard = PTHREAD_MUTEX_INITIALIZER;

const char* ShortSourceName(const char* pcszSourceFilename)
{
    const char* pcszSlash = std::strrchr(pcszSourceFilename, '/');
    return pcszSlash != nullptr ? pcszSlash + 1 : pcszSourceFilename;
}

const char* LevelTag(DWORD dwTraceLevel)
{
    if (dwTraceLevel & RP_TRACE_LEVEL_DEBUG)
        return "[DEBUG]";
    if (dwTraceLevel & RP_TRACE_LEVEL_INFO)
        return "[INFO]";
    if (dwTraceLevel & RP_TRACE_LEVEL_ERROR)
        return "[ERROR]";
    return "[WARN]";
}

// Write errors of a trace line are not reported to anyone: a failed close
// loses at most that line, and a trace must never stop its caller.

// Size of the open log, or 0 when it cannot be told (a pipe or a device):
// such a log is simply never rotated. Held in 32 bits like the threshold.
DWORD CurrentSize(FILE* fp)
{
    if (std::fseek(fp, 0, SEEK_END) != 0)
        return 0;
    const long lSize = std::ftell(fp);
    return lSize < 0 ? 0 : static_cast<DWORD>(lSize);
}

bool RotationDue(DWORD dwSize)
{
    return g_dwRPLogFileSize__ != 0 && dwSize >= g_dwRPLogFileSize__ &&
           g_szRPBackupFileName__ != nullptr;
}

// The log holds what support needs and nobody else should read (proxy
// users and hosts, URLs): it is root's alone. A log or backup that an
// earlier version left readable by others is narrowed, never widened; only
// a regular file is, not a device the log may have been pointed at.
void NarrowToOwner(int fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        (void)fchmod(fd, st.st_mode & 0700); // a trace must never stop its caller
}

UniqueFile OpenForAppend(const char* pcszPath)
{
    UniqueFd fd(open(pcszPath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.IsOpen())
        return nullptr;
    NarrowToOwner(fd.Get());
    UniqueFile fp(fdopen(fd.Get(), "ab"));
    if (fp)
        (void)fd.Release(); // the stream owns it now
    return fp;
}

// The backup is narrowed once per process, when the log is first opened.
void NarrowBackupOnce()
{
    static bool s_bNarrowed = false;
    if (s_bNarrowed || g_szRPBackupFileName__ == nullptr)
        return;
    s_bNarrowed = true;
    UniqueFd fd(open(g_szRPBackupFileName__, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.IsOpen())
        NarrowToOwner(fd.Get());
}

// Opens the log for appending and, when it has reached the threshold, moves
// it to the single backup and starts a fresh one. Null when the log cannot
// be (re)opened; the caller then loses this one line.
UniqueFile OpenWithRotation(const char* pcszLogFilename)
{
    NarrowBackupOnce();
    UniqueFile fp = OpenForAppend(pcszLogFilename);
    if (!fp || !RotationDue(CurrentSize(fp.get())))
        return fp;
    fp.reset();
    // Neither step is fatal: when the rename fails the full log is reopened,
    // this line goes there, and the next line tries to rotate again.
    if (access(g_szRPBackupFileName__, F_OK) == 0)
        (void)unlink(g_szRPBackupFileName__);
    (void)std::rename(pcszLogFilename, g_szRPBackupFileName__);
    return OpenForAppend(pcszLogFilename);
}

struct tm LocalNow()
{
    struct tm tmLocal;
    std::memset(&tmLocal, 0, sizeof(tmLocal));
    const std::time_t tNow = std::time(nullptr);
    // Should the clock be unreadable the line still goes out, with a zeroed
    // date rather than none.
    if (tNow == static_cast<std::time_t>(-1) || localtime_r(&tNow, &tmLocal) == nullptr)
        std::memset(&tmLocal, 0, sizeof(tmLocal));
    return tmLocal;
}

// The format is the caller's, checked at the trace macros.
__attribute__((format(printf, 8, 0))) void WriteLine(FILE* fp, const struct tm& tmLocal,
                                                     DWORD dwTraceLevel, const char* pcszAppName,
                                                     const char* pcszFunctionName,
                                                     const char* pcszShortName,
                                                     unsigned int uiLineNo,
                                                     const char* pcszLogFormat, va_list args)
{
    // Output errors are not checked: there is nowhere left to report them.
    std::fprintf(fp, "%02d-%02d %02d:%02d:%02d:%08X %12s %7s ", tmLocal.tm_mday, tmLocal.tm_mon + 1,
                 tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec,
                 static_cast<unsigned int>(pthread_self()), pcszAppName, LevelTag(dwTraceLevel));
    std::vfprintf(fp, pcszLogFormat, args);
    std::fprintf(fp, " [%s %s:%u]\r\n", pcszShortName, pcszFunctionName, uiLineNo);
}
} // namespace

BYTE WriteToRpLogEx(const char* pcszLogFilename, DWORD dwTraceLevel, const char* pcszAppName,
                    const char* pcszFunctionName, const char* pcszSourceFilename,
                    unsigned int uiLineNo, const char* pcszLogFormat, ...)
{
    if (pcszAppName == nullptr || pcszFunctionName == nullptr || pcszSourceFilename == nullptr ||
        pcszLogFormat == nullptr)
        return 0;
    if (pcszLogFilename == nullptr)
        pcszLogFilename = g_szRPLogFileName__;
    if ((dwTraceLevel & g_dwRPCurrentTraceLevel__) == 0)
        return 1;

    const char* pcszShortName = ShortSourceName(pcszSourceFilename);
    const struct tm tmLocal = LocalNow();
    va_list args;
    va_start(args, pcszLogFormat);
    BYTE byResult = 0;
    {
        ScopedLock<pthread_mutex_t> lock(g_Guard);
        UniqueFile fp = OpenWithRotation(pcszLogFilename);
        if (fp)
        {
            WriteLine(fp.get(), tmLocal, dwTraceLevel, pcszAppName, pcszFunctionName, pcszShortName,
                      uiLineNo, pcszLogFormat, args);
            byResult = 1;
        }
    }
    va_end(args);
    return byResult;
}
