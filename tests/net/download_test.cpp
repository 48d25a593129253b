// DownloadFile and the proxy options file against real nginx and proxies.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commondefs.h"
#include "kvinstaller.h"
#include "net_test_util.h"
#include "netfixtures.h"

namespace
{
using nettest::CountTrace;
using nettest::TraceInOrder;

const std::string kOptionsFile = netfx::kKvinetOpt;
const std::string kPayload = "manifest payload\n[service_pack_linux]\nname=x\n";
const std::string kDest = "/var/tmp/download.out";
// Open proxies besides the fixture's authenticating ones. The HTTP one sits
// on a port above the signed 16-bit range.
constexpr int kOpenHttpPort = 65535;
constexpr int kOpenSocksPort = 1082;

// DownloadFile with writable copies of the texts; every path leaves the
// error code alone.
BOOLEAN Download(const std::string& strUrl, const std::string& strDest = kDest, bool bNullUrl = false)
{
    char szUrl[MAX_PATH] = {0}, szDest[MAX_PATH] = {0};
    std::strncpy(szUrl, strUrl.c_str(), sizeof(szUrl) - 1);
    std::strncpy(szDest, strDest.c_str(), sizeof(szDest) - 1);
    DWORD dwError = 0xDEADBEEF;
    const BOOLEAN bResult = DownloadFile(bNullUrl ? nullptr : szUrl, szDest, &dwError);
    EXPECT_EQ(0xDEADBEEFu, dwError);
    return bResult;
}

std::string DestContent() { return netfx::ReadFile(kDest); }

netfx::KvinetOpt ProxyOptions(int iConnType, int iPort, bool bAuth)
{
    return {1, iConnType, netfx::kAddr1, iPort, bAuth ? netfx::kProxyUser : "", bAuth ? netfx::kProxyPass : "",
            bAuth ? 1 : 0, 788};
}

class DownloadFileTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(netfx::Publish("pkg.bin", kPayload) && netfx::Publish("empty.bin", ""));
        ASSERT_TRUE(netfx::StartProxy("tinyproxy", true) && netfx::StartProxy("tinyproxy", false, kOpenHttpPort));
        ASSERT_TRUE(netfx::StartProxy("microsocks", true) && netfx::StartProxy("microsocks", false, kOpenSocksPort));
        ASSERT_TRUE(netfx::StartProxy("dante", false));
    }

    void SetUp() override
    {
        ASSERT_TRUE(netfx::StartNginx("normal") && netfx::SslConfig({"noverify"}));
        ASSERT_TRUE(nettest::RemoveTree(kOptionsFile) && nettest::RemoveTree(kDest));
        nettest::ClearTrace();
    }
};

// A complete options file naming a working proxy is there in both cases;
// only a failed direct attempt may open it (inotify sees every open).
TEST_F(DownloadFileTest, OptionsFileIsOpenedOnlyAfterADirectFailure)
{
    for (const bool bDirectFails : {false, true})
    {
        SCOPED_TRACE(bDirectFails);
        ASSERT_TRUE(netfx::StartNginx(bDirectFails ? "drop-direct" : "normal"));
        ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(0, kOpenHttpPort, false)));
        ASSERT_TRUE(netfx::WriteFile(kDest, std::string(4096, 'o'))); // older, longer file
        nettest::ClearTrace();
        const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_TRUE(fd >= 0 && inotify_add_watch(fd, kOptionsFile.c_str(), IN_OPEN) >= 0);

        EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));

        alignas(inotify_event) char acEvents[4096];
        EXPECT_EQ(bDirectFails, read(fd, acEvents, sizeof(acEvents)) > 0);
        (void)close(fd); // a failed close changes nothing for the test
        EXPECT_EQ(kPayload, DestContent());
        EXPECT_EQ(bDirectFails ? 1u : 0u, CountTrace("INFO", "Before calling ReadProxySettings."));
        EXPECT_TRUE(TraceInOrder({"Entry", "before calling InitKVInet", "InitKVInet Successfull",
                                  "Before SendRequestAndGetResponse.", "After SendRequestAndGetResponse.",
                                  "successfull down", "Exit"}));
    }
}

