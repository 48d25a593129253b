// Events, threads, the last-error value, time conversions and the file
// helpers of the Windows-style layer. Runs in the sandbox, so the named
// semaphores live in a private /dev/shm and /tmp is a private tmpfs.
#include "winxplatform.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace
{

struct HandleCloser
{
    void operator()(void* hObject) const { EXPECT_EQ(TRUE, CloseHandle(hObject)); }
};
typedef std::unique_ptr<void, HandleCloser> UniqueHandle;

bool SemaphoreExists(const std::string& strName) { return fs::exists("/dev/shm/sem." + strName); }

// The layer never joins its threads; the test does, to know one has ended.
void* JoinThreadOf(HANDLE hThread)
{
    void* pvResult = reinterpret_cast<void*>(1);
    auto* pThread = static_cast<pthread_t*>(static_cast<KERNEL_OBJECT_DATA*>(hThread)->pvKernelObject);
    EXPECT_EQ(0, pthread_join(*pThread, &pvResult));
    return pvResult;
}

// ------------------------------------------------------------------ events

TEST(Event, LongNamesAreCutTo14AndAnExistingNameGives183WithoutItsInitialState)
{
    UniqueHandle hCreated(CreateEvent(nullptr, TRUE, FALSE, "/evt456789abcdefghij"));  // 20 characters
    ASSERT_NE(nullptr, hCreated);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_TRUE(SemaphoreExists("evt456789abcd"));
    EXPECT_FALSE(SemaphoreExists("evt456789abcdefghij"));

    UniqueHandle hOpened(OpenEvent(0, FALSE, "/evt456789abcdXYZ"));  // another tail past the 14th
    ASSERT_NE(nullptr, hOpened);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    UniqueHandle hAgain(CreateEvent(nullptr, TRUE, TRUE, "/evt456789abcdQ"));
    ASSERT_NE(nullptr, hAgain);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hCreated.get(), 0));
    EXPECT_EQ(TRUE, SetEvent(hOpened.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hCreated.get(), 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hAgain.get(), 0));
}

TEST(Event, InitialStateDecidesTheFirstWaitWhichNeverConsumesTheSignal)
{
    UniqueHandle hEvent(CreateEvent(nullptr, FALSE, FALSE, "/evtinitclear"));
    ASSERT_NE(nullptr, hEvent);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent.get(), 0));
    EXPECT_EQ(ERROR_GEN_FAILURE, GetLastError());
    EXPECT_EQ(TRUE, SetEvent(hEvent.get()));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent.get(), 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent.get(), 999));
    EXPECT_EQ(TRUE, SetEvent(hEvent.get()));  // a second unit: the count is not capped
    EXPECT_EQ(TRUE, ResetEvent(hEvent.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent.get(), 0));
    EXPECT_EQ(TRUE, ResetEvent(hEvent.get()));
    // Limits count in whole seconds: under 1000 ms only the state is tested.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent.get(), 999));
    SetLastError(77);
    EXPECT_EQ(TRUE, ResetEvent(hEvent.get()));  // nothing to take is still success
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
}

TEST(Event, ASignalledCreatorRemovesTheNameOnCloseAnOpenerDoesNot)
{
    HANDLE hCreator = CreateEvent(nullptr, TRUE, TRUE, "/evtclose");
    ASSERT_NE(nullptr, hCreator);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hCreator, 0));  // created signalled
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    HANDLE hOpener = OpenEvent(0, FALSE, "/evtclose");
    ASSERT_NE(nullptr, hOpener);
    EXPECT_EQ(TRUE, CloseHandle(hOpener));
    EXPECT_TRUE(SemaphoreExists("evtclose"));
    EXPECT_EQ(TRUE, CloseHandle(hCreator));
    EXPECT_FALSE(SemaphoreExists("evtclose"));
    EXPECT_EQ(nullptr, OpenEvent(0, FALSE, "/evtclose"));
    EXPECT_EQ(static_cast<DWORD>(ENOENT), GetLastError());
    EXPECT_EQ(nullptr, CreateEvent(nullptr, FALSE, FALSE, "/evt/bad"));  // no slash after the first
    EXPECT_EQ(static_cast<DWORD>(EINVAL), GetLastError());
}

