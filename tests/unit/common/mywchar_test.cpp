// String utilities for 16-bit wide and 8-bit strings.
#include "mywchar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

typedef std::vector<my_wchar_t> WideBuffer;
constexpr my_wchar_t kFill = 0xAAAA;

// A wide buffer holding the UTF-16 text (terminated), padded with kFill so
// writes past the expected end show up.
WideBuffer Wide(const char16_t* pText, std::size_t nCapacity = 32)
{
    WideBuffer vec(nCapacity, kFill);
    std::size_t i = 0;
    for (; pText[i] != 0; ++i)
        vec.at(i) = static_cast<my_wchar_t>(pText[i]);
    vec.at(i) = 0;
    return vec;
}

std::u16string Text(const my_wchar_t* pText)
{
    std::u16string str;
    for (; *pText != 0; ++pText)
        str.push_back(static_cast<char16_t>(*pText));
    return str;
}

WideBuffer Head(const WideBuffer& vec, std::size_t n)
{
    return WideBuffer(vec.begin(), vec.begin() + static_cast<std::ptrdiff_t>(n));
}

// ----------------------------------------------------------- comparisons

// The unbounded comparisons in the shape of the bounded ones, for one table.
typedef int (*PfnWideCompare)(const my_wchar_t*, const my_wchar_t*, UINT);
int Cmp(const my_wchar_t* s1, const my_wchar_t* s2, UINT) { return my_wcscmp(s1, s2); }
int ICmp(const my_wchar_t* s1, const my_wchar_t* s2, UINT) { return my_wcsicmp(s1, s2); }

TEST(WideCompare, ResultsAreMinusOneZeroOrOne)
{
    const struct { PfnWideCompare pfnCompare; const char16_t *pFirst, *pSecond; UINT n; int iExpected; } aCases[] = {
        {Cmp, u"abc", u"abd", 0, -1},        {Cmp, u"abd", u"abc", 0, 1},  {Cmp, u"ab", u"abc", 0, -1},
        {Cmp, u"abc", u"ab", 0, 1},          {Cmp, u"abc", u"abc", 0, 0},  {Cmp, u"", u"", 0, 0},
        {Cmp, u"a", u"z", 0, -1},            // not a difference of 25
        {Cmp, u"\u00FF", u"\u0100", 0, -1},  // all 16 bits count
        {Cmp, u"\uFFFF", u"a", 0, 1},        // unsigned
        {my_wcsncmp, u"abcX", u"abcY", 3, 0}, {my_wcsncmp, u"abcX", u"abcY", 4, -1},
        {my_wcsncmp, u"ab", u"abc", 2, 0},    {my_wcsncmp, u"ab", u"abc", 3, -1},
        {my_wcsncmp, u"x", u"y", 0, 0},       {ICmp, u"ABC", u"abc", 0, 0},  {ICmp, u"a", u"B", 0, -1},
        {ICmp, u"[", u"{", 0, 0},  // the fold ignores what a letter is
        {ICmp, u"_", u"a", 0, 1},  // 0x5F against the folded 0x41
        {ICmp, u"\u0161", u"\u0141", 0, 0},  // bit 5 of a non-ASCII character
        {ICmp, u"\u0141", u"A", 0, 1},       // only bit 5 is cleared
        {ICmp, u"ab", u"AB\u0001", 0, -1},
        {my_wcsnicmp, u"ABCx", u"abcy", 3, 0}, {my_wcsnicmp, u"ABC", u"abd", 3, -1},
        {my_wcsnicmp, u"abc", u"AB", 3, 1},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        EXPECT_EQ(c.iExpected, c.pfnCompare(Wide(c.pFirst).data(), Wide(c.pSecond).data(), c.n));
    }
}

TEST(WideCompare, WideAgainstNarrowSignExtendsTheBytes)
{
    const struct { const char16_t* pWide; const char* pcszNarrow; int iExpected; } aCases[] = {
        {u"abc", "abc", 0}, {u"ab", "abc", -1}, {u"abc", "ab", 1}, {u"abc", "abd", -1},
        {u"\u00E9", "\xE9", 1},  // the byte 0xE9 is -23
        {u"\uFFE9", "\xE9", 1},  // and equals no wide character
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszNarrow);
        EXPECT_EQ(c.iExpected, my_wcscscmp(Wide(c.pWide).data(), c.pcszNarrow));
    }
}

