#include "kvinet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>

#include "commondefs.h"
#include "handles.h"
#include "inifun.h"
#include "kvstats.h"
#include "log.h"
#include "safefs.h"
#include "xedamisc.h"

namespace
{
const char kSslConfigFile[] = "sslConfig.ini";
const char kSslSection[] = "SSL";
const char kDefaultCaStore[] = "/etc/ssl/certs/ca-certificates.crt";
const char kPutBodyFile[] = "/tmp/curlPut.req";
const char kExchangeLabel[] = "SendRequestAndGetResponse"; // its steps trace under its name
const char kJsonContentHeader[] = "Content-Type: application/json; charset=utf-8";
const long kExchangeTimeoutSeconds = 20;
const int kMaxAttempts = 10;
const size_t kConfigBufferSize = 1024;
const long kDownloadBufferSize = 512L * 1024L;

// Typed setter: each option travels exactly as the type libcurl reads for
// it (long, pointer or curl_off_t, never an int), and a refused option is
// traced instead of silently leaving libcurl's default in place.
template <typename T>
void SetOpt(CURL* curl, CURLoption eOption, T value)
{
    static_assert(std::is_same<T, long>::value || std::is_same<T, curl_off_t>::value ||
                      std::is_pointer<T>::value,
                  "libcurl reads long, curl_off_t or pointer option values");
    const CURLcode res = curl_easy_setopt(curl, eOption, value);
    if (res != CURLE_OK)
        RP_TRACE_ERROR("curl_easy_setopt", "option %d refused (%d::%s).", static_cast<int>(eOption),
                       static_cast<int>(res), curl_easy_strerror(res));
}

// The writers take the body as void*, as the library has always declared them.
typedef size_t (*WriterFunction)(void*, size_t, size_t, void*);

void SetWriter(CURL* curl, WriterFunction pfnWriter, void* pvTarget)
{
    SetOpt(curl, CURLOPT_WRITEFUNCTION, pfnWriter);
    SetOpt(curl, CURLOPT_WRITEDATA, pvTarget);
}

long ProxyTypeFor(SHORT connectionType)
{
    switch (connectionType)
    {
    case 1:
        return CURLPROXY_SOCKS4;
    case 2:
        return CURLPROXY_SOCKS5;
    default:
        return CURLPROXY_HTTP;
    }
}

// Certificate failures are answered specially by both exchanges. libcurl
// before 7.62 reported an untrusted peer as 51; since then as 60, which
// CURLE_SSL_CACERT now also names.
bool IsCertificateError(CURLcode res)
{
    return res == CURLE_OBSOLETE51 || res == CURLE_SSL_CERTPROBLEM ||
           res == CURLE_PEER_FAILED_VERIFICATION;
}

// atoi's reading of a configuration value, without atoi's undefined
// behaviour on overflow (an out-of-range number is simply not 1).
long DecimalValue(const char* pcszText)
{
    errno = 0;
    const long lValue = std::strtol(pcszText, nullptr, 10);
    return errno == ERANGE ? LONG_MIN : lValue;
}

const char* OrEmpty(const char* pcszText)
{
    return pcszText != nullptr ? pcszText : "";
}
const char* OrNullText(const char* pcszText)
{
    return pcszText != nullptr ? pcszText : "(null)";
}

struct SlistFree
{
    void operator()(curl_slist* pList) const { curl_slist_free_all(pList); }
};
typedef std::unique_ptr<curl_slist, SlistFree> SlistPtr;

// Closes the download destination if the file writer opened it, and
// removes it unless the attempt is kept: a failed attempt leaves no partial
// file, and removes only a file it created itself. Close() reports whether
// the last buffered bytes reached the file.
class DestinationGuard
{
public:
    explicit DestinationGuard(FtpFile& file) : m_file(file) {}
    ~DestinationGuard()
    {
        const bool bCreated = Created();
        (void)Close();
        if (bCreated && !m_bKept)
            (void)unlink(m_file.filename); // the file is ours; gone already is as good
    }
    DestinationGuard(const DestinationGuard&) = delete;
    DestinationGuard& operator=(const DestinationGuard&) = delete;