TEST(Handle, NullAndForeignHandlesAreRefusedWindowsStyle)
{
    KERNEL_OBJECT_DATA foreign = {static_cast<enumKO_TYPE>(7), nullptr};
    const struct { const char* pcszCase; DWORD (*pfnCall)(HANDLE); HANDLE hObject; DWORD dwResult, dwLastError; }
        aCases[] = {
        {"wait null", [](HANDLE h) { return WaitForSingleObject(h, 0); }, nullptr, 1, ERROR_GEN_FAILURE},
        {"wait foreign", [](HANDLE h) { return WaitForSingleObject(h, INFINITE); }, &foreign, WAIT_FAILED,
         ERROR_NOT_SUPPORTED},
        {"set foreign", [](HANDLE h) { return DWORD(SetEvent(h)); }, &foreign, 0, ERROR_GEN_FAILURE},
        {"reset null", [](HANDLE h) { return DWORD(ResetEvent(h)); }, nullptr, 0, ERROR_GEN_FAILURE},
        {"close foreign keeps the last error", [](HANDLE h) { return DWORD(CloseHandle(h)); }, &foreign, 0, 12345},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszCase);
        SetLastError(12345);
        EXPECT_EQ(c.dwResult, c.pfnCall(c.hObject));
        EXPECT_EQ(c.dwLastError, GetLastError());
    }
}

// ----------------------------------------------------------------- threads

unsigned int Count(void* pv) { return static_cast<unsigned int>(++*static_cast<std::atomic<int>*>(pv)); }

unsigned int CountAndThrow(void* pv)
{
    Count(pv);
    throw std::runtime_error("left to the thread start");
}

TEST(Thread, ProcedureRunsWithItsArgumentAndExceptionsStayInTheThread)
{
    for (PFN_WIN_THREAD_PROC pfnProc : {Count, CountAndThrow})
    {
        std::atomic<int> iCalls{0};
        DWORD dwThreadAddress = 0xABCD;
        SetLastError(99);
        UniqueHandle hThread(_beginthreadex(nullptr, 0, pfnProc, &iCalls, 0, &dwThreadAddress));
        ASSERT_NE(nullptr, hThread);
        EXPECT_EQ(ERROR_SUCCESS, GetLastError());
        EXPECT_EQ(0xABCDu, dwThreadAddress);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread.get(), INFINITE));  // returns at once
        EXPECT_EQ(nullptr, JoinThreadOf(hThread.get()));  // ended normally with a null result
        EXPECT_EQ(1, iCalls.load());
    }
}

TEST(Thread, ReleasedFromAWaitWithoutLimitItsLastErrorIsSeenByAllThreads)
{
    UniqueHandle hGo(CreateEvent(nullptr, TRUE, FALSE, "/evtlasterror"));
    ASSERT_NE(nullptr, hGo);
    auto pfnWaiter = [](void* pv) -> unsigned int {
        if (WaitForSingleObject(static_cast<HANDLE>(pv), INFINITE) == WAIT_OBJECT_0)
            SetLastError(4242);
        return 0;
    };
    UniqueHandle hThread(_beginthreadex(nullptr, 0, pfnWaiter, hGo.get(), 0, nullptr));
    ASSERT_NE(nullptr, hThread);
    EXPECT_EQ(TRUE, SetEvent(hGo.get()));
    JoinThreadOf(hThread.get());
    EXPECT_EQ(4242u, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hGo.get(), 0));  // the thread's wait left the signal
}

// -------------------------------------------------------------------- time

