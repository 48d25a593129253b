// DownloadFile against real nginx and proxies: the direct attempt, the
// fallback through the proxy options file, the certificate policy.
#include <gtest/gtest.h>

#include "kvinstaller.h"
#include "testkit.h"

namespace
{
const std::string kDest = "/var/tmp/out", kBody = "payload\n";

// Every path leaves the code alone; the call's trace is returned.
tk::Strings Download(const std::string& url, BOOLEAN bExpected, const std::string& dest = kDest)
{
    tk::Remove(tk::kTraceLog);
    std::string urlCopy = url, destCopy = dest;
    DWORD dwCode = 77;
    EXPECT_EQ(bExpected, DownloadFile(url.empty() ? nullptr : &urlCopy[0], &destCopy[0], &dwCode))
        << url;
    EXPECT_EQ(77u, dwCode);
    return tk::Trace();
}

class DownloadFileTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(tk::Write(tk::Www() + "/p", kBody));
        for (const tk::Strings& proxy : {tk::Strings{"start-tinyproxy", "--auth", "u:p"},
                                         {"start-dante"},
                                         {"start-tinyproxy", "--port", "65535"},
                                         {"start-microsocks", "--auth", "u:p"},
                                         {"start-microsocks", "--port", "1082"}})
            ASSERT_TRUE(tk::Servers(proxy));
    }
    void SetUp() override
    {
        ASSERT_TRUE(tk::Servers({"start-nginx", "--mode", "drop-direct"}) &&
                    tk::WriteSslConfig("SSL_VERIFY_CERT=0\n"));
        tk::Remove("/usr/lib/Zelvano/Zelvano/kvinet.opt");
        tk::Remove(kDest);
    }
};

// nginx drops every direct connection. Then the options file decides: its
// absence or shortness fails the call; an 800-byte file's last 12 bytes are
// ignored; each proxy type reaches only a proxy of its protocol, and the
// settings are traced, the password masked. Each row ends with a
// direct download on the same thread: a path that kept the (not recursive)
// lock would hang it.
TEST_F(DownloadFileTest, FallbackThroughTheOptionsFile)
{
    const std::string noProxy = "I DownloadFile|SendRequestAndGetResponse Failed Without Proxy";
    // clang-format off
    // nLength 0: no options file.
    const struct { size_t nLength; short shType; int iPort; bool bAuth, bHttps; tk::Strings trace; } cases[] = {
        {0, 0, 3128, true, false, {"E SpSendRequestAndGetResponse|52", noProxy, "E ReadProxySettings|open failed for args (/usr/lib/Zelvano/Zelvano/kvinet.opt)",
                                   "I DownloadFile|ReadProxySettings failed"}},
        {787, 0, 3128, true, false, {"E ReadProxySettings|read() failed.", "I DownloadFile|ReadProxySettings failed"}},
        {788, 0, 9, false, false, {"I DownloadFile|Proxy serverv name", "I DownloadFile|127.0.0.1", "I DownloadFile|Username",
                                   "I DownloadFile|", "I DownloadFile|password", "I DownloadFile|********", "I DownloadFile|failed with Proxy"}},
        {800, 0, 3128, true, true, {"I DownloadFile|Username", "I DownloadFile|u", "I DownloadFile|password", "I DownloadFile|********",
                                    "I DownloadFile|successfull down", "I DownloadFile|Exit"}},
        {788, 7, 65535, false, false, {"I DownloadFile|successfull down"}},
        {788, 2, 1080, true, false, {"I DownloadFile|successfull down"}},
        {788, 2, 1080, false, false, {"I DownloadFile|failed with Proxy"}},
        {788, 1, 1081, false, true, {"I DownloadFile|successfull down"}},
        {788, 1, 1082, false, false, {"I DownloadFile|failed with Proxy"}},
        // clang-format on
    };
    ASSERT_TRUE(
        tk::WriteSslConfig("SSL_VERIFY_CERT=1\nSSL_CERT_STORE_PATH=" + tk::CaFile() + "\n"));
    for (const auto& c : cases)
    {
        ASSERT_TRUE(!c.nLength ||
                    tk::WriteProxyOptions({1, c.shType, c.iPort, c.bAuth ? "u" : "",
                                           c.bAuth ? "p" : "", c.bAuth, "127.0.0.1", c.nLength}));
        tk::ClearRequests();
        const bool bServed = c.trace.back() == "I DownloadFile|Exit" ||
                             c.trace.back() == "I DownloadFile|successfull down";
        const tk::Strings trace = Download(tk::Url(1, "p", c.bHttps), bServed);
        EXPECT_EQ("", tk::MissingInOrder(trace, c.trace))
            << c.nLength << " " << c.shType << " " << c.iPort;
        EXPECT_EQ(bServed, tk::Count(trace, "I DownloadFile|Exit") == 1);
        EXPECT_EQ(bServed ? kBody : "", tk::Read(kDest));
        tk::Remove(kDest);
        std::string clients;
        for (const tk::Request& r : tk::Requests(bServed ? 2 : 1))
            clients += r.client + " " + std::to_string(r.status) + ";";
        EXPECT_EQ(bServed ? "127.0.0.1 444;127.0.0.2 200;" : "127.0.0.1 444;", clients);
    }
    EXPECT_EQ("", tk::MissingInOrder(Download("", FALSE),
                                     {"I DownloadFile|before calling InitKVInet",
                                      "E SPInitKVInet|Invalid i/p parameter.",
                                      "I DownloadFile|InitKVInet Failed",
                                      "E DownloadFile|InitKVInet failed", "I DownloadFile|Exit"}));
    ASSERT_TRUE(tk::Servers({"start-nginx"}));
    EXPECT_EQ(0u, tk::Count(Download(tk::Url(1, "p"), TRUE),
                            "I DownloadFile|Before calling ReadProxySettings."));
    // A destination that cannot be written fails the transfer.
    EXPECT_NE(0u, tk::Count(Download(tk::Url(1, "p"), FALSE, "/var/tmp/no/p"),
                            "E SpSendRequestAndGetResponse|23"));
}

