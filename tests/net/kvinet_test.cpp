// CKVInet's handle, proxy options and download exchange, against nginx,
// tinyproxy and the scripted server. DownloadFile's tests cover the proxy
// types and the certificate policy through the same calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvinet.h"
#include "net_test_util.h"
#include "netfixtures.h"

namespace
{
using nettest::CountTrace;

const std::string kDest = "/var/tmp/kvinet.out";
const std::string kPayload = "kvinet payload";
constexpr int kTinyproxyOpenPort = 3129;

struct ProxySpec
{
    const char* pcszHost;
    DWORD dwPort;
    const char* pcszUser;
    const char* pcszPassword;
    SHORT useproxy;
    SHORT connectionType;
    SHORT useAuthentication;
};

const ProxySpec kDirect = {nullptr, 0, nullptr, nullptr, 0, 0, 0};

// One Init and one download exchange, as DownloadFile does them.
BOOLEAN Fetch(const std::string& strUrl, const ProxySpec& proxy = kDirect)
{
    CKVInet inet;
    if (!inet.SPInitKVInet(strUrl.c_str(), proxy.pcszHost, proxy.dwPort, proxy.pcszUser,
                           proxy.pcszPassword, HTTP_REQ_VERB_POST, proxy.useproxy,
                           proxy.connectionType, proxy.useAuthentication))
        return FALSE;
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 0;
    const BOOLEAN bResult =
        inet.SpSendRequestAndGetResponse(strUrl.c_str(), TRUE, kDest.c_str(), &pszResponse, dwcb);
    EXPECT_EQ(nullptr, pszResponse);
    EXPECT_EQ(0u, dwcb);
    inet.CloseAll(); // after an exchange, these release nothing a second time
    inet.DeInitKVInet();
    return bResult;
}

class KVInetTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(netfx::Publish("k.bin", kPayload));
        ASSERT_TRUE(netfx::StartNginx("drop-direct"));
        ASSERT_TRUE(netfx::StartProxy("tinyproxy", false, kTinyproxyOpenPort));
    }

    void SetUp() override
    {
        ASSERT_TRUE(netfx::SslConfig({"noverify"}));
        ASSERT_TRUE(nettest::RemoveTree(kDest));
        ASSERT_TRUE(netfx::ClearAccessLog());
        nettest::ClearTrace();
    }
};

// Without a URL no handle is opened, so an exchange has nothing to perform;
// an exchange that refuses its arguments keeps the handle for the next one.
TEST_F(KVInetTest, MissingUrlOrArgumentsAreRefused)
{
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 0;
    for (const char* pcszUrl : {"", static_cast<const char*>(nullptr)})
    {
        CKVInet inet;
        EXPECT_EQ(FALSE, inet.InitKVInet(pcszUrl, nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
        EXPECT_EQ(FALSE, inet.SPInitKVInet(pcszUrl, "127.0.0.1", 3128, "u", "p", HTTP_REQ_VERB_GET, 1, 0, 1));
        EXPECT_EQ(FALSE, inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), &pszResponse, dwcb));
    }
    EXPECT_EQ(4u, CountTrace("ERROR", "Invalid i/p parameter."));
    EXPECT_FALSE(nettest::Exists(kDest));

    CKVInet inet;
    ASSERT_EQ(TRUE, inet.SPInitKVInet(netfx::HttpUrl("k.bin").c_str(), nullptr, 0, nullptr, nullptr,
                                      HTTP_REQ_VERB_GET, 0, 0, 0));
    nettest::ClearTrace();
    EXPECT_EQ(FALSE, inet.SpSendRequestAndGetResponse(nullptr, TRUE, kDest.c_str(), &pszResponse, dwcb));
    EXPECT_EQ(FALSE, inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), nullptr, dwcb));
    EXPECT_EQ(2u, CountTrace("ERROR", "Invalid i/p parameters."));
    (void)inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), &pszResponse, dwcb);
    EXPECT_EQ(1u, nettest::Requests("/k.bin", 1).size());
}

// Under AddressSanitizer this shows that no handle leaks or is freed twice.
TEST_F(KVInetTest, RepeatedInitWithoutExchangeAndEveryCloseAreSafe)
{
    CKVInet inet;
    const std::string strUrl = netfx::HttpUrl("k.bin");
    ASSERT_EQ(TRUE, inet.InitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
    ASSERT_EQ(TRUE, inet.InitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
    inet.CloseAll();
    inet.DeInitKVInet();
    EXPECT_EQ(TRUE, inet.SPInitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET, 0, 0, 0));
}

// nginx drops direct connections: the direct attempt reaching it (and
// failing) shows that no proxy was configured.
TEST_F(KVInetTest, UseProxyOtherThanOneSetsNoProxyAndNoCredentials)
{
    for (SHORT useproxy : {SHORT(0), SHORT(2), SHORT(-1)})
    {
        const ProxySpec proxy = {"127.0.0.1", kTinyproxyOpenPort, "u", "p", useproxy, 0, 1};
        EXPECT_EQ(FALSE, Fetch(netfx::HttpUrl("k.bin"), proxy)) << useproxy;
    }
    const std::vector<std::string> vRequests = nettest::Requests("/k.bin", 3);
    ASSERT_EQ(3u, vRequests.size());
    for (const std::string& strLine : vRequests)
        EXPECT_EQ(0u, strLine.rfind("127.0.0.1 ", 0)) << strLine;
}

// The scripted server plays an HTTP proxy that asks for Basic credentials.
TEST_F(KVInetTest, ProxyCredentialsAreUserColonPasswordUnescaped)
{
    struct Case
    {
        const char* pcszUser;
        const char* pcszPassword;
        const char* pcszBasic; // base64 of user:password, by Python's base64 module
    };
    for (const Case& c : {Case{"us er", "p@ss:w%rd", "dXMgZXI6cEBzczp3JXJk"}, Case{"us er", "", "dXMgZXI6"},
                          Case{"us er", nullptr, "dXMgZXI6"}})
    {
        ASSERT_TRUE(netfx::StartScripted(
            R"({"*": [{"status": 407, "headers": {"Proxy-Authenticate": "Basic realm=\"t\""}},
                      {"status": 200, "body": "via proxy"}]})"));
        const ProxySpec proxy = {"127.0.0.1", netfx::kScriptedPort, c.pcszUser, c.pcszPassword, 1, 0, 1};
        EXPECT_EQ(TRUE, Fetch("http://127.0.0.3:8080/k.bin", proxy));
        EXPECT_EQ("via proxy", netfx::ReadFile(kDest));
        const std::vector<std::string> vRequests = netfx::ScriptedRequests();
        ASSERT_EQ(2u, vRequests.size());
        EXPECT_NE(std::string::npos, vRequests[0].find(R"("path": "http://127.0.0.3:8080/k.bin")"));
        EXPECT_NE(std::string::npos,
                  vRequests[1].find(std::string(R"("Proxy-Authorization": "Basic )") + c.pcszBasic + "\""))
            << vRequests[1];
    }
}
} // namespace
