// String utilities for 16-bit wide and 8-bit strings. The wide and narrow
// variants share one template per algorithm; they differ only in how a
// character is read for comparison or converted on copy.
#include "mywchar.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace
{

constexpr std::size_t kUnbounded = SIZE_MAX;
constexpr unsigned int kCaseBit = 0x20;

// How a character enters a comparison.
int WideValue(my_wchar_t ch)
{
    return ch;
}
int WideFolded(my_wchar_t ch)
{
    return ch & ~kCaseBit & 0xFFFF;
}
int NarrowFolded(char ch)
{
    return static_cast<unsigned char>(ch) & ~kCaseBit & 0xFF;
}
// A narrow byte met by a wide character is sign-extended: bytes from 0x80 up
// become negative and so equal no wide character.
int NarrowSigned(char ch)
{
    return static_cast<signed char>(ch);
}

// How a character changes width on copy.
char WideToNarrow(my_wchar_t ch)
{
    return static_cast<char>(ch & 0xFF);
}
my_wchar_t NarrowToWide(char ch)
{
    return static_cast<my_wchar_t>(static_cast<signed char>(ch));
}
template <typename T>
T Same(T ch)
{
    return ch;
}

template <typename T>
T ToLower(T ch)
{
    return ch >= 'A' && ch <= 'Z' ? static_cast<T>(ch | kCaseBit) : ch;
}
template <typename T>
T ToUpper(T ch)
{
    return ch >= 'a' && ch <= 'z' ? static_cast<T>(ch & ~kCaseBit) : ch;
}

template <typename T>
std::size_t Length(const T* str)
{
    std::size_t nLength = 0;
    while (str[nLength] != 0)
        ++nLength;
    return nLength;
}

// Three-way comparison over at most n characters of two strings whose
// characters are read through pfnMap1 and pfnMap2.
template <typename T1, typename T2>
int Compare(const T1* str1, const T2* str2, std::size_t n, int (*pfnMap1)(T1), int (*pfnMap2)(T2))
{
    if (str1 == nullptr || str2 == nullptr)
        return 1;
    std::size_t i = 0;
    for (; i < n && str1[i] != 0 && str2[i] != 0; ++i)
    {
        const int iFirst = pfnMap1(str1[i]);
        const int iSecond = pfnMap2(str2[i]);
        if (iFirst != iSecond)
            return iFirst < iSecond ? -1 : 1;
    }
    if (i == n || (str1[i] == 0 && str2[i] == 0))
        return 0;
    return str1[i] != 0 ? 1 : -1;
}

// Copies src with its terminator to dest, converting each character.
template <typename TDest, typename TSrc>
TDest* CopyConverted(TDest* dest, const TSrc* src, TDest (*pfnConvert)(TSrc))
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    std::size_t i = 0;
    for (; src[i] != 0; ++i)
        dest[i] = pfnConvert(src[i]);
    dest[i] = 0;
    return dest;
}

template <typename TDest, typename TSrc>
TDest* AppendConverted(TDest* dest, const TSrc* src, TDest (*pfnConvert)(TSrc))
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    (void)CopyConverted(dest + Length(dest), src, pfnConvert); // non-null by now
    return dest;
}

template <typename T>
T* MapInPlace(T* str, T (*pfnMap)(T))
{
    if (str == nullptr)
        return nullptr;
    for (T* p = str; *p != 0; ++p)
        *p = pfnMap(*p);
    return str;
}

template <typename T>
T* Reverse(T* str)
{
    if (str == nullptr)
        return nullptr;
    std::reverse(str, str + Length(str));
    return str;
}

// Compares from both ends towards the middle, so a candidate that differs
// in its last character is rejected without walking its whole length.
template <typename T>
bool MatchesFromBothEnds(const T* pCandidate, const T* pSought, std::size_t nLength)
{
    for (std::size_t nLow = 0, nHigh = nLength; nLow < nHigh; ++nLow)
    {
        --nHigh;
        if (pCandidate[nLow] != pSought[nLow] || pCandidate[nHigh] != pSought[nHigh])
            return false;
    }
    return true;
}

