// The trace log as operators read it: exact line layout, level filtering,
// rotation at the threshold, whole lines from concurrent threads. Runs in
// tests/sandbox.sh, where /var/log is private.
#include "log.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "netfixtures.h"

namespace
{
const std::string kLog = "/var/log/xedabldn.log";
const std::string kBackup = "/var/log/xedabldn.bak";
constexpr std::size_t kRotationSize = 5242880;

using netfx::ReadFile;
using netfx::WriteFile;

bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }

BYTE Trace(const std::string& strLog, DWORD dwLevel, const std::string& strMessage)
{
    return WriteToRpLogEx(strLog.c_str(), dwLevel, "xedabldn", "Fn", "../../tests/log_test.cpp", 42, "%s",
                          strMessage.c_str());
}

// Everything after "DD-MM hh:mm:ss:TTTTTTTT" of a line written by Trace().
std::string Tail(const std::string& strMessage, const char* pcszPaddedTag = " [INFO]")
{
    return std::string("     xedabldn ") + pcszPaddedTag + " " + strMessage + " [log_test.cpp Fn:42]\r\n";
}

std::vector<std::string> Lines(const std::string& strPath)
{
    const std::string strLog = ReadFile(strPath);
    std::vector<std::string> vLines;
    std::size_t nStart = 0;
    for (std::size_t nEnd; (nEnd = strLog.find("\r\n", nStart)) != std::string::npos; nStart = nEnd + 2)
        vLines.push_back(strLog.substr(nStart, nEnd + 2 - nStart));
    if (nStart != strLog.size())
        vLines.push_back(strLog.substr(nStart));
    return vLines;
}

// Date, time and thread id in their fixed 23 columns ('d' a decimal digit,
// 'h' an upper-case hex digit), then the expected tail.
::testing::AssertionResult IsLine(const std::string& strLine, const std::string& strTail)
{
    const std::string strHead = "dd-dd dd:dd:dd:hhhhhhhh";
    bool bFits = strLine.size() >= strHead.size() && strLine.substr(strHead.size()) == strTail;
    for (std::size_t i = 0; bFits && i < strHead.size(); ++i)
    {
        const char ch = strLine[i];
        const bool bDigit = ch >= '0' && ch <= '9';
        bFits = strHead[i] == 'd' ? bDigit : strHead[i] == 'h' ? bDigit || (ch >= 'A' && ch <= 'F') : ch == strHead[i];
    }
    return bFits ? ::testing::AssertionSuccess()
                 : ::testing::AssertionFailure() << '"' << strLine.substr(0, 200) << "\" does not end in \""
                                                 << strTail.substr(0, 200) << '"';
}

