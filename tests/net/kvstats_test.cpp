// Transfer statistics: flag file, CSV rows, message files, event-log calls,
// and the exchange recording through them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "kvinet.h"
#include "kvstats.h"
#include "net_test_util.h"
#include "netfixtures.h"

namespace
{
// The clock the statistics read: a fixed instant while a test sets one.
std::atomic<std::time_t> g_tFakeNow{0};
} // namespace

// Replaces the C library's time() for this test program, so time stamps can
// be checked against instants chosen by the test. Everything else keeps the
// real clock while no instant is set.
extern "C" std::time_t time(std::time_t* ptNow) noexcept
{
    std::time_t tNow = g_tFakeNow.load();
    if (tNow == 0)
    {
        struct timespec ts;
        tNow = clock_gettime(CLOCK_REALTIME, &ts) == 0 ? ts.tv_sec : 0;
    }
    if (ptNow != nullptr)
        *ptNow = tNow;
    return tNow;
}

namespace
{
const std::string kFlagFile = std::string(netfx::kConfigDir) + "statflag";
const std::string kPerfDir = "/usr/lib/Zelvano/ClientAgent/eventlog/perf/";
const std::string kCsv = kPerfDir + "KVSTAT_Stats.csv";
const std::string kHeader = "TIME_STAMP,OUT (Bytes),IN (Bytes)";
// Seconds since the epoch, by Python's calendar.timegm (UTC).
constexpr std::time_t k14thAt170209 = 1797267729; // 2026-12-14 17:02:09
constexpr std::time_t k4thAt053359 = 1796362439;  // 2026-12-04 05:33:59

size_t CountEvents(const std::string& strLevel, const std::string& strMessage)
{
    return nettest::CountTrace(strLevel, strMessage, nettest::kEventLog);
}

class KVStatTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // ctime renders local time; UTC makes the instants above exact.
        ASSERT_EQ(0, setenv("TZ", "UTC0", 1));
        tzset();
    }

    void SetUp() override
    {
        CKVStat::DeleteInstance();
        g_tFakeNow = 0;
        ASSERT_TRUE(nettest::RemoveTree("/usr/lib/Zelvano/ClientAgent"));
        ASSERT_TRUE(nettest::MakeDirs(netfx::kConfigDir) && nettest::MakeDirs(nettest::kEventLogDir));
    }

    void TearDown() override
    {
        CKVStat::DeleteInstance();
        g_tFakeNow = 0;
    }

    static void EnableStats() { ASSERT_TRUE(netfx::WriteFile(kFlagFile, "")); }
};

// A new singleton tests the flag again and appends another header, also
// to an existing file in an existing directory (reported, not fatal).
TEST_F(KVStatTest, FlagFileSwitchesRecordingOnWithOneHeaderPerSingleton)
{
    EnableStats();
    CKVStat* pFirst = CKVStat::GetSingletonInst();
    EXPECT_TRUE(pFirst->mIsStatEnable);
    EXPECT_EQ(1u, CountEvents("ERROR", "statflag file file found, stat turns on"));
    EXPECT_EQ(0u, CountEvents("ERROR", "could not create perf directory"));
    EXPECT_EQ(pFirst, CKVStat::GetSingletonInst());
    EXPECT_EQ(std::vector<std::string>{kHeader}, netfx::ReadLines(kCsv));
    ASSERT_TRUE(netfx::WriteFile(kCsv, kHeader + "\n9,1\n"));
    EXPECT_TRUE(CKVStat::DeleteInstance());
    CKVStat::GetSingletonInst();
    EXPECT_EQ(1u, CountEvents("ERROR", "could not create perf directory"));
    EXPECT_EQ((std::vector<std::string>{kHeader, "9,1", kHeader}), netfx::ReadLines(kCsv));
}

