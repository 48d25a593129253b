#include "acevtlog.h"

#include <errno.h>
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

extern "C" {
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

const char* OrEmpty(const char* pcszText) { return pcszText != nullptr ? pcszText : ""; }

// Lines of concurrent callers never interleave. Locking a default mutex
// that this thread does not hold cannot fail, and an event-log line is not
// worth aborting the caller for.
class EventLogLock
{
public:
    EventLogLock() : m_bLocked(pthread_mutex_lock(&g_EventLogLock) == 0) {}
    ~EventLogLock()
    {
        if (m_bLocked)
            (void)pthread_mutex_unlock(&g_EventLogLock);
    }
    EventLogLock(const EventLogLock&) = delete;
    EventLogLock& operator=(const EventLogLock&) = delete;

private:
    bool m_bLocked;
};

struct FileCloser
{
    // A lost event-log line is not reported anywhere: the log is the report.
    void operator()(FILE* fp) const { (void)std::fclose(fp); }
};
} // namespace

extern "C" void WriteToLogExA(DWORD dwLevel, const char* pcszAppName, const char* pcszFunctionName,
                              const char* pcszSourceFile, unsigned int uiLine,
                              const char* pcszMessage)
{
    const std::time_t tNow = std::time(nullptr);
    struct tm tmLocal;
    std::memset(&tmLocal, 0, sizeof(tmLocal));
    (void)localtime_r(&tNow, &tmLocal); // on failure the zeroed fields are printed

    EventLogLock lock;
    // "ab" creates the file but never its directories: without the agent's
    // event-log directory the line is dropped.
    std::unique_ptr<FILE, FileCloser> fp(std::fopen(kEventLog, "ab"));
    if (!fp)
        return;
    // The trace log's layout; the message is an argument, never the format.
    std::fprintf(fp.get(), "%02d-%02d %02d:%02d:%02d:%08X %12s %7s %s [%s %s:%u]\r\n",
                 tmLocal.tm_mday, tmLocal.tm_mon + 1, tmLocal.tm_hour, tmLocal.tm_min,
                 tmLocal.tm_sec, static_cast<unsigned int>(pthread_self()), OrEmpty(pcszAppName),
                 LevelTag(dwLevel), OrEmpty(pcszMessage),
                 ShortName(OrEmpty(pcszSourceFile)), OrEmpty(pcszFunctionName), uiLine);
}
