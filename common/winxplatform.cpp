// Windows-style programming interface on POSIX calls.
#include "winxplatform.h"

#include <cxxabi.h>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "commondefs.h"
#include "handles.h"
#include "safefs.h"

// The last error of the whole process. Threads share it by design; the
// relaxed atomic accesses keep concurrent callers from being undefined
// behaviour while they still overwrite each other's value.
DWORD gs_dwErrno = 0;

void SetLastError(DWORD dwErrorCode)
{
    __atomic_store_n(&gs_dwErrno, dwErrorCode, __ATOMIC_RELAXED);
}

DWORD GetLastError()
{
    return __atomic_load_n(&gs_dwErrno, __ATOMIC_RELAXED);
}

namespace
{

void SetLastErrorFromErrno()
{
    SetLastError(static_cast<DWORD>(errno));
}

struct SemaphoreCloser
{
    void operator()(sem_t* pSem) const { (void)sem_close(pSem); } // nothing to do if it fails
};
typedef std::unique_ptr<sem_t, SemaphoreCloser> SemaphorePtr;

// ---------------------------------------------------------------- events

typedef char EventName[EVENT_NAME_MAX_USED + 1];

// Names of EVENT_NAME_CUT_FROM characters or more keep their first
// EVENT_NAME_MAX_USED; shorter names stay whole. Both rules amount to a copy
// of at most EVENT_NAME_MAX_USED characters.
void CutEventName(const char* pcszName, EventName& szName)
{
    const std::size_t nUsed = strnlen(pcszName, EVENT_NAME_MAX_USED);
    std::memcpy(szName, pcszName, nUsed);
    szName[nUsed] = '\0';
}

// Builds the handle that owns sem; null (sem still owned by the caller) when
// memory is short.
HANDLE WrapEvent(SemaphorePtr& sem, BYTE bIsCreator, const char* pcszName)
{
    std::unique_ptr<EVENT_DATA> pEvent(new (std::nothrow) EVENT_DATA());
    std::unique_ptr<KERNEL_OBJECT_DATA> pObject(new (std::nothrow) KERNEL_OBJECT_DATA());
    if (!pEvent || !pObject)
        return nullptr;
    pEvent->bIsCreator = bIsCreator;
    if (bIsCreator)
        (void)CopyBounded(pEvent->szEventName, sizeof(pEvent->szEventName),
                          pcszName); // cut names always fit
    pEvent->pEvent = sem.release();
    pObject->KernelObjectType = KO_TYPE_EVENT;
    pObject->pvKernelObject = pEvent.release();
    return pObject.release();
}

HANDLE OpenNamedEvent(const char* pcszName)
{
    sem_t* pSem = sem_open(pcszName, O_RDWR);
    if (pSem == SEM_FAILED)
    {
        SetLastErrorFromErrno();
        return nullptr;
    }
    SemaphorePtr sem(pSem);
    HANDLE hEvent = WrapEvent(sem, 0, pcszName);
    SetLastError(hEvent != nullptr ? ERROR_SUCCESS : ERROR_GEN_FAILURE);
    return hEvent;
}

KERNEL_OBJECT_DATA* ObjectOf(HANDLE hObject)
{
    return static_cast<KERNEL_OBJECT_DATA*>(hObject);
}

sem_t* SemaphoreOf(HANDLE hEvent)
{
    if (hEvent == nullptr || ObjectOf(hEvent)->KernelObjectType != KO_TYPE_EVENT)
        return nullptr;
    return static_cast<EVENT_DATA*>(ObjectOf(hEvent)->pvKernelObject)->pEvent;
}

// Takes one unit; the limit is counted in whole seconds. A signal is not a
// reason to give up, so interrupted waits resume (the deadline is absolute).
int TakeUnit(sem_t* pSem, DWORD dwMilliseconds)
{
    int iResult;
    if (dwMilliseconds == INFINITE)
    {
        do
            iResult = sem_wait(pSem);
        while (iResult != 0 && errno == EINTR);
        return iResult;
    }
    timespec tsDeadline;
    if (clock_gettime(CLOCK_REALTIME, &tsDeadline) != 0)
        return -1;
    tsDeadline.tv_sec += dwMilliseconds / 1000;
    do
        iResult = sem_timedwait(pSem, &tsDeadline);
    while (iResult != 0 && errno == EINTR);
    return iResult;
}

void* UnixThreadProc(void* pvStart)
{
    std::unique_ptr<THREAD_PROC_DATA> pStart(static_cast<THREAD_PROC_DATA*>(pvStart));
    try
    {
        (void)pStart->pfnWinThreadProc(pStart->pvThreadData); // nobody can collect the result
    }
    catch (abi::__forced_unwind&)
    {
        throw; // thread cancellation unwinds through here and must go on
    }
    catch (...)
    {
        // A procedure's exception must end its thread, not the process.
    }
    return nullptr;
}

// ----------------------------------------------------------- conversions

constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
// 32 binary digits of a negative number taken as unsigned, and a terminator.
constexpr std::size_t kMaxNumberText = 33;
// _itow's callers provide 20 wide characters, the terminator included.
constexpr DWORD kItowChars = 20;

std::size_t FormatNumber(int iNumber, int iRadix, char (&szText)[kMaxNumberText + 1])
{
    const bool bNegative = iRadix == 10 && iNumber < 0;
    // Negated in unsigned arithmetic so that INT_MIN has a magnitude too.
    std::uint32_t uValue = static_cast<std::uint32_t>(iNumber);
    if (bNegative)
        uValue = 0u - uValue;
    const auto uRadix = static_cast<std::uint32_t>(iRadix);
    std::size_t nLength = 0;
    do
    {
        szText[nLength++] = kDigits[uValue % uRadix];
        uValue /= uRadix;
    } while (uValue != 0);
    if (bNegative)
        szText[nLength++] = '-';
    std::reverse(szText, szText + nLength);
    szText[nLength] = '\0';
    return nLength;
}

constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;

bool IsSurrogate(std::uint32_t uCodePoint)
{
    return uCodePoint >= 0xD800 && uCodePoint <= 0xDFFF;
}

// Each decoder reads one scalar value from the nAvail units at pIn and
// returns the units it used, 0 for malformed or truncated input. Each encoder
// writes one scalar value and returns the units written.
std::size_t DecodeUtf16(const my_wchar_t* pIn, std::size_t nAvail, std::uint32_t& uCodePoint)
{
    const std::uint32_t uFirst = pIn[0];
    if (!IsSurrogate(uFirst))
    {
        uCodePoint = uFirst;
        return 1;
    }
    if (uFirst >= 0xDC00 || nAvail < 2 || pIn[1] < 0xDC00 || pIn[1] > 0xDFFF)
        return 0;
    uCodePoint = 0x10000 + ((uFirst - 0xD800) << 10) + (pIn[1] - 0xDC00u);
    return 2;
}

std::size_t EncodeUtf16(std::uint32_t uCodePoint, my_wchar_t* pOut)
{
    if (uCodePoint < 0x10000)
    {
        pOut[0] = static_cast<my_wchar_t>(uCodePoint);
        return 1;
    }
    uCodePoint -= 0x10000;
    pOut[0] = static_cast<my_wchar_t>(0xD800 + (uCodePoint >> 10));
    pOut[1] = static_cast<my_wchar_t>(0xDC00 + (uCodePoint & 0x3FF));
    return 2;
}

// Length of a UTF-8 sequence by its lead byte and the smallest value that
// length may carry (anything below is an overlong form); 0 for bytes that
// cannot lead a sequence.
struct Utf8Lead
{
    std::size_t nLength;
    std::uint32_t uMinimum;
    std::uint32_t uValueBits;
};

Utf8Lead ClassifyLead(unsigned char ucLead)
{
    if (ucLead < 0x80)
        return {1, 0, ucLead};
    if (ucLead >= 0xC0 && ucLead < 0xE0)
        return {2, 0x80, ucLead & 0x1Fu};
    if (ucLead >= 0xE0 && ucLead < 0xF0)
        return {3, 0x800, ucLead & 0x0Fu};
    if (ucLead >= 0xF0 && ucLead < 0xF8)
        return {4, 0x10000, ucLead & 0x07u};
    return {0, 0, 0};
}

std::size_t DecodeUtf8(const char* pIn, std::size_t nAvail, std::uint32_t& uCodePoint)
{
    const Utf8Lead lead = ClassifyLead(static_cast<unsigned char>(pIn[0]));
    if (lead.nLength == 0 || lead.nLength > nAvail)
        return 0;
    std::uint32_t uValue = lead.uValueBits;
    for (std::size_t i = 1; i < lead.nLength; ++i)
    {
        const auto ucNext = static_cast<unsigned char>(pIn[i]);
        if ((ucNext & 0xC0) != 0x80)
            return 0;
        uValue = (uValue << 6) | (ucNext & 0x3Fu);
    }
    if (uValue < lead.uMinimum || uValue > kMaxCodePoint || IsSurrogate(uValue))
        return 0;
    uCodePoint = uValue;
    return lead.nLength;
}

std::size_t EncodeUtf8(std::uint32_t uCodePoint, char* pOut)
{
    if (uCodePoint < 0x80)
    {
        pOut[0] = static_cast<char>(uCodePoint);
        return 1;
    }
    std::size_t nLength = uCodePoint < 0x800 ? 2 : uCodePoint < 0x10000 ? 3 : 4;
    static const unsigned char s_aucLeadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::size_t i = nLength - 1; i > 0; --i)
    {
        pOut[i] = static_cast<char>(0x80 | (uCodePoint & 0x3F));
        uCodePoint >>= 6;
    }
    pOut[0] = static_cast<char>(s_aucLeadMarks[nLength] | uCodePoint);
    return nLength;
}

