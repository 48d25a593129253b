// Number and text conversions of the Windows-style layer. UTF-16 expectations
// come from the compiler's u"" literals and glibc's iconv, never from the
// code under test.
#include "winxplatform.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace
{

my_wstring W(const char16_t* pText)
{
    return my_wstring(pText, pText + std::char_traits<char16_t>::length(pText));
}

int ToUtf8(const my_wchar_t* pIn, int cchIn, char* pOut, int cbOut)
{
    return WideCharToMultiByte(CP_UTF8, 0, pIn, cchIn, pOut, cbOut, nullptr, nullptr);
}

int ToUtf16(const char* pIn, int cbIn, my_wchar_t* pOut, int cchOut)
{
    return MultiByteToWideChar(CP_UTF8, 0, pIn, cbIn, pOut, cchOut);
}

// -------------------------------------------------------------- numbers

TEST(Itoa, WritesDigitsOfEveryRadix)
{
    // Expected texts computed with Python from the 32-bit two's complement.
    const struct { int iNumber, iRadix; const char* pcszText; } aCases[] = {
        {0, 10, "0"}, {-255, 10, "-255"}, {-255, 16, "ffffff01"}, {INT_MAX, 36, "zik0zj"},
        {INT_MIN, 10, "-2147483648"}, {INT_MIN, 8, "20000000000"}, {123456789, 7, "3026236221"},
        {-1, 2, "11111111111111111111111111111111"},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszText);
        char szBuffer[40];
        std::memset(szBuffer, '#', sizeof(szBuffer));
        EXPECT_EQ(0, itoa_s(c.iNumber, szBuffer, sizeof(szBuffer), c.iRadix));
        EXPECT_STREQ(c.pcszText, szBuffer);
        EXPECT_EQ('#', szBuffer[std::strlen(c.pcszText) + 1]);
    }
}

TEST(Itoa, RefusesBadRadixesAndBuffersTooSmall)
{
    // A null text: the buffer must stay untouched.
    const struct { int iRadix; DWORD dwCchBuffer; int iResult; const char* pcszBuffer; } aCases[] = {
        {1, 8, EINVAL, ""}, {37, 8, EINVAL, ""}, {10, 4, ERANGE, ""},  // "-255" needs five bytes
        {10, 0, ERANGE, nullptr}, {10, 5, 0, "-255"},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(testing::Message() << "radix " << c.iRadix << " size " << c.dwCchBuffer);
        char szBuffer[8];
        std::memset(szBuffer, '#', sizeof(szBuffer));
        EXPECT_EQ(c.iResult, itoa_s(-255, szBuffer, c.dwCchBuffer, c.iRadix));
        if (c.pcszBuffer != nullptr)
            EXPECT_STREQ(c.pcszBuffer, szBuffer);
        else
            EXPECT_EQ('#', szBuffer[0]);
        EXPECT_EQ('#', szBuffer[sizeof(szBuffer) - 1]);
    }
    EXPECT_EQ(EINVAL, itoa_s(1, nullptr, 8, 10));
}

TEST(Itow, WritesWideDigitsWithin20Characters)
{
    my_wchar_t awBuffer[24];
    std::fill(std::begin(awBuffer), std::end(awBuffer), 0xAAAA);
    EXPECT_EQ(awBuffer, _itow(-255, awBuffer, 10));
    EXPECT_EQ(W(u"-255"), my_wstring(awBuffer));
    EXPECT_EQ(awBuffer, _itow(-255, awBuffer, 16));
    EXPECT_EQ(W(u"ffffff01"), my_wstring(awBuffer));
    // 32 binary digits do not fit in 20 characters: nothing but an empty text.
    EXPECT_EQ(nullptr, _itow(-1, awBuffer, 2));
    EXPECT_EQ(0, awBuffer[0]);
    EXPECT_EQ(0xAAAA, awBuffer[20]);
    EXPECT_EQ(nullptr, _itow(5, awBuffer, 40));
    EXPECT_EQ(nullptr, _itow(5, nullptr, 10));
}

