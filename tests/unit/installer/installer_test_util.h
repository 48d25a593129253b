// Helpers shared by the installer's unit tests: the trace log as a list of
// (level, label, message) lines, small file helpers and known answers from
// independent tools (md5sum, Python's zlib).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "netfixtures.h"

namespace insttest
{
const char kTraceLog[] = "/var/log/xedabldn.log";

struct TraceLine
{
    std::string strLevel; // "INFO" or "ERROR"
    std::string strLabel;
    std::string strMessage;

    bool operator==(const TraceLine& other) const
    {
        return strLevel == other.strLevel && strLabel == other.strLabel &&
               strMessage == other.strMessage;
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

// A line reads "<date time:tid> <app> [LEVEL] <message> [<file> <label>:<line>]".
// The trailer is found from the end: the last " [" that opens "<name>.cpp ".
inline bool ParseTraceLine(std::string strLine, TraceLine* pLine)
{
    if (!strLine.empty() && strLine.back() == '\r')
        strLine.pop_back();
    const std::size_t nTagOpen = strLine.find(" [");
    const std::size_t nTagClose = strLine.find("] ", nTagOpen);
    if (nTagOpen == std::string::npos || nTagClose == std::string::npos || strLine.back() != ']')
        return false;
    std::size_t nTrailer = std::string::npos;
    for (std::size_t nPos = strLine.rfind(" ["); nPos != std::string::npos && nPos > nTagClose;
         nPos = nPos == 0 ? std::string::npos : strLine.rfind(" [", nPos - 1))
    {
        const std::size_t nBlank = strLine.find(' ', nPos + 2);
        if (nBlank != std::string::npos && nBlank >= 4 &&
            strLine.compare(nBlank - 4, 4, ".cpp") == 0)
        {
            nTrailer = nPos;
            break;
        }
    }
    const std::size_t nColon = strLine.rfind(':');
    if (nTrailer == std::string::npos || nColon == std::string::npos || nColon < nTrailer)
        return false;
    const std::size_t nLabel = strLine.find(' ', nTrailer + 2) + 1;
    pLine->strLevel = strLine.substr(nTagOpen + 2, nTagClose - nTagOpen - 2);
    pLine->strMessage = strLine.substr(nTagClose + 2, nTrailer - nTagClose - 2);
    pLine->strLabel = strLine.substr(nLabel, nColon - nLabel);
    return true;
}

inline std::vector<TraceLine> ReadTrace()
{
    std::vector<TraceLine> vLines;
    std::ifstream in(kTraceLog, std::ios::binary);
    for (std::string strLine; std::getline(in, strLine);)
    {
        TraceLine line;
        if (ParseTraceLine(strLine, &line))
            vLines.push_back(line);
        else
            vLines.push_back({"UNPARSED", "", strLine});
    }
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

inline bool HasMessage(const std::vector<TraceLine>& vLines, const std::string& strMessage)
{
    for (const TraceLine& line : vLines)
        if (line.strMessage == strMessage)
            return true;
    return false;
}

// True when the wanted lines appear in this order (others may lie between).
inline bool HasSequence(const std::vector<TraceLine>& vLines, const std::vector<TraceLine>& vWanted)
{
    std::size_t nNext = 0;
    for (const TraceLine& line : vLines)
        if (nNext < vWanted.size() && line == vWanted[nNext])
            ++nNext;
    return nNext == vWanted.size();
}

using netfx::ReadFile;
using netfx::ReadLines;
using netfx::WriteFile;

inline bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }

struct PipeCloser
{
    void operator()(FILE* fp) const { (void)pclose(fp); }
};

// Standard output of a shell command, without its trailing newline.
inline std::string Capture(const std::string& strCommand)
{
    std::unique_ptr<FILE, PipeCloser> fp(popen(strCommand.c_str(), "r"));
    std::string strOut;
    if (!fp)
        return strOut;
    char szChunk[4096];
    std::size_t n;
    while ((n = std::fread(szChunk, 1, sizeof(szChunk), fp.get())) > 0)
        strOut.append(szChunk, n);
    while (!strOut.empty() && strOut.back() == '\n')
        strOut.pop_back();
    return strOut;
}

// Known answers from tools that share no code with the installer.
inline std::string Md5sumOf(const std::string& strPath)
{
    return Capture("md5sum '" + strPath + "' | cut -d' ' -f1");
}

// The installer's checksum covers the file from its fifth byte on.
inline unsigned long ZlibCrcAfterFourBytes(const std::string& strPath)
{
    return std::stoul(Capture("/usr/bin/python3 -c 'import sys,zlib; "
                              "print(zlib.crc32(open(sys.argv[1],\"rb\").read()[4:]))' '" +
                              strPath + "'"));
}

// A fake tool in a directory put first on PATH: it exits with iStatus and
// does nothing else. The shell commands the installer runs find it first.
inline bool ShimTool(const std::string& strTool, int iStatus)
{
    const std::string strDir = "/tmp/shims";
    const std::string strPath = strDir + "/" + strTool;
    if ((mkdir(strDir.c_str(), 0755) != 0 && errno != EEXIST) ||
        !WriteFile(strPath, "#!/bin/sh\nexit " + std::to_string(iStatus) + "\n") ||
        chmod(strPath.c_str(), 0755) != 0)
        return false;
    const char* pcszPath = std::getenv("PATH");
    const std::string strOld = pcszPath != nullptr ? pcszPath : "";
    if (strOld.rfind(strDir + ":", 0) == 0)
        return true;
    return setenv("PATH", (strDir + ":" + strOld).c_str(), 1) == 0;
}

inline std::string SourceDir()
{
    const char* pcszDir = std::getenv("XEDA_SOURCE_DIR");
    return pcszDir != nullptr ? pcszDir : "";
}
} // namespace insttest
