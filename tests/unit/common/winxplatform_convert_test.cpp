// Number and text conversions of the Windows-style layer. UTF-16 expectations
// come from the compiler's u"" literals, UTF-8 ones are the standard
// encodings, never output of the code under test.
#include "winxplatform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace
{

my_wstring W(const char16_t* p) { return my_wstring(p, p + std::char_traits<char16_t>::length(p)); }

int ToUtf8(const my_wchar_t* pIn, int cchIn, char* pOut, int cbOut)
{
    return WideCharToMultiByte(CP_UTF8, 0, pIn, cchIn, pOut, cbOut, nullptr, nullptr);
}

int ToUtf16(const char* pIn, int cbIn, my_wchar_t* pOut, int cchOut)
{
    return MultiByteToWideChar(CP_UTF8, 0, pIn, cbIn, pOut, cchOut);
}

// -------------------------------------------------------------- numbers

TEST(Itoa, WritesDigitsOfEveryRadixAndRefusesBadRadixesAndBuffersTooSmall)
{
    // Expected texts computed with Python from the 32-bit two's complement; a null
    // text leaves the buffer untouched.
    const struct { int iNumber, iRadix; DWORD dwCchBuffer; int iResult; const char* pcszText; } aCases[] = {
        {0, 10, 40, 0, "0"}, {-255, 10, 40, 0, "-255"}, {-255, 16, 40, 0, "ffffff01"},
        {INT_MAX, 36, 40, 0, "zik0zj"}, {INT_MIN, 10, 40, 0, "-2147483648"}, {INT_MIN, 8, 40, 0, "20000000000"},
        {123456789, 7, 40, 0, "3026236221"}, {-1, 2, 40, 0, "11111111111111111111111111111111"},
        {-255, 1, 8, EINVAL, ""}, {-255, 37, 8, EINVAL, ""}, {-255, 10, 4, ERANGE, ""},  // "-255" needs five
        {-255, 10, 0, ERANGE, nullptr}, {-255, 10, 5, 0, "-255"},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(testing::Message() << c.iNumber << " radix " << c.iRadix << " size " << c.dwCchBuffer);
        char szBuffer[40];
        std::memset(szBuffer, '#', sizeof(szBuffer));
        EXPECT_EQ(c.iResult, itoa_s(c.iNumber, szBuffer, c.dwCchBuffer, c.iRadix));
        if (c.pcszText != nullptr)
        {
            EXPECT_STREQ(c.pcszText, szBuffer);
        }
        EXPECT_EQ('#', szBuffer[c.pcszText == nullptr ? 0 : std::strlen(c.pcszText) + 1]);
        EXPECT_EQ('#', szBuffer[c.dwCchBuffer < 40 ? c.dwCchBuffer : 39]);
    }
    EXPECT_EQ(EINVAL, itoa_s(1, nullptr, 8, 10));
}

TEST(Itow, WritesWideDigitsWithin20Characters)
{
    my_wchar_t awBuffer[24];
    std::fill(std::begin(awBuffer), std::end(awBuffer), 0xAAAA);
    EXPECT_EQ(awBuffer, _itow(-255, awBuffer, 16));
    EXPECT_EQ(W(u"ffffff01"), my_wstring(awBuffer));
    // 32 binary digits do not fit in 20 characters: nothing but an empty text.
    EXPECT_EQ(nullptr, _itow(-1, awBuffer, 2));
    EXPECT_EQ(0, awBuffer[0]);
    EXPECT_EQ(0xAAAA, awBuffer[20]);
    EXPECT_EQ(nullptr, _itow(5, awBuffer, 40));
}

// ---------------------------------------------------------- UTF-8/UTF-16

// Converts the whole of pIn: a size query, an exact destination (nothing past
// it touched), and one unit too few, which is refused without writing past it.
template <typename In, typename Out>
void ExpectConverts(int (*pfnConvert)(const In*, int, Out*, int), const In* pIn, const std::basic_string<Out>& str)
{
    const int cOut = static_cast<int>(str.size()) + 1;
    const Out fill = static_cast<Out>(0xAAAA);
    EXPECT_EQ(cOut, pfnConvert(pIn, -1, nullptr, 0));
    std::vector<Out> vecOut(str.size() + 2, fill);
    EXPECT_EQ(cOut, pfnConvert(pIn, -1, vecOut.data(), cOut));
    EXPECT_EQ(str, vecOut.data());
    EXPECT_EQ(fill, vecOut.back());
    if (str.empty())
        return;  // a destination of 0 units is a size query
    std::fill(vecOut.begin(), vecOut.end(), fill);
    EXPECT_EQ(0, pfnConvert(pIn, -1, vecOut.data(), cOut - 1));
    EXPECT_EQ(fill, vecOut[str.size()]);
}

TEST(Utf, KnownTextsConvertBothWaysWithExactSizesAndNeverOverrun)
{
    // Each boundary of the four UTF-8 sequence lengths and of the surrogate range.
    const struct { const char16_t* pUtf16; const char* pcszUtf8; } aPairs[] = {
        {u"", ""},                   {u"\u007F", "\x7F"},           {u"\u0080", "\xC2\x80"},
        {u"\u07FF", "\xDF\xBF"},     {u"\u0800", "\xE0\xA0\x80"},   {u"\uD7FF", "\xED\x9F\xBF"},
        {u"\uE000", "\xEE\x80\x80"}, {u"\uFFFF", "\xEF\xBF\xBF"},   {u"\U00010000", "\xF0\x90\x80\x80"},
        {u"a\u00E9\u20AC\U0001F600\U0010FFFF", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
    };
    for (const auto& pair : aPairs)
    {
        SCOPED_TRACE(pair.pcszUtf8);
        const my_wstring wstr = W(pair.pUtf16);
        ExpectConverts(ToUtf8, wstr.c_str(), std::string(pair.pcszUtf8));
        ExpectConverts(ToUtf16, pair.pcszUtf8, wstr);
        // Every code page is UTF-8 on this platform.
        EXPECT_EQ(static_cast<int>(std::strlen(pair.pcszUtf8)) + 1,
                  WideCharToMultiByte(1252, 0, wstr.c_str(), -1, nullptr, 0, nullptr, nullptr));
    }
}

TEST(Utf, SourceCountsSelectAPrefixAndBadArgumentsFail)
{
    const my_wstring wstr = W(u"ab\U0001F600c");
    char szOut[16];
    EXPECT_EQ(3, ToUtf8(wstr.c_str(), 2, szOut, sizeof(szOut)));  // "ab" and a terminator
    EXPECT_STREQ("ab", szOut);
    EXPECT_EQ(0, ToUtf8(wstr.c_str(), 3, szOut, sizeof(szOut)));    // ends inside a surrogate pair
    EXPECT_EQ(8, ToUtf8(wstr.c_str(), 100, szOut, sizeof(szOut)));  // stops at the terminator
    EXPECT_EQ(8, ToUtf8(wstr.c_str(), 2, nullptr, 0));  // a size query counts the whole string
    EXPECT_EQ(0, ToUtf8(wstr.c_str(), -1, szOut, -1));

    my_wchar_t awOut[8];
    EXPECT_EQ(2, ToUtf16("\xC3\xA9x", 2, awOut, 8));
    EXPECT_EQ(W(u"\u00E9"), my_wstring(awOut));
    EXPECT_EQ(0, ToUtf16("\xC3\xA9x", 1, awOut, 8));
    EXPECT_EQ(2, ToUtf16("\xC3\xA9x", 2, nullptr, 0));
    EXPECT_EQ(0, ToUtf16("a", -1, nullptr, 4));
}

TEST(Utf, MalformedUtf8IsRefused)
{
    const char* apcszMalformed[] = {
        "\x80", "a\xBF",                                 // continuations without a lead
        "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",  // overlong forms just below each length
        "\xED\xA0\x80", "\xED\xBF\xBF",                  // encoded surrogates
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",          // above U+10FFFF
        "\xF8\x88\x80\x80\x80", "\xFF",                  // bytes that lead nothing
        "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC3(", "ok\xE2\x82\xACthen\xC3",  // truncated or cut
    };
    for (const char* pcszText : apcszMalformed)
    {
        SCOPED_TRACE(testing::PrintToString(std::string(pcszText)));
        EXPECT_EQ(0, ToUtf16(pcszText, -1, nullptr, 0));
        my_wchar_t awOut[16];
        std::fill(std::begin(awOut), std::end(awOut), 0xAAAA);
        EXPECT_EQ(0, ToUtf16(pcszText, -1, awOut, 16));
        EXPECT_EQ(0, awOut[0]);
        my_wstring wstrDest = W(u"old");
        EXPECT_EQ(0, ConvertUTF8ToWideChar(pcszText, wstrDest, 64));
        EXPECT_EQ(W(u"old"), wstrDest);
    }
}

TEST(Utf, LoneSurrogatesInUtf16AreRefused)
{
    const my_wstring aMalformed[] = {{0xD800}, {0xDC00, 0xDC00}, {'a', 0xDE00}, {0xD83D, 'a'},
                                     {0xDBFF, 0xDBFF, 0xDFFF}, {'x', 0xD83D}};
    for (const my_wstring& wstr : aMalformed)
    {
        SCOPED_TRACE(testing::PrintToString(std::vector<int>(wstr.begin(), wstr.end())));
        EXPECT_EQ(0, ToUtf8(wstr.c_str(), -1, nullptr, 0));
        char szOut[16];
        std::memset(szOut, '#', sizeof(szOut));
        EXPECT_EQ(0, ToUtf8(wstr.c_str(), -1, szOut, sizeof(szOut)));
        EXPECT_EQ('\0', szOut[0]);
        std::string strDest = "old";
        EXPECT_EQ(0, ConvertWideCharToUTF8(wstr.c_str(), strDest));
        EXPECT_EQ("old", strDest);
    }
}

TEST(Utf, StringConvertersRoundTripWithinTheirBounds)
{
    const std::string strUtf8 = "a\xC3\xA9\xF0\x9F\x98\x80";  // four UTF-16 units
    my_wstring wstrDest = W(u"old");
    EXPECT_EQ(0, ConvertUTF8ToWideChar(strUtf8, wstrDest, 4));  // no room for the terminator
    EXPECT_EQ(W(u"old"), wstrDest);
    EXPECT_EQ(1, ConvertUTF8ToWideChar(strUtf8, wstrDest, 5));
    EXPECT_EQ(W(u"a\u00E9\U0001F600"), wstrDest);
    std::string strDest = "old";
    EXPECT_EQ(1, ConvertWideCharToUTF8(wstrDest.c_str(), strDest));
    EXPECT_EQ(strUtf8, strDest);
    EXPECT_EQ(1, ConvertUTF8ToWideChar("", wstrDest, 1));
    EXPECT_TRUE(wstrDest.empty());
}

}  // namespace