TEST(NarrowCompare, CaseFoldClearsBitFiveOfUnsignedBytes)
{
    // iBounded -1 calls my_stricmp, any other value is the count of my_strnicmp.
    const struct { const char *pcszFirst, *pcszSecond; int iBounded, iExpected; } aCases[] = {
        {"HELLO", "hello", -1, 0}, {"\x40", "\x60", -1, 0}, {"abc", "ABD", -1, -1}, {"abd", "ABC", -1, 1},
        {"ab", "ABC", -1, -1},     {"\xE9", "\xC9", -1, 0},  // bytes above 127 fold too
        {"\x80", "a", -1, 1},                                // unsigned: 0x80 above 'A'
        {"abcX", "ABCy", 3, 0},    {"abcZ", "ABCy", 4, 1},   // raw bytes would order Z below y
        {"ab", "abc", 3, -1},      {"x", "y", 0, 0},         {"a", "z", -1, -1},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(testing::Message() << c.pcszFirst << " / " << c.pcszSecond << " / " << c.iBounded);
        EXPECT_EQ(c.iExpected, c.iBounded < 0 ? my_stricmp(c.pcszFirst, c.pcszSecond)
                                              : my_strnicmp(c.pcszFirst, c.pcszSecond, UINT(c.iBounded)));
    }
}

TEST(NullArguments, ReturnAtOnceWithTheFamilyResult)
{
    const my_wchar_t awText[] = {'a', 0};
    my_wchar_t awBuffer[4] = {'a', 0, 0, 0};
    char szBuffer[4] = "a";
    EXPECT_EQ(0u, my_wcslen(nullptr));
    EXPECT_EQ(0u, my_strlen(nullptr));
    for (int iResult : {my_wcscmp(nullptr, awText), my_wcscmp(awText, nullptr), my_wcsncmp(nullptr, awText, 1),
                        my_wcsicmp(awText, nullptr), my_wcsnicmp(nullptr, awText, 1), my_wcscscmp(nullptr, "a"),
                        my_wcscscmp(awText, nullptr), my_wmemcmp(nullptr, awText, 1), my_stricmp(nullptr, "a"),
                        my_strnicmp("a", nullptr, 1)})
        EXPECT_EQ(1, iResult);
    const void* apvPointers[] = {
        my_wcscpy(nullptr, awText),  my_wcscat(awBuffer, nullptr),  my_wcsncpy(nullptr, awText, 1),
        my_wcsncat(awBuffer, nullptr, 1), my_wcschr(nullptr, 'a'), my_wcsrchr(nullptr, 'a'),
        my_wcsstr(nullptr, awText),  my_wcsstr(awText, nullptr),    my_wcsrev(nullptr),
        my_wcslwr(nullptr),          my_wcsupr(nullptr),            my_wcsset(nullptr, 'x'),
        my_wcsnset(nullptr, 'x', 1), my_wmemchr(nullptr, 'a', 1),   my_wmemcpy(awBuffer, nullptr, 1),
        my_wmemmove(nullptr, awText, 1), my_wmemset(nullptr, 'x', 1), CopyWSZToSZ(szBuffer, nullptr),
        CopySZToWSZ(nullptr, "a"),   CatWSZToSZ(nullptr, awText),   CatSZToWSZ(awBuffer, nullptr),
        My_StrLwr(nullptr),          My_StrUpr(nullptr),            my_strstr("a", nullptr),
        my_strrev(nullptr),
    };
    for (const void* pv : apvPointers)
        EXPECT_EQ(nullptr, pv);
    EXPECT_EQ('a', awBuffer[0]);
    EXPECT_STREQ("a", szBuffer);
}

// ----------------------------------------------------------------- copies

TEST(Copy, BoundedCopiesWriteExactlyTheDesignedElements)
{
    const struct
    {
        const char* pcszCase;
        bool bCat;
        const char16_t *pDest, *pSrc;  // pDest only for ncat; ncpy starts on a filled buffer
        UINT n;
        WideBuffer vecExpected;  // the buffer's start; kFill marks untouched
    } aCases[] = {
        {"ncpy cut writes n and a terminator", false, u"", u"abcdef", 3, {'a', 'b', 'c', 0, kFill}},
        {"ncpy stops after the terminator", false, u"", u"ab", 6, {'a', 'b', 0, kFill}},
        {"ncpy of n 0 writes a terminator", false, u"", u"ab", 0, {0, kFill}},
        {"ncat cut writes no terminator", true, u"xy", u"abcdef", 3, {'x', 'y', 'a', 'b', 'c', kFill}},
        {"ncat copies the terminator", true, u"xy", u"ab", 5, {'x', 'y', 'a', 'b', 0, kFill}},
        {"ncat of n 0 changes nothing", true, u"xy", u"ab", 0, {'x', 'y', 0, kFill}},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.pcszCase);
        WideBuffer vecDest = c.bCat ? Wide(c.pDest) : WideBuffer(32, kFill);
        my_wchar_t* pResult = c.bCat ? my_wcsncat(vecDest.data(), Wide(c.pSrc).data(), c.n)
                                     : my_wcsncpy(vecDest.data(), Wide(c.pSrc).data(), c.n);
        EXPECT_EQ(vecDest.data(), pResult);
        EXPECT_EQ(c.vecExpected, Head(vecDest, c.vecExpected.size()));
    }

    WideBuffer vecDest(16, kFill);
    EXPECT_EQ(vecDest.data(), my_wcscpy(vecDest.data(), Wide(u"ab\u20AC").data()));
    EXPECT_EQ(vecDest.data(), my_wcscat(vecDest.data(), Wide(u"cd").data()));
    EXPECT_EQ(u"ab\u20ACcd", Text(vecDest.data()));
    EXPECT_EQ(kFill, vecDest[6]);
    EXPECT_EQ(5u, my_wcslen(vecDest.data()));
}