template <typename T>
std::size_t TextLength(const T* pText, std::size_t nMax)
{
    std::size_t nLength = 0;
    while (nLength < nMax && pText[nLength] != 0)
        ++nLength;
    return nLength;
}

// Transcodes nIn source units. With pOut null it only counts; otherwise it
// fails as soon as the output would pass nOutMax units.
template <typename TIn, typename TOut>
bool Transcode(const TIn* pIn, std::size_t nIn, TOut* pOut, std::size_t nOutMax,
               std::size_t (*pfnDecode)(const TIn*, std::size_t, std::uint32_t&),
               std::size_t (*pfnEncode)(std::uint32_t, TOut*), std::size_t& nOut)
{
    nOut = 0;
    for (std::size_t i = 0; i < nIn;)
    {
        std::uint32_t uCodePoint = 0;
        const std::size_t nUsed = pfnDecode(pIn + i, nIn - i, uCodePoint);
        if (nUsed == 0)
            return false;
        i += nUsed;
        TOut aUnits[4];
        const std::size_t nUnits = pfnEncode(uCodePoint, aUnits);
        if (pOut != nullptr)
        {
            if (nUnits > nOutMax - nOut)
                return false;
            std::copy(aUnits, aUnits + nUnits, pOut + nOut);
        }
        nOut += nUnits;
    }
    return true;
}

