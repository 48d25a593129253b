#include "kvstats.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "acevtlog.h"
#include "handles.h"

namespace
{
const char kConfigDir[] = "/usr/lib/Zelvano/ClientAgent/config/";
const char kFlagFile[] = "statflag";
const char kStatDir[] = "/usr/lib/Zelvano/ClientAgent/eventlog/perf/";
const char kCsvFile[] = "KVSTAT_Stats.csv";
const char kCsvHeader[] = "TIME_STAMP,OUT (Bytes),IN (Bytes)";

// The agent's other modules name this source the same way in the event log.
const char kSourceName[] = "../../common/kvstats";

enum : DWORD
{
    EVT_FAILURE = 1,
    EVT_TRACE = 2,
};

// The message is always passed as data: the event log never formats it.
#define KVSTAT_LOG(level, message)                                                                 \
    WriteToLogExA((level), g_szAppName__, __func__, kSourceName, __LINE__, (message))

// A message or CSV file whose close fails loses at most its own record;
// statistics never affect the transfer, so closing is left to UniqueFile.

std::string CsvPath()
{
    return std::string(kStatDir) + kCsvFile;
}

// Opens a statistics file; a failure is logged under the caller's name.
UniqueFile OpenForWriting(const std::string& strPath, const char* pcszMode, const char* pcszLabel)
{
    UniqueFile fp(std::fopen(strPath.c_str(), pcszMode));
    if (!fp)
    {
        // The fixed paths always fit the event log's 100-character message.
        char szMessage[100];
        std::snprintf(szMessage, sizeof(szMessage), "could not open file %s for writing.",
                      strPath.c_str());
        WriteToLogExA(EVT_FAILURE, g_szAppName__, pcszLabel, kSourceName, __LINE__, szMessage);
    }
    return fp;
}
} // namespace

// The two recording directions differ only in these constants.
struct CKVStat::Direction
{
    const char* pcszLabel;
    const char* pcszFilePrefix;
    const char* pcszCsvDir;
    const char* pcszFileFailure;
    const char* pcszCsvFailure;
};

CKVStat* CKVStat::m_pObjKVStatInstance = nullptr;
KVMutex CKVStat::m_statMutex;

CKVStat::CKVStat() : mIsStatEnable(false)
{
    mIsStatEnable = IsStatEnable();
}

CKVStat* CKVStat::GetSingletonInst()
{
    KVSTAT_LOG(EVT_TRACE, "Entry.");
    if (m_pObjKVStatInstance == nullptr)
    {
        m_statMutex.Lock();
        try
        {
            if (m_pObjKVStatInstance == nullptr)
            {
                m_pObjKVStatInstance = new CKVStat();
                m_pObjKVStatInstance->KVStatsInit();
            }
        }
        catch (...)
        {
            // Out of memory: leave the lock free for the next caller.
            m_statMutex.Unlock();
            throw;
        }
        m_statMutex.Unlock();
    }
    KVSTAT_LOG(EVT_TRACE, "Exit.");
    return m_pObjKVStatInstance;
}

bool CKVStat::DeleteInstance()
{
    KVSTAT_LOG(EVT_TRACE, "Entry.");
    delete m_pObjKVStatInstance;
    m_pObjKVStatInstance = nullptr;
    KVSTAT_LOG(EVT_TRACE, "Exit.");
    return true;
}

bool CKVStat::IsStatEnable()
{
    KVSTAT_LOG(EVT_TRACE, "Entry.");
    const std::string strFlag = std::string(kConfigDir) + kFlagFile;
    if (access(strFlag.c_str(), F_OK) != 0)
    {
        KVSTAT_LOG(EVT_FAILURE, "statflag file could not be open");
        return false;
    }
    KVSTAT_LOG(EVT_FAILURE, "statflag file file found, stat turns on");
    return true;
}

void CKVStat::KVStatsInit()
{
    KVSTAT_LOG(EVT_TRACE, "Entry.");
    if (!mIsStatEnable)
    {
        KVSTAT_LOG(EVT_FAILURE, "Stat collection is disabled");
        return;
    }
    try
    {
        // Only the last component is created; an existing directory is
        // reported the same way and recording goes on.
        if (mkdir(kStatDir, 0775) != 0)
            KVSTAT_LOG(EVT_FAILURE, "could not create perf directory");
        UniqueFile fp(std::fopen(CsvPath().c_str(), "a"));
        if (!fp)
        {
            KVSTAT_LOG(EVT_FAILURE, "KVSTAT_Conf file could not be open");
            return;
        }
        std::fprintf(fp.get(), "%s\n", kCsvHeader);
        KVSTAT_LOG(EVT_TRACE, "Exit.");
    }
    catch (...)
    {
        KVSTAT_LOG(EVT_FAILURE, "KVStatsInit caught in exception");
    }
}

