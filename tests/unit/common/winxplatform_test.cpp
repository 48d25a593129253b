// Events, threads, the last-error value, time conversions and the file
// helpers of the Windows-style layer. Runs in the sandbox, so the named
// semaphores live in a private /dev/shm and /tmp is a private tmpfs.
#include "winxplatform.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

struct HandleCloser
{
    void operator()(void* hObject) const { EXPECT_EQ(TRUE, CloseHandle(hObject)); }
};
typedef std::unique_ptr<void, HandleCloser> UniqueHandle;

bool SemaphoreFileExists(const std::string& strNameWithoutSlash)
{
    return fs::exists("/dev/shm/sem." + strNameWithoutSlash);
}

bool IsAlnumText(const std::string& str)
{
    return std::all_of(str.begin(), str.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// Splits "a-b-c" into its groups, each of which must be non-empty lowercase hex.
std::vector<std::string> HexGroups(const std::string& str)
{
    std::vector<std::string> vecGroups(1);
    for (char c : str)
    {
        if (c == '-')
            vecGroups.emplace_back();
        else
            vecGroups.back().push_back(c);
    }
    for (const std::string& strGroup : vecGroups)
    {
        if (strGroup.empty() || strGroup.find_first_not_of("0123456789abcdef") != std::string::npos)
            return {};
    }
    return vecGroups;
}

// ------------------------------------------------------------------ events

// The thread is never joined by the layer; the test joins it through the
// record the handle points to, to know that it has ended.
void* JoinThreadOf(HANDLE hThread)
{
    auto* pObject = static_cast<KERNEL_OBJECT_DATA*>(hThread);
    void* pvResult = reinterpret_cast<void*>(1);
    EXPECT_EQ(0, pthread_join(*static_cast<pthread_t*>(pObject->pvKernelObject), &pvResult));
    return pvResult;
}

TEST(Event, LongNamesAreCutTo14CharactersSoCreatorAndOpenerMeet)
{
    const char* pcszName = "/evt456789abcdefghij";  // 20 characters
    ASSERT_EQ(20u, std::strlen(pcszName));
    UniqueHandle hCreated(CreateEvent(nullptr, TRUE, FALSE, pcszName));
    ASSERT_NE(nullptr, hCreated);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_TRUE(SemaphoreFileExists("evt456789abcd"));
    EXPECT_FALSE(SemaphoreFileExists("evt456789abcdefghij"));

    // A different tail past the 14th character reaches the same semaphore.
    UniqueHandle hOpened(OpenEvent(0, FALSE, "/evt456789abcdXYZ"));
    ASSERT_NE(nullptr, hOpened);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());

    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hCreated.get(), 0));
    EXPECT_EQ(TRUE, SetEvent(hOpened.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hCreated.get(), 0));
}

TEST(Event, NamesOf14CharactersAreUsedWhole)
{
    UniqueHandle hEvent(CreateEvent(nullptr, TRUE, TRUE, "/evt4567890123"));
    ASSERT_NE(nullptr, hEvent);
    EXPECT_TRUE(SemaphoreFileExists("evt4567890123"));
}

TEST(Event, CreatingAnExistingNameReturnsAWorkingHandleWithError183)
{
    UniqueHandle hFirst(CreateEvent(nullptr, TRUE, FALSE, "/evtexists"));
    ASSERT_NE(nullptr, hFirst);
    UniqueHandle hSecond(CreateEvent(nullptr, TRUE, TRUE, "/evtexists"));
    ASSERT_NE(nullptr, hSecond);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    // The existing event keeps its state: the second initial state is not applied.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hSecond.get(), 0));
    EXPECT_EQ(TRUE, SetEvent(hSecond.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hFirst.get(), 0));
}

TEST(Event, InitialStateDecidesTheFirstWait)
{
    const struct
    {
        const char* pcszName;
        BOOL bInitialState;
        DWORD dwWait;
        DWORD dwLastError;
    } aCases[] = {
        {"/evtinitset", TRUE, WAIT_OBJECT_0, ERROR_SUCCESS},
        {"/evtinitclear", FALSE, WAIT_TIMEOUT, ERROR_GEN_FAILURE},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszName);
        UniqueHandle hEvent(CreateEvent(nullptr, FALSE, c.bInitialState, c.pcszName));
        ASSERT_NE(nullptr, hEvent);
        EXPECT_EQ(c.dwWait, WaitForSingleObject(hEvent.get(), 0));
        EXPECT_EQ(c.dwLastError, GetLastError());
    }
}

