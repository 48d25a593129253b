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
using nettest::InOrder;
using nettest::Messages;
using nettest::Trace;

constexpr DWORD kUntouched = 0xDEADBEEF;
const std::string kOptionsFile = netfx::kKvinetOpt;
const std::string kPayload = "manifest payload\n[service_pack_linux]\nname=x\n";
const std::string kDest = "/var/tmp/download.out";

// DownloadFile with writable copies of the texts, as the flows pass them.
// Every path leaves the error code alone.
BOOLEAN Download(const char* pcszUrl, const std::string& strDest = kDest)
{
    char szUrl[MAX_PATH] = {0};
    char szDest[MAX_PATH] = {0};
    if (pcszUrl != nullptr)
        std::strncpy(szUrl, pcszUrl, sizeof(szUrl) - 1);
    std::strncpy(szDest, strDest.c_str(), sizeof(szDest) - 1);
    DWORD dwError = kUntouched;
    const BOOLEAN bResult = DownloadFile(pcszUrl != nullptr ? szUrl : nullptr, szDest, &dwError);
    EXPECT_EQ(kUntouched, dwError);
    return bResult;
}

BOOLEAN Download(const std::string& strUrl, const std::string& strDest = kDest)
{
    return Download(strUrl.c_str(), strDest);
}

// inotify on the options file: did anything open it?
class OpenWatch
{
public:
    explicit OpenWatch(const std::string& strPath)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_wd(m_fd >= 0 ? inotify_add_watch(m_fd, strPath.c_str(), IN_OPEN) : -1)
    {
    }
    ~OpenWatch()
    {
        if (m_fd >= 0)
            (void)close(m_fd);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool Armed() const { return m_wd >= 0; }
    bool Opened() const
    {
        alignas(inotify_event) char acBuffer[4096];
        return read(m_fd, acBuffer, sizeof(acBuffer)) > 0;
    }

private:
    int m_fd;
    int m_wd;
};

netfx::KvinetOpt ProxyOptions(int iConnType, int iPort, bool bAuth,
                              const std::string& strPassword = netfx::kProxyPass)
{
    netfx::KvinetOpt opt;
    opt.iUseProxy = 1;
    opt.iConnType = iConnType;
    opt.iPort = iPort;
    opt.iUseAuth = bAuth ? 1 : 0;
    opt.strUser = bAuth ? netfx::kProxyUser : "";
    opt.strPassword = bAuth ? strPassword : "";
    return opt;
}

constexpr int kTinyproxyOpenPort = 3129;
constexpr int kMicrosocksOpenPort = 1082;

class DownloadFileTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(netfx::Publish("pkg.bin", kPayload));
        ASSERT_TRUE(netfx::Publish("empty.bin", ""));
        ASSERT_TRUE(netfx::StartProxy("tinyproxy", true));
        ASSERT_TRUE(netfx::StartProxy("tinyproxy", false, kTinyproxyOpenPort));
        ASSERT_TRUE(netfx::StartProxy("microsocks", true));
        ASSERT_TRUE(netfx::StartProxy("microsocks", false, kMicrosocksOpenPort));
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

    static std::string DestContent() { return netfx::ReadFile(kDest); }
};

TEST_F(DownloadFileTest, DirectSuccessNeverOpensTheOptionsFile)
{
    // A complete options file pointing at a working proxy: opening it would be visible.
    ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(0, kTinyproxyOpenPort, false)));
    OpenWatch watch(kOptionsFile);
    ASSERT_TRUE(watch.Armed());

    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));

    EXPECT_FALSE(watch.Opened());
    EXPECT_EQ(kPayload, DestContent());
    EXPECT_TRUE(InOrder(Messages(Trace()),
                        {"Entry", "before calling InitKVInet", "InitKVInet Successfull",
                         "Before SendRequestAndGetResponse.", "After SendRequestAndGetResponse.",
                         "successfull down", "Exit"}));
    EXPECT_EQ(0u, CountTrace("INFO", "Before calling ReadProxySettings."));
}

TEST_F(DownloadFileTest, DownloadReplacesAnOlderLongerFile)
{
    ASSERT_TRUE(netfx::WriteFile(kDest, std::string(4096, 'o')));
    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));
    EXPECT_EQ(kPayload, DestContent());
}

