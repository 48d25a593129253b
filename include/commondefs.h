// Sizes and small helpers shared by the library and the installer.
#pragma once

#include <cstddef>
#include <cstring>

#include "typedef.h"

// Every path, URL and file name lives in a 260-byte buffer: 259 characters
// and the terminator. Shell commands, formatted messages and configuration
// values get 1024 bytes.
constexpr std::size_t MAX_PATH = 260;
constexpr std::size_t MAX_CMD_LEN = 1024;

// Appends pcszText to the terminated string in pszBuffer (nSize bytes in
// all). Returns false, leaving the buffer unchanged, when the result would
// not fit with its terminator: callers fail instead of writing past a buffer
// or silently truncating a path.
inline bool AppendBounded(char* pszBuffer, std::size_t nSize, const char* pcszText)
{
    if (pszBuffer == nullptr || pcszText == nullptr || nSize == 0)
        return false;
    const std::size_t nUsed = strnlen(pszBuffer, nSize);
    const std::size_t nAdd = std::strlen(pcszText);
    if (nUsed >= nSize || nAdd >= nSize - nUsed)
        return false;
    std::memcpy(pszBuffer + nUsed, pcszText, nAdd + 1);
    return true;
}

// Copies pcszText into pszBuffer when it fits with its terminator; otherwise
// returns false and leaves an empty string (when nSize > 0).
inline bool CopyBounded(char* pszBuffer, std::size_t nSize, const char* pcszText)
{
    if (pszBuffer == nullptr || nSize == 0)
        return false;
    pszBuffer[0] = '\0';
    return AppendBounded(pszBuffer, nSize, pcszText);
}

template <std::size_t N>
inline bool AppendBounded(char (&szBuffer)[N], const char* pcszText)
{
    return AppendBounded(szBuffer, N, pcszText);
}

template <std::size_t N>
inline bool CopyBounded(char (&szBuffer)[N], const char* pcszText)
{
    return CopyBounded(szBuffer, N, pcszText);
}