    // Whether the writer made the file: only then did this attempt download.
    bool Created() const { return m_bClosed || m_file.stream != nullptr; }
    bool Close()
    {
        if (m_file.stream == nullptr)
            return true;
        const int iResult = std::fclose(m_file.stream);
        m_file.stream = nullptr;
        m_bClosed = true;
        return iResult == 0;
    }
    void Keep() { m_bKept = true; }

private:
    FtpFile& m_file;
    bool m_bClosed = false;
    bool m_bKept = false;
};

// What the download's writer knows besides its file.
struct DOWNLOAD_SINK
{
    FtpFile file;
    CURL* curl;
    uint64_t ullMaxBytes;
    uint64_t ullWritten;
    bool bExceeded;
};

// Only the body of a 200 answer reaches the file (an error page or a
// captive portal's redirect is no download), and never more of it than the
// limit: counted as it is written, since libcurl's own limit only checks a
// length the server announces.
size_t WriteDownload(void* buffer, size_t size, size_t nmemb, void* pvSink)
{
    DOWNLOAD_SINK* pSink = static_cast<DOWNLOAD_SINK*>(pvSink);
    long lStatus = 0;
    if (pSink->file.stream == nullptr &&
        (curl_easy_getinfo(pSink->curl, CURLINFO_RESPONSE_CODE, &lStatus) != CURLE_OK ||
         lStatus != 200))
        return 0; // the status is traced once the transfer has ended
    const size_t nBytes = size * nmemb;
    if (nBytes > pSink->ullMaxBytes - pSink->ullWritten)
    {
        pSink->bExceeded = true;
        return 0;
    }
    pSink->ullWritten += nBytes;
    return WriteMemoryCallback1(buffer, size, nmemb, &pSink->file);
}

// A source that never answers, or stops sending, must not hold the run (and
// every request waiting behind it): such an attempt fails like a refused
// connection, and the next one is tried.
const long kConnectTimeoutSeconds = 60;
const long kLowSpeedBytesPerSecond = 1024;
const long kLowSpeedSeconds = 60;

void SetDownloadBounds(CURL* curl, uint64_t ullMaxBytes)
{
    SetOpt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    SetOpt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
    SetOpt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
    // An announced length over the limit ends the transfer before any byte.
    if (ullMaxBytes <= static_cast<uint64_t>(INT64_MAX))
        SetOpt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(ullMaxBytes));
}

// The PUT body lives in a fixed file for the duration of one call; it is
// removed on every path so no request text is left behind in /tmp. /tmp is
// open to every user: the file is only ever created anew, never through a
// symbolic link, and only the file this call created is removed. A regular
// file of our own by that name is a leftover of a run that died, and goes.
class PutBody
{
public:
    PutBody() = default;
    ~PutBody() { Remove(); }
    PutBody(const PutBody&) = delete;
    PutBody& operator=(const PutBody&) = delete;

