#include "inifun.h"

#include <cctype>
#include <cstring>

namespace
{
bool IsBlank(char ch)
{
    // isspace on a plain char is undefined for bytes above 0x7F.
    return std::isspace(static_cast<unsigned char>(ch)) != 0;
}
} // namespace

char* Trim(char* pszString)
{
    if (pszString == nullptr)
        return nullptr;
    // Leading blanks are overwritten as well as skipped, so a caller that kept
    // the start of the buffer sees an empty string there.
    while (IsBlank(*pszString))
        *pszString++ = '\0';
    if (*pszString == '\0')
        return pszString;
    char* pszLast = pszString + std::strlen(pszString) - 1;
    while (IsBlank(*pszLast))
        --pszLast;
    pszLast[1] = '\0';
    return pszString;
}
