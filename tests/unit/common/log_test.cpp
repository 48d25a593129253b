// The trace log as the agent's operators read it: the exact line layout,
// level filtering, rotation at the size threshold and whole lines from
// concurrent threads. Runs inside tests/sandbox.sh, where /var/log is private.
#include "log.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "netfixtures.h"

namespace
{
const std::string kLog = "/var/log/xedabldn.log";
const std::string kBackup = "/var/log/xedabldn.bak";
constexpr std::size_t kRotationSize = 5242880;

using netfx::ReadFile;
using netfx::WriteFile;

bool Exists(const std::string& strPath)
{
    return access(strPath.c_str(), F_OK) == 0;
}

// One written line, split along the layout
// "DD-MM hh:mm:ss:TTTTTTTT <app:12> <tag:7> <message> [<source> <function>:<line>]\r\n".
struct Line
{
    std::string strDate;   // "DD-MM hh:mm:ss"
    std::string strThread; // 8 upper-case hex digits
    std::string strApp;    // as padded
    std::string strTag;    // as padded
    std::string strMessage;
    std::string strSource;
    std::string strFunction;
    std::string strLineNo;
};

bool FitsPattern(const std::string& strText, const char* pcszPattern)
{
    // 'd' stands for a decimal digit, 'h' for an upper-case hex digit.
    if (strText.size() != std::strlen(pcszPattern))
        return false;
    for (std::size_t i = 0; i < strText.size(); ++i)
    {
        const char ch = strText[i];
        const bool bDigit = ch >= '0' && ch <= '9';
        const bool bFits = pcszPattern[i] == 'd'   ? bDigit
                           : pcszPattern[i] == 'h' ? bDigit || (ch >= 'A' && ch <= 'F')
                                                   : ch == pcszPattern[i];
        if (!bFits)
            return false;
    }
    return true;
}

// The app field is at least 12 columns wide and the tag exactly 7, so the
// tag is the first padded tag found 12 or more columns into the field.
std::size_t FindTag(const std::string& strLine, std::size_t nAppStart, std::size_t nTrailer)
{
    static const char* const kTags[] = {" [ERROR] ", "  [INFO] ", " [DEBUG] ", "  [WARN] "};
    for (std::size_t nPos = nAppStart + 12; nPos + 9 <= nTrailer + 1; ++nPos)
    {
        for (const char* pcszTag : kTags)
        {
            if (strLine.compare(nPos, 9, pcszTag) == 0)
                return nPos;
        }
    }
    return std::string::npos;
}

bool ParseLine(const std::string& strLine, Line& line)
{
    const std::size_t nSize = strLine.size();
    if (nSize < 24 + 12 + 9 || strLine.compare(nSize - 3, 3, "]\r\n") != 0)
        return false;
    if (!FitsPattern(strLine.substr(0, 24), "dd-dd dd:dd:dd:hhhhhhhh "))
        return false;
    const std::size_t nTrailer = strLine.rfind(" [");
    const std::size_t nTag = FindTag(strLine, 24, nTrailer);
    if (nTrailer == std::string::npos || nTag == std::string::npos)
        return false;
    const std::string strTrailer = strLine.substr(nTrailer + 2, nSize - 3 - (nTrailer + 2));
    const std::size_t nBlank = strTrailer.find(' ');
    const std::size_t nColon = strTrailer.rfind(':');
    if (nBlank == std::string::npos || nColon == std::string::npos || nColon < nBlank)
        return false;
    line.strDate = strLine.substr(0, 14);
    line.strThread = strLine.substr(15, 8);
    line.strApp = strLine.substr(24, nTag - 24);
    line.strTag = strLine.substr(nTag + 1, 7);
    line.strMessage = nTag + 9 <= nTrailer ? strLine.substr(nTag + 9, nTrailer - nTag - 9) : "";
    line.strSource = strTrailer.substr(0, nBlank);
    line.strFunction = strTrailer.substr(nBlank + 1, nColon - nBlank - 1);
    line.strLineNo = strTrailer.substr(nColon + 1);
    return !line.strLineNo.empty() &&
           line.strLineNo.find_first_not_of("0123456789") == std::string::npos;
}

// Splits a log into its lines, each with its CR LF.
std::vector<std::string> SplitLines(const std::string& strLog)
{
    std::vector<std::string> vLines;
    std::size_t nStart = 0;
    for (std::size_t nEnd; (nEnd = strLog.find("\r\n", nStart)) != std::string::npos; nStart = nEnd + 2)
        vLines.push_back(strLog.substr(nStart, nEnd + 2 - nStart));
    if (nStart != strLog.size())
        vLines.push_back(strLog.substr(nStart));
    return vLines;
}

std::string ThreadIdText()
{
    char szId[16];
    std::snprintf(szId, sizeof(szId), "%08X", static_cast<unsigned int>(pthread_self()));
    return szId;
}

// "DD-MM hh:mm:ss" of a moment in local time, by strftime.
std::string LocalDate(std::time_t t)
{
    struct tm tmLocal;
    localtime_r(&t, &tmLocal);
    char szDate[32];
    std::strftime(szDate, sizeof(szDate), "%d-%m %H:%M:%S", &tmLocal);
    return szDate;
}

BYTE Trace(const char* pcszLog, DWORD dwLevel, const char* pcszMessage)
{
    return WriteToRpLogEx(pcszLog, dwLevel, "xedabldn", "TestFunction", "../../tests/log_test.cpp", 42,
                          "%s", pcszMessage);
}

// The only line of a log, parsed; fails the test when there is not exactly one.
Line OnlyLine(const std::string& strPath)
{
    const std::vector<std::string> vLines = SplitLines(ReadFile(strPath));
    Line line;
    EXPECT_EQ(vLines.size(), 1u) << strPath;
    if (!vLines.empty())
    {
        EXPECT_TRUE(ParseLine(vLines.front(), line)) << vLines.front();
    }
    return line;
}

// A log of exactly nSize bytes whose start and end can be recognised.
std::string FilledLog(std::size_t nSize)
{
    std::string strContent(nSize, 'x');
    strContent.replace(0, 5, "FIRST");
    strContent.replace(nSize - 4, 4, "LAST");
    return strContent;
}

class TraceLog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("SANDBOX_DIR"), nullptr) << "run through tests/sandbox.sh (ctest does)";
        std::remove(kLog.c_str());
        std::remove(kBackup.c_str());
    }
};