TEST(Event, SetIsNotConsumedByWaitsAndResetClearsIt)
{
    UniqueHandle hEvent(CreateEvent(nullptr, FALSE, FALSE, "/evtsetreset"));
    ASSERT_NE(nullptr, hEvent);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent.get(), 0));
    EXPECT_EQ(TRUE, SetEvent(hEvent.get()));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent.get(), 0));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent.get(), 999));
    EXPECT_EQ(TRUE, ResetEvent(hEvent.get()));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent.get(), 0));
    // Limits count in whole seconds: under 1000 ms only the state is tested.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent.get(), 999));
    // Resetting an unsignalled event succeeds and changes nothing.
    SetLastError(77);
    EXPECT_EQ(TRUE, ResetEvent(hEvent.get()));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent.get(), 0));
}

TEST(Event, EachSetAddsAUnitAndEachResetTakesOne)
{
    UniqueHandle hEvent(CreateEvent(nullptr, TRUE, FALSE, "/evtcount"));
    ASSERT_NE(nullptr, hEvent);
    EXPECT_EQ(TRUE, SetEvent(hEvent.get()));
    EXPECT_EQ(TRUE, SetEvent(hEvent.get()));
    EXPECT_EQ(TRUE, ResetEvent(hEvent.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent.get(), 0));
    EXPECT_EQ(TRUE, ResetEvent(hEvent.get()));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent.get(), 0));
}

TEST(Event, ClosingTheCreatorRemovesTheNameClosingAnOpenerDoesNot)
{
    HANDLE hCreator = CreateEvent(nullptr, TRUE, TRUE, "/evtclose");
    ASSERT_NE(nullptr, hCreator);
    HANDLE hOpener = OpenEvent(0, FALSE, "/evtclose");
    ASSERT_NE(nullptr, hOpener);
    EXPECT_EQ(TRUE, CloseHandle(hOpener));
    EXPECT_TRUE(SemaphoreFileExists("evtclose"));
    UniqueHandle hAgain(OpenEvent(0, FALSE, "/evtclose"));
    EXPECT_NE(nullptr, hAgain);

    EXPECT_EQ(TRUE, CloseHandle(hCreator));
    EXPECT_FALSE(SemaphoreFileExists("evtclose"));
    EXPECT_EQ(nullptr, OpenEvent(0, FALSE, "/evtclose"));
    EXPECT_EQ(static_cast<DWORD>(ENOENT), GetLastError());
}

TEST(Event, OpeningAMissingOrNullNameFails)
{
    EXPECT_EQ(nullptr, OpenEvent(0, FALSE, "/evtmissing"));
    EXPECT_EQ(static_cast<DWORD>(ENOENT), GetLastError());
    EXPECT_EQ(nullptr, OpenEvent(0, FALSE, nullptr));
    EXPECT_EQ(nullptr, CreateEvent(nullptr, FALSE, FALSE, nullptr));
    EXPECT_EQ(ERROR_GEN_FAILURE, GetLastError());
}

TEST(Event, CreateReportsTheErrnoOfAnInvalidName)
{
    // A slash after the first character is not a valid semaphore name.
    EXPECT_EQ(nullptr, CreateEvent(nullptr, FALSE, FALSE, "/evt/bad"));
    EXPECT_EQ(static_cast<DWORD>(EINVAL), GetLastError());
}

TEST(Event, WaitWithoutLimitReturnsWhenAnotherThreadSetsTheEvent)
{
    UniqueHandle hEvent(CreateEvent(nullptr, TRUE, FALSE, "/evtthread"));
    ASSERT_NE(nullptr, hEvent);
    auto pfnSetter = [](void* pv) -> unsigned int { return SetEvent(static_cast<HANDLE>(pv)) ? 0u : 1u; };
    UniqueHandle hThread(_beginthreadex(nullptr, 0, pfnSetter, hEvent.get(), 0, nullptr));
    ASSERT_NE(nullptr, hThread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent.get(), INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent.get(), 0));
    JoinThreadOf(hThread.get());
}

