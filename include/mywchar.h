// String functions for the library's 16-bit wide character my_wchar_t (the
// platform's wchar_t is 32-bit), conversions between 16-bit and 8-bit
// strings, and a few 8-bit string functions.
//
// All work in place on caller-owned zero-terminated buffers: none allocates,
// checks capacity or sets an error. A null argument returns at once: 0 for
// lengths, null for string results, 1 for comparisons. Comparisons return
// only -1, 0 or 1; when one string ends first the longer one is greater.
// Case-insensitive comparisons fold every character by clearing bit 5
// (letters or not, so '[' equals '{'); case conversion touches only ASCII
// letters. Narrow bytes meet wide characters sign-extended (0xE9 becomes
// 0xFFE9); wide characters become narrow by their low 8 bits.
#pragma once

#include "typedef.h"

UINT my_wcslen(const my_wchar_t* str);
my_wchar_t* my_wcscpy(my_wchar_t* dest, const my_wchar_t* src);
my_wchar_t* my_wcscat(my_wchar_t* dest, const my_wchar_t* src);
// Copies up to n characters, stopping after a terminator; writes a
// terminator at dest[n] when none was among them (n + 1 elements). No padding.
my_wchar_t* my_wcsncpy(my_wchar_t* dest, const my_wchar_t* src, UINT n);
// Appends until a terminator is copied or n characters are appended; in the
// second case no terminator is written.
my_wchar_t* my_wcsncat(my_wchar_t* dest, const my_wchar_t* src, UINT n);
my_wchar_t* my_wcschr(const my_wchar_t* src, my_wchar_t ch);
my_wchar_t* my_wcsrchr(const my_wchar_t* src, my_wchar_t ch);
my_wchar_t* my_wcsstr(const my_wchar_t* str1, const my_wchar_t* str2);
int my_wcscmp(const my_wchar_t* str1, const my_wchar_t* str2);
int my_wcsncmp(const my_wchar_t* str1, const my_wchar_t* str2, UINT n);
int my_wcsicmp(const my_wchar_t* str1, const my_wchar_t* str2);
int my_wcsnicmp(const my_wchar_t* str1, const my_wchar_t* str2, UINT n);
// A wide with a narrow string; narrow bytes from 0x80 up are negative and so
// below, and never equal to, any wide character.
int my_wcscscmp(const my_wchar_t* str1, const char* str2);
my_wchar_t* my_wcsrev(my_wchar_t* str);
my_wchar_t* my_wcslwr(my_wchar_t* str);
my_wchar_t* my_wcsupr(my_wchar_t* str);
my_wchar_t* my_wcsset(my_wchar_t* str, my_wchar_t ch);
my_wchar_t* my_wcsnset(my_wchar_t* str, my_wchar_t ch, UINT n);

// Wide memory: n counts characters; no terminator is looked at.
my_wchar_t* my_wmemchr(const my_wchar_t* str, my_wchar_t ch, UINT n);
int my_wmemcmp(const my_wchar_t* str1, const my_wchar_t* str2, UINT n);
my_wchar_t* my_wmemcpy(my_wchar_t* dest, const my_wchar_t* src, UINT n);
// Correct for overlapping ranges.
my_wchar_t* my_wmemmove(my_wchar_t* dest, const my_wchar_t* src, UINT n);
my_wchar_t* my_wmemset(my_wchar_t* str, my_wchar_t ch, UINT n);

// Conversions; the destination must be large enough.
char* CopyWSZToSZ(char* dest, const my_wchar_t* src);
my_wchar_t* CopySZToWSZ(my_wchar_t* dest, const char* src);
char* CatWSZToSZ(char* dest, const my_wchar_t* src);
my_wchar_t* CatSZToWSZ(my_wchar_t* dest, const char* src);

// Narrow strings.
UINT my_strlen(const char* str);
char* My_StrLwr(char* str);
char* My_StrUpr(char* str);
int my_stricmp(const char* str1, const char* str2);
int my_strnicmp(const char* str1, const char* str2, UINT n);
char* my_strstr(const char* str1, const char* str2);
char* my_strrev(char* str);
