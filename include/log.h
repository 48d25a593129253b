// Rotating trace log: one line per call, appended to a file under /var/log/,
// filtered by a level mask and rotated into one backup file.
#pragma once

#include "typedef.h"

enum
{
    RP_TRACE_LEVEL_ERROR = 1,
    RP_TRACE_LEVEL_INFO = 2,
    RP_TRACE_LEVEL_WARN = 4,
    RP_TRACE_LEVEL_DEBUG = 8,
};

// Defined by the program's main module; constant for the life of the process.
extern const char* const g_szRPLogFileName__;
extern const char* const g_szRPBackupFileName__;
extern const DWORD g_dwRPLogFileSize__;
extern const char* const g_szRPAppName__;
extern const DWORD g_dwRPCurrentTraceLevel__;

// The format attribute makes the compiler check every call; with -Wformat=2 a
// plain text passed as the format (a URL holding '%') fails the build, so such
// texts always travel through "%s".
BYTE WriteToRpLogEx(const char* pcszLogFilename, DWORD dwTraceLevel, const char* pcszAppName,
                    const char* pcszFunctionName, const char* pcszSourceFilename,
                    unsigned int uiLineNo, const char* pcszLogFormat, ...)
    __attribute__((format(printf, 7, 8)));

#define RP_TRACE(level, label, ...)                                                                \
    WriteToRpLogEx(g_szRPLogFileName__, (level), g_szRPAppName__, (label), __FILE__, __LINE__,     \
                   __VA_ARGS__)
#define RP_TRACE_INFO(label, ...) RP_TRACE(RP_TRACE_LEVEL_INFO, label, __VA_ARGS__)
#define RP_TRACE_ERROR(label, ...) RP_TRACE(RP_TRACE_LEVEL_ERROR, label, __VA_ARGS__)