// A record of a type the layer does not know.
KERNEL_OBJECT_DATA MakeForeignObject()
{
    KERNEL_OBJECT_DATA object;
    object.KernelObjectType = static_cast<enumKO_TYPE>(7);
    object.pvKernelObject = nullptr;
    return object;
}

TEST(Handle, NullAndForeignHandlesAreRefusedWindowsStyle)
{
    KERNEL_OBJECT_DATA foreign = MakeForeignObject();
    const struct
    {
        const char* pcszCase;
        DWORD (*pfnCall)(HANDLE);
        HANDLE hObject;
        DWORD dwResult;
        DWORD dwLastError;
    } aCases[] = {
        {"wait null", [](HANDLE h) { return WaitForSingleObject(h, 0); }, nullptr, 1, ERROR_GEN_FAILURE},
        {"wait foreign", [](HANDLE h) { return WaitForSingleObject(h, INFINITE); }, &foreign,
         WAIT_FAILED, ERROR_NOT_SUPPORTED},
        {"set null", [](HANDLE h) { return static_cast<DWORD>(SetEvent(h)); }, nullptr, 0, ERROR_GEN_FAILURE},
        {"set foreign", [](HANDLE h) { return static_cast<DWORD>(SetEvent(h)); }, &foreign, 0,
         ERROR_GEN_FAILURE},
        {"reset null", [](HANDLE h) { return static_cast<DWORD>(ResetEvent(h)); }, nullptr, 0,
         ERROR_GEN_FAILURE},
        {"reset foreign", [](HANDLE h) { return static_cast<DWORD>(ResetEvent(h)); }, &foreign, 0,
         ERROR_GEN_FAILURE},
        {"close foreign keeps the last error", [](HANDLE h) { return static_cast<DWORD>(CloseHandle(h)); },
         &foreign, 0, 12345},
        {"close null", [](HANDLE h) { return static_cast<DWORD>(CloseHandle(h)); }, nullptr, 1, 12345},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszCase);
        SetLastError(12345);
        EXPECT_EQ(c.dwResult, c.pfnCall(c.hObject));
        EXPECT_EQ(c.dwLastError, GetLastError());
    }
}

TEST(Handle, WaitForMultipleObjectsWaitsForNothing)
{
    UniqueHandle hEvent(CreateEvent(nullptr, TRUE, FALSE, "/evtmultiple"));
    ASSERT_NE(nullptr, hEvent);
    HANDLE ahHandles[] = {hEvent.get()};
    EXPECT_EQ(0u, WaitForMultipleObjects(1, ahHandles, TRUE, INFINITE));
}

// ----------------------------------------------------------------- threads

struct ThreadProbe
{
    HANDLE hDone;
    std::atomic<int> iCalls{0};
};

unsigned int CountAndSignal(void* pv)
{
    auto* pProbe = static_cast<ThreadProbe*>(pv);
    ++pProbe->iCalls;
    SetEvent(pProbe->hDone);
    return 42;
}

unsigned int SignalAndThrow(void* pv)
{
    CountAndSignal(pv);
    throw std::runtime_error("left to the thread start");
}

TEST(Thread, ProcedureRunsWithItsArgumentAndExceptionsStayInTheThread)
{
    const struct
    {
        const char* pcszCase;
        PFN_WIN_THREAD_PROC pfnProc;
    } aCases[] = {{"returns", CountAndSignal}, {"throws", SignalAndThrow}};
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszCase);
        UniqueHandle hDone(CreateEvent(nullptr, TRUE, FALSE, "/evtthreaddone"));
        ASSERT_NE(nullptr, hDone);
        ThreadProbe probe;
        probe.hDone = hDone.get();
        DWORD dwThreadAddress = 0xABCD;
        SetLastError(99);
        UniqueHandle hThread(_beginthreadex(nullptr, 0, c.pfnProc, &probe, 0, &dwThreadAddress));
        ASSERT_NE(nullptr, hThread);
        EXPECT_EQ(ERROR_SUCCESS, GetLastError());
        EXPECT_EQ(0xABCDu, dwThreadAddress);
        EXPECT_EQ(KO_TYPE_THREAD, static_cast<KERNEL_OBJECT_DATA*>(hThread.get())->KernelObjectType);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hDone.get(), INFINITE));
        EXPECT_EQ(nullptr, JoinThreadOf(hThread.get()));  // ended normally with a null result
        EXPECT_EQ(1, probe.iCalls.load());
        // Waiting on a thread handle returns at once.
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread.get(), INFINITE));
    }
}

