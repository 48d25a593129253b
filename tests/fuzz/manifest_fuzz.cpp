// The three manifest readers on a fuzzed manifest. A record they accept has
// its name terminated within 259 characters and its hash within 32. The
// same manifest, with the input past its first zero byte as its signature,
// never verifies with a key the input cannot know.
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>

#include "fuzz.h"
#include "handles.h"
#include "updatesig.h"
#include "xedasvpk.h"

namespace
{
const char kFile[] = "/tmp/fuzz_manifest.ini", kSignature[] = "/tmp/fuzz_manifest.ini.sig";

// A fresh Ed25519 key of this process, its public half the one trusted key;
// a manifest it signed does verify, so the property below is not vacuous.
bool TrustAFreshKey()
{
    const std::string path = std::string(g_szUpdateKeysDir) + "fuzz.pem", manifest = "[s]\nk=v\n";
    UniquePkey pKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    UniqueFile fp(pKey && tk::Write(path, "") ? std::fopen(path.c_str(), "w") : nullptr);
    if (!fp || PEM_write_PUBKEY(fp.get(), pKey.get()) != 1 || std::fclose(fp.release()) != 0)
        return false;
    UniqueMdCtx pContext(EVP_MD_CTX_new());
    unsigned char signature[64];
    size_t nLength = sizeof(signature);
    std::string strKey;
    return EVP_DigestSignInit(pContext.get(), nullptr, nullptr, nullptr, pKey.get()) == 1 &&
           EVP_DigestSign(pContext.get(), signature, &nLength,
                          reinterpret_cast<const unsigned char*>(manifest.data()),
                          manifest.size()) == 1 &&
           tk::Write(kFile, manifest) &&
           tk::Write(kSignature, std::string(reinterpret_cast<char*>(signature), nLength)) &&
           VerifyManifestSignature(kFile, kSignature, strKey) == SIGNATURE_VERIFIED;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const bool bTrusted = TrustAFreshKey();
    FUZZ_CHECK(bTrusted);
    FUZZ_CHECK(tk::Write(kFile, std::string(reinterpret_cast<const char*>(pData), nSize)) &&
               tk::Write(kSignature, fuzz::Pieces(pData, nSize, 2)[1]));
    std::string strKey;
    FUZZ_CHECK(VerifyManifestSignature(kFile, kSignature, strKey) != SIGNATURE_VERIFIED);
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