TEST_F(TraceLog, LineHasTheExactLayout)
{
    const char* pcszOldTz = std::getenv("TZ");
    const std::string strOldTz = pcszOldTz != nullptr ? pcszOldTz : "";
    // Thirteen hours east of UTC: a date broken down in UTC would show.
    setenv("TZ", "XYZ-13", 1);
    tzset();
    const std::time_t tBefore = std::time(nullptr);
    ASSERT_EQ(WriteToRpLogEx(kLog.c_str(), RP_TRACE_LEVEL_INFO, "xedabldn", "InstallXEDASP",
                             "../../xedabldn/xedasvpk.cpp", 321, "%s", "Entry"),
              1);
    const std::time_t tAfter = std::time(nullptr);
    const std::string strDates[] = {LocalDate(tBefore), LocalDate(tAfter)};
    pcszOldTz != nullptr ? setenv("TZ", strOldTz.c_str(), 1) : unsetenv("TZ");
    tzset();

    const std::string strLog = ReadFile(kLog);
    ASSERT_GE(strLog.size(), 14u);
    EXPECT_TRUE(strLog.substr(0, 14) == strDates[0] || strLog.substr(0, 14) == strDates[1])
        << strLog.substr(0, 14) << " is not " << strDates[0];
    EXPECT_EQ(strLog.substr(14),
              ":" + ThreadIdText() + "     xedabldn  [INFO] Entry [xedasvpk.cpp InstallXEDASP:321]\r\n");
}

struct LevelCase
{
    DWORD dwLevel;
    const char* pcszTag; // null: nothing is written
};

class TraceLevel : public TraceLog, public ::testing::WithParamInterface<LevelCase>
{
};

