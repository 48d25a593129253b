// One INI read and one CRC through the installed headers and library.
#include <cstdio>

#include "crc32.h"
#include "inifun.h"

int main(int argc, char* argv[])
{
    char szValue[16] = "";
    DWORD dwCrc = 0;
    CKVCrc32 crc;
    if (argc < 2 || GetPrivateProfileString("S", "k", "", szValue, sizeof(szValue), argv[1]) == 0 ||
        crc.GetStringCrc32("123456789", &dwCrc) != 1)
        return 1;
    std::printf("%s %08X\n", szValue, static_cast<unsigned>(dwCrc));
    return 0;
}
