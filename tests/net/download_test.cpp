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

constexpr DWORD kUntouched = 0xDEADBEEF;
const std::string kOptionsFile = netfx::kKvinetOpt;
const std::string kPayload = "manifest payload\n[service_pack_linux]\nname=x\n";
const std::string kDest = "/var/tmp/download.out";
// Open proxies besides the fixture's authenticating ones. The HTTP one sits
// on a port above the signed 16-bit range.
constexpr int kOpenHttpPort = 65535;
constexpr int kOpenSocksPort = 1082;

// DownloadFile with writable copies of the texts (a null URL for
// bNullUrl); every path leaves the error code alone.
BOOLEAN Download(const std::string& strUrl, const std::string& strDest = kDest, bool bNullUrl = false)
{
    char szUrl[MAX_PATH] = {0};
    char szDest[MAX_PATH] = {0};
    std::strncpy(szUrl, strUrl.c_str(), sizeof(szUrl) - 1);
    std::strncpy(szDest, strDest.c_str(), sizeof(szDest) - 1);
    DWORD dwError = kUntouched;
    const BOOLEAN bResult = DownloadFile(bNullUrl ? nullptr : szUrl, szDest, &dwError);
    EXPECT_EQ(kUntouched, dwError);
    return bResult;
}

std::string DestContent() { return netfx::ReadFile(kDest); }

// inotify on a file: did anything open it since the watch was set?
struct OpenWatch
{
    int m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    bool m_bArmed;
    explicit OpenWatch(const std::string& strPath)
        : m_bArmed(m_fd >= 0 && inotify_add_watch(m_fd, strPath.c_str(), IN_OPEN) >= 0) {}
    ~OpenWatch() { (void)close(m_fd); } // a failed close changes nothing for the test
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool Opened() const
    {
        alignas(inotify_event) char acBuffer[4096];
        return read(m_fd, acBuffer, sizeof(acBuffer)) > 0;
    }
};

netfx::KvinetOpt ProxyOptions(int iConnType, int iPort, bool bAuth, const char* pcszPassword = netfx::kProxyPass)
{
    netfx::KvinetOpt opt;
    opt.iConnType = iConnType;
    opt.iPort = iPort;
    opt.iUseAuth = bAuth ? 1 : 0;
    opt.strUser = bAuth ? netfx::kProxyUser : "";
    opt.strPassword = bAuth ? pcszPassword : "";
    return opt;
}

class DownloadFileTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(netfx::Publish("pkg.bin", kPayload));
        ASSERT_TRUE(netfx::Publish("empty.bin", ""));
        ASSERT_TRUE(netfx::StartProxy("tinyproxy", true));
        ASSERT_TRUE(netfx::StartProxy("tinyproxy", false, kOpenHttpPort));
        ASSERT_TRUE(netfx::StartProxy("microsocks", true));
        ASSERT_TRUE(netfx::StartProxy("microsocks", false, kOpenSocksPort));
        ASSERT_TRUE(netfx::StartProxy("dante", false));
    }

    void SetUp() override
    {
        ASSERT_TRUE(netfx::StartNginx("normal"));
        ASSERT_TRUE(netfx::SslConfig({"noverify"}));
        ASSERT_TRUE(nettest::RemoveTree(kOptionsFile));
        ASSERT_TRUE(nettest::RemoveTree(kDest));
        nettest::ClearTrace();
    }
};

// A complete options file naming a working proxy is there in both cases;
// only a failed direct attempt may open it.
TEST_F(DownloadFileTest, OptionsFileIsOpenedOnlyAfterADirectFailure)
{
    for (const char* pcszMode : {"normal", "drop-direct"})
    {
        SCOPED_TRACE(pcszMode);
        const bool bDirectFails = std::string(pcszMode) == "drop-direct";
        ASSERT_TRUE(netfx::StartNginx(pcszMode));
        ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(0, kOpenHttpPort, false)));
        ASSERT_TRUE(netfx::WriteFile(kDest, std::string(4096, 'o'))); // older, longer file
        nettest::ClearTrace();
        OpenWatch watch(kOptionsFile);
        ASSERT_TRUE(watch.m_bArmed);

        EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));

        EXPECT_EQ(bDirectFails, watch.Opened());
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

TEST_F(DownloadFileTest, EmptyOrNullUrlFailsAndLeavesTheLockFree)
{
    for (bool bNullUrl : {false, true})
    {
        nettest::ClearTrace();
        EXPECT_EQ(FALSE, Download("", kDest, bNullUrl));
        EXPECT_TRUE(TraceInOrder({"InitKVInet Failed", "InitKVInet failed", "Exit"}));
        EXPECT_EQ(1u, CountTrace("ERROR", "InitKVInet failed"));
        // The same thread downloads again at once: the lock was released.
        EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));
    }
}

