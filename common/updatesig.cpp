#include "updatesig.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "handles.h"
#include "log.h"
#include "safefs.h"

const char* const g_szUpdateKeysDir = "/usr/lib/Zelvano/updatekeys/";

void PkeyFree::operator()(evp_pkey_st* pKey) const
{
    EVP_PKEY_free(pKey);
}

void MdCtxFree::operator()(evp_md_ctx_st* pContext) const
{
    EVP_MD_CTX_free(pContext);
}

namespace
{
const char kLabel[] = "UpdateKeys";
const std::size_t kReadChunk = 64 * 1024;

typedef std::pair<std::string, UniquePkey> TRUSTED_KEY; // file name, key

enum READ_RESULT
{
    READ_WHOLE,
    READ_TOO_LONG,
    READ_FAILED,
};

ssize_t ReadSome(int fd, unsigned char* puch, std::size_t nSize)
{
    ssize_t nRead;
    do
        nRead = read(fd, puch, nSize);
    while (nRead < 0 && errno == EINTR);
    return nRead;
}

// The whole file, when it holds at most nMax bytes.
READ_RESULT ReadBounded(const char* pcszPath, std::size_t nMax, std::vector<unsigned char>& bytes)
{
    UniqueFd fd(open(pcszPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.IsOpen())
        return READ_FAILED;
    bytes.resize(nMax + 1);
    std::size_t nHave = 0;
    for (ssize_t nRead = 1; nRead > 0 && nHave < bytes.size(); nHave += static_cast<size_t>(nRead))
    {
        nRead = ReadSome(fd.Get(), bytes.data() + nHave, bytes.size() - nHave);
        if (nRead < 0)
            return READ_FAILED;
    }
    if (nHave > nMax)
        return READ_TOO_LONG;
    bytes.resize(nHave);
    return READ_WHOLE;
}

bool IsPemName(const char* pcszName)
{
    const std::size_t nLength = std::strlen(pcszName);
    return nLength > 4 && std::strcmp(pcszName + nLength - 4, ".pem") == 0;
}

bool TrustedPath(const std::string& strPath, TRUST_KIND eKind, const char* pcszWhat)
{
    const TRUST_RESULT trust = CheckRootOnly(strPath.c_str(), eKind);
    if (trust.eFault == TRUST_OK)
        return true;
    RP_TRACE_ERROR(kLabel, "%s: %s: %s", pcszWhat, trust.strAt.c_str(),
                   TrustFaultText(trust.eFault));
    return false;
}

UniquePkey ReadEd25519Key(const std::string& strPath)
{
    UniqueFd fd(open(strPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFile fp(fd.IsOpen() ? fdopen(fd.Get(), "r") : nullptr);
    if (!fp)
        return nullptr;
    (void)fd.Release(); // the stream owns it now
    UniquePkey pKey(PEM_read_PUBKEY(fp.get(), nullptr, nullptr, nullptr));
    if (!pKey || EVP_PKEY_id(pKey.get()) != EVP_PKEY_ED25519)
        return nullptr;
    return pKey;
}

// The keys this machine trusts, in the order of their file names.
std::vector<TRUSTED_KEY> TrustedKeys()
{
    std::vector<TRUSTED_KEY> keys;
    if (!TrustedPath(g_szUpdateKeysDir, TRUST_FOLDER, "keys folder not trusted"))
        return keys;
    std::vector<std::string> names;
    UniqueDir pDir(opendir(g_szUpdateKeysDir));
    for (const dirent* pEntry = pDir ? readdir(pDir.get()) : nullptr; pEntry != nullptr;
         pEntry = readdir(pDir.get()))
    {
        if (IsPemName(pEntry->d_name))
            names.emplace_back(pEntry->d_name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
    {
        const std::string strPath = g_szUpdateKeysDir + name;
        if (!TrustedPath(strPath, TRUST_FILE, "key ignored"))
            continue;
        UniquePkey pKey = ReadEd25519Key(strPath);
        if (pKey)
            keys.emplace_back(name, std::move(pKey));
        else
            RP_TRACE_ERROR(kLabel, "key ignored: %s: not an Ed25519 public key", strPath.c_str());
    }
    return keys;
}

bool Verifies(EVP_PKEY* pKey, const std::vector<unsigned char>& signature,
              const std::vector<unsigned char>& message)
{
    UniqueMdCtx pContext(EVP_MD_CTX_new());
    return pContext && EVP_DigestVerifyInit(pContext.get(), nullptr, nullptr, nullptr, pKey) == 1 &&
           EVP_DigestVerify(pContext.get(), signature.data(), signature.size(), message.data(),
                            message.size()) == 1;
}
} // namespace

bool SignaturesRequired()
{
    struct stat st;
    return lstat(g_szUpdateKeysDir, &st) == 0 || errno != ENOENT;
}

SIGNATURE_CHECK VerifyManifestSignature(const char* pcszManifest, const char* pcszSignature,
                                        std::string& strKeyFile)
{
    const std::vector<TRUSTED_KEY> keys = TrustedKeys();
    if (keys.empty())
        return SIGNATURE_NO_KEY;
    std::vector<unsigned char> signature, message;
    const READ_RESULT eSignature = ReadBounded(pcszSignature, kMaxSignatureBytes, signature);
    if (eSignature == READ_TOO_LONG)
        return SIGNATURE_TOO_LONG;
    if (eSignature != READ_WHOLE ||
        ReadBounded(pcszManifest, kMaxManifestBytes, message) != READ_WHOLE)
        return SIGNATURE_NOT_VALID;
    for (const TRUSTED_KEY& key : keys)
    {
        if (Verifies(key.second.get(), signature, message))
        {
            strKeyFile = key.first;
            return SIGNATURE_VERIFIED;
        }
    }
    return SIGNATURE_NOT_VALID;
}

bool Sha256OfFile(const char* pcszPath, char (&szHex)[65])
{
    UniqueFd fd(open(pcszPath, O_RDONLY | O_CLOEXEC));
    UniqueMdCtx pContext(EVP_MD_CTX_new());
    if (!fd.IsOpen() || !pContext || EVP_DigestInit_ex(pContext.get(), EVP_sha256(), nullptr) != 1)
        return false;
    std::vector<unsigned char> chunk(kReadChunk);
    for (;;)
    {
        const ssize_t nRead = ReadSome(fd.Get(), chunk.data(), chunk.size());
        if (nRead < 0)
            return false;
        if (nRead == 0)
            break;
        if (EVP_DigestUpdate(pContext.get(), chunk.data(), static_cast<size_t>(nRead)) != 1)
            return false;
    }
    unsigned char uchDigest[EVP_MAX_MD_SIZE];
    unsigned int uiLength = 0;
    if (EVP_DigestFinal_ex(pContext.get(), uchDigest, &uiLength) != 1 || uiLength != 32)
        return false;
    for (unsigned int i = 0; i < uiLength; ++i)
        std::snprintf(szHex + 2 * i, 3, "%02x", static_cast<unsigned int>(uchDigest[i]));
    return true;
}