TEST_F(DownloadFileTest, SecondAttemptReplacesWhatAFailedFirstAttemptWrote)
{
    ASSERT_TRUE(netfx::StartScripted(
        R"({"/pkg": [{"status": 200, "body": "partial first body", "content_length": 4000},
                     {"status": 200, "body": "whole"}]})"));
    netfx::KvinetOpt opt = ProxyOptions(0, 9, false);
    opt.iUseProxy = 0;
    ASSERT_TRUE(netfx::WriteKvinetOpt(opt));
    EXPECT_EQ(TRUE, Download(netfx::ScriptedUrl("pkg")));
    EXPECT_EQ("whole", DestContent());
    EXPECT_EQ(1u, CountTrace("ERROR", "18"));
}

TEST_F(DownloadFileTest, FallbackOpensTheOptionsFile)
{
    // The positive control of the test above: the watch does see an open.
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(0, kTinyproxyOpenPort, false)));
    OpenWatch watch(kOptionsFile);
    ASSERT_TRUE(watch.Armed());

    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));
    EXPECT_TRUE(watch.Opened());
}

TEST_F(DownloadFileTest, EmptyOrNullUrlFailsAndLeavesTheLockFree)
{
    for (const char* pcszUrl : {"", static_cast<const char*>(nullptr)})
    {
        nettest::ClearTrace();
        EXPECT_EQ(FALSE, Download(pcszUrl));
        const std::vector<nettest::LogLine> vTrace = Trace();
        EXPECT_EQ(1u, nettest::Count(vTrace, "INFO", "InitKVInet Failed"));
        EXPECT_EQ(1u, nettest::Count(vTrace, "ERROR", "InitKVInet failed"));
        EXPECT_TRUE(InOrder(Messages(vTrace), {"InitKVInet Failed", "InitKVInet failed", "Exit"}));
        // The same thread downloads again at once: the lock was released.
        EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));
    }
}

TEST_F(DownloadFileTest, LockIsFreeAfterEveryFailurePath)
{
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    const std::string strUrl = netfx::HttpUrl("pkg.bin");
    // No options file; a short one; a proxy that refuses (nothing listens on 9).
    EXPECT_EQ(FALSE, Download(strUrl));
    EXPECT_EQ(FALSE, Download(strUrl));
    netfx::KvinetOpt shortFile = ProxyOptions(0, kTinyproxyOpenPort, false);
    shortFile.iLength = 100;
    ASSERT_TRUE(netfx::WriteKvinetOpt(shortFile));
    EXPECT_EQ(FALSE, Download(strUrl));
    ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(0, 9, false)));
    EXPECT_EQ(FALSE, Download(strUrl));
    EXPECT_EQ(FALSE, Download(strUrl));
    EXPECT_EQ(2u, CountTrace("INFO", "failed with Proxy"));
}

TEST_F(DownloadFileTest, FailedDirectAttemptWithoutOptionsFileReportsTheOpen)
{
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    EXPECT_EQ(FALSE, Download(netfx::HttpUrl("pkg.bin")));

    const std::vector<nettest::LogLine> vTrace = Trace();
    EXPECT_EQ(1u, nettest::Count(vTrace, "ERROR",
                                 "open failed for args (/usr/lib/Zelvano/Zelvano/kvinet.opt)"));
    EXPECT_TRUE(InOrder(Messages(vTrace),
                        {"SendRequestAndGetResponse Failed Without Proxy",
                         "Before calling ReadProxySettings.",
                         "open failed for args (/usr/lib/Zelvano/Zelvano/kvinet.opt)",
                         "ReadProxySettings failed"}));
    // This failure path ends without DownloadFile's "Exit".
    for (const nettest::LogLine& line : vTrace)
        EXPECT_FALSE(line.strLabel == "DownloadFile" && line.strMessage == "Exit");
}