// shUseProxy 0 with a proxy where nothing listens: only a second direct
// attempt can succeed, and its body replaces the first attempt's partial one.
TEST_F(DownloadFileTest, UseProxyZeroMakesASecondDirectAttempt)
{
    ASSERT_TRUE(netfx::StartScripted(
        R"({"/pkg": [{"status": 200, "body": "partial first body", "content_length": 4000},
                     {"status": 200, "body": "whole"}]})"));
    netfx::KvinetOpt opt = ProxyOptions(0, 9, true);
    opt.iUseProxy = 0;
    ASSERT_TRUE(netfx::WriteKvinetOpt(opt));
    EXPECT_EQ(TRUE, Download(netfx::ScriptedUrl("pkg")));
    EXPECT_EQ("whole", DestContent());
    EXPECT_EQ(2u, netfx::ScriptedRequests().size());
    EXPECT_EQ(1u, CountTrace("ERROR", "18"));
    EXPECT_EQ(1u, CountTrace("INFO", "SendRequestAndGetResponse Failed Without Proxy"));
}

// Each row ends with a second call on the same thread: a path that kept the
// (ordinary) lock would hang it.
TEST_F(DownloadFileTest, EveryFailurePathFreesTheLock)
{
    EXPECT_EQ(FALSE, Download("", kDest, true));
    EXPECT_TRUE(TraceInOrder({"InitKVInet Failed", "InitKVInet failed", "Exit"}));
    EXPECT_EQ(1u, CountTrace("ERROR", "InitKVInet failed"));
    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));

    // The direct attempt fails, then the options file decides. An 800-byte
    // file's last 12 bytes ('A' padding) are ignored.
    const std::string strOpenFailed = "open failed for args (/usr/lib/Zelvano/Zelvano/kvinet.opt)";
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    for (const auto& [iLength, iPort, bExpected, vTrace] : std::vector<std::tuple<int, int, BOOLEAN, std::vector<std::string>>>{
             {-1, kOpenHttpPort, FALSE, {"Before calling ReadProxySettings.", strOpenFailed, "ReadProxySettings failed"}},
             {787, kOpenHttpPort, FALSE, {"read() failed.", "ReadProxySettings failed"}},
             {788, 9, FALSE, {"Proxy serverv name", "failed with Proxy"}}, // nothing listens on 9
             {788, kOpenHttpPort, TRUE, {"successfull down"}},
             {800, kOpenHttpPort, TRUE, {"successfull down"}}})
    {
        SCOPED_TRACE(std::to_string(iLength) + "/" + std::to_string(iPort));
        ASSERT_TRUE(nettest::RemoveTree(kOptionsFile));
        netfx::KvinetOpt opt = ProxyOptions(0, iPort, false);
        opt.iLength = iLength;
        ASSERT_TRUE(iLength < 0 || netfx::WriteKvinetOpt(opt));
        nettest::ClearTrace();
        EXPECT_EQ(bExpected, Download(netfx::HttpUrl("pkg.bin")));
        EXPECT_TRUE(TraceInOrder(vTrace));
        EXPECT_EQ(1u, CountTrace("INFO", "SendRequestAndGetResponse Failed Without Proxy"));
        EXPECT_EQ(iLength == -1 ? 1u : 0u, CountTrace("ERROR", strOpenFailed));
        EXPECT_EQ(iLength == 787 ? 1u : 0u, CountTrace("ERROR", "read() failed."));
    }
}

// nginx drops every direct connection; only a proxied attempt, arriving from
// 127.0.0.2, is served. Each proxy speaks only its own protocol, so a
// mismatched row proves which protocol a type selects.
TEST_F(DownloadFileTest, ProxyFallbackForEveryTypeAndCredential)
{
    const int kAuthHttp = netfx::kTinyproxyPort, kAuthSocks5 = netfx::kMicrosocksPort, kSocks4 = netfx::kDantePort;
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    for (const auto& [pcszName, iConnType, iPort, bAuth, bHttps, bExpected] :
         std::vector<std::tuple<const char*, int, int, bool, bool, BOOLEAN>>{
             {"HttpWithAuth", 0, kAuthHttp, true, false, TRUE},
             {"HttpWithAuthToHttps", 0, kAuthHttp, true, true, TRUE},
             {"HttpTypeSevenOnPort65535", 7, kOpenHttpPort, false, false, TRUE},
             {"Socks5WithAuth", 2, kAuthSocks5, true, false, TRUE},
             {"Socks5Open", 2, kOpenSocksPort, false, false, TRUE},
             {"Socks4", 1, kSocks4, false, false, TRUE},
             {"Socks4WithUserIdToHttps", 1, kSocks4, true, true, TRUE},
             {"Socks4IsNotSocks5", 1, kOpenSocksPort, false, false, FALSE}})
    {
        SCOPED_TRACE(pcszName);
        ASSERT_TRUE(netfx::SslConfig({bHttps ? "verify" : "noverify"}));
        ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(iConnType, iPort, bAuth)));
        ASSERT_TRUE(nettest::RemoveTree(kDest) && netfx::ClearAccessLog());
        nettest::ClearTrace();

        EXPECT_EQ(bExpected, Download(bHttps ? netfx::HttpsUrl("pkg.bin") : netfx::HttpUrl("pkg.bin")));

        EXPECT_EQ(bExpected ? 0u : 1u, CountTrace("INFO", "failed with Proxy"));
        // The settings are traced in plain.
        EXPECT_TRUE(!bAuth || TraceInOrder({"Proxy serverv name", "127.0.0.1", "Username", netfx::kProxyUser,
                                            "password", netfx::kProxyPass}));
        EXPECT_EQ(bExpected ? kPayload : "", DestContent());
        const std::vector<std::string> vRequests = nettest::Requests("/pkg.bin", bExpected ? 2 : 1);
        ASSERT_EQ(bExpected ? 2u : 1u, vRequests.size());
        EXPECT_TRUE(nettest::FromPeer(vRequests[0], "127.0.0.1") && vRequests[0].find(" 444 ") != std::string::npos);
        EXPECT_TRUE(!bExpected ||
                    (nettest::FromPeer(vRequests[1], "127.0.0.2") && vRequests[1].find(" 200 ") != std::string::npos))
            << vRequests.back();
    }
}

