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
    my_wstring wstr;
    for (; *pText != 0; ++pText)
        wstr.push_back(static_cast<my_wchar_t>(*pText));
    return wstr;
}

// -------------------------------------------------------------- numbers

TEST(Itoa, WritesDigitsOfEveryRadix)
{
    // Expected texts computed with Python from the 32-bit two's complement.
    const struct
    {
        int iNumber;
        int iRadix;
        const char* pcszText;
    } aCases[] = {
        {0, 10, "0"},
        {0, 2, "0"},
        {-255, 10, "-255"},
        {-255, 16, "ffffff01"},
        {255, 2, "11111111"},
        {35, 36, "z"},
        {INT_MAX, 36, "zik0zj"},
        {INT_MIN, 10, "-2147483648"},
        {INT_MIN, 8, "20000000000"},
        {-1, 2, "11111111111111111111111111111111"},
        {123456789, 7, "3026236221"},
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
    const struct
    {
        int iRadix;
        DWORD dwCchBuffer;
        int iResult;
        const char* pcszBuffer;  // null: the buffer must stay untouched
    } aCases[] = {
        {1, 8, EINVAL, ""},
        {37, 8, EINVAL, ""},
        {0, 8, EINVAL, ""},
        {10, 4, ERANGE, ""},  // "-255" needs five bytes
        {10, 1, ERANGE, ""},
        {10, 0, ERANGE, nullptr},
        {10, 5, 0, "-255"},
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
    EXPECT_EQ(nullptr, _itow(5, awBuffer, 40));
    EXPECT_EQ(0xAAAA, awBuffer[20]);
    EXPECT_EQ(nullptr, _itow(5, nullptr, 10));
}

// ---------------------------------------------------------- UTF-8/UTF-16

struct TextPair
{
    const char16_t* pUtf16;
    const char* pcszUtf8;
};

// The UTF-8 bytes are the standard encodings of each boundary of the four
// sequence lengths and of the surrogate-pair range.
const TextPair kTextPairs[] = {
    {u"", ""},
    {u"plain ASCII", "plain ASCII"},
    {u"\u007F", "\x7F"},
    {u"\u0080", "\xC2\x80"},
    {u"\u07FF", "\xDF\xBF"},
    {u"\u0800", "\xE0\xA0\x80"},
    {u"\uD7FF", "\xED\x9F\xBF"},
    {u"\uE000", "\xEE\x80\x80"},
    {u"\uFFFF", "\xEF\xBF\xBF"},
    {u"\U00010000", "\xF0\x90\x80\x80"},
    {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
    {u"a\u00E9\u20AC\U0001F600\U0010FFFF", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
};

TEST(Utf, KnownTextsConvertBothWaysWithExactSizes)
{
    for (const TextPair& pair : kTextPairs)
    {
        SCOPED_TRACE(pair.pcszUtf8);
        const my_wstring wstr = W(pair.pUtf16);
        const int cbUtf8 = static_cast<int>(std::strlen(pair.pcszUtf8)) + 1;
        const int cchUtf16 = static_cast<int>(wstr.size()) + 1;

        EXPECT_EQ(cbUtf8, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), -1, nullptr, 0, nullptr, nullptr));
        std::vector<char> vecUtf8(static_cast<std::size_t>(cbUtf8) + 1, '#');
        EXPECT_EQ(cbUtf8, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), -1, vecUtf8.data(), cbUtf8,
                                              nullptr, nullptr));
        EXPECT_STREQ(pair.pcszUtf8, vecUtf8.data());
        EXPECT_EQ('#', vecUtf8.back());

        EXPECT_EQ(cchUtf16, MultiByteToWideChar(CP_UTF8, 0, pair.pcszUtf8, -1, nullptr, 0));
        std::vector<my_wchar_t> vecUtf16(static_cast<std::size_t>(cchUtf16) + 1, 0xAAAA);
        EXPECT_EQ(cchUtf16, MultiByteToWideChar(CP_UTF8, 0, pair.pcszUtf8, -1, vecUtf16.data(), cchUtf16));
        EXPECT_EQ(wstr, my_wstring(vecUtf16.data()));
        EXPECT_EQ(0xAAAA, vecUtf16.back());

        // Every code page is UTF-8 on this platform.
        EXPECT_EQ(cbUtf8, WideCharToMultiByte(1252, 0, wstr.c_str(), -1, nullptr, 0, nullptr, nullptr));
    }
}