TEST_F(DownloadFileTest, OptionsFileMustHoldTheWholeRecord)
{
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    struct Case
    {
        int iLength;
        BOOLEAN bExpected;
    };
    // 800 bytes: the 12 bytes after the record ('A' padding) are ignored.
    for (const Case& c : {Case{787, FALSE}, Case{0, FALSE}, Case{788, TRUE}, Case{800, TRUE}})
    {
        SCOPED_TRACE(c.iLength);
        nettest::ClearTrace();
        netfx::KvinetOpt opt = ProxyOptions(0, kTinyproxyOpenPort, false);
        opt.iLength = c.iLength;
        ASSERT_TRUE(netfx::WriteKvinetOpt(opt));
        EXPECT_EQ(c.bExpected, Download(netfx::HttpUrl("pkg.bin")));
        EXPECT_EQ(c.bExpected ? 0u : 1u, CountTrace("ERROR", "read() failed."));
        EXPECT_EQ(c.bExpected ? 0u : 1u, CountTrace("INFO", "ReadProxySettings failed"));
    }
}

TEST_F(DownloadFileTest, UseProxyZeroMakesASecondDirectAttempt)
{
    // First connection dropped, second answered; the options name a proxy
    // port where nothing listens, so only a direct second attempt can succeed.
    ASSERT_TRUE(netfx::StartScripted(R"({"/pkg": [{"action": "drop"}, {"status": 200, "body": "second"}]})"));
    netfx::KvinetOpt opt = ProxyOptions(0, 9, true);
    opt.iUseProxy = 0;
    ASSERT_TRUE(netfx::WriteKvinetOpt(opt));

    EXPECT_EQ(TRUE, Download(netfx::ScriptedUrl("pkg")));
    EXPECT_EQ("second", DestContent());
    EXPECT_EQ(2u, netfx::ScriptedRequests().size());
    EXPECT_EQ(1u, CountTrace("INFO", "SendRequestAndGetResponse Failed Without Proxy"));
}

struct ProxyCase
{
    const char* pcszName;
    int iConnType;
    int iPort;
    bool bAuth;
    bool bHttps;
};

class ProxyFallbackTest : public DownloadFileTest, public ::testing::WithParamInterface<ProxyCase>
{
};

// nginx drops every direct connection; only the proxied attempt, arriving
// from 127.0.0.2, is served.
TEST_P(ProxyFallbackTest, ProxiedAttemptDeliversTheFile)
{
    const ProxyCase& c = GetParam();
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(c.iConnType, c.iPort, c.bAuth)));
    const std::string strUrl = c.bHttps ? netfx::HttpsUrl("pkg.bin") : netfx::HttpUrl("pkg.bin");

    EXPECT_EQ(TRUE, Download(strUrl));

    EXPECT_EQ(kPayload, DestContent());
    const std::vector<std::string> vRequests = nettest::Requests("/pkg.bin", 2);
    ASSERT_EQ(2u, vRequests.size());
    EXPECT_EQ(0u, vRequests[0].rfind("127.0.0.1 ", 0)) << vRequests[0];
    EXPECT_NE(std::string::npos, vRequests[0].find(" 444 "));
    EXPECT_EQ(0u, vRequests[1].rfind("127.0.0.2 ", 0)) << vRequests[1];
    EXPECT_NE(std::string::npos, vRequests[1].find(" 200 "));
    EXPECT_EQ(1u, CountTrace("INFO", "successfull down"));
}

INSTANTIATE_TEST_SUITE_P(
    EveryProxyType, ProxyFallbackTest,
    ::testing::Values(ProxyCase{"HttpProxyWithAuth", 0, netfx::kTinyproxyPort, true, false},
                      ProxyCase{"HttpProxyWithAuthToHttps", 0, netfx::kTinyproxyPort, true, true},
                      ProxyCase{"HttpProxyOpenTypeSeven", 7, kTinyproxyOpenPort, false, false},
                      ProxyCase{"Socks5WithAuth", 2, netfx::kMicrosocksPort, true, false},
                      ProxyCase{"Socks5WithAuthToHttps", 2, netfx::kMicrosocksPort, true, true},
                      ProxyCase{"Socks5Open", 2, kMicrosocksOpenPort, false, false},
                      ProxyCase{"Socks4", 1, netfx::kDantePort, false, false},
                      ProxyCase{"Socks4WithUserId", 1, netfx::kDantePort, true, true}),
    [](const ::testing::TestParamInfo<ProxyCase>& info) { return std::string(info.param.pcszName); });