// The common body of WideCharToMultiByte and MultiByteToWideChar; see the
// header for the counting rules. bQueryWhole makes a size query count the
// whole string whatever cchIn says.
template <typename TIn, typename TOut>
int ConvertText(const TIn* pIn, int cchIn, TOut* pOut, int cchOut, bool bQueryWhole,
                std::size_t (*pfnDecode)(const TIn*, std::size_t, std::uint32_t&),
                std::size_t (*pfnEncode)(std::uint32_t, TOut*))
{
    const bool bQuery = cchOut == 0;
    if (pIn == nullptr || cchOut < 0 || (!bQuery && pOut == nullptr))
        return 0;
    const bool bWhole = cchIn < 0 || (bQuery && bQueryWhole);
    const std::size_t nIn = TextLength(pIn, bWhole ? SIZE_MAX : static_cast<std::size_t>(cchIn));
    std::size_t nOut = 0;
    // One unit of the destination is kept for the terminator.
    const bool bDone =
        Transcode(pIn, nIn, bQuery ? nullptr : pOut,
                  bQuery ? 0 : static_cast<std::size_t>(cchOut) - 1, pfnDecode, pfnEncode, nOut);
    if (!bDone || nOut >= static_cast<std::size_t>(INT_MAX))
    {
        if (!bQuery)
            pOut[0] = 0;
        return 0;
    }
    if (!bQuery)
        pOut[nOut] = 0;
    return static_cast<int>(nOut + 1);
}

