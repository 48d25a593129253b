// The Windows-style layer and the 16-bit string utilities, which no path of
// the installer reaches: known answers at the boundaries where a fault would
// lose or corrupt data.
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
    for (const my_wstring& bad : {my_wstring{0xD800}, my_wstring{0xDC00}, my_wstring{0xD83D, 'a'}})
        EXPECT_EQ(0, toUtf8(bad.c_str(), -1, 0));
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
        {0, my_strnicmp("abcZ", "ABCy", 3)}, {1, my_stricmp("abcZ", "ABCy")}};
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
}
} // namespace
