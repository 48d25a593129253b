#include "log.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace
{
// Private to the log; the INI module has a lock of its own.
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

class LockHolder
{
public:
    LockHolder() { pthread_mutex_lock(&g_Guard); }
    ~LockHolder() { pthread_mutex_unlock(&g_Guard); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
};

struct FileCloser
{
    void operator()(FILE* fp) const { std::fclose(fp); }
};

// Opens the log for appending and, when it has reached the threshold, moves
// it to the single backup and starts a fresh one. Returns null when the log
// cannot be (re)opened; the caller then loses this one line.
FILE* OpenWithRotation(const char* pcszLogFilename)
{
    FILE* fp = std::fopen(pcszLogFilename, "ab");
    if (fp == nullptr)
        return nullptr;
    std::fseek(fp, 0, SEEK_END);
    const DWORD dwSize = static_cast<DWORD>(std::ftell(fp));
    if (g_dwRPLogFileSize__ == 0 || dwSize < g_dwRPLogFileSize__ || g_szRPBackupFileName__ == nullptr)
        return fp;
    std::fclose(fp);
    if (access(g_szRPBackupFileName__, F_OK) == 0)
        unlink(g_szRPBackupFileName__);
    // A failed rename is not fatal: the full log is reopened and rotation is
    // tried again on the next line.
    (void)std::rename(pcszLogFilename, g_szRPBackupFileName__);
    return std::fopen(pcszLogFilename, "ab");
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
    const std::time_t tNow = std::time(nullptr);
    struct tm tmLocal;
    std::memset(&tmLocal, 0, sizeof(tmLocal));
    localtime_r(&tNow, &tmLocal);

    va_list args;
    va_start(args, pcszLogFormat);
    BYTE byResult = 0;
    {
        LockHolder lock;
        FILE* fpRaw = OpenWithRotation(pcszLogFilename);
        if (fpRaw != nullptr)
        {
            std::unique_ptr<FILE, FileCloser> fp(fpRaw);
            std::fprintf(fp.get(), "%02d-%02d %02d:%02d:%02d:%08X %12s %7s ", tmLocal.tm_mday,
                         tmLocal.tm_mon + 1, tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec,
                         static_cast<unsigned int>(pthread_self()), pcszAppName,
                         LevelTag(dwTraceLevel));
            std::vfprintf(fp.get(), pcszLogFormat, args);
            std::fprintf(fp.get(), " [%s %s:%u]\r\n", pcszShortName, pcszFunctionName, uiLineNo);
            byResult = 1;
        }
    }
    va_end(args);
    return byResult;
}
