// The Windows-style layer and the 16-bit string utilities, which no path of
// the installer reaches: known answers at the boundaries where a fault would
// lose or corrupt data.
#include <gtest/gtest.h>
#include <limits.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "kvmutex.h"

#include "mywchar.h"
#include "testkit.h"
#include "winxplatform.h"

namespace
{
my_wstring W(const char16_t* p)
{
    return my_wstring(p, p + std::char_traits<char16_t>::length(p));
}

// Numbers and UTF texts from Python: UTF-8 at the boundaries of its lengths
// and of the surrogates, with a destination one unit too small refused.
TEST(Compat, Conversions)
{
    // clang-format off
    const std::tuple<int, int, DWORD, int, std::string> numbers[] = {
        {-255, 10, 5, 0, "-255"}, {-255, 16, 9, 0, "ffffff01"}, {INT_MAX, 36, 9, 0, "zik0zj"},
        {-255, 10, 4, ERANGE, ""}, {5, 37, 9, EINVAL, ""}};
    // clang-format on
    for (const auto& [iNumber, iRadix, dwSize, iResult, text] : numbers)
    {
        char szText[40];
        EXPECT_EQ(iResult, itoa_s(iNumber, szText, dwSize, iRadix)) << text;
        EXPECT_EQ(text, szText);
    }
    const my_wstring wide = W(u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF");
    const std::string utf8 =
        "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    char szUtf8[20];
    my_wchar_t awText[24];
    const auto toUtf8 = [&](const my_wchar_t* p, int cchIn, int cbOut) {
        return WideCharToMultiByte(CP_UTF8, 0, p, cchIn, szUtf8, cbOut, nullptr, nullptr);
    };
    EXPECT_EQ(20, toUtf8(wide.c_str(), 1, 0)) << "a size query counts the whole text";
    EXPECT_EQ(20, toUtf8(wide.c_str(), -1, 20));
    EXPECT_EQ(utf8, szUtf8);
    EXPECT_EQ(0, toUtf8(wide.c_str(), -1, 19));
    EXPECT_EQ(10, MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, awText, 10));
    EXPECT_EQ(wide, awText);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, awText, 9));
    // Overlong, an encoded surrogate, past U+10FFFF, cut short; lone surrogates.
    for (const char* bad :
         {"\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ok\xE2"})
        EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, bad, -1, nullptr, 0)) << bad;
    for (const my_wstring& bad : {my_wstring{0xD800}, my_wstring{0xDC00}, my_wstring{0xD83D, 'a'},
                                  my_wstring{0xD800, 0xE000}})
        EXPECT_EQ(0, toUtf8(bad.c_str(), -1, 0));
    my_wstring converted;
    EXPECT_EQ(0, ConvertUTF8ToWideChar("abc", converted, 3)) << "the terminator counts";
    EXPECT_EQ(1, ConvertUTF8ToWideChar("abc", converted, 4));
    EXPECT_EQ(W(u"abc"), converted);
    // _itow's callers give it 20 units: 32 binary digits do not fit.
    EXPECT_EQ(W(u"-255"), _itow(-255, awText, 10));
    EXPECT_EQ(nullptr, _itow(-1, awText, 2));
}

// Named events: a name is cut to its first 14 characters; only the creator's
// close removes the name; an unsignalled event resets and times out; a
// signal set through one handle is seen, and kept, by the others.
TEST(Compat, Events)
{
    HANDLE hCreated = CreateEvent(nullptr, FALSE, FALSE, "/xeda-event-12A");
    ASSERT_NE(nullptr, hCreated);
    HANDLE hAgain = CreateEvent(nullptr, FALSE, FALSE, "/xeda-event-12A");
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    HANDLE hOpened = OpenEvent(0, FALSE, "/xeda-event-12B");
    ASSERT_NE(nullptr, hOpened);
    EXPECT_EQ(TRUE, ResetEvent(hOpened));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hOpened, 0));
    EXPECT_EQ(TRUE, SetEvent(hOpened)); // a wait never consumes the signal
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hCreated, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hCreated, 0));
    EXPECT_EQ(1u, WaitForSingleObject(nullptr, 0));
    EXPECT_TRUE(CloseHandle(hOpened) && CloseHandle(hAgain));
    HANDLE hStill = OpenEvent(0, FALSE, "/xeda-event-12");
    EXPECT_NE(nullptr, hStill);
    EXPECT_TRUE(CloseHandle(hStill) && CloseHandle(hCreated));
    EXPECT_EQ(nullptr, OpenEvent(0, FALSE, "/xeda-event-12"));
}

// The program's folder with its slash, or FALSE when the buffer may have cut
// it; times both ways (timegm's -1 reads as 0); a temporary name in the
// folder; a GUID of version 4.
TEST(Compat, PathsTimesAndNames)
{
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe");
    char szPath[PATH_MAX];
    EXPECT_EQ(TRUE, GetAppPath(szPath, sizeof(szPath)));
    EXPECT_EQ(exe.substr(0, exe.rfind('/') + 1), szPath);
    EXPECT_EQ(FALSE, GetAppPath(szPath, int(exe.size())));
    const time_t tKnown = 1796612645; // 2026-12-07 03:04:05 UTC, a Monday
    struct tm tmKnown;
    SYSTEMTIME st{};
    TmToSystemTime(gmtime_r(&tKnown, &tmKnown), &st);
    EXPECT_EQ(std::make_tuple(2026, 12, 1, 7, 3, 4, 5),
              std::make_tuple(st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute,
                              st.wSecond));
    std::int64_t i64 = 0;
    SysTimeToTime64(st, i64);
    EXPECT_EQ(tKnown, i64);
    SysTimeToTime64({1969, 12, 3, 31, 23, 59, 59, 0}, i64);
    EXPECT_EQ(0, i64);
    char szName[260], szGuid[64];
    ASSERT_EQ(TRUE, GetTempFileName("/tmp", "pre", 0, szName));
    EXPECT_EQ(std::string("/tmp/pre"), std::string(szName, 8));
    EXPECT_EQ(14u, strlen(szName));
    ASSERT_EQ(TRUE, CreateNewGUID(szGuid, sizeof(szGuid)));
    const std::string guid = szGuid;
    EXPECT_EQ('4', guid.at(guid.find('-', guid.find('-') + 1) + 1)) << guid;
}

