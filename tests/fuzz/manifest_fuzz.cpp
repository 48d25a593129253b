// The three manifest readers on a fuzzed manifest. A record they accept has
// its name terminated within 259 characters and its hash within 32.
#include <cstring>

#include "fuzz.h"
#include "xedasvpk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const char kFile[] = "/tmp/fuzz_manifest.ini";
    FUZZ_CHECK(tk::Write(kFile, std::string(reinterpret_cast<const char*>(pData), nSize)));
    DWORD dwCode = 0;
    XEDA_UPGRADE_INFO record;
    const auto check = [&record](const char* pcszName) {
        FUZZ_CHECK(strnlen(pcszName, MAX_PATH) < MAX_PATH &&
                   strnlen(record.XedaSvPkInfo.szMD5CheckSumString, 33) <= 32);
    };
    std::memset(&record, 'x', sizeof(record)); // no terminator unless a reader writes one
    if (GetServicePackInfo(kFile, "file_64", &record.XedaSvPkInfo, &dwCode))
        check(record.XedaSvPkInfo.szServicePackName);
    for (auto pfnRead : {GetMinorUpgradePackInfo, GetMinorUpgradeCAPackInfo})
    {
        std::memset(&record, 'x', sizeof(record));
        if (pfnRead(kFile, "file_64", &record, &dwCode))
            check(record.szAppName);
    }
    return 0;
}