// An HTTP error status is downloaded with its error body; a dropped
// connection is one failed transfer; a write error is code 23.
TEST_F(DownloadFileTest, DirectOutcomes)
{
    const std::string strNoDir = "/var/tmp/no-such-dir";
    for (const auto& [strPath, strDest, bExpected, strBody, vTrace] :
         std::vector<std::tuple<std::string, std::string, BOOLEAN, std::string, std::vector<std::string>>>{
             {"missing.bin", kDest, TRUE, "404 Not Found", {"successfull down"}},
             {"fault/500/x", kDest, TRUE, "500 Internal Server Error", {"successfull down"}},
             {"fault/drop/pkg.bin", kDest, FALSE, "",
              {"curl_easy_perform failed Error Code", "52", "curl_easy_perform failed.", "Breaking the loop.",
               "CURL is failed either for attempts exceeded reason or for other reason Attempts.", "1",
               "SendRequestAndGetResponse Failed Without Proxy"}},
             {"pkg.bin", strNoDir + "/pkg.bin", FALSE, "",
              {"curl_easy_perform failed", curl_easy_strerror(CURLE_WRITE_ERROR),
               "curl_easy_perform failed Error Code", "23"}}})
    {
        SCOPED_TRACE(strPath);
        ASSERT_TRUE(nettest::RemoveTree(kDest));
        nettest::ClearTrace();
        EXPECT_EQ(bExpected, Download(netfx::HttpUrl(strPath), strDest));
        EXPECT_TRUE(TraceInOrder(vTrace));
        EXPECT_NE(std::string::npos, DestContent().find(strBody));
        EXPECT_EQ(bExpected == TRUE, nettest::Exists(kDest) || nettest::Exists(strNoDir));
    }
}

TEST_F(DownloadFileTest, EmptyBodyLeavesAnExistingDestinationUntouched)
{
    ASSERT_TRUE(netfx::WriteFile(kDest, "previous content"));
    struct stat before, after;
    ASSERT_EQ(0, stat(kDest.c_str(), &before));
    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("empty.bin")));
    ASSERT_EQ(0, stat(kDest.c_str(), &after));
    EXPECT_EQ("previous content", DestContent());
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(0, std::memcmp(&before.st_mtim, &after.st_mtim, sizeof(before.st_mtim)));
}

// The open proxy would happily carry the request if libcurl used it.
TEST_F(DownloadFileTest, ProxyInTheEnvironmentDoesNotDivertTheDirectAttempt)
{
    const std::vector<const char*> vVars = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    for (const char* pcszVar : vVars)
        ASSERT_EQ(0, setenv(pcszVar, ("http://127.0.0.1:" + std::to_string(kOpenHttpPort)).c_str(), 1));
    const std::string strProxyLog = netfx::Dir() + "/tinyproxy-65535/tinyproxy.log";
    const size_t nProxyLines = netfx::ReadLines(strProxyLog).size();
    ASSERT_TRUE(netfx::ClearAccessLog());

    const BOOLEAN bHttp = Download(netfx::HttpUrl("pkg.bin")), bHttps = Download(netfx::HttpsUrl("pkg.bin"));

    for (const char* pcszVar : vVars)
        ASSERT_EQ(0, unsetenv(pcszVar));
    EXPECT_EQ(TRUE, bHttp);
    EXPECT_EQ(TRUE, bHttps);
    const std::vector<std::string> vRequests = nettest::Requests("/pkg.bin", 2);
    ASSERT_EQ(2u, vRequests.size());
    for (const std::string& strLine : vRequests)
        EXPECT_TRUE(nettest::FromPeer(strLine, "127.0.0.1")) << strLine;
    EXPECT_EQ(nProxyLines, netfx::ReadLines(strProxyLog).size());
}