// The direct attempt fails, then the options file decides. Each row is a
// second call on the same thread: a path that kept the (ordinary) lock would
// hang it. An 800-byte file's last 12 bytes ('A' padding) are ignored.
TEST_F(DownloadFileTest, OptionsFileMustHoldTheWholeRecordAndEveryPathFreesTheLock)
{
    struct Case
    {
        int iLength; // -1: no options file
        int iPort;
        BOOLEAN bExpected;
        std::vector<std::string> vTrace; // in this order
    };
    const std::string strOpenFailed = "open failed for args (/usr/lib/Zelvano/Zelvano/kvinet.opt)";
    const std::string strNoFile = "ReadProxySettings failed";
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    for (const Case& c : std::vector<Case>{
             {-1, kOpenHttpPort, FALSE, {"Before calling ReadProxySettings.", strOpenFailed, strNoFile}},
             {-1, kOpenHttpPort, FALSE, {strOpenFailed, strNoFile}},
             {787, kOpenHttpPort, FALSE, {"read() failed.", strNoFile}},
             {0, kOpenHttpPort, FALSE, {"read() failed.", strNoFile}},
             {788, 9, FALSE, {"Proxy serverv name", "failed with Proxy"}}, // nothing listens on 9
             {788, 9, FALSE, {"failed with Proxy"}},
             {788, kOpenHttpPort, TRUE, {"successfull down"}},
             {800, kOpenHttpPort, TRUE, {"successfull down"}}})
    {
        SCOPED_TRACE(std::to_string(c.iLength) + "/" + std::to_string(c.iPort));
        ASSERT_TRUE(nettest::RemoveTree(kOptionsFile));
        netfx::KvinetOpt opt = ProxyOptions(0, c.iPort, false);
        opt.iLength = c.iLength;
        ASSERT_TRUE(c.iLength < 0 || netfx::WriteKvinetOpt(opt));
        nettest::ClearTrace();
        EXPECT_EQ(c.bExpected, Download(netfx::HttpUrl("pkg.bin")));
        EXPECT_TRUE(TraceInOrder(c.vTrace));
        EXPECT_EQ(1u, CountTrace("INFO", "SendRequestAndGetResponse Failed Without Proxy"));
        EXPECT_EQ(c.iLength == -1 ? 1u : 0u, CountTrace("ERROR", strOpenFailed));
        EXPECT_EQ(c.iLength == 787 || c.iLength == 0 ? 1u : 0u, CountTrace("ERROR", "read() failed."));
    }
}

// nginx drops every direct connection; only a proxied attempt, arriving from
// 127.0.0.2, is served. Each proxy speaks only its own protocol, so the
// mismatched rows prove which protocol a type selects.
TEST_F(DownloadFileTest, ProxyFallbackForEveryTypeAndCredential)
{
    struct Case
    {
        const char* pcszName;
        int iConnType;
        int iPort;
        bool bAuth;
        bool bHttps;
        BOOLEAN bExpected;
        const char* pcszPassword;
    };
    const int kAuthHttp = netfx::kTinyproxyPort, kAuthSocks5 = netfx::kMicrosocksPort, kSocks4 = netfx::kDantePort;
    const char* const kPass = netfx::kProxyPass;
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    for (const Case& c : {Case{"HttpWithAuth", 0, kAuthHttp, true, false, TRUE, kPass},
                          Case{"HttpWithAuthToHttps", 0, kAuthHttp, true, true, TRUE, kPass},
                          Case{"HttpTypeSevenOnPort65535", 7, kOpenHttpPort, false, false, TRUE, kPass},
                          Case{"HttpTypeMinusOne", -1, kOpenHttpPort, false, false, TRUE, kPass},
                          Case{"Socks5WithAuth", 2, kAuthSocks5, true, false, TRUE, kPass},
                          Case{"Socks5WithAuthToHttps", 2, kAuthSocks5, true, true, TRUE, kPass},
                          Case{"Socks5Open", 2, kOpenSocksPort, false, false, TRUE, kPass},
                          Case{"Socks4", 1, kSocks4, false, false, TRUE, kPass},
                          Case{"Socks4WithUserIdToHttps", 1, kSocks4, true, true, TRUE, kPass},
                          Case{"HttpIsNotSocks5", 0, kOpenSocksPort, false, false, FALSE, kPass},
                          Case{"Socks4IsNotSocks5", 1, kOpenSocksPort, false, false, FALSE, kPass},
                          Case{"Socks5WithoutCredentials", 2, kAuthSocks5, false, false, FALSE, kPass},
                          Case{"Socks5WrongPassword", 2, kAuthSocks5, true, false, FALSE, "wrong"}})
    {
        SCOPED_TRACE(c.pcszName);
        ASSERT_TRUE(netfx::SslConfig({c.bHttps ? "verify" : "noverify"}));
        ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(c.iConnType, c.iPort, c.bAuth, c.pcszPassword)));
        ASSERT_TRUE(nettest::RemoveTree(kDest) && netfx::ClearAccessLog());
        nettest::ClearTrace();

        EXPECT_EQ(c.bExpected, Download(c.bHttps ? netfx::HttpsUrl("pkg.bin") : netfx::HttpUrl("pkg.bin")));

        EXPECT_EQ(c.bExpected ? 0u : 1u, CountTrace("INFO", "failed with Proxy"));
        // The settings are traced in plain.
        EXPECT_TRUE(!c.bAuth || TraceInOrder({"Proxy serverv name", "127.0.0.1", "Username", netfx::kProxyUser,
                                              "password", c.pcszPassword}));
        if (!c.bExpected)
        {
            EXPECT_FALSE(nettest::Exists(kDest));
            continue;
        }
        EXPECT_EQ(kPayload, DestContent());
        const std::vector<std::string> vRequests = nettest::Requests("/pkg.bin", 2);
        ASSERT_EQ(2u, vRequests.size());
        EXPECT_EQ(0u, vRequests[0].rfind("127.0.0.1 ", 0)) << vRequests[0];
        EXPECT_NE(std::string::npos, vRequests[0].find(" 444 "));
        EXPECT_EQ(0u, vRequests[1].rfind("127.0.0.2 ", 0)) << vRequests[1];
        EXPECT_NE(std::string::npos, vRequests[1].find(" 200 "));
    }
}