    // Writes the text to the file; false when it cannot be created or written.
    bool Write(const std::string& strText)
    {
        int iFd = CreateExclusive();
        if (iFd < 0 && errno == EEXIST && RemoveOwnLeftover())
            iFd = CreateExclusive();
        if (iFd < 0)
            return false;
        m_bCreated = true;
        UniqueFile fp(fdopen(iFd, "w"));
        if (!fp)
        {
            (void)close(iFd);
            return false;
        }
        const bool bWritten = std::fputs(strText.c_str(), fp.get()) >= 0;
        return std::fclose(fp.release()) == 0 && bWritten;
    }
    bool OpenForReading()
    {
        const int iFd = open(kPutBodyFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        m_fp.reset(iFd >= 0 ? fdopen(iFd, "r") : nullptr);
        if (iFd >= 0 && m_fp == nullptr)
            (void)close(iFd);
        return m_fp != nullptr;
    }
    // Every attempt sends the whole body again.
    bool Rewind() { return m_fp == nullptr || std::fseek(m_fp.get(), 0L, SEEK_SET) == 0; }
    FILE* Get() const { return m_fp.get(); }
    void Remove()
    {
        m_fp.reset();
        if (m_bCreated && unlink(kPutBodyFile) != 0 && errno != ENOENT)
            RP_TRACE_ERROR(kExchangeLabel, "%s", "Could not remove /tmp/curlPut.req.");
        m_bCreated = false;
    }

private:
    static int CreateExclusive()
    {
        return open(kPutBodyFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    static bool RemoveOwnLeftover()
    {
        struct stat st;
        return lstat(kPutBodyFile, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
               unlink(kPutBodyFile) == 0;
    }

    UniqueFile m_fp;
    bool m_bCreated = false;
};

// One attempt's response buffer, freed when the attempt ends.
class MemoryChunk
{
public:
    MemoryChunk()
    {
        m_chunk.memory = static_cast<char*>(std::malloc(1));
        m_chunk.size = 0;
        if (m_chunk.memory != nullptr)
            m_chunk.memory[0] = '\0';
    }
    ~MemoryChunk() { std::free(m_chunk.memory); }
    MemoryChunk(const MemoryChunk&) = delete;
    MemoryChunk& operator=(const MemoryChunk&) = delete;

    MemoryStruct* Get() { return &m_chunk; }
    // The response as text: a NUL byte in the body ends it.
    std::string Text() const { return m_chunk.memory != nullptr ? m_chunk.memory : ""; }

private:
    MemoryStruct m_chunk;
};

// Delivers the response of SendRequestAndGetResponse to its file.
BOOLEAN WriteResponseFile(LPCSTR pcszFullFilePath, const std::string& strResponse)
{
    RP_TRACE_INFO(kExchangeLabel, "Writing response to: %s", OrNullText(pcszFullFilePath));
    UniqueFile fp(pcszFullFilePath != nullptr ? std::fopen(pcszFullFilePath, "w+") : nullptr);
    if (!fp)
    {
        RP_TRACE_ERROR(kExchangeLabel, "Error opening file.");
        return FALSE;
    }
    const size_t nWritten = std::fwrite(strResponse.data(), 1, strResponse.size(), fp.get());
    if (nWritten == 0 || std::fclose(fp.release()) != 0)
    {
        RP_TRACE_ERROR(kExchangeLabel, "Error Writing file.");
        return FALSE;
    }
    return TRUE;
}

// ---- The steps of SendRequestAndGetResponse --------------------------------

enum VERB_SETUP
{
    VERB_READY,
    VERB_FAILED,  // the PUT body file could not be had; the handle stays open
    VERB_UNKNOWN, // no verb to send; the handle is released
};

// The options of the verb; POST and PUT carry the request as a JSON body,
// a PUT from its body file.
VERB_SETUP SetVerbOptions(CURL* curl, HTTP_REQ_VERB eVerb, const std::string& strRequest,
                          PutBody& putBody)
{
    switch (eVerb)
    {
    case HTTP_REQ_VERB_POST:
        SetOpt(curl, CURLOPT_POST, 1L);
        SetOpt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(strRequest.size()));
        SetOpt(curl, CURLOPT_POSTFIELDS, strRequest.c_str());
        break;
    case HTTP_REQ_VERB_PUT:
        if (!putBody.Write(strRequest))
        {
            RP_TRACE_ERROR(kExchangeLabel, "Curl PUT fopen write request failed.");
            return VERB_FAILED;
        }
        if (!putBody.OpenForReading())
        {
            RP_TRACE_ERROR(kExchangeLabel, "Curl PUT fopen read request failed.");
            return VERB_FAILED;
        }
        SetOpt(curl, CURLOPT_UPLOAD, 1L);
        SetOpt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(strRequest.size()));
        SetOpt(curl, CURLOPT_READDATA, putBody.Get());
        break;
    case HTTP_REQ_VERB_GET:
        SetOpt(curl, CURLOPT_HTTPGET, 1L);
        return VERB_READY;
    default:
        RP_TRACE_INFO(kExchangeLabel, "Invalid Http verb");
        return VERB_UNKNOWN;
    }
    SetOpt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
    SetOpt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    SetOpt(curl, CURLOPT_CUSTOMREQUEST, eVerb == HTTP_REQ_VERB_PUT ? "PUT" : "POST");
    return VERB_READY;
}

// A GET carries no body, so it gets none of the body headers: announcing a
// chunked body that never comes would leave the server waiting for it.
bool SetBodyHeaders(CURL* curl, bool bBody, SlistPtr& headers)
{
    RP_TRACE_INFO(kExchangeLabel, "Before curl_slist_append.");
    if (!bBody)
        return true;
    headers.reset(curl_slist_append(nullptr, kJsonContentHeader));
    if (!headers)
    {
        RP_TRACE_INFO(kExchangeLabel, "curl_slist_append failed.");
        return false;
    }
    // libcurl appends in place; a failed append only drops that header.
    for (const char* pcszHeader :
         {"Transfer-Encoding: chunked", "Cache-Control: no-cache", "Connection: Keep-Alive"})
        (void)curl_slist_append(headers.get(), pcszHeader);
    SetOpt(curl, CURLOPT_HTTPHEADER, headers.get());
    return true;
}

enum ATTEMPT_RESULT
{
    ATTEMPT_ANSWERED, // status 200
    ATTEMPT_REPEAT,   // any other status
    ATTEMPT_FAILED,   // no status to be had: not repeated
};

// One transfer of the whole request. A certificate error over HTTPS still
// counts by its status, which is then 0 and repeated.
ATTEMPT_RESULT RunOneAttempt(CURL* curl, bool bHttps, PutBody& putBody, std::string& strResponse)
{
    if (!putBody.Rewind())
    {
        RP_TRACE_ERROR(kExchangeLabel, "Curl PUT fopen read request failed.");
        return ATTEMPT_FAILED;
    }
    MemoryChunk memchunk;
    SetWriter(curl, WriteMemoryCallback, memchunk.Get());
    RP_TRACE_INFO(kExchangeLabel, "All options set. Before curl_easy_perform.");
    const CURLcode res = curl_easy_perform(curl);
    RP_TRACE_INFO(kExchangeLabel, "After curl_easy_perform.");
    if (res != CURLE_OK)
    {
        RP_TRACE_ERROR(kExchangeLabel, "curl_easy_perform failed (%d::%s).", static_cast<int>(res),
                       curl_easy_strerror(res));
        if (!(IsCertificateError(res) && bHttps))
        {
            RP_TRACE_ERROR(kExchangeLabel, "curl_easy_perform failed.");
            return ATTEMPT_FAILED;
        }
        RP_TRACE_INFO(kExchangeLabel, "Sending Request using Https when error code is INVALID CA.");
    }
    RP_TRACE_INFO(kExchangeLabel, "Before curl_easy_getinfo.");
    long lStatus = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &lStatus) != CURLE_OK)
    {
        RP_TRACE_ERROR(kExchangeLabel, "curl_easy_getinfo(HTTP_QUERY_STATUS_CODE) failed.");
        return ATTEMPT_FAILED;
    }
    RP_TRACE_INFO(kExchangeLabel, "curl_easy_getinfo, Returned status code (%ld).", lStatus);
    strResponse = memchunk.Text();
    if (lStatus != 200)
        return ATTEMPT_REPEAT;
    RP_TRACE_INFO(kExchangeLabel, "Request sent successfully...");
    return ATTEMPT_ANSWERED;
}