TEST(Thread, NullProcedureIsRefused)
{
    EXPECT_EQ(nullptr, _beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(ERROR_GEN_FAILURE, GetLastError());
}

TEST(LastError, OneValueIsSharedByAllThreads)
{
    // The thread sets its value only after the start has set its own.
    UniqueHandle hGo(CreateEvent(nullptr, TRUE, FALSE, "/evtlasterror"));
    ASSERT_NE(nullptr, hGo);
    auto pfnSetter = [](void* pv) -> unsigned int {
        (void)WaitForSingleObject(static_cast<HANDLE>(pv), INFINITE);
        SetLastError(4242);
        return 0;
    };
    UniqueHandle hThread(_beginthreadex(nullptr, 0, pfnSetter, hGo.get(), 0, nullptr));
    ASSERT_NE(nullptr, hThread);
    EXPECT_EQ(TRUE, SetEvent(hGo.get()));
    JoinThreadOf(hThread.get());
    EXPECT_EQ(4242u, GetLastError());
}

// -------------------------------------------------------------------- time

struct TimeCase
{
    WORD wYear, wMonth, wDay, wHour, wMinute, wSecond, wDayOfWeek;
    std::int64_t i64Seconds;  // computed with Python's calendar.timegm
};

const TimeCase kTimeCases[] = {
    {1970, 1, 1, 0, 0, 0, 4, 0},
    {2000, 2, 29, 12, 34, 56, 2, 951827696},
    {2038, 1, 19, 3, 14, 8, 2, 2147483648LL},
    {2106, 2, 7, 6, 28, 16, 0, 4294967296LL},
    {1901, 12, 13, 20, 45, 52, 5, -2147483648LL},
};

TEST(Time, SystemTimeConvertsToUtcSecondsAndBack)
{
    for (const TimeCase& c : kTimeCases)
    {
        SCOPED_TRACE(c.i64Seconds);
        const SYSTEMTIME st = {c.wYear, c.wMonth, c.wDayOfWeek, c.wDay, c.wHour, c.wMinute, c.wSecond, 789};
        std::int64_t i64Seconds = 12345;
        SysTimeToTime64(st, i64Seconds);
        EXPECT_EQ(c.i64Seconds, i64Seconds);

        const time_t tSeconds = static_cast<time_t>(c.i64Seconds);
        struct tm tmUtc;
        ASSERT_NE(nullptr, gmtime_r(&tSeconds, &tmUtc));
        SYSTEMTIME stBack;
        std::memset(&stBack, 0xFF, sizeof(stBack));
        TmToSystemTime(&tmUtc, &stBack);
        const WORD awExpected[] = {c.wYear, c.wMonth, c.wDayOfWeek, c.wDay, c.wHour, c.wMinute, c.wSecond, 0};
        const WORD awActual[] = {stBack.wYear, stBack.wMonth, stBack.wDayOfWeek, stBack.wDay,
                                 stBack.wHour, stBack.wMinute, stBack.wSecond, stBack.wMilliseconds};
        EXPECT_EQ(0, std::memcmp(awExpected, awActual, sizeof(awExpected)));
    }
}

TEST(Time, TheSecondBeforeTheEpochBecomesZero)
{
    const SYSTEMTIME st = {1969, 12, 3, 31, 23, 59, 59, 0};
    std::int64_t i64Seconds = 12345;
    SysTimeToTime64(st, i64Seconds);
    EXPECT_EQ(0, i64Seconds);
}

// ------------------------------------------------------------------- files

class FileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/winxtest.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szTemplate));
        m_dir = szTemplate;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    static void WriteText(const fs::path& path, const std::string& strText)
    {
        std::ofstream file(path, std::ios::binary);
        file << strText;
        ASSERT_TRUE(file.good());
    }
    static std::string ReadText(const fs::path& path)
    {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    fs::path m_dir;
};