void ExpectOnlyLine(const std::string& strPath, const std::string& strTail)
{
    const std::vector<std::string> vLines = Lines(strPath);
    ASSERT_EQ(vLines.size(), 1u) << strPath;
    EXPECT_TRUE(IsLine(vLines[0], strTail));
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

TEST_F(TraceLog, LineHasTheExactLayoutInLocalTime)
{
    setenv("TZ", "XYZ-13", 1); // far from UTC, so a date broken down in UTC shows; no other test reads the time
    tzset();
    auto localDate = [] {
        const std::time_t t = std::time(nullptr);
        struct tm tmLocal;
        char szDate[32];
        std::strftime(szDate, sizeof(szDate), "%d-%m %H:%M:%S", localtime_r(&t, &tmLocal));
        return std::string(szDate);
    };
    const std::string strBefore = localDate();
    ASSERT_EQ(WriteToRpLogEx(kLog.c_str(), RP_TRACE_LEVEL_INFO, "xedabldn", "InstallXEDASP",
                             "../../xedabldn/xedasvpk.cpp", 321, "%s", "Entry"),
              1);
    const std::string strAfter = localDate();
    char szThread[16];
    std::snprintf(szThread, sizeof(szThread), ":%08X", static_cast<unsigned int>(pthread_self()));
    const std::string strLog = ReadFile(kLog);
    ASSERT_GE(strLog.size(), 14u);
    EXPECT_TRUE(strLog.substr(0, 14) == strBefore || strLog.substr(0, 14) == strAfter) << strLog;
    EXPECT_EQ(strLog.substr(14),
              szThread + std::string("     xedabldn  [INFO] Entry [xedasvpk.cpp InstallXEDASP:321]\r\n"));
}

// The mask is 3 (ERROR and INFO); a multi-bit level is tagged by the first of
// DEBUG, INFO, ERROR that it holds. A filtered level does not even create the
// file. A line that cannot be written fails.
TEST_F(TraceLog, MaskFiltersAndTagNamesTheLevel)
{
    const struct { DWORD dwLevel; const char* pcszTag; } kCases[] = {
        {RP_TRACE_LEVEL_ERROR, "[ERROR]"}, {RP_TRACE_LEVEL_INFO, " [INFO]"}, {3, " [INFO]"},
        {RP_TRACE_LEVEL_WARN, nullptr},    {RP_TRACE_LEVEL_DEBUG, nullptr},  {0, nullptr},
        {4 | 8, nullptr},                  {4 | 1, "[ERROR]"},               {8 | 1, "[DEBUG]"},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.dwLevel);
        std::remove(kLog.c_str());
        EXPECT_EQ(Trace(kLog, c.dwLevel, "m"), 1);
        if (c.pcszTag == nullptr)
            EXPECT_FALSE(Exists(kLog));
        else
            ExpectOnlyLine(kLog, Tail("m", c.pcszTag));
    }
    EXPECT_EQ(Trace("/var/log/no-such-dir/x.log", RP_TRACE_LEVEL_ERROR, "lost"), 0);
    std::remove(kLog.c_str());
    EXPECT_EQ(WriteToRpLogEx(kLog.c_str(), RP_TRACE_LEVEL_ERROR, nullptr, "Fn", "x.cpp", 1, "%s", "m"), 0);
    EXPECT_FALSE(Exists(kLog));
}

TEST_F(TraceLog, NullLogFileNameAndMacrosWriteTheInstallerLog)
{
    EXPECT_EQ(WriteToRpLogEx(nullptr, RP_TRACE_LEVEL_INFO, "xedabldn", "Fn", "log_test.cpp", 42, "%s", "default"), 1);
    const unsigned int uiLine = __LINE__ + 1;
    RP_TRACE_ERROR("MacroLabel", "%s", "via macro");
    const std::vector<std::string> vLines = Lines("/var/log/xedabldn.log");
    ASSERT_EQ(vLines.size(), 2u);
    EXPECT_TRUE(IsLine(vLines[0], Tail("default")));
    EXPECT_TRUE(IsLine(vLines[1], "     xedabldn [ERROR] via macro [log_test.cpp MacroLabel:" + std::to_string(uiLine) +
                                      "]\r\n"));
}

// Expected: everything after the thread id.
TEST_F(TraceLog, FieldsArePaddedNeverCutAndSourceIsShortened)
{
    const struct { const char* pcszApp; const char* pcszSource; const char* pcszExpected; } kCases[] = {
        {"xedabldn", "plain.cpp", "     xedabldn [ERROR] m [plain.cpp F:7]\r\n"},
        {"xedabldn", "/abs/dir/deep.cpp", "     xedabldn [ERROR] m [deep.cpp F:7]\r\n"},
        {"xedabldn", "dir/", "     xedabldn [ERROR] m [ F:7]\r\n"},
        {"ab", "x.cpp", "           ab [ERROR] m [x.cpp F:7]\r\n"},
        {"averyverylongappname", "x.cpp", " averyverylongappname [ERROR] m [x.cpp F:7]\r\n"},
    };
    for (const auto& c : kCases)
    {
        std::remove(kLog.c_str());
        ASSERT_EQ(WriteToRpLogEx(kLog.c_str(), RP_TRACE_LEVEL_ERROR, c.pcszApp, "F", c.pcszSource, 7, "%s", "m"), 1);
        ExpectOnlyLine(kLog, c.pcszExpected);
    }
}

// A '%' inside a text passed through "%s" must not be formatted again.
TEST_F(TraceLog, MessageIsFormattedOnceWithoutLengthLimit)
{
    const std::string strLong(5000, 'L');
    const char* pcszUrl = "http://127.0.0.1/pkg%20name%s%d%n%%.tar";
    EXPECT_EQ(WriteToRpLogEx(kLog.c_str(), RP_TRACE_LEVEL_INFO, "xedabldn", "Fn", "log_test.cpp", 42,
                             "%d files, %s, %s", 3, pcszUrl, strLong.c_str()),
              1);
    ExpectOnlyLine(kLog, Tail("3 files, " + std::string(pcszUrl) + ", " + strLong));
}

