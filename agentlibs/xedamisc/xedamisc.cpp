#include "xedamisc.h"

#include <sys/stat.h>

#include <cstring>

namespace
{
const char kConfigDir[] = "/usr/lib/Zelvano/ClientAgent/config/";
}

extern "C" BOOLEAN GetClientAgentConfigDir(char* pszBuffer, unsigned int uiSize)
{
    struct stat st;
    if (pszBuffer == nullptr || uiSize < sizeof(kConfigDir))
        return FALSE;
    if (stat(kConfigDir, &st) != 0 || !S_ISDIR(st.st_mode))
        return FALSE;
    std::memcpy(pszBuffer, kConfigDir, sizeof(kConfigDir));
    return TRUE;
}
