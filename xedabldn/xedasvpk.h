// Update installation: manifest records, package verification, the update
// flows (service pack, minor upgrade with its client-agent stage, major
// upgrade) and the crontab lines they end in.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "commondefs.h"
#include "typedef.h"

// ---- Manifest records -------------------------------------------------------

typedef struct tagXEDA_SVPK_INFO
{
    char szServicePackName[MAX_PATH];
    DWORD dwFileLength;
    DWORD dwCRC32;
    char szMD5CheckSumString[33];
} XEDA_SVPK_INFO;

typedef struct tagXEDA_UPGRADE_INFO
{
    char szAppName[MAX_PATH];
    XEDA_SVPK_INFO XedaSvPkInfo;
} XEDA_UPGRADE_INFO;

// Each reader fills the record from one section of a downloaded manifest:
// "service_pack_linux", "minor_upg_pack_linux", "minor_upg_ca_pack_linux".
BOOLEAN GetServicePackInfo(const char* pcszIniFile, const char* pcszKeyName,
                           XEDA_SVPK_INFO* pServicePackInfo, DWORD* pdwErrorCode);
BOOLEAN GetMinorUpgradePackInfo(const char* pcszIniFile, const char* pcszKeyName,
                                XEDA_UPGRADE_INFO* pMinorUPgardePackInfo, DWORD* pdwErrorCode);
BOOLEAN GetMinorUpgradeCAPackInfo(const char* pcszIniFile, const char* pcszKeyName,
                                  XEDA_UPGRADE_INFO* pMinorUPgardePackInfo, DWORD* pdwErrorCode);

// ---- Verification and disk space ---------------------------------------------

BOOLEAN GetDiskFreeSpace(const char* pcszPath, uint64_t* puiFreeSize, DWORD* pdwError);
long GetFileLength(const char* pszFileName);
BOOLEAN CheckFileConsistency(const char* pcszFile, const XEDA_SVPK_INFO* pServicePackInfo,
                             DWORD* pdwErrorCode);

// ---- Cron scheduling -----------------------------------------------------------

// Makes sure a cron daemon runs (cron first, then crond); 1 when one does.
int CheckCronStatus();

enum enumCRON_LINE
{
    CRON_LINE_SERVICE_PACK,    // kvacascr, at a computed minute and hour
    CRON_LINE_ROLLBACK,        // rollbackCA.sh, every minute
    CRON_LINE_BUILD_INSTALLER, // the major build's kvinstall, every third minute
    CRON_LINE_UNINSTALLER,     // kvuninstall_clagnt, every third minute
    CRON_LINE_NONE,            // no line at all
};

// Writes the shell command that appends the line to /etc/crontab into
// pszCmd (nSize bytes). iMinute and iHour are used by the service-pack line
// only. Returns FALSE for CRON_LINE_NONE or when the command does not fit.
BOOL FormatCronCommand(enumCRON_LINE eLine, int iMinute, int iHour, char* pszCmd, std::size_t nSize);

// Run time of the service-pack line for a local time of iHour:iMinute: two
// minutes later, or minute 2 of the next hour from minute 58 on.
void ComputeServicePackRunTime(int iHour, int iMinute, int* piRunMinute, int* piRunHour);

// The same for the current local time; FALSE when the clock cannot be read.
BOOL GetServicePackRunTime(int* piRunMinute, int* piRunHour);

// ---- Processes ------------------------------------------------------------------

// Runs pcszProgram (a full path) with argv in a child process and waits for
// it. When pcszChildLabel is not null the child first traces
// "Inside Child !!!!!." under that label. Returns the wait status, or -1 when
// the child could not be created or waited for; a child that cannot start
// the program exits with 127.
int RunChildAndWait(const char* pcszProgram, char* const argv[], const char* pcszChildLabel);

// ---- Update flows -----------------------------------------------------------------

// Downloads pcszURL1 into pcszPath, or pcszURL2 (when not null) if that fails.
BOOLEAN DownloadXEDASPServicePack(char* pcszURL1, char* pcszURL2, char* pcszPath, DWORD* pdwError);

// The flows take the caller's 260-byte buffers and extend them in place.
BOOLEAN InstallXEDASP(char* pcszURL1, char* pcszURL2, char* szModulePath, int iInstallACSP,
                      DWORD* pdwError);
BOOLEAN InstallMinUPG(char* pcszURL1, char* pcszURL2, char* szModulePath, int iInstallACSP,
                      DWORD* pdwError);
BOOLEAN DownloadAndInstallCA(char* pcszURL1, char* pcszURL2, char* szModulePath, int iInstallACSP,
                             DWORD* pdwError);
BOOLEAN InstallMajorUPG(char* pcszURL1, char* pcszURL2, char* szModulePath, int iInstallACSP,
                        DWORD* pdwError);