// shUseProxy other than 1: the second attempt is direct again, and its body
// replaces what the first, cut short, left.
TEST_F(DownloadFileTest, UseProxyNotOneMakesASecondDirectAttempt)
{
    for (short shUseProxy : {0, 2})
    {
        ASSERT_TRUE(tk::StartScripted(
            R"({"/p": [{"body": "partial first", "content_length": 4000}, {"body": "whole"}]})"));
        ASSERT_TRUE(tk::WriteProxyOptions({shUseProxy, 0, 9, "u", "p", 1}));
        Download("http://127.0.0.1:8090/p", TRUE);
        EXPECT_EQ("whole", tk::Read(kDest)) << shUseProxy;
        EXPECT_EQ(2u, tk::ScriptedRequests().size());
    }
}

// Only the body of a 200 answer is kept, never more of it than the limit,
// whether or not its length is announced. An attempt that fails before its
// first byte leaves the destination as it was; one that fails after it has
// created the file leaves none.
TEST_F(DownloadFileTest, OnlyAWholeAnswerWithinTheLimitIsKept)
{
    const std::string body(2000, 'b'),
        old = "old", more = "E SpSendRequestAndGetResponse|more than 1999 bytes received";
    // clang-format off
    const struct { std::string step; uint64_t ullLimit; std::string left, trace; bool bExceeded = false; } cases[] = {
        {R"({"status": 404, "body": "page"})", 4096, old, "E SpSendRequestAndGetResponse|HTTP status 404"},
        {R"({"status": 302})", 4096, old, "E SpSendRequestAndGetResponse|HTTP status 302"},
        {R"({"body": ""})", 4096, old, "E SpSendRequestAndGetResponse|no body received"},
        {R"({"body": "partial", "content_length": 4000})", 4096, "", "E SpSendRequestAndGetResponse|18"},
        {R"({"content_length": -1, "body": ")" + body + "\"}", 1999, old, more, true},
        {R"({"body": ")" + body + "\"}", 1999, old, more, true},
        {R"({"content_length": -1, "body": ")" + body + "\"}", 2000, body, "I DownloadFile|successfull down"},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        ASSERT_TRUE(tk::StartScripted(R"({"/p": [)" + c.step + "]}") && tk::Write(kDest, old));
        tk::Remove(tk::kTraceLog);
        std::string url = "http://127.0.0.1:8090/p", dest = kDest;
        DWORD dwCode = 0;
        DOWNLOAD_LIMIT limit = {c.ullLimit, false};
        EXPECT_EQ(c.left == body, DownloadFile(&url[0], &dest[0], &dwCode, &limit) == TRUE);
        EXPECT_EQ(!c.left.empty(), tk::Exists(kDest)) << c.step;
        EXPECT_EQ(c.left, tk::Read(kDest));
        EXPECT_EQ(c.bExceeded, limit.bExceeded) << c.step;
        EXPECT_EQ(1u, tk::Count(tk::Trace(), c.trace)) << c.step;
    }
}

