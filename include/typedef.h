// Windows-style scalar types shared by the agent's sources. The agent's code
// was written against the Windows interface; these keep its names and widths
// on x86-64 Linux (DWORD and ULONG are 32-bit everywhere, not `long`).
#pragma once

#include <cstdint>

typedef std::uint8_t BOOLEAN;
typedef std::uint8_t BYTE;
typedef std::int32_t BOOL;
typedef std::int32_t INT;
typedef std::int16_t SHORT;
typedef std::uint16_t WORD;
typedef std::uint16_t USHORT;
typedef std::uint32_t DWORD;
typedef std::uint32_t ULONG;
typedef std::uint32_t UINT;
typedef std::int32_t LONG;
typedef char CHAR;
typedef char TCHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;

// The library's own 16-bit wide character (the platform's wchar_t is 32-bit).
typedef std::uint16_t my_wchar_t;
typedef my_wchar_t MY_WCHAR;
typedef my_wchar_t* LPWSTR;
typedef const my_wchar_t* LPCWSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
