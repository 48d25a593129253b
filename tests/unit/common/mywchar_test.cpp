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

// A wide buffer of 32 units holding the UTF-16 text (terminated), padded with
// kFill so writes past the expected end show up.
WideBuffer Wide(const char16_t* pText)
{
    WideBuffer vec(pText, pText + std::char_traits<char16_t>::length(pText) + 1);
    vec.resize(32, kFill);
    return vec;
}

// The low bytes of a UTF-16 literal: u"\u00E9" is the byte 0xE9.
std::string Narrow(const char16_t* p) { return std::string(p, p + std::char_traits<char16_t>::length(p)); }

std::u16string Text(const my_wchar_t* pText)
{
    std::u16string str;
    while (*pText != 0)
        str.push_back(static_cast<char16_t>(*pText++));
    return str;
}

WideBuffer Head(const WideBuffer& vec, std::size_t n) { return WideBuffer(vec.begin(), vec.begin() + long(n)); }

// ----------------------------------------------------------- comparisons

// Every comparison in one shape, for one table; n is ignored by the unbounded ones.
typedef const char16_t* Lit;
int Cmp(Lit a, Lit b, UINT) { return my_wcscmp(Wide(a).data(), Wide(b).data()); }
int NCmp(Lit a, Lit b, UINT n) { return my_wcsncmp(Wide(a).data(), Wide(b).data(), n); }
int ICmp(Lit a, Lit b, UINT) { return my_wcsicmp(Wide(a).data(), Wide(b).data()); }
int NICmp(Lit a, Lit b, UINT n) { return my_wcsnicmp(Wide(a).data(), Wide(b).data(), n); }
int CsCmp(Lit a, Lit b, UINT) { return my_wcscscmp(Wide(a).data(), Narrow(b).c_str()); }
int SICmp(Lit a, Lit b, UINT) { return my_stricmp(Narrow(a).c_str(), Narrow(b).c_str()); }
int SNICmp(Lit a, Lit b, UINT n) { return my_strnicmp(Narrow(a).c_str(), Narrow(b).c_str(), n); }

TEST(Compare, ResultsAreMinusOneZeroOrOneAfterTheFoldAndSignExtension)
{
    const struct { int (*pfnCompare)(Lit, Lit, UINT); Lit pFirst, pSecond; UINT n; int iExpected; } aCases[] = {
        {Cmp, u"abc", u"abd", 0, -1}, {Cmp, u"abd", u"abc", 0, 1}, {Cmp, u"ab", u"abc", 0, -1},
        {Cmp, u"abc", u"ab", 0, 1},   {Cmp, u"", u"", 0, 0},
        {Cmp, u"a", u"z", 0, -1},            // not a difference of 25
        {Cmp, u"\u00FF", u"\u0100", 0, -1},  // all 16 bits count
        {Cmp, u"\uFFFF", u"a", 0, 1},        // unsigned
        {NCmp, u"abcX", u"abcY", 3, 0}, {NCmp, u"abcX", u"abcY", 4, -1}, {NCmp, u"ab", u"abc", 3, -1},
        {NCmp, u"x", u"y", 0, 0},       {ICmp, u"ABC", u"abc", 0, 0},
        {ICmp, u"[", u"{", 0, 0},            // the fold ignores what a letter is
        {ICmp, u"_", u"a", 0, 1},            // 0x5F against the folded 0x41
        {ICmp, u"\u0161", u"\u0141", 0, 0},  // bit 5 of a non-ASCII character
        {ICmp, u"\u0141", u"A", 0, 1},       // only bit 5 is cleared
        {NICmp, u"ABCx", u"abcy", 3, 0}, {NICmp, u"abc", u"AB", 3, 1},
        {CsCmp, u"abc", u"abc", 0, 0},   {CsCmp, u"ab", u"abc", 0, -1}, {CsCmp, u"abc", u"ab", 0, 1},
        {CsCmp, u"\u00E9", u"\u00E9", 0, 1},  // the byte 0xE9 is -23
        {CsCmp, u"\uFFE9", u"\u00E9", 0, 1},  // and equals no wide character
        {SICmp, u"HELLO", u"hello", 0, 0}, {SICmp, u"\x40", u"\x60", 0, 0}, {SICmp, u"abd", u"ABC", 0, 1},
        {SICmp, u"ab", u"ABC", 0, -1},
        {SICmp, u"\u00E9", u"\u00C9", 0, 0},  // bytes above 127 fold too
        {SICmp, u"\u0080", u"a", 0, 1},       // unsigned: 0x80 above 'A'
        {SNICmp, u"abcX", u"ABCy", 3, 0},  {SNICmp, u"x", u"y", 0, 0},
        {SNICmp, u"abcZ", u"ABCy", 4, 1},     // raw bytes would order Z below y
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        EXPECT_EQ(c.iExpected, c.pfnCompare(c.pFirst, c.pSecond, c.n));
    }
}