// nginx drops direct connections. The direct attempt takes the proxy of the
// environment unless no_proxy covers the source; the options file's proxy
// wins over the environment's.
TEST_F(DownloadFileTest, ProxyEnvironmentAndItsPrecedence)
{
    // http_proxy, no_proxy, options file, nginx's client and status.
    const std::tuple<const char*, const char*, bool, std::string> cases[] = {
        {"http://127.0.0.1:65535", "", false, "127.0.0.2 200"},
        {"http://127.0.0.1:65535", "127.0.0.1", false, "127.0.0.1 444"},
        {"http://127.0.0.1:9", "", true, "127.0.0.2 200"}};
    for (const auto& [http_proxy, no_proxy, bOptionsFile, served] : cases)
    {
        ASSERT_TRUE(!bOptionsFile || tk::WriteProxyOptions({1, 0, 3128, "u", "p", 1}));
        ASSERT_EQ(0, setenv("http_proxy", http_proxy, 1) + setenv("no_proxy", no_proxy, 1));
        tk::ClearRequests();
        const tk::Strings trace = Download(tk::Url(1, "p"), served.back() == '0');
        const tk::Request request = tk::Requests(1).at(0);
        EXPECT_EQ(served, request.client + " " + std::to_string(request.status));
        EXPECT_EQ(
            *no_proxy || bOptionsFile, // the direct attempt failed
            tk::Count(trace, "I DownloadFile|SendRequestAndGetResponse Failed Without Proxy"));
    }
    ASSERT_EQ(0, unsetenv("http_proxy") + unsetenv("no_proxy"));
}

// The agent's certificate policy over HTTPS, without an options file.
TEST_F(DownloadFileTest, CertificatePolicyDecidesWhetherTheServerIsTrusted)
{
    const std::string ca = "SSL_CERT_STORE_PATH=" + tk::CaFile() + "\n",
                      failed = "E SetOptions|GetPrivateProfileStringW failed..";
    // clang-format off
    const std::tuple<std::string, BOOLEAN, std::string> cases[] = { // sslConfig.ini ("-": no directory), trace
        {"", FALSE, failed},
        {"-", FALSE, "E SetOptions|GetClientAgentConfigDir failed"},
        {"SSL_VERIFY_CERT=1yes\n" + ca, TRUE, "E SetOptions|SSL Path : (" + tk::CaFile() + ").."},
        {"SSL_VERIFY_CERT=1\n" + ca.substr(0, ca.size() - 7) + "other-ca.crt\n", FALSE,
         "E SpSendRequestAndGetResponse|ERROR_INTERNET_INVALID_CA received"},
        {"SSL_VERIFY_CERT=1\n", FALSE, failed},
        {"SSL_VERIFY_CERT=2\n", TRUE, "I SetOptions|Exit."}};
    // clang-format on
    ASSERT_TRUE(tk::Servers({"start-nginx"}));
    for (const auto& [config, bResult, trace] : cases)
    {
        ASSERT_TRUE(tk::WriteSslConfig(config == "-" ? "" : config));
        if (config == "-")
            tk::Remove(tk::kConfigDir);
        EXPECT_EQ(1u, tk::Count(Download(tk::Url(2, "p", true), bResult), trace)) << config;
        EXPECT_EQ(bResult ? kBody : "", tk::Read(kDest));
        tk::Remove(kDest);
    }
}

// A text field without its terminator is cut at 259 characters.
TEST(ProxySettings, RecordFieldsRootDirAndDecrypt)
{
    ASSERT_TRUE(
        tk::WriteProxyOptions({1, 2, 65535, std::string(260, 'u'), "p", 1, std::string(260, 'h')}));
    INETSET settings;
    ASSERT_EQ(TRUE, ReadProxySettings(&settings));
    EXPECT_EQ(std::string(259, 'h'), settings.kvInetConfig.szHostName);
    EXPECT_EQ(std::string(259, 'u'), settings.kvInetConfig.szUserName);
    EXPECT_EQ(65535, settings.kvInetConfig.ushPort);
    char szDir[64] = "untouched";
    EXPECT_EQ(FALSE, GetClientAgentRootDir(szDir, 29));
    EXPECT_EQ(tk::Trace().back(), "E GetClientAgentRootDir|Out buffer length is small.");
    EXPECT_EQ(TRUE, GetClientAgentRootDir(szDir, 30));
    EXPECT_STREQ("/usr/lib/Zelvano/ClientAgent/", szDir);
    BYTE block[] = {0x12, 0xAB};
    Decrypt(block, 2);
    EXPECT_EQ(0xBA21, block[0] | block[1] << 8);
}
} // namespace