// A previous backup exists in every case: rotation replaces it, and a log
// below the threshold leaves it alone. Any log rotates into the one backup.
TEST_F(TraceLog, LogIsMovedToTheBackupOnceItReachesTheThreshold)
{
    const struct { std::string strLog; std::size_t nSize; } kCases[] = {
        {kLog, kRotationSize - 1}, {kLog, kRotationSize}, {"/var/log/other.log", kRotationSize}};
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.strLog + " " + std::to_string(c.nSize));
        const std::string strInitial = "FIRST" + std::string(c.nSize - 9, 'x') + "LAST";
        ASSERT_TRUE(WriteFile(c.strLog, strInitial));
        ASSERT_TRUE(WriteFile(kBackup, "older backup\r\n"));
        ASSERT_EQ(Trace(c.strLog, RP_TRACE_LEVEL_INFO, "after"), 1);
        const std::string strLog = ReadFile(c.strLog);
        if (c.nSize == kRotationSize)
        {
            EXPECT_TRUE(ReadFile(kBackup) == strInitial) << "backup must hold the whole previous log";
            EXPECT_TRUE(IsLine(strLog, Tail("after")));
        }
        else
        {
            EXPECT_EQ(ReadFile(kBackup), "older backup\r\n");
            EXPECT_TRUE(strLog.compare(0, strInitial.size(), strInitial) == 0);
            EXPECT_TRUE(IsLine(strLog.substr(strInitial.size()), Tail("after")));
        }
        std::remove(c.strLog.c_str());
    }
}

// /tmp is another file system than /var/log in the sandbox, so the rename
// into the backup fails: the line goes to the full log, and the next line
// tries again after the old backup has been removed.
TEST_F(TraceLog, FailedRotationKeepsWritingToTheFullLog)
{
    const std::string strFull = "/tmp/full.log", strInitial(kRotationSize, 'x');
    ASSERT_TRUE(WriteFile(strFull, strInitial));
    ASSERT_TRUE(WriteFile(kBackup, "older backup\r\n"));
    ASSERT_EQ(Trace(strFull, RP_TRACE_LEVEL_INFO, "first"), 1);
    ASSERT_EQ(Trace(strFull, RP_TRACE_LEVEL_INFO, "second"), 1);
    const std::vector<std::string> vLines = Lines(strFull);
    ASSERT_EQ(vLines.size(), 2u);
    EXPECT_EQ(vLines[0].substr(0, kRotationSize), strInitial);
    EXPECT_TRUE(IsLine(vLines[0].substr(kRotationSize), Tail("first")));
    EXPECT_TRUE(IsLine(vLines[1], Tail("second")));
    EXPECT_FALSE(Exists(kBackup));
    std::remove(strFull.c_str());
}

// Messages longer than a stdio buffer take several system calls, so lines of
// two threads would interleave without the lock. Together the threads write
// past the threshold, so one rotation happens among them.
TEST_F(TraceLog, LinesOfTwoThreadsNeverInterleave)
{
    constexpr int kLinesPerThread = 300;
    std::atomic<int> iReady{0};
    auto writer = [&iReady](char chFill) {
        const std::string strMessage(10000, chFill);
        for (++iReady; iReady.load() < 2;)
            std::this_thread::yield();
        for (int i = 0; i < kLinesPerThread; ++i)
            Trace(kLog, RP_TRACE_LEVEL_INFO, strMessage);
    };
    std::thread first(writer, 'a'), second(writer, 'b');
    first.join();
    second.join();

    EXPECT_GE(ReadFile(kBackup).size(), kRotationSize);
    int iCount[2] = {0, 0};
    for (const std::string& strPath : {kBackup, kLog})
        for (const std::string& strLine : Lines(strPath))
        {
            const int iWhich = strLine.size() > 50 && strLine[50] == 'b' ? 1 : 0;
            ASSERT_TRUE(IsLine(strLine, Tail(std::string(10000, static_cast<char>('a' + iWhich)))));
            ++iCount[iWhich];
        }
    EXPECT_EQ(iCount[0], kLinesPerThread);
    EXPECT_EQ(iCount[1], kLinesPerThread);
}
} // namespace