bool CKVStat::WriteReqStats(const char* Buffer)
{
    static const Direction kRequest = {"WriteReqStats", "KVSTAT_Req", "OUT",
                                       "Failed in writing request buffer",
                                       "Failed in writing request stats in csv"};
    return WriteStats(Buffer, kRequest);
}

bool CKVStat::WriteRespStats(const char* Buffer)
{
    static const Direction kResponse = {"WriteRespStats", "KVSTAT_Resp", "IN",
                                        "Failed in writing response buffer",
                                        "Failed in writing response stats in csv"};
    return WriteStats(Buffer, kResponse);
}

bool CKVStat::WriteStats(const char* Buffer, const Direction& direction)
{
    const char* const pcszLabel = direction.pcszLabel;
    WriteToLogExA(EVT_TRACE, g_szAppName__, pcszLabel, kSourceName, __LINE__, "Entry.");
    if (!mIsStatEnable)
        return false;
    const char* const pcszText = Buffer != nullptr ? Buffer : "";
    const std::size_t nBytes = std::strlen(pcszText);
    std::string strStamp;
    GetTimeStampStr(strStamp);
    if (!WriteToFile(pcszText, direction.pcszFilePrefix, strStamp, nBytes))
        WriteToLogExA(EVT_FAILURE, g_szAppName__, pcszLabel, kSourceName, __LINE__,
                      direction.pcszFileFailure);
    if (!WriteStatInCSV(strStamp, nBytes, direction.pcszCsvDir))
        WriteToLogExA(EVT_FAILURE, g_szAppName__, pcszLabel, kSourceName, __LINE__,
                      direction.pcszCsvFailure);
    WriteToLogExA(EVT_TRACE, g_szAppName__, pcszLabel, kSourceName, __LINE__, "Exit.");
    return true;
}

bool CKVStat::WriteToFile(const char* Buffer, const char* szFileName,
                          const std::string& szTimeStamp, std::size_t szBytes)
{
    KVSTAT_LOG(EVT_TRACE, "Entry.");
    try
    {
        const std::string strPath = std::string(kStatDir) + szFileName + "_" + szTimeStamp;
        UniqueFile fp = OpenForWriting(strPath, "w", __func__);
        if (!fp)
            return false;
        return std::fprintf(fp.get(), "%s\nSize in bytes :%zu\n", Buffer, szBytes) > 0 &&
               std::fclose(fp.release()) == 0;
    }
    catch (...)
    {
        KVSTAT_LOG(EVT_FAILURE, "Caught in exception");
        return false;
    }
}

bool CKVStat::WriteStatInCSV(const std::string& szTimeStamp, std::size_t szBytes, const char* szDir)
{
    KVSTAT_LOG(EVT_TRACE, "Entry.");
    try
    {
        const std::string strPath = CsvPath();
        UniqueFile fp = OpenForWriting(strPath, "a", __func__);
        if (!fp)
            return false;
        // A request row fills the OUT column, a response row the IN column.
        const char* const pcszSeparator =
            (szDir != nullptr && std::strstr(szDir, "OUT") != nullptr) ? "," : ",,";
        if (std::fprintf(fp.get(), "%s%s%zu\n", szTimeStamp.c_str(), pcszSeparator, szBytes) < 0 ||
            std::fclose(fp.release()) != 0)
            return false;
        KVSTAT_LOG(EVT_TRACE, "Exit.");
        return true;
    }
    catch (...)
    {
        KVSTAT_LOG(EVT_FAILURE, "Unknown Error. Exit.");
        return false;
    }
}

// ctime's text without blanks and colons, then without weekday and month
// (first 6) and year (last 4): day of the month, hour, minute, second.
bool CKVStat::GetTimeStampStr(std::string& str)
{
    KVSTAT_LOG(EVT_TRACE, "Entry.");
    const std::time_t tNow = std::time(nullptr);
    char szCtime[64] = {0};
    char szStamp[20] = {0};
    std::size_t nLen = 0;
    if (ctime_r(&tNow, szCtime) != nullptr)
    {
        for (const char* pc = szCtime; *pc != '\0' && nLen < sizeof(szStamp) - 1; ++pc)
        {
            if (*pc != ' ' && *pc != ':')
                szStamp[nLen++] = *pc;
        }
    }
    // The last copied character is ctime's newline.
    if (nLen > 0)
        szStamp[--nLen] = '\0';
    str = nLen > 10 ? std::string(szStamp + 6, nLen - 10) : std::string();
    KVSTAT_LOG(EVT_TRACE, "Exit.");
    return true;
}