template <typename T>
T* FindSubstring(const T* str1, const T* str2)
{
    if (str1 == nullptr || str2 == nullptr)
        return nullptr;
    const std::size_t nSearched = Length(str1);
    const std::size_t nSought = Length(str2);
    if (nSought > nSearched)
        return nullptr;
    for (std::size_t nStart = 0; nSearched - nStart >= nSought; ++nStart)
    {
        if (MatchesFromBothEnds(str1 + nStart, str2, nSought))
            return const_cast<T*>(str1 + nStart); // the C library's contract: a pointer into str1
    }
    return nullptr;
}

} // namespace

// ------------------------------------------------------------ wide strings

UINT my_wcslen(const my_wchar_t* str)
{
    return str == nullptr ? 0 : static_cast<UINT>(Length(str));
}

my_wchar_t* my_wcscpy(my_wchar_t* dest, const my_wchar_t* src)
{
    return CopyConverted(dest, src, Same<my_wchar_t>);
}

my_wchar_t* my_wcscat(my_wchar_t* dest, const my_wchar_t* src)
{
    return AppendConverted(dest, src, Same<my_wchar_t>);
}

my_wchar_t* my_wcsncpy(my_wchar_t* dest, const my_wchar_t* src, UINT n)
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    for (UINT i = 0; i < n; ++i)
    {
        dest[i] = src[i];
        if (src[i] == 0)
            return dest;
    }
    dest[n] = 0;
    return dest;
}

my_wchar_t* my_wcsncat(my_wchar_t* dest, const my_wchar_t* src, UINT n)
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    my_wchar_t* pEnd = dest + Length(dest);
    for (UINT i = 0; i < n; ++i)
    {
        pEnd[i] = src[i];
        if (src[i] == 0)
            break;
    }
    return dest;
}

my_wchar_t* my_wcschr(const my_wchar_t* src, my_wchar_t ch)
{
    if (src == nullptr)
        return nullptr;
    for (const my_wchar_t* p = src; *p != 0; ++p)
    {
        if (*p == ch)
            return const_cast<my_wchar_t*>(p); // the C library's contract: a pointer into src
    }
    return nullptr;
}

my_wchar_t* my_wcsrchr(const my_wchar_t* src, my_wchar_t ch)
{
    if (src == nullptr)
        return nullptr;
    const my_wchar_t* pLast = nullptr;
    for (const my_wchar_t* p = src; *p != 0; ++p)
    {
        if (*p == ch)
            pLast = p;
    }
    return const_cast<my_wchar_t*>(pLast);
}

my_wchar_t* my_wcsstr(const my_wchar_t* str1, const my_wchar_t* str2)
{
    return FindSubstring(str1, str2);
}

int my_wcscmp(const my_wchar_t* str1, const my_wchar_t* str2)
{
    return Compare(str1, str2, kUnbounded, WideValue, WideValue);
}

int my_wcsncmp(const my_wchar_t* str1, const my_wchar_t* str2, UINT n)
{
    return Compare(str1, str2, n, WideValue, WideValue);
}

int my_wcsicmp(const my_wchar_t* str1, const my_wchar_t* str2)
{
    return Compare(str1, str2, kUnbounded, WideFolded, WideFolded);
}

int my_wcsnicmp(const my_wchar_t* str1, const my_wchar_t* str2, UINT n)
{
    return Compare(str1, str2, n, WideFolded, WideFolded);
}

int my_wcscscmp(const my_wchar_t* str1, const char* str2)
{
    return Compare(str1, str2, kUnbounded, WideValue, NarrowSigned);
}

my_wchar_t* my_wcsrev(my_wchar_t* str)
{
    return Reverse(str);
}

my_wchar_t* my_wcslwr(my_wchar_t* str)
{
    return MapInPlace(str, ToLower<my_wchar_t>);
}