TEST(Copy, NarrowBytesAreSignExtendedAndWideKeepsItsLowByte)
{
    WideBuffer vecWide(8, kFill);
    EXPECT_EQ(vecWide.data(), CopySZToWSZ(vecWide.data(), "\xE9" "A\x7F"));
    EXPECT_EQ(vecWide.data(), CatSZToWSZ(vecWide.data(), "\x80z"));
    EXPECT_EQ((WideBuffer{0xFFE9, 0x41, 0x7F, 0xFF80, 'z', 0, kFill}), Head(vecWide, 7));

    char szNarrow[8];
    std::memset(szNarrow, '#', sizeof(szNarrow));
    const my_wchar_t awSource[] = {0x0141, 0xFFE9, 'z', 0};
    EXPECT_EQ(szNarrow, CopyWSZToSZ(szNarrow, awSource));
    EXPECT_EQ(0, std::memcmp("A\xE9z\0#", szNarrow, 5));
    EXPECT_EQ(szNarrow, CatWSZToSZ(szNarrow, awSource));
    EXPECT_EQ(0, std::memcmp("A\xE9zA\xE9z\0#", szNarrow, 8));
}

// ------------------------------------------------------------- searching

TEST(Search, SubstringsAreFoundAtTheirFirstPosition)
{
    // The offset of the match, -1 for none.
    const struct { const char *pcszText, *pcszSought; int iExpected; } aCases[] = {
        {"xyz", "y", 1},       {"xyz", "xzz", -1},    {"xyz", "", 0},        {"", "a", -1},
        {"ab", "abc", -1},     {"aab", "ab", 1},      {"abc", "c", 2},       {"abcabc", "abc", 0},
        {"axcabc", "abc", 3},    // ends agree at 0, the middle does not
        {"abxdabcd", "abcd", 4},  // even length, inner pair differs
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(testing::Message() << c.pcszText << " / " << c.pcszSought);
        const char* pNarrow = my_strstr(c.pcszText, c.pcszSought);
        EXPECT_EQ(c.iExpected, pNarrow == nullptr ? -1 : static_cast<int>(pNarrow - c.pcszText));
        WideBuffer vecText(16, kFill), vecSought(16, kFill);
        CopySZToWSZ(vecText.data(), c.pcszText);
        CopySZToWSZ(vecSought.data(), c.pcszSought);
        const my_wchar_t* pWide = my_wcsstr(vecText.data(), vecSought.data());
        EXPECT_EQ(c.iExpected, pWide == nullptr ? -1 : static_cast<int>(pWide - vecText.data()));
    }
}

TEST(Search, CharactersAreFoundFirstAndLastBeforeTheTerminator)
{
    const WideBuffer vecText = Wide(u"abca\u20AC");
    auto Offset = [&](const my_wchar_t* p) { return p == nullptr ? -1 : static_cast<int>(p - vecText.data()); };
    const struct { my_wchar_t ch; int iFirst, iLast; } aCases[] = {
        {'a', 0, 3}, {'b', 1, 1}, {0x20AC, 4, 4}, {'z', -1, -1}, {0, -1, -1}};
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.ch);
        EXPECT_EQ(c.iFirst, Offset(my_wcschr(vecText.data(), c.ch)));
        EXPECT_EQ(c.iLast, Offset(my_wcsrchr(vecText.data(), c.ch)));
    }
    EXPECT_EQ(nullptr, my_wcsrchr(Wide(u"").data(), 'a'));
}

// ------------------------------------------------------- in-place changes