TEST(NullArguments, ReturnAtOnceWithTheFamilyResult)
{
    const my_wchar_t awText[] = {'a', 0};
    EXPECT_EQ(0u, my_wcslen(nullptr));
    EXPECT_EQ(1, my_wcscmp(nullptr, awText));
    EXPECT_EQ(1, my_stricmp("a", nullptr));
    EXPECT_EQ(nullptr, my_wcsstr(nullptr, awText));
    EXPECT_EQ(nullptr, my_wmemmove(nullptr, awText, 1));
}

// ----------------------------------------------------------------- copies

TEST(Copy, BoundedCopiesWriteExactlyTheDesignedElements)
{
    // The buffer's start after the call; kFill marks untouched. ncpy starts on a filled buffer.
    const struct { bool bCat; Lit pDest, pSrc; UINT n; WideBuffer vecExpected; } aCases[] = {
        {false, u"", u"abcdef", 3, {'a', 'b', 'c', 0, kFill}},     // a cut writes n and a terminator
        {false, u"", u"ab", 6, {'a', 'b', 0, kFill}},              // stops after the terminator
        {false, u"", u"ab", 0, {0, kFill}},
        {true, u"xy", u"abcdef", 3, {'x', 'y', 'a', 'b', 'c', kFill}},  // a cut writes no terminator
        {true, u"xy", u"ab", 5, {'x', 'y', 'a', 'b', 0, kFill}},
        {true, u"xy", u"ab", 0, {'x', 'y', 0, kFill}},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        WideBuffer vecDest = c.bCat ? Wide(c.pDest) : WideBuffer(32, kFill);
        EXPECT_EQ(vecDest.data(), c.bCat ? my_wcsncat(vecDest.data(), Wide(c.pSrc).data(), c.n)
                                         : my_wcsncpy(vecDest.data(), Wide(c.pSrc).data(), c.n));
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
        {"xyz", "y", 1},   {"xyz", "xzz", -1}, {"xyz", "", 0},  {"", "a", -1},          {"ab", "abc", -1},
        {"aab", "ab", 1},  {"abc", "c", 2},    {"abcabc", "abc", 0},
        {"axcabc", "abc", 3},     // ends agree at 0, the middle does not
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
    const struct { UINT n; Lit pExpected; } aCases[] = {{UINT32_MAX, u"xxx"}, {2, u"xxc"}, {5, u"xxx"}, {0, u"abc"}};
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
    const my_wchar_t aw[] = {'a', 0, 'b', 0xFFFF}, awOther[] = {'a', 0, 'b', 0x0001};
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

TEST(WideMemory, MoveMatchesACopyThroughATemporaryBuffer)
{
    // Source below, above, equal to and apart from the destination; and nothing to move.
    const struct { std::size_t nSrc, nDest, n; } aCases[] = {{0, 3, 6}, {3, 0, 6}, {1, 2, 9}, {2, 1, 9},
                                                             {4, 4, 5}, {0, 6, 6}, {5, 2, 0}};
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(testing::Message() << "src " << c.nSrc << " dest " << c.nDest << " n " << c.n);
        WideBuffer vecActual(12);
        for (std::size_t i = 0; i < vecActual.size(); ++i)
            vecActual[i] = static_cast<my_wchar_t>(0x100 + i);
        WideBuffer vecExpected = vecActual;
        const WideBuffer vecTemporary(&vecActual[c.nSrc], &vecActual[c.nSrc] + c.n);
        std::copy(vecTemporary.begin(), vecTemporary.end(), vecExpected.begin() + long(c.nDest));
        EXPECT_EQ(&vecActual[c.nDest], my_wmemmove(&vecActual[c.nDest], &vecActual[c.nSrc], UINT(c.n)));
        EXPECT_EQ(vecExpected, vecActual);
    }
}

}  // namespace