my_wchar_t* my_wcsupr(my_wchar_t* str)
{
    return MapInPlace(str, ToUpper<my_wchar_t>);
}

my_wchar_t* my_wcsset(my_wchar_t* str, my_wchar_t ch)
{
    return my_wcsnset(str, ch, UINT32_MAX);
}

my_wchar_t* my_wcsnset(my_wchar_t* str, my_wchar_t ch, UINT n)
{
    if (str == nullptr)
        return nullptr;
    for (UINT i = 0; i < n && str[i] != 0; ++i)
        str[i] = ch;
    return str;
}

// ------------------------------------------------------------- wide memory

my_wchar_t* my_wmemchr(const my_wchar_t* str, my_wchar_t ch, UINT n)
{
    if (str == nullptr)
        return nullptr;
    const my_wchar_t* pEnd = str + n;
    const my_wchar_t* pFound = std::find(str, pEnd, ch);
    return pFound == pEnd ? nullptr : const_cast<my_wchar_t*>(pFound);
}

int my_wmemcmp(const my_wchar_t* str1, const my_wchar_t* str2, UINT n)
{
    if (str1 == nullptr || str2 == nullptr)
        return 1;
    const auto pair = std::mismatch(str1, str1 + n, str2);
    if (pair.first == str1 + n)
        return 0;
    return *pair.first < *pair.second ? -1 : 1;
}

my_wchar_t* my_wmemcpy(my_wchar_t* dest, const my_wchar_t* src, UINT n)
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    for (UINT i = 0; i < n; ++i)
        dest[i] = src[i];
    return dest;
}

my_wchar_t* my_wmemmove(my_wchar_t* dest, const my_wchar_t* src, UINT n)
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    // Addresses compared as integers: the two ranges may be unrelated objects.
    const auto uDest = reinterpret_cast<std::uintptr_t>(dest);
    const auto uSrc = reinterpret_cast<std::uintptr_t>(src);
    const bool bSrcBelowAndOverlapping =
        uSrc < uDest && uDest - uSrc < static_cast<std::size_t>(n) * sizeof(my_wchar_t);
    if (!bSrcBelowAndOverlapping)
        return my_wmemcpy(dest, src, n);
    // A forward copy would overwrite source characters before reading them.
    for (UINT i = n; i-- > 0;)
        dest[i] = src[i];
    return dest;
}

my_wchar_t* my_wmemset(my_wchar_t* str, my_wchar_t ch, UINT n)
{
    if (str == nullptr)
        return nullptr;
    std::fill(str, str + n, ch);
    return str;
}

// ------------------------------------------------------------- conversions

char* CopyWSZToSZ(char* dest, const my_wchar_t* src)
{
    return CopyConverted(dest, src, WideToNarrow);
}

my_wchar_t* CopySZToWSZ(my_wchar_t* dest, const char* src)
{
    return CopyConverted(dest, src, NarrowToWide);
}

char* CatWSZToSZ(char* dest, const my_wchar_t* src)
{
    return AppendConverted(dest, src, WideToNarrow);
}

my_wchar_t* CatSZToWSZ(my_wchar_t* dest, const char* src)
{
    return AppendConverted(dest, src, NarrowToWide);
}

// ---------------------------------------------------------- narrow strings

UINT my_strlen(const char* str)
{
    return str == nullptr ? 0 : static_cast<UINT>(Length(str));
}

char* My_StrLwr(char* str)
{
    return MapInPlace(str, ToLower<char>);
}

char* My_StrUpr(char* str)
{
    return MapInPlace(str, ToUpper<char>);
}

int my_stricmp(const char* str1, const char* str2)
{
    return Compare(str1, str2, kUnbounded, NarrowFolded, NarrowFolded);
}

int my_strnicmp(const char* str1, const char* str2, UINT n)
{
    return Compare(str1, str2, n, NarrowFolded, NarrowFolded);
}

char* my_strstr(const char* str1, const char* str2)
{
    return FindSubstring(str1, str2);
}

char* my_strrev(char* str)
{
    return Reverse(str);
}
