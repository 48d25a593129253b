// The INI readers on a fuzzed file, with the sections and keys the system
// reads, and the line helpers on the raw bytes. A value handed out fits its
// buffer and holds no LF. (A CR inside a line is content: the string reader
// cuts only at the line's last one, and the section map splits at '='.)
#include <cstring>
#include <map>

#include "fuzz.h"
#include "inifun.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string raw(reinterpret_cast<const char*>(pData), nSize);
    Trim(fuzz::Exact(raw).get());
    GetSectionName(fuzz::Exact(raw).get());
    CompareKey(fuzz::Exact(raw).get(), "type");
    const char kFile[] = "/tmp/fuzz.ini";
    FUZZ_CHECK(tk::Write(kFile, raw));
    for (const char* pcszSection : {"DATA_FOR_UPGRADE", "SSL", "service_pack_linux", "S"})
    {
        for (const char* pcszKey :
             {"type", "SSL_VERIFY_CERT", "SSL_CERT_STORE_PATH", "file_64", "k"})
        {
            char szValue[16];
            const DWORD dwLength =
                GetPrivateProfileString(pcszSection, pcszKey, "-", szValue, sizeof(szValue), kFile);
            // The length of a value found; 0 when the default was taken.
            FUZZ_CHECK((dwLength == 0 || dwLength == std::strlen(szValue)) &&
                       std::strlen(szValue) < sizeof(szValue) && !std::strchr(szValue, '\n'));
            DWORD dwCode = 0;
            GetPrivateProfileInt(pcszSection, pcszKey, 7, kFile, &dwCode);
        }
        std::map<std::string, std::string> entries;
        FUZZ_CHECK(ReadIniFileSectionIntoMap(pcszSection, entries, kFile) == 0);
        for (const auto& [key, value] : entries)
            FUZZ_CHECK((key + value).find('\n') == std::string::npos);
    }
    return 0;
}