// Another thread's Lock waits for Unlock.
TEST(Compat, Mutex)
{
    KVMutex mutex;
    std::atomic<bool> bTaken{false};
    mutex.Lock();
    std::thread other([&] { bTaken = mutex.Lock() && mutex.Unlock(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(bTaken);
    mutex.Unlock();
    other.join();
    EXPECT_TRUE(bTaken);
}

// A copy over a longer file does not truncate it; removing a tree removes
// its links, never what they point to.
TEST(Compat, Files)
{
    ASSERT_TRUE(tk::Write("/tmp/short", "abc") && tk::Write("/tmp/to", "0123456789"));
    EXPECT_EQ(TRUE, CopyFile("/tmp/short", "/tmp/to"));
    EXPECT_EQ("abc3456789", tk::Read("/tmp/to"));
    ASSERT_TRUE(tk::Write("/tmp/outside/keep", "keep") && tk::Write("/tmp/tree/a/b/deep", "x"));
    std::filesystem::create_directory_symlink("/tmp/outside", "/tmp/tree/a/dirlink");
    std::filesystem::create_symlink("/tmp/outside/keep", "/tmp/tree/filelink");
    EXPECT_EQ(0, RemoveDirectory("/tmp/tree"));
    EXPECT_FALSE(tk::Exists("/tmp/tree"));
    EXPECT_EQ("keep", tk::Read("/tmp/outside/keep"));
}

// Results -1, 0 or 1 after the fold by bit 5 (letters or not); narrow bytes
// met by wide characters are sign-extended.
TEST(StringUtilities, Comparisons)
{
    // clang-format off
    const int results[][2] = {
        {-1, my_wcscmp(W(u"abc").c_str(), W(u"abd").c_str())}, {1, my_wcscmp(W(u"abc").c_str(), W(u"ab").c_str())},
        {-1, my_wcscmp(W(u"\u00FF").c_str(), W(u"\u0100").c_str())}, {1, my_wcscmp(nullptr, W(u"a").c_str())},
        {0, my_wcsicmp(W(u"[\u0161").c_str(), W(u"{\u0141").c_str())}, {1, my_wcsicmp(W(u"\u0141").c_str(), W(u"A").c_str())},
        {1, my_wcscscmp(W(u"\uFFE9").c_str(), "\xE9")}, {0, my_stricmp("\xE9", "\xC9")}, {1, my_stricmp("\x80", "a")},
        {0, my_strnicmp("abcZ", "ABCy", 3)}, {1, my_stricmp("abcZ", "ABCy")}, {1, my_wcscscmp(W(u"\u00E9").c_str(), "\xE9")}};
    for (const auto& [text, sought, iOffset] : {std::tuple{"xyz", "xzz", -1}, {"xyz", "", 0},
         {"abc", "c", 2}, {"axcabc", "abc", 3}, {"abxdabcd", "abcd", 4}})
        EXPECT_EQ(iOffset, my_strstr(text, sought) ? my_strstr(text, sought) - text : -1) << text;
    // clang-format on
    for (const auto& result : results)
        EXPECT_EQ(result[0], result[1]) << &result - results;
    const my_wchar_t aw[] = {'a', 0, 0xFFFF}, awOther[] = {'a', 0, 1};
    EXPECT_EQ(1, my_wmemcmp(aw, awOther, 3)) << "unsigned, past terminators";
    my_wstring buffer = W(u"123456789");
    my_wmemmove(&buffer[3], &buffer[0], 6);
    EXPECT_EQ(W(u"123123456"), buffer) << "overlapping, the source below";
    // Case changes end at 'Z' and 'z'; a bounded copy terminates what it
    // cuts; narrow bytes widen sign-extended; the last match is found.
    my_wstring text = W(u"az{AZ[");
    EXPECT_EQ(W(u"AZ{AZ["), my_wcsupr(&text[0]));
    EXPECT_EQ(W(u"az{az["), my_wcslwr(&text[0]));
    EXPECT_EQ(W(u"xx{az["), my_wcsnset(&text[0], 'x', 2));
    my_wchar_t aw16[8] = {'q', 'q', 'q', 'q', 'q', 'q', 'q', 0};
    EXPECT_EQ(W(u"abc"), my_wcsncpy(aw16, W(u"abcdef").c_str(), 3));
    EXPECT_EQ(W(u"\uFFE9a"), CopySZToWSZ(aw16, "\xE9"
                                               "a"));
    const my_wstring abab = W(u"abab");
    EXPECT_EQ(abab.c_str() + 3, my_wcsrchr(abab.c_str(), 'b'));
}
} // namespace
