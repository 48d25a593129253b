// Transfer statistics: while the flag file exists, each request and response
// of the request/response exchange is saved to a message file and counted in
// a CSV file, for performance analysis. Diagnostics go to the agent's event
// log (acevtlog), not to the trace log.
#pragma once

#include <cstddef>
#include <string>

#include "kvmutex.h"

class CKVStat
{
public:
    // The process-wide instance, created (and the flag file tested) on first use.
    static CKVStat* GetSingletonInst();
    // Frees the instance; the next GetSingletonInst builds a new one.
    static bool DeleteInstance();

    // Both return false only when recording is off.
    bool WriteReqStats(const char* Buffer);
    bool WriteRespStats(const char* Buffer);

    // Fixed when the instance is built; callers test it before writing.
    bool mIsStatEnable;

private:
    struct Direction;

    CKVStat();
    CKVStat(const CKVStat&);
    CKVStat& operator=(const CKVStat&);

    void KVStatsInit();
    bool IsStatEnable();
    bool WriteStats(const char* Buffer, const Direction& direction);
    bool WriteToFile(const char* Buffer, const char* szFileName, const std::string& szTimeStamp,
                     std::size_t szBytes);
    bool WriteStatInCSV(const std::string& szTimeStamp, std::size_t szBytes, const char* szDir);
    bool GetTimeStampStr(std::string& str);

    static CKVStat* m_pObjKVStatInstance;
    static KVMutex m_statMutex;
};