TEST(Time, SystemTimeConvertsToUtcSecondsAndBack)
{
    // SYSTEMTIME fields in order (milliseconds are ignored) and Python's calendar.timegm of them;
    // before the epoch timegm's -1 becomes 0.
    const struct { WORD awFields[8]; std::int64_t i64Seconds; bool bRoundTrip; } aCases[] = {
        {{1970, 1, 4, 1, 0, 0, 0, 789}, 0, true},          {{2000, 2, 2, 29, 12, 34, 56, 789}, 951827696, true},
        {{2038, 1, 2, 19, 3, 14, 8, 789}, 2147483648LL, true}, {{2106, 2, 0, 7, 6, 28, 16, 789}, 4294967296LL, true},
        {{1901, 12, 5, 13, 20, 45, 52, 789}, -2147483648LL, true}, {{1969, 12, 3, 31, 23, 59, 59, 0}, 0, false},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.awFields[0]);
        SYSTEMTIME st;
        std::memcpy(&st, c.awFields, sizeof(st));
        std::int64_t i64Seconds = 12345;
        SysTimeToTime64(st, i64Seconds);
        EXPECT_EQ(c.i64Seconds, i64Seconds);
        if (!c.bRoundTrip)
            continue;
        const time_t tSeconds = static_cast<time_t>(c.i64Seconds);
        struct tm tmUtc;
        ASSERT_NE(nullptr, gmtime_r(&tSeconds, &tmUtc));
        std::memset(&st, 0xFF, sizeof(st));
        TmToSystemTime(&tmUtc, &st);
        EXPECT_EQ(0, std::memcmp(c.awFields, &st, 7 * sizeof(WORD)));
        EXPECT_EQ(0, st.wMilliseconds);
    }
}

// ------------------------------------------------------------------- files

void WriteText(const fs::path& path, const std::string& str) { ASSERT_TRUE(std::ofstream(path) << str); }

std::string ReadText(const fs::path& path)
{
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Each test works in a directory of its own on the sandbox's private /tmp.
class FileTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(fs::create_directory(m_dir)); }
    void TearDown() override { fs::remove_all(m_dir); }
    const fs::path m_dir = fs::path("/tmp") / testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST(AppPath, IsTheDirectoryOfTheTestBinaryWithItsSlash)
{
    char szResolved[PATH_MAX];
    ASSERT_NE(nullptr, realpath(program_invocation_name, szResolved));
    const std::string strExe = szResolved;
    const std::string strExpected = strExe.substr(0, strExe.rfind('/') + 1);
    // A link that fills the buffer may have been cut, so it fails.
    std::string strBuffer(strExe.size() + 1, 'x');
    EXPECT_EQ(FALSE, GetAppPath(&strBuffer[0], static_cast<int>(strExe.size())));
    EXPECT_EQ('\0', strBuffer[0]);
    EXPECT_EQ('x', strBuffer[strExe.size()]);
    EXPECT_EQ(TRUE, GetAppPath(&strBuffer[0], static_cast<int>(strExe.size() + 1)));
    EXPECT_EQ(strExpected, strBuffer.c_str());
}

TEST(TempFileName, IsDirectoryPrefixAndSixCharactersOfNoExistingFile)
{
    std::set<std::string> setNames;
    for (int i = 0; i < 50; ++i)
    {
        char szName[260] = "";
        ASSERT_EQ(TRUE, GetTempFileName("/tmp", "ab", 7, szName));
        char szTail[8];
        int iMatched = 0;
        std::sscanf(szName, "/tmp/ab%6[A-Za-z0-9]%n", szTail, &iMatched);
        EXPECT_EQ(13, iMatched) << szName;
        EXPECT_EQ(13u, std::strlen(szName)) << szName;
        EXPECT_FALSE(fs::exists(fs::symlink_status(szName))) << szName;
        setNames.insert(szName);
    }
    EXPECT_EQ(50u, setNames.size());

    char szName[260] = "unchanged";
    EXPECT_EQ(FALSE, GetTempFileName(std::string(251, 'd').c_str(), "ab", 0, szName));  // 260 with "/ab"+6
    EXPECT_STREQ("unchanged", szName);
    EXPECT_EQ(TRUE, GetTempFileName(std::string(250, 'd').c_str(), "ab", 0, szName));
    EXPECT_EQ(259u, std::strlen(szName));
}