struct ATTEMPTS
{
    bool bAnswered;
    int iCount; // the attempts that got an answer other than 200
};

ATTEMPTS RunAttempts(CURL* curl, bool bHttps, PutBody& putBody, std::string& strResponse)
{
    ATTEMPTS attempts = {false, 0};
    while (attempts.iCount < kMaxAttempts)
    {
        const ATTEMPT_RESULT eResult = RunOneAttempt(curl, bHttps, putBody, strResponse);
        if (eResult != ATTEMPT_REPEAT)
        {
            attempts.bAnswered = eResult == ATTEMPT_ANSWERED;
            break;
        }
        ++attempts.iCount;
    }
    return attempts;
}

// Hands the response out: to the file in mode 1, else as a copy the caller
// frees.
BOOLEAN DeliverResponse(const std::string& strResponse, BOOLEAN boWriteResponseFile,
                        LPCSTR pcszFullFilePath, CHAR** ppszResponse, DWORD& rdwcbResponse)
{
    try
    {
        if (boWriteResponseFile == 1)
        {
            if (!WriteResponseFile(pcszFullFilePath, strResponse))
                return FALSE;
        }
        else
        {
            *ppszResponse = strndup(strResponse.c_str(), strResponse.size());
        }
        CKVStat* pStat = CKVStat::GetSingletonInst();
        if (pStat->mIsStatEnable && !pStat->WriteRespStats(strResponse.c_str()))
            RP_TRACE_ERROR(kExchangeLabel, "Could not write request stats");
        rdwcbResponse = static_cast<DWORD>(strResponse.size());
        RP_TRACE_INFO(kExchangeLabel, "Writing response.");
        if (boWriteResponseFile == 0 && *ppszResponse != nullptr)
            RP_TRACE_INFO(kExchangeLabel, "%s", *ppszResponse);
        if (rdwcbResponse == 0 && *ppszResponse == nullptr)
            return FALSE;
    }
    catch (...)
    {
        RP_TRACE_ERROR(kExchangeLabel, "Unknown Exception while getting response.");
        return FALSE;
    }
    RP_TRACE_INFO(kExchangeLabel, "Exit.");
    return TRUE;
}
} // namespace

