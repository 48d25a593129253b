// The proxy options record as the agent may have left it, read by
// ReadProxySettings, and the handle setup it feeds, without a transfer.
#include <cstring>

#include "fuzz.h"
#include "kvinet.h"
#include "kvinstaller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FUZZ_CHECK(tk::Write("/usr/lib/Zelvano/Zelvano/kvinet.opt",
                         std::string(reinterpret_cast<const char*>(pData), nSize)));
    INETSET settings;
    std::memset(&settings, 'x', sizeof(settings));
    if (!ReadProxySettings(&settings))
        return 0;
    const KVINETCONFIG& config = settings.kvInetConfig;
    for (const char* pcszField : {config.szHostName, config.szUserName, config.szPassword})
        FUZZ_CHECK(strnlen(pcszField, 260) < 260);
    CKVInet inet;
    if (inet.SPInitKVInet("http://127.0.0.1:9/x", config.szHostName, config.ushPort,
                          config.szUserName, config.szPassword, HTTP_REQ_VERB_GET,
                          config.shUseProxy, config.shConnType, settings.shUseAuthentication))
        inet.DeInitKVInet();
    return 0;
}
