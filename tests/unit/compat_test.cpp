// The Windows-style layer and the 16-bit string utilities, which no path of
// the installer reaches: known answers at their boundaries.
#include <gtest/gtest.h>
#include <limits.h>

#include <filesystem>

#include "mywchar.h"
#include "testkit.h"
#include "winxplatform.h"

namespace
{
my_wstring W(const char16_t* p)
{
    return my_wstring(p, p + std::char_traits<char16_t>::length(p));
}

// Names are cut to 14 characters, so both handles reach one semaphore; a
// wait never consumes the signal; only the creator removes the name.
TEST(Compat, Events)
{
    HANDLE hEvent = CreateEvent(nullptr, TRUE, FALSE, "/evt456789abcdefghij");
    HANDLE hOpened = OpenEvent(0, FALSE, "/evt456789abcdXYZ");
    HANDLE hAgain = CreateEvent(nullptr, TRUE, TRUE, "/evt456789abcdQ");
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent, 999));
    EXPECT_EQ(TRUE, SetEvent(hOpened));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hEvent, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hAgain, 0));
    EXPECT_EQ(TRUE, ResetEvent(hEvent));
    EXPECT_EQ(TRUE, ResetEvent(hEvent)) << "nothing to take is success";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hOpened, 0));
    EXPECT_TRUE(CloseHandle(hOpened) && CloseHandle(hAgain));
    EXPECT_TRUE(tk::Exists("/dev/shm/sem.evt456789abcd"));
    EXPECT_TRUE(CloseHandle(hEvent));
    EXPECT_FALSE(tk::Exists("/dev/shm/sem.evt456789abcd"));
    EXPECT_EQ(1u, WaitForSingleObject(nullptr, 0));
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
    my_wchar_t awText[24];
    EXPECT_EQ(W(u"ffffff01"), _itow(-255, awText, 16));
    EXPECT_EQ(nullptr, _itow(-1, awText, 2)) << "32 digits do not fit 20 characters";
    const my_wstring wide = W(u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF");
    const std::string utf8 =
        "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    char szUtf8[20];
    const auto toUtf8 = [&](int cchIn, int cbOut) {
        return WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), cchIn, szUtf8, cbOut, nullptr,
                                   nullptr);
    };
    EXPECT_EQ(20, toUtf8(1, 0)) << "a size query counts the whole text";
    EXPECT_EQ(20, toUtf8(-1, 20));
    EXPECT_EQ(utf8, szUtf8);
    EXPECT_EQ(0, toUtf8(-1, 19));
    EXPECT_EQ(10, MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, awText, 10));
    EXPECT_EQ(wide, awText);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, awText, 9));
    // Overlong, an encoded surrogate, past U+10FFFF, cut short; lone surrogates.
    for (const char* bad :
         {"\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ok\xE2"})
        EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, bad, -1, nullptr, 0)) << bad;
    for (const my_wstring& bad : {my_wstring{0xD800}, my_wstring{0xDC00}, my_wstring{0xD83D, 'a'}})
        EXPECT_EQ(0,
                  WideCharToMultiByte(CP_UTF8, 0, bad.c_str(), -1, nullptr, 0, nullptr, nullptr));
    my_wstring converted;
    EXPECT_EQ(0, ConvertUTF8ToWideChar("a\xF0\x9F\x98\x80", converted, 3))
        << "no room for the terminator";
    EXPECT_EQ(1, ConvertUTF8ToWideChar("a\xF0\x9F\x98\x80", converted, 4));
    std::string back;
    EXPECT_EQ(1, ConvertWideCharToUTF8(converted.c_str(), back));
    EXPECT_EQ("a\xF0\x9F\x98\x80", back);
}

// UTC seconds by Python's calendar.timegm, -1 (before the epoch) read as 0.
TEST(Compat, TimeAndFiles)
{
    int64_t i64Seconds = 7;
    SysTimeToTime64({2000, 2, 2, 29, 12, 34, 56, 789}, i64Seconds);
    EXPECT_EQ(951827696, i64Seconds);
    SysTimeToTime64({1969, 12, 3, 31, 23, 59, 59, 0}, i64Seconds);
    EXPECT_EQ(0, i64Seconds);
    const time_t t = 951827696;
    struct tm tmUtc;
    SYSTEMTIME st;
    TmToSystemTime(gmtime_r(&t, &tmUtc), &st);
    EXPECT_EQ(2, st.wMonth);
    EXPECT_EQ(29, st.wDay);
    char szPath[PATH_MAX];
    const std::string exe = realpath("/proc/self/exe", szPath);
    EXPECT_EQ(FALSE, GetAppPath(szPath, int(exe.size()))) << "the link may have been cut";
    EXPECT_EQ(TRUE, GetAppPath(szPath, int(exe.size()) + 1));
    EXPECT_EQ(exe.substr(0, exe.rfind('/') + 1), szPath);
    ASSERT_EQ(TRUE, GetTempFileName("/tmp", "ab", 0, szPath));
    EXPECT_EQ("/tmp/ab", std::string(szPath, 7));
    EXPECT_EQ(13u, strlen(szPath)) << "the prefix and six characters";
    EXPECT_FALSE(tk::Exists(szPath));
    ASSERT_TRUE(tk::Write("/tmp/short", "abc") && tk::Write("/tmp/to", "0123456789"));
    EXPECT_EQ(TRUE, CopyFile("/tmp/short", "/tmp/to"));
    EXPECT_EQ("abc3456789", tk::Read("/tmp/to")) << "no truncation";
    char szGuid[100], szThird[8] = "";
    unsigned uFourth = 0;
    ASSERT_EQ(TRUE, CreateNewGUID(szGuid, sizeof(szGuid)));
    EXPECT_EQ(2, sscanf(szGuid, "%*x-%*x-%4[0-9a-f]-%x-", szThird, &uFourth)) << szGuid;
    EXPECT_TRUE(szThird[0] == '4' && uFourth >= 0x8000 && uFourth <= 0xBFFE) << szGuid;
    // The tree goes; what its links point to stays.
    ASSERT_TRUE(tk::Write("/tmp/outside/keep", "keep") && tk::Write("/tmp/tree/a/b/deep", "x"));
    std::filesystem::create_directory_symlink("/tmp/outside", "/tmp/tree/a/dirlink");
    std::filesystem::create_symlink("/tmp/outside/keep", "/tmp/tree/filelink");
    EXPECT_EQ(0, RemoveDirectory("/tmp/tree"));
    EXPECT_FALSE(tk::Exists("/tmp/tree"));
    EXPECT_EQ("keep", tk::Read("/tmp/outside/keep"));
}