TEST_F(DownloadFileTest, SocksProxyRefusingTheCredentialsFailsTheDownload)
{
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    for (const netfx::KvinetOpt& opt :
         {ProxyOptions(2, netfx::kMicrosocksPort, false),
          ProxyOptions(2, netfx::kMicrosocksPort, true, "wrong")})
    {
        ASSERT_TRUE(netfx::WriteKvinetOpt(opt));
        nettest::ClearTrace();
        EXPECT_EQ(FALSE, Download(netfx::HttpUrl("pkg.bin")));
        EXPECT_EQ(1u, CountTrace("INFO", "failed with Proxy"));
    }
    EXPECT_FALSE(nettest::Exists(kDest));
}

TEST_F(DownloadFileTest, HttpProxyRefusalIsAnAnswerAndCountsAsDownloaded)
{
    // The proxy's 407 is an HTTP status like any other: the transfer
    // completed, and the caller's verification rejects the error body.
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(0, netfx::kTinyproxyPort, false)));
    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));
    EXPECT_NE(kPayload, DestContent());
    EXPECT_NE(std::string::npos, DestContent().find("407"));
}

TEST_F(DownloadFileTest, ProxySettingsAreTracedInPlain)
{
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(2, netfx::kMicrosocksPort, true)));
    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));
    EXPECT_TRUE(InOrder(Messages(Trace()), {"Proxy serverv name", "127.0.0.1", "Username",
                                            netfx::kProxyUser, "password", netfx::kProxyPass}));
}

TEST_F(DownloadFileTest, PortAboveTheSignedRangeIsUsedUnsigned)
{
    ASSERT_TRUE(netfx::StartProxy("tinyproxy", false, 65535));
    ASSERT_TRUE(netfx::StartNginx("drop-direct"));
    ASSERT_TRUE(netfx::WriteKvinetOpt(ProxyOptions(0, 65535, false)));
    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("pkg.bin")));
    EXPECT_EQ(kPayload, DestContent());
    EXPECT_TRUE(netfx::Stop("tinyproxy-65535"));
}

TEST_F(DownloadFileTest, HttpErrorStatusCountsAsDownloadedWithTheErrorBody)
{
    struct Case
    {
        const char* pcszPath;
        const char* pcszBodyText;
    };
    for (const Case& c : {Case{"missing.bin", "404 Not Found"}, Case{"fault/500/x", "500 Internal Server Error"}})
    {
        SCOPED_TRACE(c.pcszPath);
        EXPECT_EQ(TRUE, Download(netfx::HttpUrl(c.pcszPath)));
        EXPECT_NE(std::string::npos, DestContent().find(c.pcszBodyText));
    }
}

TEST_F(DownloadFileTest, EmptyBodyLeavesAnExistingDestinationUntouched)
{
    ASSERT_TRUE(netfx::WriteFile(kDest, "previous content"));
    struct stat before;
    ASSERT_EQ(0, stat(kDest.c_str(), &before));

    EXPECT_EQ(TRUE, Download(netfx::HttpUrl("empty.bin")));

    struct stat after;
    ASSERT_EQ(0, stat(kDest.c_str(), &after));
    EXPECT_EQ("previous content", DestContent());
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
}

TEST_F(DownloadFileTest, DestinationInAMissingDirectoryFailsWithWriteError)
{
    const std::string strDest = "/var/tmp/no-such-dir/pkg.bin";
    EXPECT_EQ(FALSE, Download(netfx::HttpUrl("pkg.bin"), strDest));
    EXPECT_TRUE(InOrder(Messages(Trace()), {"curl_easy_perform failed", curl_easy_strerror(CURLE_WRITE_ERROR),
                                            "curl_easy_perform failed Error Code", "23"}));
    EXPECT_FALSE(nettest::Exists("/var/tmp/no-such-dir"));
}

