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
constexpr int kTinyproxyOpenPort = 3129;

// One Init and one download exchange, as DownloadFile does them, through
// proxy 127.0.0.1:iPort with credentials.
BOOLEAN Fetch(const std::string& strUrl, SHORT useproxy, int iPort, const char* pcszUser = "u",
              const char* pcszPassword = "p")
{
    CKVInet inet;
    if (!inet.SPInitKVInet(strUrl.c_str(), "127.0.0.1", iPort, pcszUser, pcszPassword, HTTP_REQ_VERB_POST,
                           useproxy, 0, 1))
        return FALSE;
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 0;
    const BOOLEAN bResult = inet.SpSendRequestAndGetResponse(strUrl.c_str(), TRUE, kDest.c_str(), &pszResponse, dwcb);
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
        ASSERT_TRUE(netfx::Publish("k.bin", "kvinet payload") && netfx::StartNginx("drop-direct"));
        ASSERT_TRUE(netfx::StartProxy("tinyproxy", false, kTinyproxyOpenPort));
    }

    void SetUp() override
    {
        ASSERT_TRUE(netfx::SslConfig({"noverify"}) && nettest::RemoveTree(kDest) && netfx::ClearAccessLog());
        nettest::ClearTrace();
    }
};

// Without a URL no handle is opened, so an exchange has nothing to perform;
// an exchange that refuses its arguments keeps the handle for the next one.
// Under AddressSanitizer a repeated Init shows that no handle leaks.
TEST_F(KVInetTest, MissingUrlOrArgumentsAreRefusedAndHandlesSurvive)
{
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 0;
    CKVInet inet;
    EXPECT_EQ(FALSE, inet.InitKVInet("", nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
    EXPECT_EQ(FALSE, inet.SPInitKVInet(nullptr, "127.0.0.1", 3128, "u", "p", HTTP_REQ_VERB_GET, 1, 0, 1));
    EXPECT_EQ(FALSE, inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), &pszResponse, dwcb));
    EXPECT_EQ(2u, CountTrace("ERROR", "Invalid i/p parameter."));
    EXPECT_FALSE(nettest::Exists(kDest));

    const std::string strUrl = netfx::HttpUrl("k.bin");
    ASSERT_EQ(TRUE, inet.InitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
    ASSERT_EQ(TRUE, inet.SPInitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET, 0, 0, 0));
    nettest::ClearTrace();
    EXPECT_EQ(FALSE, inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), nullptr, dwcb));
    EXPECT_EQ(1u, CountTrace("ERROR", "Invalid i/p parameters."));
    (void)inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), &pszResponse, dwcb);
    EXPECT_EQ(1u, nettest::Requests("/k.bin", 1).size());
    inet.CloseAll();
    inet.DeInitKVInet();
}

// nginx drops direct connections: the direct attempt reaching it (and
// failing) shows that no proxy was configured.
TEST_F(KVInetTest, UseProxyOtherThanOneSetsNoProxyAndNoCredentials)
{
    for (SHORT useproxy : {SHORT(0), SHORT(2)})
        EXPECT_EQ(FALSE, Fetch(netfx::HttpUrl("k.bin"), useproxy, kTinyproxyOpenPort)) << useproxy;
    const std::vector<std::string> vRequests = nettest::Requests("/k.bin", 2);
    ASSERT_EQ(2u, vRequests.size());
    for (const std::string& strLine : vRequests)
        EXPECT_TRUE(nettest::FromPeer(strLine, "127.0.0.1")) << strLine;
}

// The scripted server plays an HTTP proxy that asks for Basic credentials;
// the expected values are base64 of user:password, by Python's base64 module.
TEST_F(KVInetTest, ProxyCredentialsAreUserColonPasswordUnescaped)
{
    for (const auto& [pcszPassword, pcszBasic] :
         {std::make_pair("p@ss:w%rd", "dXMgZXI6cEBzczp3JXJk"), std::make_pair<const char*>(nullptr, "dXMgZXI6")})
    {
        ASSERT_TRUE(netfx::StartScripted(
            R"({"*": [{"status": 407, "headers": {"Proxy-Authenticate": "Basic realm=\"t\""}},
                      {"status": 200, "body": "via proxy"}]})"));
        EXPECT_EQ(TRUE, Fetch("http://127.0.0.3:8080/k.bin", 1, netfx::kScriptedPort, "us er", pcszPassword));
        EXPECT_EQ("via proxy", netfx::ReadFile(kDest));
        const std::vector<std::string> vRequests = netfx::ScriptedRequests();
        ASSERT_EQ(2u, vRequests.size());
        EXPECT_NE(std::string::npos, vRequests[0].find(R"("path": "http://127.0.0.3:8080/k.bin")"));
        EXPECT_NE(std::string::npos,
                  vRequests[1].find(std::string(R"("Proxy-Authorization": "Basic )") + pcszBasic + "\""))
            << vRequests[1];
    }
}
} // namespace