// Results -1, 0 or 1 after the fold by bit 5 (letters or not); narrow
// bytes met by wide characters are sign-extended; copies write exactly
// their elements.
TEST(StringUtilities, KnownAnswers)
{
    EXPECT_EQ(-1, my_wcscmp(W(u"abc").c_str(), W(u"abd").c_str()));
    EXPECT_EQ(1, my_wcscmp(W(u"abc").c_str(), W(u"ab").c_str()));
    EXPECT_EQ(-1, my_wcscmp(W(u"\u00FF").c_str(), W(u"\u0100").c_str()));
    EXPECT_EQ(0, my_wcsicmp(W(u"[\u0161").c_str(), W(u"{\u0141").c_str()));
    EXPECT_EQ(1, my_wcsicmp(W(u"\u0141").c_str(), W(u"A").c_str()));
    EXPECT_EQ(1, my_wcscscmp(W(u"\uFFE9").c_str(), "\xE9"));
    EXPECT_EQ(0, my_stricmp("\xE9", "\xC9"));
    EXPECT_EQ(1, my_stricmp("\x80", "a"));
    EXPECT_EQ(0, my_strnicmp("abcZ", "ABCy", 3));
    EXPECT_EQ(1, my_stricmp("abcZ", "ABCy"));
    EXPECT_EQ(1, my_wcscmp(nullptr, W(u"a").c_str()));
    my_wstring dest(8, 0xAAAA);
    my_wcsncpy(&dest[0], W(u"abcdef").c_str(), 3);
    my_wcsncat(&dest[0], W(u"xyz").c_str(), 2);
    EXPECT_EQ(W(u"abcxy\uAAAA"), dest.substr(0, 6))
        << "a terminator after a cut copy, none after a cut append";
    CatSZToWSZ(CopySZToWSZ(&dest[0], "\xE9"), "\x80");
    EXPECT_EQ(W(u"\uFFE9\uFF80"), dest.c_str());
    char szNarrow[8];
    EXPECT_STREQ("A\xE9", CopyWSZToSZ(szNarrow, W(u"\u0141\uFFE9").c_str()));
    for (const auto& [text, sought, iOffset] : {std::tuple{"xyz", "xzz", -1},
                                                {"xyz", "", 0},
                                                {"abc", "c", 2},
                                                {"axcabc", "abc", 3},
                                                {"abxdabcd", "abcd", 4}})
    {
        const char* p = my_strstr(text, sought);
        EXPECT_EQ(iOffset, p ? p - text : -1) << text << " " << sought;
    }
    my_wstring text = W(u"axcabc");
    EXPECT_EQ(&text[3], my_wcsstr(text.c_str(), W(u"abc").c_str()));
    EXPECT_EQ(&text[3], my_wcsrchr(text.c_str(), 'a'));
    EXPECT_EQ(W(u"xxcabc"), my_wcsnset(&text[0], 'x', 2));
    char szText[] = "a-z[AZ`{\xE9";
    EXPECT_STREQ("A-Z[AZ`{\xE9", My_StrUpr(szText));
    EXPECT_STREQ("a-z[az`{\xE9", My_StrLwr(szText));
    EXPECT_STREQ("\xE9{`za[z-a", my_strrev(szText));
    const my_wchar_t aw[] = {'a', 0, 0xFFFF}, awOther[] = {'a', 0, 1};
    EXPECT_EQ(1, my_wmemcmp(aw, awOther, 3)) << "unsigned, past terminators";
    my_wstring buffer = W(u"123456789");
    my_wmemmove(&buffer[3], &buffer[0], 6);
    EXPECT_EQ(W(u"123123456"), buffer) << "overlapping, the source below";
}
} // namespace
