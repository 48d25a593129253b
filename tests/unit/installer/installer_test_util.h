// Helpers shared by the installer's unit tests: the trace log as a list of
// (level, label, message) lines, file helpers and known answers from
// independent tools (md5sum, Python's zlib).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "netfixtures.h"

namespace insttest
{
using netfx::ReadFile;
using netfx::ReadLines;
using netfx::WriteFile;

const char kTraceLog[] = "/var/log/xedabldn.log";

struct TraceLine
{
    std::string strLevel, strLabel, strMessage;

    bool operator==(const TraceLine& o) const
    {
        return strLevel == o.strLevel && strLabel == o.strLabel && strMessage == o.strMessage;
    }
};

inline std::ostream& operator<<(std::ostream& os, const TraceLine& line)
{
    return os << "{" << line.strLevel << " [" << line.strLabel << "] \"" << line.strMessage << "\"}";
}

inline TraceLine Info(const std::string& strLabel, const std::string& strMessage)
{
    return {"INFO", strLabel, strMessage};
}

inline TraceLine Error(const std::string& strLabel, const std::string& strMessage)
{
    return {"ERROR", strLabel, strMessage};
}

// A line reads "<date time:tid> <app> [LEVEL] <message> [<file> <label>:<line>]\r".
// No label holds " [", so the trailer opens at the last one.
inline TraceLine ParseTraceLine(std::string s)
{
    if (!s.empty() && s.back() == '\r')
        s.pop_back();
    const std::size_t nTag = s.find(" [");
    const std::size_t nTagEnd = s.find("] ", nTag);
    const std::size_t nTrailer = s.rfind(" [");
    const std::size_t nLabel = s.find(' ', nTrailer + 2);
    const std::size_t nColon = s.rfind(':');
    if (nTagEnd == std::string::npos || nTrailer < nTagEnd || nLabel == std::string::npos ||
        nColon == std::string::npos || nColon < nLabel || s.back() != ']')
        return {"UNPARSED", "", s};
    return {s.substr(nTag + 2, nTagEnd - nTag - 2), s.substr(nLabel + 1, nColon - nLabel - 1),
            s.substr(nTagEnd + 2, nTrailer - nTagEnd - 2)};
}

inline std::vector<TraceLine> ReadTrace()
{
    std::vector<TraceLine> vLines;
    for (const std::string& strLine : ReadLines(kTraceLog))
        vLines.push_back(ParseTraceLine(strLine));
    return vLines;
}

inline void ClearTrace() { (void)unlink(kTraceLog); } // absent already is fine

inline bool HasTrace(const std::vector<TraceLine>& vLines, const TraceLine& wanted)
{
    for (const TraceLine& line : vLines)
        if (line == wanted)
            return true;
    return false;
}

inline bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }

// Known answers from tools that share no code with the installer.
inline std::string Md5sumOf(const std::string& strPath)
{
    std::string strOut;
    netfx::Exec({"/usr/bin/md5sum", strPath}, &strOut);
    return strOut.substr(0, 32);
}

// The installer's checksum covers the file from its fifth byte on.
inline unsigned long ZlibCrcAfterFourBytes(const std::string& strPath)
{
    std::string strOut;
    netfx::Exec({"/usr/bin/python3", "-c",
                 "import sys,zlib; print(zlib.crc32(open(sys.argv[1],'rb').read()[4:]))", strPath},
                &strOut);
    return std::stoul(strOut);
}

// A script put first on PATH under the tool's name, so that the shell
// commands the installer runs find it instead of the real tool.
inline bool ShimTool(const std::string& strTool, const std::string& strBody)
{
    const std::string strDir = "/tmp/shims";
    const std::string strPath = strDir + "/" + strTool;
    if ((mkdir(strDir.c_str(), 0755) != 0 && errno != EEXIST) ||
        !WriteFile(strPath, "#!/bin/sh\n" + strBody + "\n") || chmod(strPath.c_str(), 0755) != 0)
        return false;
    const char* pcszPath = std::getenv("PATH");
    const std::string strOld = pcszPath != nullptr ? pcszPath : "";
    return strOld.rfind(strDir + ":", 0) == 0 || setenv("PATH", (strDir + ":" + strOld).c_str(), 1) == 0;
}
} // namespace insttest
