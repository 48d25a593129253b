// Windows-style programming interface on Linux: events on named POSIX
// semaphores, thread start on POSIX threads, a process-wide last-error value,
// number and text conversions, time conversions, temporary names, file copy,
// GUID text and recursive directory removal. Failures are reported the
// Windows way (null handles, 0 results, the last-error value), never by
// exceptions or trace lines.
#pragma once

#include <semaphore.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "typedef.h"

// Wait results and last-error values borrowed from the Windows interface.
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_GEN_FAILURE = 1;
constexpr DWORD ERROR_NOT_SUPPORTED = 38;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr UINT CP_UTF8 = 65001;

// Event names of this length or more are cut to their first
// EVENT_NAME_MAX_USED characters, so that CreateEvent and OpenEvent of one
// long name meet on the same semaphore.
constexpr std::size_t EVENT_NAME_CUT_FROM = 15;
constexpr std::size_t EVENT_NAME_MAX_USED = 14;

typedef struct tagSYSTEMTIME
{
    WORD wYear;
    WORD wMonth;     // 1 to 12
    WORD wDayOfWeek; // 0 is Sunday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME;

// A HANDLE made by this layer points to a KERNEL_OBJECT_DATA.
enum enumKO_TYPE : std::int32_t
{
    KO_TYPE_EVENT = 0,
    KO_TYPE_THREAD = 1,
};

#pragma pack(push, 1)
typedef struct tagKERNEL_OBJECT_DATA
{
    enumKO_TYPE KernelObjectType;
    void* pvKernelObject; // EVENT_DATA* for events, a heap-held pthread_t for threads
} KERNEL_OBJECT_DATA;

typedef struct tagEVENT_DATA
{
    BYTE bIsCreator;       // 1: this handle created the semaphore and removes its name on close
    char szEventName[260]; // the name as used; filled only for the creator
    sem_t* pEvent;         // the open named semaphore
} EVENT_DATA;
#pragma pack(pop)

typedef unsigned int (*PFN_WIN_THREAD_PROC)(void* pvThreadData);

// Start record of a thread: allocated by _beginthreadex, freed by the new
// thread once its procedure has returned.
typedef struct tagTHREAD_PROC_DATA
{
    PFN_WIN_THREAD_PROC pfnWinThreadProc;
    void* pvThreadData;
} THREAD_PROC_DATA;

// Wide text of this layer is UTF-16 in my_wchar_t units.
typedef std::basic_string<my_wchar_t> my_wstring;

// Events. Every event behaves as a manual-reset event: a successful wait
// leaves the signal in place. lpName is handed to sem_open (the caller
// supplies any leading slash).
HANDLE CreateEvent(void* lpEventAttrib, BOOL bManualReset, BOOL bInitialState, const char* lpName);
HANDLE OpenEvent(DWORD dwDesiredAccess, BOOL bInheritHandle, const char* lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
// dwMilliseconds is counted in whole seconds (a limit under 1000 ms only
// tests the state); INFINITE waits without limit.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// Always 0; waits for nothing.
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE hObject);

// Starts start_address(pvArgList) on a new thread, which is never joined; an
// exception leaving the procedure is discarded. vpSecurity, dwStackSize,
// dwinitFlag and pdwThrdAddr are ignored.
HANDLE _beginthreadex(void* vpSecurity, DWORD dwStackSize, PFN_WIN_THREAD_PROC start_address,
                      void* pvArgList, DWORD dwinitFlag, DWORD* pdwThrdAddr);

// One value for the whole process, not per thread.
void SetLastError(DWORD dwErrorCode);
DWORD GetLastError();

// Digits of iNumber in radix 2 to 36 (lowercase), a minus sign only in radix
// 10; other radixes take the value as unsigned 32-bit. Returns 0, EINVAL for a
// bad radix or null buffer, ERANGE when dwCchBuffer cannot hold the text and
// its terminator; on error the buffer gets an empty string if it has room.
int itoa_s(int iNumber, char* szBuffer, DWORD dwCchBuffer, int iRadix);
// itoa_s into pwszData, which must hold 20 characters with the terminator.
// Returns pwszData, or null (buffer left empty) on a bad radix or a text too
// long for 20 characters.
my_wchar_t* _itow(int iVal, my_wchar_t* pwszData, int iRadix);

// UTF-16 <-> UTF-8 for every code page (this platform knows no other). A
// negative source count means the whole terminated string; otherwise at most
// that many units, stopping at a terminator. A destination size of 0 asks for
// the size needed (the terminator included, for the whole string in
// WideCharToMultiByte); otherwise the text and a terminator are written only
// if they fit. Results count the units written, terminator included; 0 on
// malformed input (lone surrogates, overlong or truncated sequences, values
// above U+10FFFF) or when the destination is too small.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar);
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
// Both leave the destination unchanged when they return 0. iWideCharSize
// bounds the converted text in wide characters, terminator included.
BYTE ConvertWideCharToUTF8(LPCWSTR pwcszSrc, std::string& strDest);
BYTE ConvertUTF8ToWideChar(const std::string& strSrc, my_wstring& wstrDest, int iWideCharSize);

// The directory of the running executable with its trailing slash. 0 when the
// link cannot be read or fills the whole buffer.
BOOL GetAppPath(char* pszAppPath, int iBufferSize);

void TmToSystemTime(const struct tm* ptmTime, SYSTEMTIME* pSystemTime);
// The time is taken as UTC; a result of -1 becomes 0.
void SysTimeToTime64(const SYSTEMTIME& SysTime, std::int64_t& i64Time);

// "<dir>/<prefix>" and six random characters that name no existing file,
// into pcszTempFileName (260 bytes). No file is created. uiUnique is ignored.
BOOL GetTempFileName(const char* szDirPath, const char* szPrefixString, UINT uiUnique,
                     char* pcszTempFileName);
// Copies from over the start of to without truncating it. 1 only when the
// whole source was copied.
BOOL CopyFile(const char* from, const char* to);
// Random GUID-like text seeded by the current second; copied with at most
// dwcchGuid characters (unterminated when cut).
BOOL CreateNewGUID(char* pszGuid, DWORD dwcchGuid);
// Removes a directory tree without following symbolic links: a link is
// removed as a link and nothing outside the tree is touched. 0 on success,
// -1 on the first failure (which ends the removal).
int RemoveDirectory(const char* pcszDirPath);