TEST_F(DownloadFileTest, HttpErrorStatusCountsAsDownloadedWithTheErrorBody)
{
    for (const auto& c : {std::make_pair("missing.bin", "404 Not Found"),
                          std::make_pair("fault/500/x", "500 Internal Server Error")})
    {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(TRUE, Download(netfx::HttpUrl(c.first)));
        EXPECT_NE(std::string::npos, DestContent().find(c.second));
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
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(DownloadFileTest, DestinationInAMissingDirectoryFailsWithWriteError)
{
    EXPECT_EQ(FALSE, Download(netfx::HttpUrl("pkg.bin"), "/var/tmp/no-such-dir/pkg.bin"));
    EXPECT_TRUE(TraceInOrder({"curl_easy_perform failed", curl_easy_strerror(CURLE_WRITE_ERROR),
                              "curl_easy_perform failed Error Code", "23"}));
    EXPECT_FALSE(nettest::Exists("/var/tmp/no-such-dir"));
}

TEST_F(DownloadFileTest, ProxyInTheEnvironmentDoesNotDivertTheDirectAttempt)
{
    // The open proxy would happily carry the request if libcurl used it.
    const std::vector<const char*> vVars = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    for (const char* pcszVar : vVars)
        ASSERT_EQ(0, setenv(pcszVar, ("http://127.0.0.1:" + std::to_string(kOpenHttpPort)).c_str(), 1));
    const std::string strProxyLog = netfx::Dir() + "/tinyproxy-65535/tinyproxy.log";
    const size_t nProxyLines = netfx::ReadLines(strProxyLog).size();
    ASSERT_TRUE(netfx::ClearAccessLog());

    const BOOLEAN bHttp = Download(netfx::HttpUrl("pkg.bin"));
    const BOOLEAN bHttps = Download(netfx::HttpsUrl("pkg.bin"));

    for (const char* pcszVar : vVars)
        ASSERT_EQ(0, unsetenv(pcszVar));
    EXPECT_EQ(TRUE, bHttp);
    EXPECT_EQ(TRUE, bHttps);
    const std::vector<std::string> vRequests = nettest::Requests("/pkg.bin", 2);
    ASSERT_EQ(2u, vRequests.size());
    for (const std::string& strLine : vRequests)
        EXPECT_EQ(0u, strLine.rfind("127.0.0.1 ", 0)) << strLine;
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

TEST_F(DownloadFileTest, DroppedConnectionIsOneFailedTransfer)
{
    EXPECT_EQ(FALSE, Download(netfx::HttpUrl("fault/drop/pkg.bin")));
    EXPECT_TRUE(TraceInOrder({"curl_easy_perform failed Error Code", "52", "curl_easy_perform failed.",
                              "Breaking the loop.",
                              "CURL is failed either for attempts exceeded reason or for other reason Attempts.", "1",
                              "SendRequestAndGetResponse Failed Without Proxy"}));
    EXPECT_FALSE(nettest::Exists(kDest));
}

// The agent's certificate policy, end to end over HTTPS. Without an options
// file only the direct attempt is made.
TEST_F(DownloadFileTest, CertificatePolicyDecidesWhetherTheTestServerIsTrusted)
{
    struct Case
    {
        std::vector<std::string> vSslConfig;
        BOOLEAN bExpected;
        std::string strErrorTrace; // an ERROR line that must appear
    };
    const std::string strNoIni = "GetPrivateProfileStringW failed..";
    const std::string strCaPath = "SSL Path : (" + netfx::CaFile() + ")..";
    for (const Case& c : std::vector<Case>{{{"none"}, FALSE, strNoIni},
                                           {{"no-config-dir"}, FALSE, "GetClientAgentConfigDir failed"},
                                           {{"verify"}, TRUE, strCaPath},
                                           {{"verify", netfx::OtherCaFile()}, FALSE,
                                            "SSL Path : (" + netfx::OtherCaFile() + ").."},
                                           {{"raw", "1"}, FALSE, strNoIni}, // no store path: libcurl's defaults
                                           {{"raw", "1yes", netfx::CaFile()}, TRUE, strCaPath},
                                           {{"noverify"}, TRUE, ""},
                                           {{"raw", "2"}, TRUE, ""},
                                           {{"raw", "yes"}, TRUE, ""}})
    {
        SCOPED_TRACE(c.vSslConfig.front() + (c.vSslConfig.size() > 1 ? " " + c.vSslConfig[1] : ""));
        ASSERT_TRUE(netfx::SslConfig(c.vSslConfig));
        ASSERT_TRUE(nettest::RemoveTree(kDest));
        nettest::ClearTrace();
        EXPECT_EQ(c.bExpected, Download(netfx::HttpsUrl("pkg.bin")));
        EXPECT_EQ(c.bExpected == TRUE, DestContent() == kPayload);
        EXPECT_TRUE(c.strErrorTrace.empty() || CountTrace("ERROR", c.strErrorTrace) == 1) << c.strErrorTrace;
        EXPECT_EQ(c.bExpected == TRUE ? 0u : 1u, CountTrace("ERROR", "ERROR_INTERNET_INVALID_CA received"));
    }
}

// The options-file reader on its own (the proxy rows above show the other
// fields' offsets): a text field without a terminator is cut at 259.
TEST(ReadProxySettingsTest, ReadsTheRecordAndCutsUnterminatedTexts)
{
    ASSERT_TRUE(nettest::RemoveTree(kOptionsFile));
    nettest::ClearTrace();
    INETSET settings;
    std::memset(&settings, 0x5A, sizeof(settings));
    const INETSET before = settings;
    EXPECT_EQ(FALSE, ReadProxySettings(nullptr));
    EXPECT_EQ(1u, CountTrace("ERROR", "NULL Parameters."));

    netfx::KvinetOpt opt = ProxyOptions(2, 65535, true);
    opt.iLength = 787;
    ASSERT_TRUE(netfx::WriteKvinetOpt(opt));
    EXPECT_EQ(FALSE, ReadProxySettings(&settings));
    EXPECT_EQ(0, std::memcmp(&before, &settings, sizeof(settings))) << "unchanged after a short read";

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

TEST(DecryptTest, SwapsTheHalvesOfEachByte)
{
    BYTE abAll[256];
    for (int i = 0; i < 256; ++i)
        abAll[i] = static_cast<BYTE>(i);
    Decrypt(abAll, 256);
    for (const auto& known : {std::make_pair(0x12, 0x21), std::make_pair(0xAB, 0xBA), std::make_pair(0x01, 0x10),
                              std::make_pair(0xF0, 0x0F)})
        EXPECT_EQ(known.second, abAll[known.first]);
    Decrypt(abAll, 0); // these three change nothing
    Decrypt(abAll, -3);
    Decrypt(nullptr, 2);
    Decrypt(abAll, 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(i, abAll[i]) << "twice restores";
}

TEST(GetClientAgentRootDirTest, NeedsRoomForThePathAndItsTerminator)
{
    nettest::ClearTrace();
    char szBuffer[64];
    std::memset(szBuffer, 'x', sizeof(szBuffer));
    EXPECT_EQ(FALSE, GetClientAgentRootDir(szBuffer, 29));
    EXPECT_EQ(1u, CountTrace("ERROR", "Out buffer length is small."));
    EXPECT_EQ('x', szBuffer[0]);
    EXPECT_EQ(FALSE, GetClientAgentRootDir(szBuffer, 0));
    EXPECT_EQ(FALSE, GetClientAgentRootDir(nullptr, 30));
    EXPECT_EQ(2u, CountTrace("ERROR", "Invalid Parameters."));
    EXPECT_EQ(TRUE, GetClientAgentRootDir(szBuffer, 30));
    EXPECT_STREQ("/usr/lib/Zelvano/ClientAgent/", szBuffer);
    EXPECT_TRUE(TraceInOrder({"Path:", "/usr/lib/Zelvano/ClientAgent/", "Exit."}));
}
} // namespace
