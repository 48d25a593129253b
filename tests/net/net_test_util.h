// Helpers shared by the network tests: the trace log and the event log (same
// line layout), nginx's access log and small file utilities.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "netfixtures.h"

namespace nettest
{
constexpr const char* kTraceLog = "/var/log/xedabldn.log";
constexpr const char* kEventLogDir = "/usr/lib/Zelvano/ClientAgent/eventlog/";
constexpr const char* kEventLog = "/usr/lib/Zelvano/ClientAgent/eventlog/acevtlog.log";

struct LogLine
{
    std::string strApp, strLevel, strMessage, strSource, strLabel;
    unsigned uLine = 0;
};

// "dd-mm hh:mm:ss:TTTTTTTT <app:12> <[LEVEL]:7> message [source label:line]\r"
// The trailer is the last " [": messages may hold brackets of their own.
inline bool ParseLine(const std::string& s, LogLine& line)
{
    const size_t nOpen = s.find('[', 24), nClose = s.find("] ", nOpen), nTrailer = s.rfind(" [");
    if (s.size() < 28 || s[2] != '-' || s[14] != ':' || s[23] != ' ' || s.compare(s.size() - 2, 2, "]\r") != 0 ||
        nClose == std::string::npos || nTrailer == std::string::npos || nTrailer + 1 < nClose + 2)
        return false;
    std::istringstream(s.substr(24, nOpen - 24)) >> line.strApp;
    line.strLevel = s.substr(nOpen + 1, nClose - nOpen - 1);
    line.strMessage = nTrailer >= nClose + 2 ? s.substr(nClose + 2, nTrailer - nClose - 2) : "";
    std::istringstream trailer(s.substr(nTrailer + 2, s.size() - nTrailer - 4));
    return std::getline(trailer, line.strSource, ' ') && std::getline(trailer, line.strLabel, ':') &&
           trailer >> line.uLine && !line.strApp.empty();
}

// A line that does not parse keeps its raw text as the message and an empty
// level, so a layout fault shows up in assertions.
inline std::vector<LogLine> ReadLog(const std::string& strPath = kTraceLog)
{
    std::vector<LogLine> vLines;
    for (const std::string& strText : netfx::ReadLines(strPath))
        if (vLines.emplace_back(); !ParseLine(strText, vLines.back()))
            vLines.back() = LogLine{"", "", strText, "", "", 0};
    return vLines;
}

inline void ClearTrace()
{
    if (unlink(kTraceLog) != 0 && errno != ENOENT)
        throw std::runtime_error("cannot clear the trace log");
}

inline size_t CountTrace(const std::string& strLevel, const std::string& strMessage,
                         const std::string& strLog = kTraceLog)
{
    size_t n = 0;
    for (const LogLine& line : ReadLog(strLog))
        n += (line.strLevel == strLevel && line.strMessage == strMessage) ? 1 : 0;
    return n;
}

// True when the trace holds vExpected in this order (others may lie between).
inline bool TraceInOrder(const std::vector<std::string>& vExpected)
{
    size_t i = 0;
    for (const LogLine& line : ReadLog())
        i += (i < vExpected.size() && line.strMessage == vExpected[i]) ? 1 : 0;
    return i == vExpected.size();
}

inline bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }
inline bool MakeDirs(const std::string& strPath) { return netfx::Exec({"/bin/mkdir", "-p", strPath}) == 0; }
inline bool RemoveTree(const std::string& strPath) { return netfx::Exec({"/bin/rm", "-rf", strPath}) == 0; }

// Access-log lines of nginx whose request line holds strPath. nginx logs a
// request once it has finished it, which may be just after the client has
// its answer: wait (up to 2 s) until nExpected lines are there.
inline std::vector<std::string> Requests(const std::string& strPath, size_t nExpected)
{
    std::vector<std::string> vFound;
    for (int iTry = 0; iTry < 200 && vFound.size() < nExpected; ++iTry)
    {
        usleep(iTry > 0 ? 10000 : 0);
        vFound.clear();
        for (const std::string& strLine : netfx::AccessLog())
            if (strLine.find(" " + strPath + " HTTP/") != std::string::npos)
                vFound.push_back(strLine);
    }
    return vFound;
}

// Each access-log line starts with the peer's address.
inline bool FromPeer(const std::string& strLine, const std::string& strPeer)
{
    return strLine.rfind(strPeer + " ", 0) == 0;
}
} // namespace nettest