// ------------------------------------------------------------ files

// Replaces the last six characters of pszName with random letters and digits
// until they name nothing that exists; generated here rather than by mktemp,
// whose use the linker warns about.
bool FillUniqueSuffix(char* pszName, std::size_t nSuffixAt)
{
    static const char s_szChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::size_t kChoices = sizeof(s_szChars) - 1;
    constexpr int kAttempts = 100;
    for (int iAttempt = 0; iAttempt < kAttempts; ++iAttempt)
    {
        unsigned char aucRandom[6];
        ssize_t nGot;
        do
            nGot = getrandom(aucRandom, sizeof(aucRandom), 0);
        while (nGot < 0 && errno == EINTR);
        if (nGot != static_cast<ssize_t>(sizeof(aucRandom)))
            return false;
        for (std::size_t i = 0; i < sizeof(aucRandom); ++i)
            pszName[nSuffixAt + i] = s_szChars[aucRandom[i] % kChoices];
        struct stat st;
        if (lstat(pszName, &st) != 0)
            return errno == ENOENT;
    }
    return false;
}

bool WriteAll(int fd, const char* pData, std::size_t nSize)
{
    while (nSize > 0)
    {
        const ssize_t nWritten = write(fd, pData, nSize);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            return false;
        pData += nWritten;
        nSize -= static_cast<std::size_t>(nWritten);
    }
    return true;
}

} // namespace

// ------------------------------------------------------------- events