// The mask is 3 (ERROR and INFO); a multi-bit level is tagged by the first of
// DEBUG, INFO, ERROR that it holds.
const LevelCase kLevelCases[] = {
    {RP_TRACE_LEVEL_ERROR, "[ERROR]"}, {RP_TRACE_LEVEL_INFO, " [INFO]"}, {3, " [INFO]"},
    {RP_TRACE_LEVEL_WARN, nullptr},    {RP_TRACE_LEVEL_DEBUG, nullptr},  {0, nullptr},
    {4 | 8, nullptr},                  {0xFFFFFFF0u, nullptr},           {4 | 1, "[ERROR]"},
    {4 | 2, " [INFO]"},                {8 | 1, "[DEBUG]"},               {8 | 2, "[DEBUG]"},
    {0xFFFFFFFFu, "[DEBUG]"},
};

TEST_P(TraceLevel, MaskFiltersAndTagNamesTheLevel)
{
    const LevelCase& c = GetParam();
    EXPECT_EQ(Trace(kLog.c_str(), c.dwLevel, "message"), 1);
    if (c.pcszTag == nullptr)
    {
        EXPECT_FALSE(Exists(kLog)) << "a filtered level must not even create the file";
        return;
    }
    EXPECT_EQ(OnlyLine(kLog).strTag, c.pcszTag);
}

INSTANTIATE_TEST_SUITE_P(Levels, TraceLevel, ::testing::ValuesIn(kLevelCases));

TEST_F(TraceLog, NullArgumentWritesNothingAndFails)
{
    const char* const pcszSet = "set";
    for (int iNull = 0; iNull < 4; ++iNull)
    {
        const char* pcszArgs[4] = {pcszSet, pcszSet, pcszSet, pcszSet};
        pcszArgs[iNull] = nullptr;
        EXPECT_EQ(WriteToRpLogEx(kLog.c_str(), RP_TRACE_LEVEL_ERROR, pcszArgs[0], pcszArgs[1],
                                 pcszArgs[2], 1, pcszArgs[3] != nullptr ? "%s" : nullptr, "text"),
                  0)
            << "argument " << iNull;
        EXPECT_FALSE(Exists(kLog)) << "argument " << iNull;
    }
}

TEST_F(TraceLog, NullLogFileNameWritesTheInstallerLog)
{
    EXPECT_EQ(Trace(nullptr, RP_TRACE_LEVEL_INFO, "to the default"), 1);
    EXPECT_EQ(OnlyLine("/var/log/xedabldn.log").strMessage, "to the default");
}

TEST_F(TraceLog, MacrosWriteTheInstallerLogWithThisSourceFile)
{
    const unsigned int uiLine = __LINE__ + 1;
    RP_TRACE_ERROR("MacroLabel", "%s", "via macro");
    const Line line = OnlyLine(kLog);
    EXPECT_EQ(line.strTag, "[ERROR]");
    EXPECT_EQ(line.strApp, "    xedabldn");
    EXPECT_EQ(line.strFunction, "MacroLabel");
    EXPECT_EQ(line.strSource, "log_test.cpp");
    EXPECT_EQ(line.strLineNo, std::to_string(uiLine));
}

TEST_F(TraceLog, UnopenableLogFailsAndWritesNothing)
{
    EXPECT_EQ(Trace("/var/log/no-such-dir/x.log", RP_TRACE_LEVEL_ERROR, "lost"), 0);
    EXPECT_FALSE(Exists("/var/log/no-such-dir"));
}

struct FieldCase
{
    const char* pcszApp;
    const char* pcszFunction;
    const char* pcszSource;
    const char* pcszExpected; // everything after the thread id
};

const FieldCase kFieldCases[] = {
    {"xedabldn", "F", "plain.cpp", "     xedabldn [ERROR] m [plain.cpp F:7]\r\n"},
    {"xedabldn", "F", "/abs/dir/deep.cpp", "     xedabldn [ERROR] m [deep.cpp F:7]\r\n"},
    {"xedabldn", "F", "../../common/rel.cpp", "     xedabldn [ERROR] m [rel.cpp F:7]\r\n"},
    {"xedabldn", "F", "dir/", "     xedabldn [ERROR] m [ F:7]\r\n"},
    {"ab", "Extract status:", "x.cpp", "           ab [ERROR] m [x.cpp Extract status::7]\r\n"},
    {"averyverylongappname", "F", "x.cpp", " averyverylongappname [ERROR] m [x.cpp F:7]\r\n"},
    {"", "", "", "              [ERROR] m [ :7]\r\n"},
};