TEST(Utf, DestinationOneUnitTooSmallIsNeverOverrun)
{
    for (const TextPair& pair : kTextPairs)
    {
        const my_wstring wstr = W(pair.pUtf16);
        if (wstr.empty())
            continue;  // a destination of 0 units is a size query
        SCOPED_TRACE(pair.pcszUtf8);
        const int cbShort = static_cast<int>(std::strlen(pair.pcszUtf8));
        std::vector<char> vecUtf8(static_cast<std::size_t>(cbShort) + 1, '#');
        EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), -1, vecUtf8.data(), cbShort, nullptr,
                                         nullptr));
        EXPECT_EQ('#', vecUtf8.back());

        const int cchShort = static_cast<int>(wstr.size());
        std::vector<my_wchar_t> vecUtf16(static_cast<std::size_t>(cchShort) + 1, 0xAAAA);
        EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, pair.pcszUtf8, -1, vecUtf16.data(), cchShort));
        EXPECT_EQ(0xAAAA, vecUtf16.back());
    }
}

TEST(Utf, SourceCountsSelectAPrefix)
{
    const my_wstring wstr = W(u"ab\U0001F600c");
    char szOut[16];
    // Two units: "ab" and a terminator.
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), 2, szOut, sizeof(szOut), nullptr, nullptr));
    EXPECT_STREQ("ab", szOut);
    // A count that ends inside a surrogate pair cuts a character in half.
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), 3, szOut, sizeof(szOut), nullptr, nullptr));
    // A count past the terminator stops at the terminator.
    EXPECT_EQ(8, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), 100, szOut, sizeof(szOut), nullptr, nullptr));
    // The size query counts the whole string whatever the count says.
    EXPECT_EQ(8, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), 2, nullptr, 0, nullptr, nullptr));

    my_wchar_t awOut[8];
    EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9x", 2, awOut, 8));
    EXPECT_EQ(W(u"\u00E9"), my_wstring(awOut));
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9x", 1, awOut, 8));
    EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9x", 2, nullptr, 0));
}

TEST(Utf, MalformedUtf8IsRefused)
{
    const char* apcszMalformed[] = {
        "\x80",                  // continuation without a lead
        "a\xBF",                 // stray continuation after ASCII
        "\xC0\xAF",              // overlong '/'
        "\xC1\xBF",              // overlong DEL
        "\xE0\x80\xAF",          // overlong, three bytes
        "\xE0\x9F\xBF",          // overlong U+07FF
        "\xF0\x80\x80\xAF",      // overlong, four bytes
        "\xF0\x8F\xBF\xBF",      // overlong U+FFFF
        "\xED\xA0\x80",          // encoded high surrogate
        "\xED\xBF\xBF",          // encoded low surrogate
        "\xED\xA0\xBD\xED\xB8\x80",  // an encoded surrogate pair
        "\xF4\x90\x80\x80",      // above U+10FFFF
        "\xF5\x80\x80\x80",      // lead byte past the range
        "\xF8\x88\x80\x80\x80",  // five-byte form
        "\xF8\x90\x80\x80",      // F8 leads nothing, even where its bits would fit
        "\xFE",
        "\xFF",
        "\xC3",                  // truncated two-byte sequence
        "\xE2\x82",              // truncated three-byte sequence
        "\xF0\x9F\x98",          // truncated four-byte sequence
        "\xC3(",                 // lead followed by a non-continuation
        "ok\xE2\x82\xACthen\xC3",  // valid start, truncated end
    };
    for (const char* pcszText : apcszMalformed)
    {
        SCOPED_TRACE(testing::PrintToString(std::string(pcszText)));
        EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, pcszText, -1, nullptr, 0));
        my_wchar_t awOut[16];
        std::fill(std::begin(awOut), std::end(awOut), 0xAAAA);
        EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, pcszText, -1, awOut, 16));
        EXPECT_EQ(0, awOut[0]);
        my_wstring wstrDest = W(u"old");
        EXPECT_EQ(0, ConvertUTF8ToWideChar(pcszText, wstrDest, 64));
        EXPECT_EQ(W(u"old"), wstrDest);
    }
}

