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

struct FileCloser
{
    void operator()(FILE* fp) const { std::fclose(fp); }
};
} // namespace

extern "C" void WriteToLogExA(DWORD dwLevel, const char* pcszAppName, const char* pcszFunctionName,
                              const char* pcszSourceFile, unsigned int uiLine,
                              const char* pcszMessage)
{
    const std::time_t tNow = std::time(nullptr);
    struct tm tmLocal;
    std::memset(&tmLocal, 0, sizeof(tmLocal));
    localtime_r(&tNow, &tmLocal);

    pthread_mutex_lock(&g_EventLogLock);
    {
        std::unique_ptr<FILE, FileCloser> fp(std::fopen(kEventLog, "ab"));
        if (fp)
        {
            std::fprintf(fp.get(), "%02d-%02d %02d:%02d:%02d:%08X %12s %7s %s [%s %s:%u]\r\n",
                         tmLocal.tm_mday, tmLocal.tm_mon + 1, tmLocal.tm_hour, tmLocal.tm_min,
                         tmLocal.tm_sec, static_cast<unsigned int>(pthread_self()),
                         pcszAppName ? pcszAppName : "", LevelTag(dwLevel),
                         pcszMessage ? pcszMessage : "",
                         pcszSourceFile ? ShortName(pcszSourceFile) : "",
                         pcszFunctionName ? pcszFunctionName : "", uiLine);
        }
    }
    pthread_mutex_unlock(&g_EventLogLock);
}