TEST(AppPath, IsTheDirectoryOfTheTestBinaryWithItsSlash)
{
    char szResolved[PATH_MAX];
    ASSERT_NE(nullptr, realpath(program_invocation_name, szResolved));
    const std::string strExe = szResolved;
    const std::string strExpected = strExe.substr(0, strExe.rfind('/') + 1);

    char szAppPath[260];
    EXPECT_EQ(TRUE, GetAppPath(szAppPath, sizeof(szAppPath)));
    EXPECT_EQ(strExpected, szAppPath);

    // The link fills a buffer of its own length: it may be cut, so it fails.
    std::string strBuffer(strExe.size() + 1, 'x');
    EXPECT_EQ(FALSE, GetAppPath(&strBuffer[0], static_cast<int>(strExe.size())));
    EXPECT_EQ('\0', strBuffer[0]);
    EXPECT_EQ('x', strBuffer[strExe.size()]);
    EXPECT_EQ(TRUE, GetAppPath(&strBuffer[0], static_cast<int>(strExe.size() + 1)));
    EXPECT_EQ(strExpected, strBuffer.c_str());

    EXPECT_EQ(FALSE, GetAppPath(nullptr, 260));
    EXPECT_EQ(FALSE, GetAppPath(szAppPath, 0));
}

TEST_F(FileTest, TempFileNameIsDirectoryPrefixAndSixCharactersOfNoExistingFile)
{
    std::set<std::string> setNames;
    for (int i = 0; i < 50; ++i)
    {
        char szName[260] = "";
        ASSERT_EQ(TRUE, GetTempFileName("/tmp", "ab", 7, szName));
        const std::string strName = szName;
        ASSERT_EQ(13u, strName.size()) << strName;
        EXPECT_EQ("/tmp/ab", strName.substr(0, 7));
        EXPECT_TRUE(IsAlnumText(strName.substr(7))) << strName;
        EXPECT_FALSE(fs::exists(fs::symlink_status(szName))) << szName;
        setNames.insert(szName);
    }
    EXPECT_EQ(50u, setNames.size());
}

TEST_F(FileTest, TempFileNameFailsWhenTheNameCannotFit)
{
    const std::string strDir(251, 'd');  // one character too many
    char szName[260] = "unchanged";
    EXPECT_EQ(FALSE, GetTempFileName(strDir.c_str(), "ab", 0, szName));
    EXPECT_STREQ("unchanged", szName);
    const std::string strFits(259 - 6 - 3, 'd');  // "<dir>/ab" and six characters: 259
    EXPECT_EQ(TRUE, GetTempFileName(strFits.c_str(), "ab", 0, szName));
    EXPECT_EQ(259u, std::strlen(szName));
}

TEST_F(FileTest, CopyOverwritesTheStartOfALongerTargetAndKeepsItsTail)
{
    WriteText(m_dir / "from", "abc");
    WriteText(m_dir / "to", "0123456789");
    EXPECT_EQ(TRUE, CopyFile((m_dir / "from").c_str(), (m_dir / "to").c_str()));
    EXPECT_EQ("abc3456789", ReadText(m_dir / "to"));
}

TEST_F(FileTest, CopyOfSeveralBlocksIsExact)
{
    std::string strData;
    for (int i = 0; i < 10000; ++i)
        strData.push_back(static_cast<char>((i * 7919) % 251));
    WriteText(m_dir / "from", strData);
    EXPECT_EQ(TRUE, CopyFile((m_dir / "from").c_str(), (m_dir / "new").c_str()));
    EXPECT_EQ(strData, ReadText(m_dir / "new"));
}

TEST_F(FileTest, CopyFailsWhenAFileCannotBeOpenedReadOrWritten)
{
    WriteText(m_dir / "from", "data");
    const struct
    {
        const char* pcszCase;
        fs::path from;
        fs::path to;
    } aCases[] = {
        {"missing source", m_dir / "missing", m_dir / "to1"},
        {"target directory missing", m_dir / "from", m_dir / "nodir" / "to"},
        {"source is a directory", m_dir, m_dir / "to2"},
        {"device full", m_dir / "from", "/dev/full"},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszCase);
        EXPECT_EQ(FALSE, CopyFile(c.from.c_str(), c.to.c_str()));
    }
    EXPECT_FALSE(fs::exists(m_dir / "to1"));
    EXPECT_EQ(0u, fs::file_size(m_dir / "to2"));  // nothing written from a failed read
    EXPECT_EQ(FALSE, CopyFile(nullptr, (m_dir / "to3").c_str()));
}