TEST(InPlace, CaseConversionTouchesOnlyAsciiLetters)
{
    char szUpper[] = "a-z[\xE9\x80{";
    EXPECT_EQ(szUpper, My_StrUpr(szUpper));
    EXPECT_STREQ("A-Z[\xE9\x80{", szUpper);
    char szLower[] = "A-Z@[\xC9\xFF`";
    EXPECT_EQ(szLower, My_StrLwr(szLower));
    EXPECT_STREQ("a-z@[\xC9\xFF`", szLower);

    WideBuffer vecWide = Wide(u"a-z{[@\u00E9\u0161\u00C9");
    EXPECT_EQ(vecWide.data(), my_wcsupr(vecWide.data()));
    EXPECT_EQ(u"A-Z{[@\u00E9\u0161\u00C9", Text(vecWide.data()));
    EXPECT_EQ(vecWide.data(), my_wcslwr(vecWide.data()));
    EXPECT_EQ(u"a-z{[@\u00E9\u0161\u00C9", Text(vecWide.data()));
}

TEST(InPlace, ReverseExchangesFromBothEnds)
{
    for (const std::string strText : {"", "a", "ab", "abc", "abcd", "a\xE9z"})
    {
        SCOPED_TRACE(strText);
        const std::string strReversed(strText.rbegin(), strText.rend());
        std::string str = strText;
        EXPECT_EQ(&str[0], my_strrev(&str[0]));
        EXPECT_EQ(strReversed, str);

        WideBuffer vecWide(16, kFill);
        CopySZToWSZ(vecWide.data(), strText.c_str());
        EXPECT_EQ(vecWide.data(), my_wcsrev(vecWide.data()));
        char szBack[16];
        EXPECT_EQ(strReversed, CopyWSZToSZ(szBack, vecWide.data()));
        EXPECT_EQ(kFill, vecWide[str.size() + 1]);
    }
}

TEST(InPlace, SetStopsAtTheTerminatorOrTheCount)
{
    // n UINT32_MAX calls my_wcsset.
    const struct { UINT n; const char16_t* pExpected; } aCases[] = {
        {UINT32_MAX, u"xxx"}, {2, u"xxc"}, {5, u"xxx"}, {0, u"abc"}};
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.n);
        WideBuffer vec = Wide(u"abc");
        EXPECT_EQ(vec.data(), c.n == UINT32_MAX ? my_wcsset(vec.data(), 'x') : my_wcsnset(vec.data(), 'x', c.n));
        EXPECT_EQ(c.pExpected, Text(vec.data()));
        EXPECT_EQ(kFill, vec[4]);
    }
}

// ------------------------------------------------------------ wide memory

TEST(WideMemory, LooksPastTerminatorsAndComparesUnsigned)
{
    const my_wchar_t aw[] = {'a', 0, 'b', 0xFFFF};
    const my_wchar_t awOther[] = {'a', 0, 'b', 0x0001};
    EXPECT_EQ(aw + 2, my_wmemchr(aw, 'b', 4));
    EXPECT_EQ(nullptr, my_wmemchr(aw, 'b', 2));
    EXPECT_EQ(0, my_wmemcmp(aw, awOther, 3));
    EXPECT_EQ(1, my_wmemcmp(aw, awOther, 4));
    EXPECT_EQ(-1, my_wmemcmp(awOther, aw, 4));

    WideBuffer vec(6, kFill);
    EXPECT_EQ(vec.data(), my_wmemset(vec.data(), 'q', 4));
    EXPECT_EQ(vec.data() + 1, my_wmemcpy(vec.data() + 1, aw, 3));
    EXPECT_EQ((WideBuffer{'q', 'a', 0, 'b', kFill, kFill}), vec);
}

// Every placement of source and destination within a small buffer, each
// compared with a copy through a temporary buffer.
TEST(WideMemory, MoveMatchesACopyThroughATemporaryForEveryOverlap)
{
    constexpr std::size_t kSize = 12;
    for (std::size_t nSrc = 0; nSrc < kSize; ++nSrc)
        for (std::size_t nDest = 0; nDest < kSize; ++nDest)
            for (std::size_t n = 0; n <= kSize - std::max(nSrc, nDest); ++n)
            {
                WideBuffer vecActual(kSize);
                for (std::size_t i = 0; i < kSize; ++i)
                    vecActual[i] = static_cast<my_wchar_t>(0x100 + i);
                WideBuffer vecExpected = vecActual;
                const WideBuffer vecTemporary(&vecActual[nSrc], &vecActual[nSrc] + n);
                std::copy(vecTemporary.begin(), vecTemporary.end(), vecExpected.begin() + nDest);
                ASSERT_EQ(&vecActual[nDest], my_wmemmove(&vecActual[nDest], &vecActual[nSrc], UINT(n)));
                ASSERT_EQ(vecExpected, vecActual) << "src " << nSrc << " dest " << nDest << " n " << n;
            }
}

}  // namespace
