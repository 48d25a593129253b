// CKVInet's handle, proxy options and download exchange, against nginx, the
// proxies and the scripted server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvinet.h"
#include "net_test_util.h"
#include "netfixtures.h"

namespace
{
using nettest::CountTrace;
using nettest::InOrder;
using nettest::Messages;
using nettest::Trace;

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
    inet.DeInitKVInet(); // releases nothing a second time
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
        ASSERT_TRUE(netfx::StartProxy("microsocks", false));
        ASSERT_TRUE(netfx::StartProxy("dante", false));
    }

    void SetUp() override
    {
        ASSERT_TRUE(netfx::SslConfig({"noverify"}));
        ASSERT_TRUE(nettest::RemoveTree(kDest));
        ASSERT_TRUE(netfx::ClearAccessLog());
        nettest::ClearTrace();
    }
};

TEST_F(KVInetTest, InitRefusesAMissingUrl)
{
    for (const char* pcszUrl : {"", static_cast<const char*>(nullptr)})
    {
        nettest::ClearTrace();
        CKVInet inet;
        EXPECT_EQ(FALSE, inet.InitKVInet(pcszUrl, nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
        EXPECT_EQ(FALSE, inet.SPInitKVInet(pcszUrl, "127.0.0.1", 3128, "u", "p", HTTP_REQ_VERB_GET, 1, 0, 1));
        const std::vector<nettest::LogLine> vTrace = Trace();
        size_t nInvalid = 0;
        for (const nettest::LogLine& line : vTrace)
            if (line.strLevel == "ERROR" && line.strMessage == "Invalid i/p parameter.")
                nInvalid += (line.strLabel == "InitKVInet" || line.strLabel == "SPInitKVInet") ? 1 : 0;
        EXPECT_EQ(2u, nInvalid);
        // No handle was opened, so an exchange has nothing to perform.
        CHAR* pszResponse = nullptr;
        DWORD dwcb = 0;
        EXPECT_EQ(FALSE, inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), &pszResponse, dwcb));
        EXPECT_FALSE(nettest::Exists(kDest));
    }
}

TEST_F(KVInetTest, ExchangeRefusesMissingArguments)
{
    CKVInet inet;
    ASSERT_EQ(TRUE, inet.SPInitKVInet(netfx::HttpUrl("k.bin").c_str(), nullptr, 0, nullptr, nullptr,
                                      HTTP_REQ_VERB_GET, 0, 0, 0));
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 0;
    EXPECT_EQ(FALSE, inet.SpSendRequestAndGetResponse(nullptr, TRUE, kDest.c_str(), &pszResponse, dwcb));
    EXPECT_EQ(FALSE, inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), nullptr, dwcb));
    EXPECT_EQ(2u, CountTrace("ERROR", "Invalid i/p parameters."));
    EXPECT_EQ(0u, CountTrace("INFO", "Before curl_easy_perform."));
    // The handle is still open after these refusals: the exchange can run.
    (void)inet.SpSendRequestAndGetResponse("x", TRUE, kDest.c_str(), &pszResponse, dwcb);
    EXPECT_EQ(1u, CountTrace("INFO", "After curl_easy_perform."));
    EXPECT_EQ(1u, nettest::Requests("/k.bin", 1).size());
}

TEST_F(KVInetTest, RepeatedInitWithoutExchangeAndEveryCloseAreSafe)
{
    // Run under AddressSanitizer, this shows no handle leaks or is freed twice.
    CKVInet inet;
    const std::string strUrl = netfx::HttpUrl("k.bin");
    ASSERT_EQ(TRUE, inet.InitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
    ASSERT_EQ(TRUE, inet.InitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET));
    nettest::ClearTrace();
    inet.CloseAll();
    inet.DeInitKVInet();
    size_t nCloseAllExits = 0;
    for (const nettest::LogLine& line : Trace())
        nCloseAllExits += (line.strLabel == "CloseAll" && line.strMessage == "Exit.") ? 1 : 0;
    EXPECT_EQ(2u, nCloseAllExits);
    EXPECT_EQ(TRUE, inet.SPInitKVInet(strUrl.c_str(), nullptr, 0, nullptr, nullptr, HTTP_REQ_VERB_GET, 0, 0, 0));
}

struct ProxyTypeCase
{
    const char* pcszName;
    SHORT connectionType;
    int iPort;
    BOOLEAN bExpected;
};

class ProxyTypeTest : public KVInetTest, public ::testing::WithParamInterface<ProxyTypeCase>
{
};

