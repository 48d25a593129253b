// Helpers shared by the installer's unit tests: the trace log as a list of
// {level, label, message} lines, and shims on PATH.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "netfixtures.h"

namespace insttest
{
using netfx::ReadFile;
using netfx::WriteFile;
using TraceLine = std::array<std::string, 3>; // level, label, message

inline TraceLine Info(const std::string& strLabel, const std::string& strMsg) { return {"INFO", strLabel, strMsg}; }
inline TraceLine Error(const std::string& strLabel, const std::string& strMsg) { return {"ERROR", strLabel, strMsg}; }

// A line reads "<date time:tid> <app> [LEVEL] <message> [<file> <label>:<line>]\r".
// No label holds " [", so the trailer opens at the last one.
inline TraceLine ParseTraceLine(std::string s)
{
    if (!s.empty() && s.back() == '\r')
        s.pop_back();
    const std::size_t nTag = s.find(" ["), nTagEnd = s.find("] ", nTag), nTrailer = s.rfind(" [");
    const std::size_t nLabel = s.find(' ', nTrailer + 2), nColon = s.rfind(':');
    if (nTagEnd == std::string::npos || nTrailer < nTagEnd || nLabel == std::string::npos ||
        nColon == std::string::npos || nColon < nLabel || s.back() != ']')
        return {"UNPARSED", "", s};
    return {s.substr(nTag + 2, nTagEnd - nTag - 2), s.substr(nLabel + 1, nColon - nLabel - 1),
            s.substr(nTagEnd + 2, nTrailer - nTagEnd - 2)};
}

inline std::vector<TraceLine> ReadTrace()
{
    std::vector<TraceLine> vLines;
    for (const std::string& strLine : netfx::ReadLines("/var/log/xedabldn.log"))
        vLines.push_back(ParseTraceLine(strLine));
    return vLines;
}

inline TraceLine LastTrace()
{
    const std::vector<TraceLine> v = ReadTrace();
    return v.empty() ? TraceLine{"NO TRACE", "", ""} : v.back();
}

inline void ClearTrace() { (void)unlink("/var/log/xedabldn.log"); } // absent already is fine

inline bool HasTrace(const TraceLine& wanted)
{
    const std::vector<TraceLine> v = ReadTrace();
    return std::find(v.begin(), v.end(), wanted) != v.end();
}

inline bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }

// A script put first on PATH under the tool's name, so that the shell
// commands the installer runs find it instead of the real tool.
inline bool ShimTool(const std::string& strTool, const std::string& strBody)
{
    const std::string strDir = "/tmp/shims", strPath = strDir + "/" + strTool;
    if ((mkdir(strDir.c_str(), 0755) != 0 && errno != EEXIST) ||
        !WriteFile(strPath, "#!/bin/sh\n" + strBody + "\n") || chmod(strPath.c_str(), 0755) != 0)
        return false;
    const char* pcszPath = std::getenv("PATH");
    const std::string strOld = pcszPath != nullptr ? pcszPath : "";
    return strOld.rfind(strDir + ":", 0) == 0 || setenv("PATH", (strDir + ":" + strOld).c_str(), 1) == 0;
}
} // namespace insttest
