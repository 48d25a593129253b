// Trace-log globals for test programs that link the support library without
// the installer (whose main module defines them). Same values as the installer.
#include "log.h"

const char* const g_szRPLogFileName__ = "/var/log/xedabldn.log";
const char* const g_szRPBackupFileName__ = "/var/log/xedabldn.bak";
const DWORD g_dwRPLogFileSize__ = 5242880;
const char* const g_szRPAppName__ = "xedabldn";
const DWORD g_dwRPCurrentTraceLevel__ = RP_TRACE_LEVEL_ERROR | RP_TRACE_LEVEL_INFO;