// Each proxy only speaks its own protocol, so success proves the type chosen.
// (A SOCKS greeting to tinyproxy is not a mismatch case: both sides would
// wait for the other until tinyproxy's idle timeout.)
TEST_P(ProxyTypeTest, ConnectionTypeSelectsTheProtocol)
{
    const ProxyTypeCase& c = GetParam();
    const ProxySpec proxy = {"127.0.0.1", static_cast<DWORD>(c.iPort), nullptr, nullptr, 1,
                             c.connectionType, 0};
    EXPECT_EQ(c.bExpected, Fetch(netfx::HttpUrl("k.bin"), proxy));
    EXPECT_EQ(c.bExpected == TRUE, netfx::ReadFile(kDest) == kPayload);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ProxyTypeTest,
    ::testing::Values(ProxyTypeCase{"OneIsSocks4", 1, netfx::kDantePort, TRUE},
                      ProxyTypeCase{"TwoIsSocks5", 2, netfx::kMicrosocksPort, TRUE},
                      ProxyTypeCase{"ZeroIsHttp", 0, kTinyproxyOpenPort, TRUE},
                      ProxyTypeCase{"SevenIsHttp", 7, kTinyproxyOpenPort, TRUE},
                      ProxyTypeCase{"MinusOneIsHttp", -1, kTinyproxyOpenPort, TRUE},
                      ProxyTypeCase{"HttpIsNotSocks5", 0, netfx::kMicrosocksPort, FALSE},
                      ProxyTypeCase{"Socks4IsNotSocks5", 1, netfx::kMicrosocksPort, FALSE}),
    [](const ::testing::TestParamInfo<ProxyTypeCase>& info) { return std::string(info.param.pcszName); });

TEST_F(KVInetTest, ProxyOtherThanOneSetsNoProxyAndNoCredentials)
{
    // nginx drops direct connections: the direct attempt reaching it (and
    // failing) shows no proxy was configured.
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

TEST_F(KVInetTest, DownloadExchangeTracesItsSteps)
{
    ASSERT_TRUE(netfx::StartScripted(R"({"/ok": [{"status": 200, "body": "x"}]})"));
    EXPECT_EQ(TRUE, Fetch(netfx::ScriptedUrl("ok")));
    EXPECT_TRUE(InOrder(Messages(Trace()),
                        {kDest, "Before curl_easy_perform.", "All options set.", "After curl_easy_perform.",
                         "Before curl_easy_getinfo.", "curl_easy_getinfo, Returned status code",
                         "Request sent successfully...", "Exit."}));
    EXPECT_EQ(0u, CountTrace("ERROR", "Breaking the loop."));
}

TEST_F(KVInetTest, RefusedConnectionIsOneFailedAttempt)
{
    EXPECT_EQ(FALSE, Fetch("http://127.0.0.1:9/nothing"));
    EXPECT_TRUE(InOrder(Messages(Trace()),
                        {"curl_easy_perform failed", curl_easy_strerror(CURLE_COULDNT_CONNECT),
                         "curl_easy_perform failed Error Code", "7", "curl_easy_perform failed.",
                         "Breaking the loop.",
                         "CURL is failed either for attempts exceeded reason or for other reason Attempts.", "1"}));
    EXPECT_FALSE(nettest::Exists(kDest));
}

TEST_F(KVInetTest, UntrustedServerEndsTheExchangeAtOnce)
{
    ASSERT_TRUE(netfx::SslConfig({"verify", netfx::OtherCaFile()}));
    nettest::ClearTrace();
    EXPECT_EQ(FALSE, Fetch(netfx::HttpsUrl("k.bin", 2)));
    const std::vector<nettest::LogLine> vTrace = Trace();
    EXPECT_EQ(1u, nettest::Count(vTrace, "ERROR", "ERROR_INTERNET_INVALID_CA received"));
    EXPECT_EQ(1u, nettest::Count(vTrace, "ERROR", "SSL Path : (" + netfx::OtherCaFile() + ").."));
    EXPECT_EQ(0u, nettest::Count(vTrace, "INFO", "Before curl_easy_getinfo."));
    EXPECT_EQ(0u, nettest::Count(vTrace, "ERROR", "Breaking the loop."));
}

TEST_F(KVInetTest, ProxyCarriesHttpsUnderTheCertificatePolicy)
{
    ASSERT_TRUE(netfx::SslConfig({"verify"}));
    const ProxySpec proxy = {"127.0.0.1", static_cast<DWORD>(netfx::kDantePort), nullptr, nullptr, 1, 1, 0};
    EXPECT_EQ(TRUE, Fetch(netfx::HttpsUrl("k.bin"), proxy));
    EXPECT_EQ(kPayload, netfx::ReadFile(kDest));
}
} // namespace