// ---------------------------------------------------------- UTF-8/UTF-16

// The standard encodings of each boundary of the four UTF-8 sequence lengths
// and of the surrogate range.
const struct { const char16_t* pUtf16; const char* pcszUtf8; } kTextPairs[] = {
    {u"", ""},                            {u"\u007F", "\x7F"},
    {u"\u0080", "\xC2\x80"},              {u"\u07FF", "\xDF\xBF"},
    {u"\u0800", "\xE0\xA0\x80"},          {u"\uD7FF", "\xED\x9F\xBF"},
    {u"\uE000", "\xEE\x80\x80"},          {u"\uFFFF", "\xEF\xBF\xBF"},
    {u"\U00010000", "\xF0\x90\x80\x80"},
    {u"a\u00E9\u20AC\U0001F600\U0010FFFF", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
};

TEST(Utf, KnownTextsConvertBothWaysWithExactSizesAndNeverOverrun)
{
    for (const auto& pair : kTextPairs)
    {
        SCOPED_TRACE(pair.pcszUtf8);
        const my_wstring wstr = W(pair.pUtf16);
        const int cbUtf8 = static_cast<int>(std::strlen(pair.pcszUtf8)) + 1;
        const int cchUtf16 = static_cast<int>(wstr.size()) + 1;

        EXPECT_EQ(cbUtf8, ToUtf8(wstr.c_str(), -1, nullptr, 0));
        // Every code page is UTF-8 on this platform.
        EXPECT_EQ(cbUtf8, WideCharToMultiByte(1252, 0, wstr.c_str(), -1, nullptr, 0, nullptr, nullptr));
        std::vector<char> vecUtf8(static_cast<std::size_t>(cbUtf8) + 1, '#');
        EXPECT_EQ(cbUtf8, ToUtf8(wstr.c_str(), -1, vecUtf8.data(), cbUtf8));
        EXPECT_STREQ(pair.pcszUtf8, vecUtf8.data());
        EXPECT_EQ('#', vecUtf8.back());

        EXPECT_EQ(cchUtf16, ToUtf16(pair.pcszUtf8, -1, nullptr, 0));
        std::vector<my_wchar_t> vecUtf16(static_cast<std::size_t>(cchUtf16) + 1, 0xAAAA);
        EXPECT_EQ(cchUtf16, ToUtf16(pair.pcszUtf8, -1, vecUtf16.data(), cchUtf16));
        EXPECT_EQ(wstr, my_wstring(vecUtf16.data()));
        EXPECT_EQ(0xAAAA, vecUtf16.back());

        if (wstr.empty())
            continue;  // a destination of 0 units is a size query
        // One unit too small: refused, and nothing written past the bound.
        std::fill(vecUtf8.begin(), vecUtf8.end(), '#');
        EXPECT_EQ(0, ToUtf8(wstr.c_str(), -1, vecUtf8.data(), cbUtf8 - 1));
        EXPECT_EQ('#', vecUtf8[static_cast<std::size_t>(cbUtf8) - 1]);
        std::fill(vecUtf16.begin(), vecUtf16.end(), 0xAAAA);
        EXPECT_EQ(0, ToUtf16(pair.pcszUtf8, -1, vecUtf16.data(), cchUtf16 - 1));
        EXPECT_EQ(0xAAAA, vecUtf16[static_cast<std::size_t>(cchUtf16) - 1]);
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

    my_wchar_t awOut[8];
    EXPECT_EQ(2, ToUtf16("\xC3\xA9x", 2, awOut, 8));
    EXPECT_EQ(W(u"\u00E9"), my_wstring(awOut));
    EXPECT_EQ(0, ToUtf16("\xC3\xA9x", 1, awOut, 8));
    EXPECT_EQ(2, ToUtf16("\xC3\xA9x", 2, nullptr, 0));

    // Missing texts, a missing destination with a size, a negative size.
    EXPECT_EQ(0, ToUtf8(nullptr, -1, szOut, 4));
    EXPECT_EQ(0, ToUtf8(wstr.c_str(), -1, nullptr, 4));
    EXPECT_EQ(0, ToUtf8(wstr.c_str(), -1, szOut, -1));
    EXPECT_EQ(0, ToUtf16(nullptr, -1, awOut, 4));
    EXPECT_EQ(0, ToUtf16("a", -1, nullptr, 4));
    EXPECT_EQ(0, ToUtf16("a", -1, awOut, -1));
}

TEST(Utf, MalformedUtf8IsRefused)
{
    const char* apcszMalformed[] = {
        "\x80", "a\xBF",                            // continuations without a lead
        "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",  // overlong forms just below each length
        "\xED\xA0\x80", "\xED\xBF\xBF",             // encoded surrogates
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",     // above U+10FFFF
        "\xF8\x88\x80\x80\x80", "\xF8\x90\x80\x80", "\xFF",  // bytes that lead nothing
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

// Every scalar value from U+0001 to U+10FFFF, converted by our code and by
// glibc's iconv; then back again.
TEST(Utf, AllCodePointsAgreeWithIconvAndRoundTrip)
{
    std::vector<char32_t> vecUtf32;
    for (char32_t c = 1; c <= 0x10FFFF; ++c)
        if (c < 0xD800 || c > 0xDFFF)
            vecUtf32.push_back(c);
    auto Iconv = [](const char* pcszTo, const void* pvIn, std::size_t nIn, std::size_t nOutMax) {
        iconv_t cd = iconv_open(pcszTo, "UTF-32LE");
        EXPECT_NE(reinterpret_cast<iconv_t>(-1), cd);
        std::string strOut(nOutMax, '\0');
        char* pIn = static_cast<char*>(const_cast<void*>(pvIn));
        char* pOut = &strOut[0];
        EXPECT_NE(static_cast<std::size_t>(-1), iconv(cd, &pIn, &nIn, &pOut, &nOutMax));
        iconv_close(cd);
        strOut.resize(static_cast<std::size_t>(pOut - strOut.data()));
        return strOut;
    };
    const std::size_t nBytes = vecUtf32.size() * sizeof(char32_t);
    const std::string strUtf8 = Iconv("UTF-8", vecUtf32.data(), nBytes, nBytes);
    const std::string strUtf16 = Iconv("UTF-16LE", vecUtf32.data(), nBytes, nBytes);
    my_wstring wstrExpected(strUtf16.size() / 2, 0);
    std::memcpy(&wstrExpected[0], strUtf16.data(), strUtf16.size());

    std::string strActual;
    ASSERT_EQ(1, ConvertWideCharToUTF8(wstrExpected.c_str(), strActual));
    EXPECT_TRUE(strUtf8 == strActual);
    my_wstring wstrBack;
    ASSERT_EQ(1, ConvertUTF8ToWideChar(strActual, wstrBack, static_cast<int>(wstrExpected.size() + 1)));
    EXPECT_TRUE(wstrExpected == wstrBack);
}

TEST(Utf, StringConvertersRespectTheirBounds)
{
    const std::string strUtf8 = "a\xC3\xA9\xF0\x9F\x98\x80";  // four UTF-16 units
    my_wstring wstrDest = W(u"old");
    EXPECT_EQ(0, ConvertUTF8ToWideChar(strUtf8, wstrDest, 4));  // no room for the terminator
    EXPECT_EQ(W(u"old"), wstrDest);
    EXPECT_EQ(1, ConvertUTF8ToWideChar(strUtf8, wstrDest, 5));
    EXPECT_EQ(W(u"a\u00E9\U0001F600"), wstrDest);
    EXPECT_EQ(1, ConvertUTF8ToWideChar("", wstrDest, 1));
    EXPECT_TRUE(wstrDest.empty());

    std::string strDest = "old";
    EXPECT_EQ(0, ConvertWideCharToUTF8(nullptr, strDest));
    EXPECT_EQ("old", strDest);
    EXPECT_EQ(1, ConvertWideCharToUTF8(W(u"").c_str(), strDest));
    EXPECT_EQ("", strDest);
}

}  // namespace