size_t WriteMemoryCallback1(void* buffer, size_t size, size_t nmemb, void* stream)
{
    FtpFile* pOut = static_cast<FtpFile*>(stream);
    // Opened only now, so a transfer without body data creates nothing. The
    // destination is made as a new file of ours: whatever stood there (a
    // link, a file someone keeps open) goes first and is never written into.
    if (pOut->stream == nullptr)
    {
        UniqueFd fd(CreateNewFile(pOut->filename, 0644));
        pOut->stream = fd.IsOpen() ? fdopen(fd.Get(), "wb") : nullptr;
        if (pOut->stream == nullptr)
        {
            RP_TRACE_ERROR("WriteMemoryCallback1", "cannot create %s: %s", pOut->filename,
                           std::strerror(errno));
            return static_cast<size_t>(-1);
        }
        (void)fd.Release(); // the stream owns it now
        // Each chunk goes straight to the file in one write: no copy through
        // a stdio buffer, and a full disk fails the transfer at once rather
        // than at the final flush.
        (void)setvbuf(pOut->stream, nullptr, _IONBF, 0); // failure keeps stdio's default buffer
    }
    return std::fwrite(buffer, size, nmemb, pOut->stream);
}

size_t WriteMemoryCallback(void* contents, size_t size, size_t nmemb, void* userp)
{
    const size_t realsize = size * nmemb;
    MemoryStruct* pMem = static_cast<MemoryStruct*>(userp);
    char* pNew = static_cast<char*>(std::realloc(pMem->memory, pMem->size + realsize + 1));
    if (pNew == nullptr)
    {
        // The old block stays with the caller, who frees it.
        std::puts("not enough memory (realloc returned NULL)");
        return 0;
    }
    pMem->memory = pNew;
    std::memcpy(pMem->memory + pMem->size, contents, realsize);
    pMem->size += realsize;
    pMem->memory[pMem->size] = '\0';
    return realsize;
}

size_t read_callback(char* ptr, size_t size, size_t nmemb, void* userdata)
{
    return std::fread(ptr, size, nmemb, static_cast<FILE*>(userdata));
}

CKVInet::CKVInet() : m_bIsHTTPS(FALSE), curl(nullptr), m_eHttpReqVerb(HTTP_REQ_VERB_UNDEFINED)
{
    std::memset(m_szUsernameA, 0, sizeof(m_szUsernameA));
    std::memset(m_szPasswordA, 0, sizeof(m_szPasswordA));
}

CKVInet::~CKVInet()
{
    CloseAll();
    // Normally the exchange has released the handle; one that no exchange
    // consumed (an Init without exchange, or invalid exchange arguments)
    // would otherwise leak.
    ReleaseHandle();
}

void CKVInet::ReleaseHandle()
{
    if (curl != nullptr)
        curl_easy_cleanup(curl);
    curl = nullptr;
}

BOOLEAN CKVInet::OpenHandle(const char* pcszLabel, LPCSTR pcszServerA, HTTP_REQ_VERB eReqVerb)
{
    if (pcszServerA == nullptr || pcszServerA[0] == '\0')
    {
        RP_TRACE_ERROR(pcszLabel, "Invalid i/p parameter.");
        return FALSE;
    }
    const bool bKnownVerb = eReqVerb == HTTP_REQ_VERB_GET || eReqVerb == HTTP_REQ_VERB_POST ||
                            eReqVerb == HTTP_REQ_VERB_PUT;
    m_eHttpReqVerb = bKnownVerb ? eReqVerb : HTTP_REQ_VERB_GET;
    // A handle that no exchange consumed is replaced, not leaked.
    ReleaseHandle();
    curl = curl_easy_init();
    // Every transfer is treated as HTTPS: the certificate policy applies
    // whatever the scheme, and is harmless for plain HTTP.
    m_bIsHTTPS = TRUE;
    SetOpt(curl, CURLOPT_URL, pcszServerA);
    return TRUE;
}