// A second request in the same second replaces the message file; a
// single-digit day gives a seven-character stamp.
TEST_F(KVStatTest, RequestAndResponseRowsAndMessageFiles)
{
    EnableStats();
    CKVStat* pStat = CKVStat::GetSingletonInst();
    g_tFakeNow = k14thAt170209;
    EXPECT_TRUE(pStat->WriteReqStats("first request"));
    EXPECT_TRUE(pStat->WriteReqStats("0123456789"));
    EXPECT_TRUE(pStat->WriteRespStats("response of 25 bytes ....")); // 25 bytes
    g_tFakeNow = k4thAt053359;
    EXPECT_TRUE(pStat->WriteReqStats(""));

    EXPECT_EQ((std::vector<std::string>{kHeader, "14170209,13", "14170209,10", "14170209,,25", "4053359,0"}),
              netfx::ReadLines(kCsv));
    EXPECT_EQ("0123456789\nSize in bytes :10\n", netfx::ReadFile(kPerfDir + "KVSTAT_Req_14170209"));
    EXPECT_EQ("response of 25 bytes ....\nSize in bytes :25\n", netfx::ReadFile(kPerfDir + "KVSTAT_Resp_14170209"));
    EXPECT_EQ("\nSize in bytes :0\n", netfx::ReadFile(kPerfDir + "KVSTAT_Req_4053359"));
}

TEST_F(KVStatTest, MissingDirectoryFailsTheWritesButNotTheResult)
{
    EnableStats();
    CKVStat* pStat = CKVStat::GetSingletonInst();
    ASSERT_TRUE(nettest::RemoveTree(kPerfDir));
    g_tFakeNow = k14thAt170209;
    EXPECT_TRUE(pStat->WriteReqStats("lost"));
    EXPECT_TRUE(pStat->WriteRespStats("lost too"));
    for (const std::string& strMessage : std::vector<std::string>{
             "could not open file " + kPerfDir + "KVSTAT_Req_14170209 for writing.", "Failed in writing request buffer",
          "Failed in writing request stats in csv", "Failed in writing response buffer",
          "Failed in writing response stats in csv"})
        EXPECT_EQ(1u, CountEvents("ERROR", strMessage)) << strMessage;
    EXPECT_EQ(2u, CountEvents("ERROR", "could not open file " + kCsv + " for writing."));
}

// Event-log calls name the function (the initialiser its own) and the
// source; entry and exit are level 2 (INFO).
TEST_F(KVStatTest, WithoutFlagFileNothingIsRecorded)
{
    CKVStat* pStat = CKVStat::GetSingletonInst();
    EXPECT_FALSE(pStat->mIsStatEnable);
    EXPECT_FALSE(pStat->WriteReqStats("request"));
    EXPECT_FALSE(pStat->WriteRespStats("response"));
    EXPECT_FALSE(nettest::Exists(kPerfDir));
    std::vector<std::string> vSeen;
    for (const nettest::LogLine& line : nettest::ReadLog(nettest::kEventLog))
    {
        EXPECT_EQ("kvstats", line.strSource);
        EXPECT_EQ("net_kvstats_test", line.strApp);
        if (line.strLabel != "WriteReqStats" && line.strLabel != "WriteRespStats")
            vSeen.push_back(line.strLabel + " " + line.strLevel + " " + line.strMessage);
    }
    EXPECT_EQ((std::vector<std::string>{"GetSingletonInst INFO Entry.", "IsStatEnable INFO Entry.",
                                        "IsStatEnable ERROR statflag file could not be open",
                                        "KVStatsInit INFO Entry.", "KVStatsInit ERROR Stat collection is disabled",
                                        "GetSingletonInst INFO Exit."}),
              vSeen);
}

// The exchange records its request before and its response after the transfer.
TEST_F(KVStatTest, ExchangeRecordsRequestAndResponse)
{
    EnableStats();
    ASSERT_TRUE(netfx::StartScripted(R"({"/api": [{"status": 200, "body": "response of 25 bytes ...."}]})"));
    CKVInet inet;
    ASSERT_EQ(TRUE, inet.InitKVInet(netfx::ScriptedUrl("api").c_str(), nullptr, 0, nullptr, nullptr,
                                    HTTP_REQ_VERB_POST));
    g_tFakeNow = k14thAt170209;
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 0;
    EXPECT_EQ(TRUE, inet.SendRequestAndGetResponse("0123456789", 0, nullptr, &pszResponse, dwcb));
    std::free(pszResponse);
    EXPECT_EQ((std::vector<std::string>{kHeader, "14170209,10", "14170209,,25"}), netfx::ReadLines(kCsv));
}
} // namespace
