#include "acevtlog.h"

#include <errno.h>
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "handles.h"

extern "C"
{
char g_szAppName__[260] = "";
}

namespace
{
const char kEventLog[] = "/usr/lib/Zelvano/ClientAgent/eventlog/acevtlog.log";
pthread_mutex_t g_EventLogLock = PTHREAD_MUTEX_INITIALIZER;

// The real library names the running program; glibc already knows it.
__attribute__((constructor)) void InitAppName()
{
    std::snprintf(g_szAppName__, sizeof(g_szAppName__), "%s", program_invocation_short_name);
}

const char* LevelTag(DWORD dwLevel)
{
    if (dwLevel & 8)
        return "[DEBUG]";
    if (dwLevel & 2)
        return "[INFO]";
    if (dwLevel & 1)
        return "[ERROR]";
    return "[WARN]";
}

const char* ShortName(const char* pcszPath)
{
    const char* pcszSlash = std::strrchr(pcszPath, '/');
    return pcszSlash != nullptr ? pcszSlash + 1 : pcszPath;
}

const char* OrEmpty(const char* pcszText)
{
    return pcszText != nullptr ? pcszText : "";
}

} // namespace

extern "C" void WriteToLogExA(DWORD dwLevel, const char* pcszAppName, const char* pcszFunctionName,
                              const char* pcszSourceFile, unsigned int uiLine,
                              const char* pcszMessage)
{
    const std::time_t tNow = std::time(nullptr);
    struct tm tmLocal;
    std::memset(&tmLocal, 0, sizeof(tmLocal));
    (void)localtime_r(&tNow, &tmLocal); // on failure the zeroed fields are printed

    // Lines of concurrent callers never interleave.
    ScopedLock<pthread_mutex_t> lock(g_EventLogLock);
    // "ab" creates the file but never its directories: without the agent's
    // event-log directory the line is dropped.
    // A lost event-log line is not reported anywhere: the log is the report.
    UniqueFile fp(std::fopen(kEventLog, "ab"));
    if (!fp)
        return;
    // The trace log's layout; the message is an argument, never the format.
    std::fprintf(fp.get(), "%02d-%02d %02d:%02d:%02d:%08X %12s %7s %s [%s %s:%u]\r\n",
                 tmLocal.tm_mday, tmLocal.tm_mon + 1, tmLocal.tm_hour, tmLocal.tm_min,
                 tmLocal.tm_sec, static_cast<unsigned int>(pthread_self()), OrEmpty(pcszAppName),
                 LevelTag(dwLevel), OrEmpty(pcszMessage), ShortName(OrEmpty(pcszSourceFile)),
                 OrEmpty(pcszFunctionName), uiLine);
}