void CKVInet::ApplyProxy(LPCSTR pcszProxyServerA, DWORD proxy_port, LPCSTR pcszUsernameA,
                         LPCSTR pcszPasswordA, SHORT useproxy, SHORT connectionType,
                         SHORT useAuthentication)
{
    // Without a proxy of the options file no proxy option is set, so
    // libcurl's defaults apply: http_proxy, https_proxy, all_proxy and
    // no_proxy of the agent's environment, as curl and apt honour them. The
    // options file's proxy is set explicitly and so takes precedence.
    if (useproxy != 1)
        return;
    SetOpt(curl, CURLOPT_PROXY, OrEmpty(pcszProxyServerA));
    SetOpt(curl, CURLOPT_PROXYPORT, static_cast<long>(proxy_port));
    SetOpt(curl, CURLOPT_PROXYTYPE, ProxyTypeFor(connectionType));
    if (useAuthentication != 1)
        return;
    char szUserPwd[kConfigBufferSize] = {0};
    if (!CopyBounded(szUserPwd, OrEmpty(pcszUsernameA)) || !AppendBounded(szUserPwd, ":") ||
        !AppendBounded(szUserPwd, OrEmpty(pcszPasswordA)))
    {
        RP_TRACE_ERROR("SPInitKVInet", "Proxy credentials too long.");
        return;
    }
    SetOpt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
    SetOpt(curl, CURLOPT_PROXYUSERPWD, szUserPwd);
}

BOOLEAN CKVInet::InitKVInet(LPCSTR pcszServerA, LPCSTR /*pcszProxyServerA*/, DWORD /*proxy_port*/,
                            LPCSTR /*pcszUsernameA*/, LPCSTR /*pcszPasswordA*/,
                            HTTP_REQ_VERB eReqVerb)
{
    RP_TRACE_INFO(__func__, "Entry.");
    if (!OpenHandle(__func__, pcszServerA, eReqVerb))
        return FALSE;
    ApplyProxy(nullptr, 0, nullptr, nullptr, 0, 0, 0);
    (void)SetOptions(); // a failure is traced there and leaves libcurl verifying
    RP_TRACE_INFO(__func__, "Exit.");
    return TRUE;
}

BOOLEAN CKVInet::SPInitKVInet(LPCSTR pcszServerA, LPCSTR pcszProxyServerA, DWORD proxy_port,
                              LPCSTR pcszUsernameA, LPCSTR pcszPasswordA, HTTP_REQ_VERB eReqVerb,
                              SHORT useproxy, SHORT connectionType, SHORT useAuthentication)
{
    RP_TRACE_INFO(__func__, "Entry.");
    if (!OpenHandle(__func__, pcszServerA, eReqVerb))
        return FALSE;
    ApplyProxy(pcszProxyServerA, proxy_port, pcszUsernameA, pcszPasswordA, useproxy, connectionType,
               useAuthentication);
    (void)SetOptions(); // a failure is traced there and leaves libcurl verifying
    RP_TRACE_INFO(__func__, "Exit.");
    return TRUE;
}