TEST(Utf, LoneSurrogatesInUtf16AreRefused)
{
    const std::vector<my_wchar_t> aMalformed[] = {
        {0xD800, 0},
        {0xDC00, 0},
        {0xDC00, 0xDC00, 0},  // a low surrogate cannot start a pair
        {'a', 0xDE00, 0},
        {0xD83D, 'a', 0},
        {0xDBFF, 0xDBFF, 0xDFFF, 0},
        {'x', 0xD83D, 0},
    };
    for (const auto& vec : aMalformed)
    {
        SCOPED_TRACE(testing::PrintToString(vec));
        EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, vec.data(), -1, nullptr, 0, nullptr, nullptr));
        char szOut[16];
        std::memset(szOut, '#', sizeof(szOut));
        EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, vec.data(), -1, szOut, sizeof(szOut), nullptr, nullptr));
        EXPECT_EQ('\0', szOut[0]);
        std::string strDest = "old";
        EXPECT_EQ(0, ConvertWideCharToUTF8(vec.data(), strDest));
        EXPECT_EQ("old", strDest);
    }
}

TEST(Utf, BadArgumentsFail)
{
    char szOut[4];
    my_wchar_t awOut[4];
    const my_wstring wstr = W(u"a");
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, nullptr, -1, szOut, 4, nullptr, nullptr));
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), -1, nullptr, 4, nullptr, nullptr));
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), -1, szOut, -1, nullptr, nullptr));
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, awOut, 4));
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "a", -1, nullptr, 4));
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "a", -1, awOut, -1));
}

// Every scalar value from U+0001 to U+10FFFF, converted by our code and by
// glibc's iconv; then back again.
TEST(Utf, AllCodePointsAgreeWithIconvAndRoundTrip)
{
    std::vector<my_wchar_t> vecUtf16;
    for (char32_t c = 1; c <= 0x10FFFF; ++c)
    {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        if (c < 0x10000)
            vecUtf16.push_back(static_cast<my_wchar_t>(c));
        else
        {
            vecUtf16.push_back(static_cast<my_wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
            vecUtf16.push_back(static_cast<my_wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    ASSERT_NE(reinterpret_cast<iconv_t>(-1), cd);
    std::vector<char> vecExpected(vecUtf16.size() * 3 + 1);
    char* pIn = reinterpret_cast<char*>(vecUtf16.data());
    std::size_t nInLeft = vecUtf16.size() * sizeof(my_wchar_t);
    char* pOut = vecExpected.data();
    std::size_t nOutLeft = vecExpected.size();
    const std::size_t nIconv = iconv(cd, &pIn, &nInLeft, &pOut, &nOutLeft);
    iconv_close(cd);
    ASSERT_NE(static_cast<std::size_t>(-1), nIconv);
    ASSERT_EQ(0u, nInLeft);
    const std::string strExpected(vecExpected.data(), pOut);
    vecUtf16.push_back(0);

    std::string strActual;
    ASSERT_EQ(1, ConvertWideCharToUTF8(vecUtf16.data(), strActual));
    EXPECT_TRUE(strExpected == strActual);

    my_wstring wstrBack;
    ASSERT_EQ(1, ConvertUTF8ToWideChar(strActual, wstrBack, static_cast<int>(vecUtf16.size())));
    EXPECT_TRUE(my_wstring(vecUtf16.data()) == wstrBack);
}

TEST(Utf, StringConvertersRespectTheirBounds)
{
    const std::string strUtf8 = "a\xC3\xA9\xF0\x9F\x98\x80";  // four UTF-16 units
    my_wstring wstrDest = W(u"old");
    EXPECT_EQ(0, ConvertUTF8ToWideChar(strUtf8, wstrDest, 4));  // no room for the terminator
    EXPECT_EQ(W(u"old"), wstrDest);
    EXPECT_EQ(0, ConvertUTF8ToWideChar(strUtf8, wstrDest, 0));
    EXPECT_EQ(1, ConvertUTF8ToWideChar(strUtf8, wstrDest, 5));
    EXPECT_EQ(W(u"a\u00E9\U0001F600"), wstrDest);
    EXPECT_EQ(1, ConvertUTF8ToWideChar("", wstrDest, 1));
    EXPECT_TRUE(wstrDest.empty());

    std::string strDest = "old";
    EXPECT_EQ(0, ConvertWideCharToUTF8(nullptr, strDest));
    EXPECT_EQ("old", strDest);
    const my_wchar_t awEmpty[] = {0};
    EXPECT_EQ(1, ConvertWideCharToUTF8(awEmpty, strDest));
    EXPECT_EQ("", strDest);
}

}  // namespace