TEST_F(DownloadFileTest, OnlyTheSecondBaseAddressServes)
{
    ASSERT_TRUE(netfx::StartNginx("second-only"));
    EXPECT_EQ(FALSE, Download(netfx::HttpUrl("pkg.bin", 1)));
    EXPECT_EQ(1u, CountTrace("ERROR", "7"));
    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin", 2)));
    EXPECT_EQ(kPayload, DestContent());
}

// The agent's certificate policy, end to end over HTTPS. Without an options
// file only the direct attempt is made. The last column is an ERROR line
// that must appear.
TEST_F(DownloadFileTest, CertificatePolicyDecidesWhetherTheTestServerIsTrusted)
{
    const std::string strCaPath = "SSL Path : (" + netfx::CaFile() + ")..";
    for (const auto& [vSslConfig, bExpected, strErrorTrace] :
         std::vector<std::tuple<std::vector<std::string>, BOOLEAN, std::string>>{
             {{"none"}, FALSE, "GetPrivateProfileStringW failed.."},
             {{"no-config-dir"}, FALSE, "GetClientAgentConfigDir failed"},
             {{"verify"}, TRUE, strCaPath},
             {{"verify", netfx::OtherCaFile()}, FALSE, "SSL Path : (" + netfx::OtherCaFile() + ").."},
             {{"raw", "1yes", netfx::CaFile()}, TRUE, strCaPath},
             {{"noverify"}, TRUE, ""}})
    {
        SCOPED_TRACE(vSslConfig.front() + (vSslConfig.size() > 1 ? " " + vSslConfig[1] : ""));
        ASSERT_TRUE(netfx::SslConfig(vSslConfig) && nettest::RemoveTree(kDest));
        nettest::ClearTrace();
        EXPECT_EQ(bExpected, Download(netfx::HttpsUrl("pkg.bin")));
        EXPECT_EQ(bExpected == TRUE, DestContent() == kPayload);
        EXPECT_TRUE(strErrorTrace.empty() || CountTrace("ERROR", strErrorTrace) == 1) << strErrorTrace;
        EXPECT_EQ(bExpected == TRUE ? 0u : 1u, CountTrace("ERROR", "ERROR_INTERNET_INVALID_CA received"));
    }
}

// The options-file reader on its own (the proxy rows above show the other
// fields' offsets and the decoding): a text field without a terminator is
// cut at 259.
TEST(ReadProxySettingsTest, ReadsTheRecordAndCutsUnterminatedTexts)
{
    ASSERT_TRUE(nettest::RemoveTree(kOptionsFile));
    nettest::ClearTrace();
    INETSET settings;
    EXPECT_EQ(FALSE, ReadProxySettings(nullptr));
    EXPECT_EQ(1u, CountTrace("ERROR", "NULL Parameters."));

    netfx::KvinetOpt opt = ProxyOptions(2, 65535, true);
    opt.strHost = std::string(260, 'h');
    opt.strUser = std::string(260, 'u');
    opt.strPassword = std::string(260, 'p');
    opt.iLength = 800;
    ASSERT_TRUE(netfx::WriteKvinetOpt(opt));
    ASSERT_EQ(TRUE, ReadProxySettings(&settings));
    EXPECT_EQ(std::string(259, 'h'), settings.kvInetConfig.szHostName);
    EXPECT_EQ(std::string(259, 'u'), settings.kvInetConfig.szUserName);
    EXPECT_EQ(std::string(259, 'p'), settings.kvInetConfig.szPassword);
}

TEST(GetClientAgentRootDirTest, NeedsRoomForThePathAndItsTerminator)
{
    nettest::ClearTrace();
    char szBuffer[64] = "untouched";
    EXPECT_EQ(FALSE, GetClientAgentRootDir(szBuffer, 29));
    EXPECT_EQ(1u, CountTrace("ERROR", "Out buffer length is small."));
    EXPECT_STREQ("untouched", szBuffer);
    EXPECT_EQ(FALSE, GetClientAgentRootDir(nullptr, 30));
    EXPECT_EQ(1u, CountTrace("ERROR", "Invalid Parameters."));
    EXPECT_EQ(TRUE, GetClientAgentRootDir(szBuffer, 30));
    EXPECT_STREQ("/usr/lib/Zelvano/ClientAgent/", szBuffer);
    EXPECT_TRUE(TraceInOrder({"Path:", "/usr/lib/Zelvano/ClientAgent/", "Exit."}));
}
} // namespace