BOOLEAN CKVInet::SetOptions()
{
    RP_TRACE_INFO(__func__, "Entry.");
    if (m_bIsHTTPS != 1)
    {
        RP_TRACE_INFO(__func__, "m_bIsHTTPS = FALSE");
        return TRUE;
    }
    char szIniPath[kConfigBufferSize] = {0};
    if (!GetClientAgentConfigDir(szIniPath, sizeof(szIniPath)))
    {
        RP_TRACE_ERROR(__func__, "GetClientAgentConfigDir failed");
        return FALSE;
    }
    if (!AppendBounded(szIniPath, kSslConfigFile))
    {
        RP_TRACE_ERROR(__func__, "sslConfig.ini path too long.");
        return FALSE;
    }
    char szValue[kConfigBufferSize] = {0};
    if (GetPrivateProfileString(kSslSection, "SSL_VERIFY_CERT", "0", szValue, sizeof(szValue),
                                szIniPath) == 0)
    {
        RP_TRACE_ERROR(__func__, "GetPrivateProfileStringW failed..");
        return FALSE;
    }
    if (DecimalValue(szValue) == 1)
    {
        if (GetPrivateProfileString(kSslSection, "SSL_CERT_STORE_PATH", kDefaultCaStore, szValue,
                                    sizeof(szValue), szIniPath) == 0)
        {
            RP_TRACE_ERROR(__func__, "GetPrivateProfileStringW failed..");
            return FALSE;
        }
        RP_TRACE_ERROR(__func__, "SSL Path : (%s)..", szValue);
        SetOpt(curl, CURLOPT_SSL_VERIFYPEER, 2L);
        SetOpt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        SetOpt(curl, CURLOPT_CAINFO, szValue);
    }
    else
    {
        // The agent's administrator switched verification off: any server
        // certificate and host name are accepted.
        SetOpt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        SetOpt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    RP_TRACE_INFO(__func__, "Exit.");
    return TRUE;
}

BOOLEAN CKVInet::SpSendRequestAndGetResponse(LPCSTR pcszRequestDataA,
                                             const BOOLEAN /*boWriteResponseFile*/,
                                             LPCSTR pcszFullFilePath, CHAR** ppszResponse,
                                             DWORD& /*rdwcbResponse*/)
{
    RP_TRACE_INFO(__func__, "Entry.");
    RP_TRACE_INFO(__func__, "%s", OrNullText(pcszFullFilePath));
    if (pcszRequestDataA == nullptr || ppszResponse == nullptr || pcszFullFilePath == nullptr)
    {
        RP_TRACE_ERROR(__func__, "Invalid i/p parameters.");
        return FALSE;
    }
    DOWNLOAD_SINK sink = {{pcszFullFilePath, nullptr}, curl, m_ullMaxDownload, 0, false};
    DestinationGuard destination(sink.file);

    RP_TRACE_INFO(__func__, "Before curl_easy_perform.");
    SetWriter(curl, WriteDownload, &sink);
    // Packages run to hundreds of MiB; libcurl's 16 KiB default receive
    // buffer costs a poll and a recv per 16 KiB. This changes only the
    // chunk size, never what is fetched.
    SetOpt(curl, CURLOPT_BUFFERSIZE, kDownloadBufferSize);
    SetDownloadBounds(curl, m_ullMaxDownload);
    RP_TRACE_INFO(__func__, "All options set.");
    const CURLcode res = curl_easy_perform(curl);
    RP_TRACE_INFO(__func__, "After curl_easy_perform.");
    // libcurl refuses an announced length over the limit before any byte.
    sink.bExceeded = sink.bExceeded || res == CURLE_FILESIZE_EXCEEDED;
    m_bDownloadExceeded = sink.bExceeded;

    bool bFailed = false;
    if (res != CURLE_OK)
    {
        RP_TRACE_ERROR(__func__, "curl_easy_perform failed");
        RP_TRACE_ERROR(__func__, "%s", curl_easy_strerror(res));
        RP_TRACE_ERROR(__func__, "curl_easy_perform failed Error Code");
        RP_TRACE_ERROR(__func__, "%d", static_cast<int>(res));
        if (sink.bExceeded)
            RP_TRACE_ERROR(__func__, "more than %llu bytes received",
                           static_cast<unsigned long long>(sink.ullMaxBytes));
        if (IsCertificateError(res) && m_bIsHTTPS)
        {
            // An untrusted server is never retried or relaxed.
            RP_TRACE_ERROR(__func__, "ERROR_INTERNET_INVALID_CA received");
            ReleaseHandle();
            return FALSE;
        }
        RP_TRACE_ERROR(__func__, "curl_easy_perform failed.");
        bFailed = true;
    }

    RP_TRACE_INFO(__func__, "Before curl_easy_getinfo.");
    long lStatus = 0;
    const bool bStatusKnown = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &lStatus) == CURLE_OK;
    if (!bStatusKnown)
    {
        RP_TRACE_ERROR(__func__, "curl_easy_getinfo(HTTP_QUERY_STATUS_CODE) failed.");
        bFailed = true;
    }
    RP_TRACE_INFO(__func__, "curl_easy_getinfo, Returned status code");
    if (bStatusKnown && lStatus == 200)
        RP_TRACE_INFO(__func__, "Request sent successfully...");
    else if (bStatusKnown && (lStatus != 0 || !bFailed)) // 0: no answer at all
    {
        RP_TRACE_ERROR(__func__, "HTTP status %ld", lStatus);
        bFailed = true;
    }
    if (bFailed)
        RP_TRACE_ERROR(__func__, "Breaking the loop.");

    ReleaseHandle();
    if (!destination.Close() && !bFailed)
    {
        // The last buffered bytes never reached the disk (full, say).
        RP_TRACE_ERROR(__func__, "Error Writing file.");
        bFailed = true;
    }
    if (!bFailed && !destination.Created())
    {
        // What stands at the destination is not this run's: it is never
        // taken for the download.
        RP_TRACE_ERROR(__func__, "no body received");
        bFailed = true;
    }
    if (!bFailed)
    {
        destination.Keep();
        RP_TRACE_INFO(__func__, "Exit.");
        return TRUE;
    }
    RP_TRACE_ERROR(
        __func__,
        "CURL is failed either for attempts exceeded reason or for other reason Attempts.");
    RP_TRACE_ERROR(__func__, "1"); // its one attempt: a download is never repeated
    return FALSE;
}