TEST_F(DownloadFileTest, ProxyInTheEnvironmentDoesNotDivertTheDirectAttempt)
{
    // The open proxy would happily carry the request if libcurl used it.
    const std::string strProxy = "http://127.0.0.1:" + std::to_string(kTinyproxyOpenPort);
    for (const char* pcszVar : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        ASSERT_EQ(0, setenv(pcszVar, strProxy.c_str(), 1));
    const std::string strProxyLog = netfx::Dir() + "/tinyproxy-3129/tinyproxy.log";
    const size_t nProxyLines = netfx::ReadLines(strProxyLog).size();

    const BOOLEAN bHttp = Download(netfx::HttpUrl("pkg.bin"));
    const BOOLEAN bHttps = Download(netfx::HttpsUrl("pkg.bin"));

    for (const char* pcszVar : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
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

TEST_F(DownloadFileTest, DroppedConnectionIsAFailedTransfer)
{
    EXPECT_EQ(FALSE, Download(netfx::HttpUrl("fault/drop/pkg.bin")));
    EXPECT_TRUE(InOrder(Messages(Trace()), {"curl_easy_perform failed Error Code", "52", "curl_easy_perform failed.",
                                            "Breaking the loop.",
                                            "CURL is failed either for attempts exceeded reason or for other reason Attempts.",
                                            "1", "SendRequestAndGetResponse Failed Without Proxy"}));
}

// The agent's certificate policy, end to end over HTTPS.
struct CertCase
{
    const char* pcszName;
    std::vector<std::string> vSslConfig;
    BOOLEAN bExpected;
    const char* pcszExpectedTrace; // an ERROR line that must appear
};

class CertificatePolicyTest : public DownloadFileTest, public ::testing::WithParamInterface<CertCase>
{
};

TEST_P(CertificatePolicyTest, DecidesWhetherTheTestServerIsTrusted)
{
    const CertCase& c = GetParam();
    std::vector<std::string> vArgs = c.vSslConfig;
    for (std::string& strArg : vArgs)
        strArg = strArg == "<ca>" ? netfx::CaFile() : strArg == "<other-ca>" ? netfx::OtherCaFile() : strArg;
    ASSERT_TRUE(netfx::SslConfig(vArgs));
    nettest::ClearTrace();
    EXPECT_EQ(c.bExpected, Download(netfx::HttpsUrl("pkg.bin")));
    EXPECT_EQ(c.bExpected == TRUE, DestContent() == kPayload);
    std::string strTrace = c.pcszExpectedTrace;
    const std::string strCa = "<ca>";
    if (strTrace.find(strCa) != std::string::npos)
        strTrace.replace(strTrace.find(strCa), strCa.size(), netfx::CaFile());
    if (!strTrace.empty())
    {
        EXPECT_LE(1u, CountTrace("ERROR", strTrace)) << strTrace;
    }
    // Without an options file only the direct attempt is made.
    EXPECT_EQ(c.bExpected == TRUE ? 0u : 1u, CountTrace("ERROR", "ERROR_INTERNET_INVALID_CA received"));
}

INSTANTIATE_TEST_SUITE_P(
    SslConfigVariants, CertificatePolicyTest,
    ::testing::Values(
        CertCase{"NoSslConfigRefusesTheTestCertificate", {"none"}, FALSE, "GetPrivateProfileStringW failed.."},
        CertCase{"NoConfigDirRefusesTheTestCertificate", {"no-config-dir"}, FALSE, "GetClientAgentConfigDir failed"},
        CertCase{"VerifyWithTheTestCaAccepts", {"verify"}, TRUE, "SSL Path : (<ca>).."},
        CertCase{"VerifyAgainstAnUnrelatedCaRefuses", {"verify", "<other-ca>"}, FALSE, ""},
        CertCase{"VerifyWithoutStorePathKeepsLibcurlDefaults", {"raw", "1"}, FALSE, "GetPrivateProfileStringW failed.."},
        CertCase{"LeadingDigitOneVerifies", {"raw", "1yes", "<ca>"}, TRUE, "SSL Path : (<ca>).."},
        CertCase{"ZeroAcceptsWithoutVerification", {"noverify"}, TRUE, ""},
        CertCase{"TwoAcceptsWithoutVerification", {"raw", "2"}, TRUE, ""},
        CertCase{"WordAcceptsWithoutVerification", {"raw", "yes"}, TRUE, ""}),
    [](const ::testing::TestParamInfo<CertCase>& info) { return std::string(info.param.pcszName); });

// The options-file reader on its own.
class ReadProxySettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(nettest::RemoveTree(kOptionsFile));
        nettest::ClearTrace();
    }
};

TEST_F(ReadProxySettingsTest, ReadsTheRecordAtItsFixedOffsets)
{
    netfx::KvinetOpt opt;
    opt.iUseProxy = 1;
    opt.iConnType = 2;
    opt.strHost = "proxy.example";
    opt.iPort = 65535;
    opt.strUser = "user";
    opt.strPassword = "p%ss";
    opt.iUseAuth = 1;
    opt.iLength = 800;
    ASSERT_TRUE(netfx::WriteKvinetOpt(opt));

    INETSET settings;
    std::memset(&settings, 0x5A, sizeof(settings));
    ASSERT_EQ(TRUE, ReadProxySettings(&settings));
    EXPECT_EQ(1, settings.kvInetConfig.shUseProxy);
    EXPECT_EQ(2, settings.kvInetConfig.shConnType);
    EXPECT_STREQ("proxy.example", settings.kvInetConfig.szHostName);
    EXPECT_EQ(65535u, static_cast<DWORD>(settings.kvInetConfig.ushPort));
    EXPECT_STREQ("user", settings.kvInetConfig.szUserName);
    EXPECT_STREQ("p%ss", settings.kvInetConfig.szPassword);
    EXPECT_EQ(1, settings.shUseAuthentication);
    EXPECT_EQ(1u, CountTrace("INFO", "Exit"));
}

TEST_F(ReadProxySettingsTest, UnterminatedTextFieldsAreCutAt259Characters)
{
    netfx::KvinetOpt opt;
    opt.strHost = std::string(260, 'h');
    opt.strUser = std::string(260, 'u');
    opt.strPassword = std::string(260, 'p');
    ASSERT_TRUE(netfx::WriteKvinetOpt(opt));
    INETSET settings;
    ASSERT_EQ(TRUE, ReadProxySettings(&settings));
    EXPECT_EQ(std::string(259, 'h'), settings.kvInetConfig.szHostName);
    EXPECT_EQ(std::string(259, 'u'), settings.kvInetConfig.szUserName);
    EXPECT_EQ(std::string(259, 'p'), settings.kvInetConfig.szPassword);
}

TEST_F(ReadProxySettingsTest, ShortMissingOrNullLeavesTheRecordUnchanged)
{
    INETSET settings;
    std::memset(&settings, 0x5A, sizeof(settings));
    const INETSET before = settings;

    EXPECT_EQ(FALSE, ReadProxySettings(&settings));
    EXPECT_EQ(1u, CountTrace("ERROR", "open failed for args (/usr/lib/Zelvano/Zelvano/kvinet.opt)"));

    netfx::KvinetOpt opt;
    opt.iLength = 787;
    ASSERT_TRUE(netfx::WriteKvinetOpt(opt));
    EXPECT_EQ(FALSE, ReadProxySettings(&settings));
    EXPECT_EQ(1u, CountTrace("ERROR", "read() failed."));
    EXPECT_EQ(0, std::memcmp(&before, &settings, sizeof(settings)));

    EXPECT_EQ(FALSE, ReadProxySettings(nullptr));
    EXPECT_EQ(1u, CountTrace("ERROR", "NULL Parameters."));
}

TEST(DecryptTest, SwapsTheHalvesOfEachByte)
{
    BYTE abData[] = {0x12, 0xAB};
    Decrypt(abData, 2);
    EXPECT_EQ(0x21, abData[0]);
    EXPECT_EQ(0xBA, abData[1]);

    BYTE abAll[256];
    for (int i = 0; i < 256; ++i)
        abAll[i] = static_cast<BYTE>(i);
    Decrypt(abAll, 256);
    EXPECT_EQ(0x10, abAll[0x01]);
    EXPECT_EQ(0x0F, abAll[0xF0]);
    Decrypt(abAll, 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(i, abAll[i]);

    BYTE abUntouched[] = {0x12, 0xAB};
    Decrypt(abUntouched, 0);
    Decrypt(abUntouched, -3);
    Decrypt(nullptr, 2);
    EXPECT_EQ(0x12, abUntouched[0]);
    EXPECT_EQ(0xAB, abUntouched[1]);
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
    EXPECT_TRUE(InOrder(Messages(Trace()), {"Path:", "/usr/lib/Zelvano/ClientAgent/", "Exit."}));
}
} // namespace
