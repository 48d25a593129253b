// Update installation: manifest records, package verification, the update
// flows (service pack, minor upgrade with its client-agent stage, major
// upgrade) and the crontab lines they end in, with the codes they report.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "commondefs.h"
#include "typedef.h"

// ---- Request kinds and error codes ---------------------------------------------

// What the command line's switch asks for; the flows also name their
// manifest by it.
enum INSTALL_REQUEST
{
    INSTALL_REQUEST_NONE = 0,
    INSTALL_REQUEST_SERVICE_PACK = 1, // -CASP
    INSTALL_REQUEST_UPGRADE = 2,      // -CAUPG
};

// Codes the flows store in their caller's pdwError. A failed download also
// passes on the transfer's own codes, a failed shell extraction its errno.
enum XEDA_ERROR_CODE : DWORD
{
    XEDA_ERR_NULL_ARGUMENT = 570,     // service-pack and minor flows
    XEDA_ERR_DOWNLOAD_ARGUMENT = 580, // DownloadXEDASPServicePack without URL or path
    XEDA_ERR_DOWNLOAD_FAILED = 581,   // every URL tried failed
    XEDA_ERR_READER_ARGUMENT = 590,   // a manifest reader without file or record
    XEDA_ERR_MANIFEST_KEY = 591,      // a key missing from the manifest
    XEDA_ERR_VERIFY_ARGUMENT = 601,   // CheckFileConsistency without file or record
    XEDA_ERR_LENGTH_MISMATCH = 603,
    XEDA_ERR_CRC_FAILED = 604, // the file's CRC-32 could not be computed
    XEDA_ERR_CRC_MISMATCH = 605,
    XEDA_ERR_MD5_FAILED = 606, // the file's MD5 could not be computed
    XEDA_ERR_MD5_MISMATCH = 607,
    XEDA_ERR_NO_CRON = 608,            // the major upgrade found no cron daemon
    XEDA_ERR_SCRIPT_NOT_TRUSTED = 609, // a script to schedule that others than root can change
    XEDA_ERR_CRONTAB_APPEND = 610,     // the crontab line could not be appended
    // On a machine that holds the vendor's keys: the manifest's signature
    // and what a signed manifest must carry, and the package's SHA-256.
    XEDA_ERR_SIGNATURE_MISSING = 620,  // the signature could not be downloaded
    XEDA_ERR_SIGNATURE_TOO_LONG = 621, // more than 1024 bytes
    XEDA_ERR_SIGNATURE_INVALID = 622,  // no trusted key verifies it
    XEDA_ERR_NO_TRUSTED_KEY = 623,     // the keys folder holds no usable key
    XEDA_ERR_SHA256_FIELD = 624,       // sha256_64 missing or not 64 hexadecimal digits
    XEDA_ERR_EXPIRY_FIELD = 625,       // expires_64 missing or not a number of seconds
    XEDA_ERR_MANIFEST_EXPIRED = 626,   // expires_64 has passed
    XEDA_ERR_SHA256_MISMATCH = 627,    // the package is not the one signed for
    XEDA_ERR_SHA256_FAILED = 628,      // the package's SHA-256 could not be computed
};

// Codes of GetDiskFreeSpace.
enum DISK_ERROR_CODE : DWORD
{
    DISK_ERR_QUERY_FAILED = 1001,
    DISK_ERR_NO_PATH = 1002,
    DISK_ERR_NO_SPACE = 1005,
};

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

// Writes the crontab line, without its line end, into pszLine (nSize
// bytes). iMinute and iHour are used by the service-pack line only. Returns
// FALSE for CRON_LINE_NONE or when the line does not fit.
BOOL FormatCronLine(enumCRON_LINE eLine, int iMinute, int iHour, char* pszLine, std::size_t nSize);

// The script the line runs as root; null for CRON_LINE_NONE.
const char* CronScript(enumCRON_LINE eLine);

// Run time of the service-pack line for a local time of iHour:iMinute: two
// minutes later, or minute 2 of the next hour from minute 58 on.
void ComputeServicePackRunTime(int iHour, int iMinute, int* piRunMinute, int* piRunHour);

// The same for the current local time; FALSE when the clock cannot be read.
BOOL GetServicePackRunTime(int* piRunMinute, int* piRunHour);

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