TEST_F(TraceLog, FieldsArePaddedNeverCutAndSourceIsShortened)
{
    for (const FieldCase& c : kFieldCases)
    {
        std::remove(kLog.c_str());
        ASSERT_EQ(WriteToRpLogEx(kLog.c_str(), RP_TRACE_LEVEL_ERROR, c.pcszApp, c.pcszFunction,
                                 c.pcszSource, 7, "%s", "m"),
                  1);
        const std::string strLog = ReadFile(kLog);
        ASSERT_GT(strLog.size(), 23u);
        EXPECT_EQ(strLog.substr(23), c.pcszExpected) << c.pcszSource;
    }
}

TEST_F(TraceLog, MessageIsFormattedWithoutLengthLimit)
{
    const std::string strLong(5000, 'L');
    EXPECT_EQ(WriteToRpLogEx(kLog.c_str(), RP_TRACE_LEVEL_INFO, "app", "F", "f.cpp", 1,
                             "%d files, %s, %s", 3, "done", strLong.c_str()),
              1);
    EXPECT_EQ(OnlyLine(kLog).strMessage, "3 files, done, " + strLong);
}

TEST_F(TraceLog, PercentInATextPassedThroughPercentSIsPrintedLiterally)
{
    const char* pcszUrl = "http://127.0.0.1/pkg%20name%s%d%n%%.tar";
    EXPECT_EQ(Trace(kLog.c_str(), RP_TRACE_LEVEL_INFO, pcszUrl), 1);
    EXPECT_EQ(OnlyLine(kLog).strMessage, pcszUrl);
}

TEST_F(TraceLog, LinesAreAppendedInOrder)
{
    for (const char* pcszMessage : {"one", "two", "three"})
        ASSERT_EQ(Trace(kLog.c_str(), RP_TRACE_LEVEL_INFO, pcszMessage), 1);
    const std::vector<std::string> vLines = SplitLines(ReadFile(kLog));
    ASSERT_EQ(vLines.size(), 3u);
    const char* const pcszExpected[] = {"one", "two", "three"};
    for (std::size_t i = 0; i < 3; ++i)
    {
        Line line;
        ASSERT_TRUE(ParseLine(vLines[i], line)) << vLines[i];
        EXPECT_EQ(line.strMessage, pcszExpected[i]);
    }
}

struct RotationCase
{
    std::size_t nInitialSize;
    bool bRotates;
};

class TraceRotation : public TraceLog, public ::testing::WithParamInterface<RotationCase>
{
};

const RotationCase kRotationCases[] = {
    {kRotationSize - 1, false},
    {kRotationSize, true},
    {kRotationSize + 1, true},
    {0, false},
};

// A previous backup exists in every case: rotation replaces it, and a log
// below the threshold leaves it alone.
TEST_P(TraceRotation, LogIsMovedToTheBackupOnceItReachesTheThreshold)
{
    const RotationCase& c = GetParam();
    const std::string strPrevious = FilledLog(std::max<std::size_t>(c.nInitialSize, 8));
    const std::string strInitial = strPrevious.substr(0, c.nInitialSize);
    ASSERT_TRUE(WriteFile(kLog, strInitial));
    ASSERT_TRUE(WriteFile(kBackup, "older backup\r\n"));

    ASSERT_EQ(Trace(kLog.c_str(), RP_TRACE_LEVEL_INFO, "after"), 1);

    if (c.bRotates)
    {
        EXPECT_TRUE(ReadFile(kBackup) == strInitial) << "backup must hold the whole previous log";
        EXPECT_EQ(OnlyLine(kLog).strMessage, "after");
        return;
    }
    EXPECT_EQ(ReadFile(kBackup), "older backup\r\n");
    const std::string strLog = ReadFile(kLog);
    ASSERT_GT(strLog.size(), strInitial.size());
    EXPECT_TRUE(strLog.compare(0, strInitial.size(), strInitial) == 0);
    Line line;
    ASSERT_TRUE(ParseLine(strLog.substr(strInitial.size()), line));
    EXPECT_EQ(line.strMessage, "after");
}