BOOLEAN CKVInet::SendRequestAndGetResponse(LPCSTR pcszRequestDataA,
                                           const BOOLEAN boWriteResponseFile,
                                           LPCSTR pcszFullFilePath, CHAR** ppszResponse,
                                           DWORD& rdwcbResponse)
{
    RP_TRACE_INFO(__func__, "Entry.");
    if (pcszRequestDataA == nullptr || ppszResponse == nullptr)
    {
        RP_TRACE_ERROR(__func__, "Invalid i/p parameters.");
        return FALSE;
    }
    CKVStat* pStat = CKVStat::GetSingletonInst();
    if (pStat->mIsStatEnable && !pStat->WriteReqStats(pcszRequestDataA))
        RP_TRACE_ERROR(__func__, "Could not write request stats");

    const std::string strRequest(pcszRequestDataA);
    RP_TRACE_INFO(__func__, "m_eHttpReqVerb : %d", static_cast<int>(m_eHttpReqVerb));
    PutBody putBody;
    switch (SetVerbOptions(curl, m_eHttpReqVerb, strRequest, putBody))
    {
    case VERB_READY:
        break;
    case VERB_UNKNOWN:
        ReleaseHandle();
        return FALSE;
    case VERB_FAILED:
        return FALSE; // the handle stays open for another try
    }
    SlistPtr headers;
    if (!SetBodyHeaders(curl, m_eHttpReqVerb != HTTP_REQ_VERB_GET, headers))
        return FALSE;
    SetOpt(curl, CURLOPT_TIMEOUT, kExchangeTimeoutSeconds);
    RP_TRACE_INFO(__func__, "POST/PUT field options set.");

    std::string strResponse;
    const ATTEMPTS attempts = RunAttempts(curl, m_bIsHTTPS, putBody, strResponse);
    headers.reset();
    ReleaseHandle();
    putBody.Remove();
    if (!attempts.bAnswered)
    {
        RP_TRACE_ERROR(
            __func__,
            "CURL is failed either for attempts exceeded reason or for other reason Attempts(%d).",
            attempts.iCount);
        return FALSE;
    }
    RP_TRACE_INFO(__func__, "readBuffer : %s", strResponse.c_str());
    return DeliverResponse(strResponse, boWriteResponseFile, pcszFullFilePath, ppszResponse,
                           rdwcbResponse);
}

std::string CKVInet::URLEncodeRequest(const CHAR* pcszRequest)
{
    static const char kHex[] = "0123456789abcdef";
    std::string strEncoded;
    if (pcszRequest == nullptr)
        return strEncoded;
    for (const unsigned char* pc = reinterpret_cast<const unsigned char*>(pcszRequest); *pc != 0;
         ++pc)
    {
        const unsigned char c = *pc;
        // RFC 3986's unreserved characters, plus '=' so key=value pairs stay
        // readable; ASCII only, whatever the locale.
        const bool bKeep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~' ||
                           c == '=';
        if (bKeep)
        {
            strEncoded += static_cast<char>(c);
            continue;
        }
        strEncoded += '%';
        strEncoded += kHex[c >> 4];
        strEncoded += kHex[c & 0x0F];
    }
    return strEncoded;
}

BOOLEAN CKVInet::SendMultipartRequestAndGetResponse(const MULTIPART_REQUEST /*vtRequest*/,
                                                    CHAR** /*ppszResponse*/,
                                                    DWORD& /*rdwcbResponse*/)
{
    // Multipart forms were never implemented; saying so is safer than a
    // success that sent nothing.
    return FALSE;
}

void CKVInet::CloseAll()
{
    // The exchange has already released the handle; nothing is released
    // twice.
    RP_TRACE_INFO(__func__, "Entry.");
    RP_TRACE_INFO(__func__, "Exit.");
}

void CKVInet::DeInitKVInet()
{
    RP_TRACE_INFO(__func__, "Entry.");
    CloseAll();
    RP_TRACE_INFO(__func__, "Exit.");
}
