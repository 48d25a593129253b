// Transfer statistics (flag file, CSV rows, message files, event log) as the
// exchange records them.
#include <gtest/gtest.h>

#include <atomic>

#include "kvinet.h"
#include "kvstats.h"
#include "testkit.h"

namespace
{
std::atomic<time_t> g_tNow{0}; // the clock the statistics read, while a test sets it
}

// The C library's time(), replaced in this program only.
extern "C" time_t time(time_t* ptNow) noexcept
{
    struct timespec ts;
    const time_t tNow = g_tNow ? g_tNow.load() : (clock_gettime(CLOCK_REALTIME, &ts), ts.tv_sec);
    return ptNow ? *ptNow = tNow : tNow;
}

namespace
{
const std::string kPerf = "/usr/lib/Zelvano/ClientAgent/eventlog/perf/";
const std::string kEvents = "/usr/lib/Zelvano/ClientAgent/eventlog/acevtlog.log";

// Python's calendar.timegm: the 14th at 17:02:09 and the 4th at 05:33:59, UTC.
// A new singleton reads the flag again and appends a header (reported, not
// fatal, in an existing directory); a message in the same second replaces
// the message file before it.
TEST(Statistics, RowsAndMessageFilesWhileTheFlagFileExists)
{
    setenv("TZ", "UTC0", 1);
    ASSERT_TRUE(tk::Write(std::string(tk::kConfigDir) + "statflag", "") && tk::Write(kEvents, ""));
    ASSERT_TRUE(tk::StartScripted(R"({"/": [{"body": "response of 25 bytes ...."}]})"));
    CKVInet inet;
    ASSERT_EQ(TRUE, inet.InitKVInet("http://127.0.0.1:8090/", nullptr, 0, nullptr, nullptr,
                                    HTTP_REQ_VERB_POST));
    g_tNow = 1797267729;
    CHAR* pszResponse = nullptr;
    DWORD dwcb = 0;
    EXPECT_EQ(TRUE, inet.SendRequestAndGetResponse("first", 0, nullptr, &pszResponse, dwcb));
    free(pszResponse);
    CKVStat* pStat = CKVStat::GetSingletonInst();
    EXPECT_TRUE(pStat->WriteReqStats("0123456789"));
    g_tNow = 1796362439;
    EXPECT_TRUE(pStat->WriteReqStats(""));
    CKVStat::DeleteInstance();
    CKVStat::GetSingletonInst();
    EXPECT_EQ(tk::Read(kPerf + "KVSTAT_Stats.csv"),
              "TIME_STAMP,OUT (Bytes),IN (Bytes)\n14170209,5\n14170209,,25\n"
              "14170209,10\n4053359,0\nTIME_STAMP,OUT (Bytes),IN (Bytes)\n");
    EXPECT_EQ("0123456789\nSize in bytes :10\n", tk::Read(kPerf + "KVSTAT_Req_14170209"));
    EXPECT_EQ("response of 25 bytes ....\nSize in bytes :25\n",
              tk::Read(kPerf + "KVSTAT_Resp_14170209"));
    EXPECT_EQ("\nSize in bytes :0\n", tk::Read(kPerf + "KVSTAT_Req_4053359"));
    const tk::Strings events = tk::Trace(kEvents);
    EXPECT_EQ(2u, tk::Count(events, "E IsStatEnable|statflag file file found, stat turns on"));
    EXPECT_EQ(1u, tk::Count(events, "E KVStatsInit|could not create perf directory"));
}

// Without the flag nothing is written, and the event log names the calls
// and the source (entry and exit at level 2, INFO).
TEST(Statistics, WithoutTheFlagFileNothingIsRecorded)
{
    CKVStat::DeleteInstance();
    tk::Remove(std::string(tk::kConfigDir) + "statflag");
    tk::Remove(kPerf);
    ASSERT_TRUE(tk::Write(kEvents, ""));
    EXPECT_FALSE(CKVStat::GetSingletonInst()->WriteReqStats("request"));
    EXPECT_FALSE(tk::Exists(kPerf));
    EXPECT_EQ(tk::Trace(kEvents, true),
              (tk::Strings{"I kvstats GetSingletonInst|Entry.", "I kvstats IsStatEnable|Entry.",
                           "E kvstats IsStatEnable|statflag file could not be open",
                           "I kvstats KVStatsInit|Entry.",
                           "E kvstats KVStatsInit|Stat collection is disabled",
                           "I kvstats GetSingletonInst|Exit.", "I kvstats WriteReqStats|Entry."}));
}
} // namespace