TEST(Guid, HasTheVersionAndVariantGroupsAndRepeatsWithinOneSecond)
{
    // Retried until both calls fall in one second of the clock.
    for (int iAttempt = 0; iAttempt < 5; ++iAttempt)
    {
        const time_t tBefore = time(nullptr);
        char szFirst[100];
        char szSecond[100];
        char szCut[8];
        std::memset(szCut, '#', sizeof(szCut));
        ASSERT_EQ(TRUE, CreateNewGUID(szFirst, sizeof(szFirst)));
        ASSERT_EQ(TRUE, CreateNewGUID(szSecond, sizeof(szSecond)));
        ASSERT_EQ(TRUE, CreateNewGUID(szCut, 5));
        if (time(nullptr) != tBefore)
            continue;
        const std::vector<std::string> vecGroups = HexGroups(szFirst);
        ASSERT_EQ(5u, vecGroups.size()) << szFirst;
        EXPECT_EQ(4u, vecGroups[2].size());
        EXPECT_EQ('4', vecGroups[2][0]);
        EXPECT_EQ(4u, vecGroups[3].size());
        const unsigned long ulFourth = std::strtoul(vecGroups[3].c_str(), nullptr, 16);
        EXPECT_GE(ulFourth, 0x8000ul);
        EXPECT_LE(ulFourth, 0xBFFEul);
        EXPECT_STREQ(szFirst, szSecond);
        // Cut to five characters without a terminator.
        EXPECT_EQ(0, std::memcmp(szFirst, szCut, 5));
        EXPECT_EQ('#', szCut[5]);
        return;
    }
    FAIL() << "the clock never held still for three calls";
}

// ------------------------------------------------------- directory removal

TEST_F(FileTest, RemoveDirectoryDeletesTheTreeButNothingLinksPointTo)
{
    const fs::path outside = m_dir / "outside";
    fs::create_directories(outside / "keepdir");
    WriteText(outside / "keep.txt", "keep");
    const fs::path tree = m_dir / "tree";
    fs::create_directories(tree / "a" / "b" / "c");
    fs::create_directories(tree / "empty");
    WriteText(tree / "top.txt", "1");
    WriteText(tree / "a" / "b" / "c" / "deep.txt", "2");
    fs::create_directory_symlink(outside, tree / "a" / "dirlink");
    fs::create_symlink(outside / "keep.txt", tree / "a" / "b" / "filelink");
    fs::create_symlink(m_dir / "nowhere", tree / "dangling");

    EXPECT_EQ(0, RemoveDirectory(tree.c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_EQ("keep", ReadText(outside / "keep.txt"));
    EXPECT_TRUE(fs::is_directory(outside / "keepdir"));
}

TEST_F(FileTest, RemoveDirectoryHandlesPathsLongerThanAPathBuffer)
{
    fs::path deep = m_dir / "long";
    for (int i = 0; i < 12; ++i)
        deep /= std::string(40, static_cast<char>('a' + i));
    fs::create_directories(deep);
    WriteText(deep / "leaf.txt", "x");
    ASSERT_GT(deep.string().size(), 500u);
    EXPECT_EQ(0, RemoveDirectory((m_dir / "long").c_str()));
    EXPECT_FALSE(fs::exists(m_dir / "long"));
}

TEST_F(FileTest, RemoveDirectoryRefusesWhatIsNotARealDirectory)
{
    const fs::path target = m_dir / "target";
    fs::create_directory(target);
    WriteText(target / "keep.txt", "keep");
    fs::create_directory_symlink(target, m_dir / "link");
    WriteText(m_dir / "file", "f");
    const struct
    {
        const char* pcszCase;
        fs::path path;
    } aCases[] = {
        {"missing", m_dir / "missing"},
        {"link to a directory", m_dir / "link"},
        {"plain file", m_dir / "file"},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszCase);
        EXPECT_EQ(-1, RemoveDirectory(c.path.c_str()));
    }
    EXPECT_EQ(-1, RemoveDirectory(nullptr));
    EXPECT_EQ("keep", ReadText(target / "keep.txt"));
    EXPECT_TRUE(fs::is_symlink(m_dir / "link"));
    EXPECT_TRUE(fs::exists(m_dir / "file"));
}

}  // namespace