TEST_F(FileTest, CopyIsExactKeepsTheTailOfALongerTargetAndFailsOnOpenReadOrWriteErrors)
{
    std::string strData;
    for (int i = 0; i < 10000; ++i)  // several blocks
        strData.push_back(static_cast<char>((i * 7919) % 251));
    WriteText(m_dir / "from", strData);
    EXPECT_EQ(TRUE, CopyFile((m_dir / "from").c_str(), (m_dir / "new").c_str()));
    EXPECT_EQ(strData, ReadText(m_dir / "new"));
    WriteText(m_dir / "short", "abc");
    WriteText(m_dir / "to", "0123456789");
    EXPECT_EQ(TRUE, CopyFile((m_dir / "short").c_str(), (m_dir / "to").c_str()));
    EXPECT_EQ("abc3456789", ReadText(m_dir / "to"));

    EXPECT_EQ(FALSE, CopyFile((m_dir / "missing").c_str(), (m_dir / "to1").c_str()));
    EXPECT_FALSE(fs::exists(m_dir / "to1"));
    EXPECT_EQ(FALSE, CopyFile(m_dir.c_str(), (m_dir / "to2").c_str()));  // the source is a directory
    EXPECT_EQ(0u, fs::file_size(m_dir / "to2"));
    EXPECT_EQ(FALSE, CopyFile((m_dir / "short").c_str(), "/dev/full"));
}

TEST(Guid, HasTheVersionAndVariantGroupsAndRepeatsWithinOneSecond)
{
    for (int iAttempt = 0; iAttempt < 5; ++iAttempt)  // until three calls fall in one second
    {
        const time_t tBefore = time(nullptr);
        char szFirst[100], szSecond[100], szCut[8];
        std::memset(szCut, '#', sizeof(szCut));
        ASSERT_EQ(TRUE, CreateNewGUID(szFirst, sizeof(szFirst)));
        ASSERT_EQ(TRUE, CreateNewGUID(szSecond, sizeof(szSecond)));
        ASSERT_EQ(TRUE, CreateNewGUID(szCut, 5));
        if (time(nullptr) != tBefore)
            continue;
        char szThird[8] = "", szFourth[8] = "";
        int iMatched = 0;
        std::sscanf(szFirst, "%*[0-9a-f]-%*[0-9a-f]-%4[0-9a-f]-%4[0-9a-f]-%*[0-9a-f]%n", szThird, szFourth, &iMatched);
        ASSERT_EQ(std::strlen(szFirst), static_cast<std::size_t>(iMatched)) << szFirst;
        EXPECT_EQ('4', szThird[0]);
        EXPECT_EQ(4u, std::strlen(szThird));
        EXPECT_EQ(4u, std::strlen(szFourth));
        EXPECT_GE(std::strtoul(szFourth, nullptr, 16), 0x8000ul);
        EXPECT_LE(std::strtoul(szFourth, nullptr, 16), 0xBFFEul);
        EXPECT_STREQ(szFirst, szSecond);
        EXPECT_EQ(0, std::memcmp(szFirst, szCut, 5));
        EXPECT_EQ('#', szCut[5]);  // cut without a terminator
        return;
    }
    FAIL() << "the clock never held still for three calls";
}

// ------------------------------------------------------- directory removal

TEST_F(FileTest, RemoveDirectoryDeletesTheTreeButNothingLinksPointTo)
{
    const fs::path outside = m_dir / "outside", tree = m_dir / "tree";
    fs::create_directories(outside / "keepdir");
    WriteText(outside / "keep.txt", "keep");
    fs::path deep = tree / "a";
    for (int i = 0; i < 12; ++i)  // deeper than any path buffer
        deep /= std::string(40, static_cast<char>('a' + i));
    fs::create_directories(deep);
    fs::create_directories(tree / "empty");
    WriteText(deep / "deep.txt", "2");
    fs::create_directory_symlink(outside, tree / "a" / "dirlink");
    fs::create_symlink(outside / "keep.txt", tree / "a" / "filelink");
    fs::create_symlink(m_dir / "nowhere", tree / "dangling");

    EXPECT_EQ(0, RemoveDirectory(tree.c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_EQ("keep", ReadText(outside / "keep.txt"));
    EXPECT_TRUE(fs::is_directory(outside / "keepdir"));

    // What is not a real directory is refused; a link to one stays with its target.
    fs::create_directory_symlink(outside, m_dir / "link");
    for (const char* pcszName : {"missing", "link", "outside/keep.txt"})
    {
        SCOPED_TRACE(pcszName);
        EXPECT_EQ(-1, RemoveDirectory((m_dir / pcszName).c_str()));
    }
    EXPECT_TRUE(fs::is_symlink(m_dir / "link"));
    EXPECT_EQ("keep", ReadText(outside / "keep.txt"));
}

}  // namespace
