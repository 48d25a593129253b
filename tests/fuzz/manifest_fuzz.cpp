// The three manifest readers on a fuzzed manifest. A record they accept has
// its name terminated within 259 characters and its hash within 32.
#include <cstring>

#include "fuzz.h"
#include "xedasvpk.h"

namespace
{
const char kFile[] = "/tmp/fuzz_manifest.ini";

void CheckRecord(const XEDA_SVPK_INFO& info, const char* pcszName)
{
    FUZZ_CHECK(strnlen(pcszName, MAX_PATH) < MAX_PATH);
    FUZZ_CHECK(strnlen(info.szMD5CheckSumString, sizeof(info.szMD5CheckSumString)) <= 32);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FUZZ_CHECK(fuzz::WriteFile(kFile, std::string(reinterpret_cast<const char*>(pData), nSize)));
    DWORD dwCode = 0;
    XEDA_SVPK_INFO info;
    std::memset(&info, 'x', sizeof(info)); // no terminator unless a reader writes one
    if (GetServicePackInfo(kFile, "file_64", &info, &dwCode))
        CheckRecord(info, info.szServicePackName);
    for (auto pfnRead : {GetMinorUpgradePackInfo, GetMinorUpgradeCAPackInfo})
    {
        XEDA_UPGRADE_INFO record;
        std::memset(&record, 'x', sizeof(record));
        if (pfnRead(kFile, "file_64", &record, &dwCode))
            CheckRecord(record.XedaSvPkInfo, record.szAppName);
    }
    return 0;
}
