// Helpers shared by the network tests: reading the trace log and the event
// log (same line layout), and small file utilities.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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
    std::string strApp;
    std::string strLevel; // "INFO", "ERROR", ...
    std::string strMessage;
    std::string strSource;
    std::string strLabel;
    unsigned uLine = 0;
};

// "dd-mm hh:mm:ss:TTTTTTTT <app:12> <[LEVEL]:7> message [source label:line]\r"
inline bool ParseLine(const std::string& strText, LogLine& line)
{
    // The fixed-width stamp: 2+1+2+1+8 characters, ':' and 8 hex digits, a blank.
    const size_t kStampLength = 24;
    if (strText.size() < kStampLength || strText[2] != '-' || strText[14] != ':' ||
        strText[kStampLength - 1] != ' ' || strText.back() != '\r')
        return false;
    const size_t nAppStart = strText.find_first_not_of(' ', kStampLength);
    const size_t nAppEnd = strText.find(' ', nAppStart);
    const size_t nTagStart = strText.find('[', nAppEnd);
    const size_t nTagEnd = strText.find("] ", nTagStart);
    // The trailer is the last " [": messages may hold brackets of their own.
    const size_t nTrailer = strText.rfind(" [");
    if (nAppStart == std::string::npos || nAppEnd == std::string::npos || nTagStart == std::string::npos ||
        nTagEnd == std::string::npos || nTrailer == std::string::npos || nTrailer + 1 < nTagEnd + 2)
        return false;
    const std::string strTrailer = strText.substr(nTrailer + 2, strText.size() - nTrailer - 4);
    const size_t nBlank = strTrailer.find(' ');
    const size_t nColon = strTrailer.rfind(':');
    if (nBlank == std::string::npos || nColon == std::string::npos || nColon < nBlank ||
        strText[strText.size() - 2] != ']')
        return false;
    line.strApp = strText.substr(nAppStart, nAppEnd - nAppStart);
    line.strLevel = strText.substr(nTagStart + 1, nTagEnd - nTagStart - 1);
    line.strMessage = nTrailer >= nTagEnd + 2 ? strText.substr(nTagEnd + 2, nTrailer - nTagEnd - 2) : "";
    line.strSource = strTrailer.substr(0, nBlank);
    line.strLabel = strTrailer.substr(nBlank + 1, nColon - nBlank - 1);
    line.uLine = static_cast<unsigned>(std::strtoul(strTrailer.c_str() + nColon + 1, nullptr, 10));
    return true;
}

// Every line of a log; a line that does not parse keeps its raw text as the
// message and an empty level, so a layout fault shows up in assertions.
inline std::vector<LogLine> ReadLog(const std::string& strPath)
{
    std::vector<LogLine> vLines;
    for (const std::string& strText : netfx::ReadLines(strPath))
    {
        LogLine line;
        if (!ParseLine(strText, line))
            line.strMessage = strText;
        vLines.push_back(line);
    }
    return vLines;
}

inline std::vector<LogLine> Trace() { return ReadLog(kTraceLog); }

inline void ClearLog(const std::string& strPath)
{
    if (unlink(strPath.c_str()) != 0 && errno != ENOENT)
        throw std::runtime_error("cannot clear " + strPath);
}

inline void ClearTrace() { ClearLog(kTraceLog); }

inline size_t Count(const std::vector<LogLine>& vLines, const std::string& strLevel,
                    const std::string& strMessage)
{
    size_t n = 0;
    for (const LogLine& line : vLines)
        n += (line.strLevel == strLevel && line.strMessage == strMessage) ? 1 : 0;
    return n;
}

inline size_t CountTrace(const std::string& strLevel, const std::string& strMessage)
{
    return Count(Trace(), strLevel, strMessage);
}

// Messages in the order they were logged.
inline std::vector<std::string> Messages(const std::vector<LogLine>& vLines)
{
    std::vector<std::string> vMessages;
    for (const LogLine& line : vLines)
        vMessages.push_back(line.strMessage);
    return vMessages;
}

// True when vExpected occur in vMessages in this order (others may lie between).
inline bool InOrder(const std::vector<std::string>& vMessages, const std::vector<std::string>& vExpected)
{
    size_t i = 0;
    for (const std::string& strMessage : vMessages)
        if (i < vExpected.size() && strMessage == vExpected[i])
            ++i;
    return i == vExpected.size();
}

inline bool Exists(const std::string& strPath)
{
    struct stat st;
    return stat(strPath.c_str(), &st) == 0;
}

inline bool MakeDirs(const std::string& strPath)
{
    std::string strPart;
    for (size_t i = 0; i < strPath.size(); ++i)
    {
        strPart += strPath[i];
        if ((strPath[i] == '/' || i + 1 == strPath.size()) && strPart != "/")
            if (mkdir(strPart.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
    }
    return true;
}

inline bool RemoveTree(const std::string& strPath)
{
    return netfx::Exec({"/bin/rm", "-rf", strPath}) == 0;
}

// Access-log lines of nginx whose request line holds strPath. nginx logs a
// request once it has finished it, which may be just after the client has
// its answer: wait (up to 2 s) until nExpected lines are there.
inline std::vector<std::string> Requests(const std::string& strPath, size_t nExpected)
{
    std::vector<std::string> vFound;
    for (int iTry = 0; iTry < 200; ++iTry)
    {
        vFound.clear();
        for (const std::string& strLine : netfx::AccessLog())
            if (strLine.find(" " + strPath + " HTTP/") != std::string::npos)
                vFound.push_back(strLine);
        if (vFound.size() >= nExpected)
            break;
        usleep(10000);
    }
    return vFound;
}
} // namespace nettest
