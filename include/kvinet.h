// HTTP transfer client over one libcurl easy handle. Calling order: construct,
// one Init, exactly one exchange (which releases the handle), optionally
// DeInitKVInet; a further Init opens a fresh handle for another exchange.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "typedef.h"

typedef enum enumHTTP_REQ_VERB
{
    HTTP_REQ_VERB_UNDEFINED = 0,
    HTTP_REQ_VERB_GET = 1,
    HTTP_REQ_VERB_POST = 2,
    HTTP_REQ_VERB_PUT = 3,
} HTTP_REQ_VERB;

typedef enum enumMULTIPART_REQUEST_FIELD_TYPE
{
    FIELD_TYPE_NORMAL = 1,
    FIELD_TYPE_FILE = 2,
} MULTIPART_REQUEST_FIELD_TYPE;

struct tagMULTIPART_REQUEST_FIELD
{
    MULTIPART_REQUEST_FIELD_TYPE eFieldType;
    std::string strFieldName;
    std::string strValue;
};
typedef std::vector<tagMULTIPART_REQUEST_FIELD> MULTIPART_REQUEST;

// Destination of the file writer: opened when the first body byte arrives.
struct FtpFile
{
    const char* filename;
    FILE* stream;
};

// Growing response buffer of the memory writer, always NUL-terminated.
struct MemoryStruct
{
    char* memory;
    size_t size;
};

size_t WriteMemoryCallback1(void* buffer, size_t size, size_t nmemb, void* stream);
size_t WriteMemoryCallback(void* contents, size_t size, size_t nmemb, void* userp);
size_t read_callback(char* ptr, size_t size, size_t nmemb, void* userdata);

class CKVInet
{
public:
    CKVInet();
    ~CKVInet();

    BOOLEAN InitKVInet(LPCSTR pcszServerA, LPCSTR pcszProxyServerA, DWORD proxy_port,
                       LPCSTR pcszUsernameA, LPCSTR pcszPasswordA, HTTP_REQ_VERB eReqVerb);
    BOOLEAN SPInitKVInet(LPCSTR pcszServerA, LPCSTR pcszProxyServerA, DWORD proxy_port,
                         LPCSTR pcszUsernameA, LPCSTR pcszPasswordA, HTTP_REQ_VERB eReqVerb,
                         SHORT useproxy, SHORT connectionType, SHORT useAuthentication);
    BOOLEAN SetOptions();
    BOOLEAN SpSendRequestAndGetResponse(LPCSTR pcszRequestDataA, const BOOLEAN boWriteResponseFile,
                                        LPCSTR pcszFullFilePath, CHAR** ppszResponse,
                                        DWORD& rdwcbResponse);
    BOOLEAN SendRequestAndGetResponse(LPCSTR pcszRequestDataA, const BOOLEAN boWriteResponseFile,
                                      LPCSTR pcszFullFilePath, CHAR** ppszResponse,
                                      DWORD& rdwcbResponse);
    std::string URLEncodeRequest(const CHAR* pcszRequest);
    BOOLEAN SendMultipartRequestAndGetResponse(const MULTIPART_REQUEST vtRequest,
                                               CHAR** ppszResponse, DWORD& rdwcbResponse);
    void CloseAll();
    void DeInitKVInet();

    // The most a download exchange may bring into its file (none unless
    // set), and whether the last one was cut off for bringing more.
    void SetDownloadLimit(uint64_t ullMaxBytes) { m_ullMaxDownload = ullMaxBytes; }
    bool DownloadExceededLimit() const { return m_bDownloadExceeded; }

private:
    CKVInet(const CKVInet&) = delete;
    CKVInet& operator=(const CKVInet&) = delete;

    BOOLEAN OpenHandle(const char* pcszLabel, LPCSTR pcszServerA, HTTP_REQ_VERB eReqVerb);
    void ApplyProxy(LPCSTR pcszProxyServerA, DWORD proxy_port, LPCSTR pcszUsernameA,
                    LPCSTR pcszPasswordA, SHORT useproxy, SHORT connectionType,
                    SHORT useAuthentication);
    void ReleaseHandle();

    BOOLEAN m_bIsHTTPS;
    CURL* curl;
    HTTP_REQ_VERB m_eHttpReqVerb;
    char m_szUsernameA[260];
    char m_szPasswordA[260];
    uint64_t m_ullMaxDownload = UINT64_MAX;
    bool m_bDownloadExceeded = false;
};