HANDLE CreateEvent(void* /*lpEventAttrib*/, BOOL /*bManualReset*/, BOOL bInitialState,
                   const char* lpName)
{
    if (lpName == nullptr)
    {
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    EventName szName;
    CutEventName(lpName, szName);
    sem_t* pSem = sem_open(szName, O_CREAT | O_EXCL, 0777, 1);
    if (pSem == SEM_FAILED)
    {
        if (errno != EEXIST)
        {
            SetLastErrorFromErrno();
            return nullptr;
        }
        HANDLE hEvent = OpenNamedEvent(szName);
        if (hEvent != nullptr)
            SetLastError(ERROR_ALREADY_EXISTS);
        return hEvent;
    }
    SemaphorePtr sem(pSem);
    // A new semaphore holds its one unit; an unsignalled event gives it back.
    if (!bInitialState && sem_trywait(pSem) != 0)
    {
        const DWORD dwError = static_cast<DWORD>(errno);
        (void)sem_unlink(szName); // best effort: the creation failed either way
        SetLastError(dwError);
        return nullptr;
    }
    HANDLE hEvent = WrapEvent(sem, 1, szName);
    if (hEvent == nullptr)
    {
        (void)sem_unlink(szName); // best effort: the creation failed either way
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return hEvent;
}

HANDLE OpenEvent(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, const char* lpName)
{
    if (lpName == nullptr)
    {
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    EventName szName;
    CutEventName(lpName, szName);
    return OpenNamedEvent(szName);
}

BOOL SetEvent(HANDLE hEvent)
{
    sem_t* pSem = SemaphoreOf(hEvent);
    if (pSem == nullptr)
    {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    // Each call adds a unit (the count is not capped). A post that fails (the
    // count at its limit) still answers TRUE and leaves its reason in the
    // last error.
    SetLastError(sem_post(pSem) == 0 ? ERROR_SUCCESS : static_cast<DWORD>(errno));
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent)
{
    sem_t* pSem = SemaphoreOf(hEvent);
    if (pSem == nullptr)
    {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (sem_trywait(pSem) == 0 || errno == EAGAIN)
    {
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    SetLastErrorFromErrno();
    return FALSE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    if (hHandle == nullptr)
    {
        SetLastError(ERROR_GEN_FAILURE);
        return 1;
    }
    const enumKO_TYPE type = ObjectOf(hHandle)->KernelObjectType;
    if (type == KO_TYPE_THREAD)
        return WAIT_OBJECT_0; // threads are never joined
    if (type != KO_TYPE_EVENT)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    sem_t* pSem = SemaphoreOf(hHandle);
    if (TakeUnit(pSem, dwMilliseconds) != 0)
    {
        const DWORD dwError = static_cast<DWORD>(errno);
        const bool bTimedOut = dwError == EAGAIN || dwError == ETIMEDOUT;
        SetLastError(bTimedOut ? ERROR_GEN_FAILURE : dwError);
        return bTimedOut ? WAIT_TIMEOUT : WAIT_FAILED;
    }
    // The unit goes straight back: a wait never consumes the signal.
    if (sem_post(pSem) != 0)
    {
        SetLastErrorFromErrno();
        return WAIT_FAILED;
    }
    SetLastError(ERROR_SUCCESS);
    return WAIT_OBJECT_0;
}

DWORD WaitForMultipleObjects(DWORD /*nCount*/, const HANDLE* /*lpHandles*/, BOOL /*bWaitAll*/,
                             DWORD /*dwMilliseconds*/)
{
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE hObject)
{
    if (hObject == nullptr)
        return TRUE;
    KERNEL_OBJECT_DATA* pObject = ObjectOf(hObject);
    if (pObject->KernelObjectType == KO_TYPE_EVENT)
    {
        std::unique_ptr<EVENT_DATA> pEvent(static_cast<EVENT_DATA*>(pObject->pvKernelObject));
        if (pEvent->bIsCreator)
            (void)sem_unlink(pEvent->szEventName); // someone may have removed the name already
        (void)sem_close(pEvent->pEvent);           // the handle goes away whatever it says
    }
    else if (pObject->KernelObjectType == KO_TYPE_THREAD)
        delete static_cast<pthread_t*>(pObject->pvKernelObject);
    else
        return FALSE;
    delete pObject;
    return TRUE;
}

HANDLE _beginthreadex(void* /*vpSecurity*/, DWORD /*dwStackSize*/,
                      PFN_WIN_THREAD_PROC start_address, void* pvArgList, DWORD /*dwinitFlag*/,
                      DWORD* /*pdwThrdAddr*/)
{
    std::unique_ptr<pthread_t> pThread(new (std::nothrow) pthread_t());
    std::unique_ptr<KERNEL_OBJECT_DATA> pObject(new (std::nothrow) KERNEL_OBJECT_DATA());
    std::unique_ptr<THREAD_PROC_DATA> pStart(new (std::nothrow)
                                                 THREAD_PROC_DATA{start_address, pvArgList});
    if (start_address == nullptr || !pThread || !pObject || !pStart ||
        pthread_create(pThread.get(), nullptr, UnixThreadProc, pStart.get()) != 0)
    {
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    (void)pStart.release(); // the new thread frees it
    pObject->KernelObjectType = KO_TYPE_THREAD;
    pObject->pvKernelObject = pThread.release();
    SetLastError(ERROR_SUCCESS);
    return pObject.release();
}

// -------------------------------------------------------- conversions

int itoa_s(int iNumber, char* szBuffer, DWORD dwCchBuffer, int iRadix)
{
    if (szBuffer == nullptr)
        return EINVAL;
    int iError = EINVAL;
    if (iRadix >= 2 && iRadix <= 36)
    {
        char szText[kMaxNumberText + 1];
        const std::size_t nLength = FormatNumber(iNumber, iRadix, szText);
        if (nLength < dwCchBuffer)
        {
            std::memcpy(szBuffer, szText, nLength + 1);
            return 0;
        }
        iError = ERANGE;
    }
    if (dwCchBuffer > 0)
        szBuffer[0] = '\0';
    return iError;
}

my_wchar_t* _itow(int iVal, my_wchar_t* pwszData, int iRadix)
{
    if (pwszData == nullptr)
        return nullptr;
    char szText[kItowChars];
    if (itoa_s(iVal, szText, kItowChars, iRadix) != 0)
    {
        pwszData[0] = 0;
        return nullptr;
    }
    // Digits and the minus sign are ASCII, so each byte is its own UTF-16 unit.
    std::size_t i = 0;
    do
        pwszData[i] = static_cast<unsigned char>(szText[i]);
    while (szText[i++] != '\0');
    return pwszData;
}

int WideCharToMultiByte(UINT /*CodePage*/, DWORD /*dwFlags*/, LPCWSTR lpWideCharStr,
                        int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                        LPCSTR /*lpDefaultChar*/, BOOL* /*lpUsedDefaultChar*/)
{
    return ConvertText(lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte, true, DecodeUtf16,
                       EncodeUtf8);
}

int MultiByteToWideChar(UINT /*CodePage*/, DWORD /*dwFlags*/, LPCSTR lpMultiByteStr,
                        int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar)
{
    return ConvertText(lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar, false, DecodeUtf8,
                       EncodeUtf16);
}

BYTE ConvertWideCharToUTF8(LPCWSTR pwcszSrc, std::string& strDest)
{
    if (pwcszSrc == nullptr)
        return 0;
    const int cbNeeded =
        WideCharToMultiByte(CP_UTF8, 0, pwcszSrc, -1, nullptr, 0, nullptr, nullptr);
    if (cbNeeded == 0)
        return 0;
    try
    {
        std::vector<char> vecText(static_cast<std::size_t>(cbNeeded));
        if (WideCharToMultiByte(CP_UTF8, 0, pwcszSrc, -1, vecText.data(), cbNeeded, nullptr,
                                nullptr) == 0)
            return 0;
        strDest.assign(vecText.data());
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
    return 1;
}

BYTE ConvertUTF8ToWideChar(const std::string& strSrc, my_wstring& wstrDest, int iWideCharSize)
{
    const int cchNeeded = MultiByteToWideChar(CP_UTF8, 0, strSrc.c_str(), -1, nullptr, 0);
    if (cchNeeded == 0 || cchNeeded > iWideCharSize)
        return 0;
    try
    {
        std::vector<my_wchar_t> vecText(static_cast<std::size_t>(cchNeeded));
        if (MultiByteToWideChar(CP_UTF8, 0, strSrc.c_str(), -1, vecText.data(), cchNeeded) == 0)
            return 0;
        wstrDest.assign(vecText.data(), static_cast<std::size_t>(cchNeeded) - 1);
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
    return 1;
}

// ------------------------------------------------------ paths and time

BOOL GetAppPath(char* pszAppPath, int iBufferSize)
{
    if (pszAppPath == nullptr || iBufferSize <= 0)
        return FALSE;
    const auto nSize = static_cast<std::size_t>(iBufferSize);
    std::memset(pszAppPath, 0, nSize);
    const ssize_t nRead = readlink("/proc/self/exe", pszAppPath, nSize);
    // A link that fills the buffer may have been cut, and has no terminator.
    if (nRead < 1 || static_cast<std::size_t>(nRead) >= nSize)
    {
        std::memset(pszAppPath, 0, nSize);
        return FALSE;
    }
    char* pszLastSlash = std::strrchr(pszAppPath, '/');
    if (pszLastSlash != nullptr)
        pszLastSlash[1] = '\0';
    return TRUE;
}

void TmToSystemTime(const struct tm* ptmTime, SYSTEMTIME* pSystemTime)
{
    if (ptmTime == nullptr || pSystemTime == nullptr)
        return;
    pSystemTime->wYear = static_cast<WORD>(ptmTime->tm_year + 1900);
    pSystemTime->wMonth = static_cast<WORD>(ptmTime->tm_mon + 1);
    pSystemTime->wDayOfWeek = static_cast<WORD>(ptmTime->tm_wday);
    pSystemTime->wDay = static_cast<WORD>(ptmTime->tm_mday);
    pSystemTime->wHour = static_cast<WORD>(ptmTime->tm_hour);
    pSystemTime->wMinute = static_cast<WORD>(ptmTime->tm_min);
    pSystemTime->wSecond = static_cast<WORD>(ptmTime->tm_sec);
    pSystemTime->wMilliseconds = 0;
}

void SysTimeToTime64(const SYSTEMTIME& SysTime, std::int64_t& i64Time)
{
    struct tm tmTime = {};
    tmTime.tm_year = SysTime.wYear - 1900;
    tmTime.tm_mon = SysTime.wMonth - 1;
    tmTime.tm_mday = SysTime.wDay;
    tmTime.tm_hour = SysTime.wHour;
    tmTime.tm_min = SysTime.wMinute;
    tmTime.tm_sec = SysTime.wSecond;
    tmTime.tm_wday = SysTime.wDayOfWeek;
    const time_t tResult = timegm(&tmTime);
    i64Time = tResult == static_cast<time_t>(-1) ? 0 : static_cast<std::int64_t>(tResult);
}

BOOL GetTempFileName(const char* szDirPath, const char* szPrefixString, UINT /*uiUnique*/,
                     char* pcszTempFileName)
{
    if (szDirPath == nullptr || szPrefixString == nullptr || pcszTempFileName == nullptr)
        return FALSE;
    char szName[MAX_PATH];
    const int iLength =
        std::snprintf(szName, sizeof(szName), "%s/%sXXXXXX", szDirPath, szPrefixString);
    if (iLength < 0 || static_cast<std::size_t>(iLength) >= sizeof(szName))
        return FALSE;
    if (!FillUniqueSuffix(szName, static_cast<std::size_t>(iLength) - 6))
        return FALSE;
    std::memcpy(pcszTempFileName, szName, static_cast<std::size_t>(iLength) + 1);
    return TRUE;
}

BOOL CopyFile(const char* from, const char* to)
{
    if (from == nullptr || to == nullptr)
        return FALSE;
    UniqueFd fdFrom(open(from, O_RDONLY | O_CLOEXEC));
    if (!fdFrom.IsOpen())
        return FALSE;
    // No O_TRUNC: a longer old target keeps its tail.
    UniqueFd fdTo(open(to, O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!fdTo.IsOpen())
        return FALSE;
    char acBlock[4096];
    for (;;)
    {
        const ssize_t nRead = read(fdFrom.Get(), acBlock, sizeof(acBlock));
        if (nRead == 0)
            break;
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0 || !WriteAll(fdTo.Get(), acBlock, static_cast<std::size_t>(nRead)))
            return FALSE;
    }
    return fdTo.Close() == 0 ? TRUE : FALSE;
}

BOOL CreateNewGUID(char* pszGuid, DWORD dwcchGuid)
{
    if (pszGuid == nullptr)
        return FALSE;
    // Seeded by the second, so two calls within one second give the same text.
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
    unsigned int auDraws[8];
    for (unsigned int& uDraw : auDraws)
        uDraw = static_cast<unsigned int>(std::rand());
    auDraws[3] = auDraws[3] % 16383 + 32768;    // fourth group 0x8000 to 0xBFFE
    auDraws[4] = (auDraws[4] & 0xFFF) | 0x4000; // third group starts with 4
    char szGuid[100];
    const int iLength =
        std::snprintf(szGuid, sizeof(szGuid), "%x%x-%x-%x-%x-%x%x%x", auDraws[7], auDraws[6],
                      auDraws[5], auDraws[4], auDraws[3], auDraws[2], auDraws[1], auDraws[0]);
    if (iLength < 0)
        return FALSE;
    std::memcpy(pszGuid, szGuid,
                std::min<std::size_t>(static_cast<std::size_t>(iLength) + 1, dwcchGuid));
    return TRUE;
}

int RemoveDirectory(const char* pcszDirPath)
{
    if (pcszDirPath == nullptr)
        return -1;
    return RemoveTreeAt(AT_FDCWD, pcszDirPath);
}