INSTANTIATE_TEST_SUITE_P(Sizes, TraceRotation, ::testing::ValuesIn(kRotationCases));

TEST_F(TraceLog, AnyLogFileRotatesIntoTheOneBackup)
{
    const std::string strOther = "/var/log/other.log";
    const std::string strInitial = FilledLog(kRotationSize);
    ASSERT_TRUE(WriteFile(strOther, strInitial));
    ASSERT_EQ(Trace(strOther.c_str(), RP_TRACE_LEVEL_INFO, "other"), 1);
    EXPECT_TRUE(ReadFile(kBackup) == strInitial);
    EXPECT_EQ(OnlyLine(strOther).strMessage, "other");
    std::remove(strOther.c_str());
}

// /tmp is another file system than /var/log in the sandbox, so the rename
// into the backup fails: the line goes to the full log, and the next line
// tries again.
TEST_F(TraceLog, FailedRotationKeepsWritingToTheFullLog)
{
    const std::string strFull = "/tmp/full.log";
    const std::string strInitial = FilledLog(kRotationSize);
    ASSERT_TRUE(WriteFile(strFull, strInitial));
    ASSERT_TRUE(WriteFile(kBackup, "older backup\r\n"));

    ASSERT_EQ(Trace(strFull.c_str(), RP_TRACE_LEVEL_INFO, "first"), 1);
    ASSERT_EQ(Trace(strFull.c_str(), RP_TRACE_LEVEL_INFO, "second"), 1);

    const std::string strLog = ReadFile(strFull);
    ASSERT_GT(strLog.size(), strInitial.size());
    EXPECT_TRUE(strLog.compare(0, strInitial.size(), strInitial) == 0);
    const std::vector<std::string> vAdded = SplitLines(strLog.substr(strInitial.size()));
    ASSERT_EQ(vAdded.size(), 2u);
    Line line;
    ASSERT_TRUE(ParseLine(vAdded[1], line));
    EXPECT_EQ(line.strMessage, "second");
    EXPECT_FALSE(Exists(kBackup)) << "the old backup is removed before the rename is tried";
    std::remove(strFull.c_str());
}

// Messages longer than a stdio buffer are written in several system calls,
// so lines of two threads would interleave without the lock. Together the
// threads write past the threshold, so one rotation happens among them.
TEST_F(TraceLog, LinesOfTwoThreadsNeverInterleave)
{
    constexpr int kLinesPerThread = 300;
    constexpr std::size_t kMessageSize = 10000;
    std::atomic<int> iReady{0};
    auto writer = [&iReady](char chFill) {
        const std::string strMessage(kMessageSize, chFill);
        // Both threads start writing together, not one after the other.
        ++iReady;
        while (iReady.load() < 2)
            std::this_thread::yield();
        for (int i = 0; i < kLinesPerThread; ++i)
            Trace(kLog.c_str(), RP_TRACE_LEVEL_INFO, strMessage.c_str());
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();

    const std::string strBackup = ReadFile(kBackup);
    EXPECT_GE(strBackup.size(), kRotationSize);
    int iCount[2] = {0, 0};
    for (const std::string& strLines : {strBackup, ReadFile(kLog)})
    {
        for (const std::string& strLine : SplitLines(strLines))
        {
            Line line;
            ASSERT_TRUE(ParseLine(strLine, line)) << strLine.substr(0, 120);
            ASSERT_EQ(line.strMessage.size(), kMessageSize);
            const char chFill = line.strMessage.front();
            ASSERT_TRUE(chFill == 'a' || chFill == 'b');
            ASSERT_EQ(line.strMessage.find_first_not_of(chFill), std::string::npos);
            ++iCount[chFill - 'a'];
        }
    }
    EXPECT_EQ(iCount[0], kLinesPerThread);
    EXPECT_EQ(iCount[1], kLinesPerThread);
}
} // namespace
