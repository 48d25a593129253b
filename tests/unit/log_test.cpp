// The trace log as operators read it: the exact line, level filtering,
// rotation at the threshold, whole lines from concurrent threads.
#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

#include "log.h"
#include "testkit.h"

namespace
{
const std::string kLog = tk::kTraceLog, kBackup = "/var/log/xedabldn.bak";

BYTE Write(const std::string& log, DWORD dwLevel, const std::string& message,
           const char* app = "xedabldn", const char* source = "../../xedabldn/xedasvpk.cpp")
{
    return WriteToRpLogEx(log.c_str(), dwLevel, app, "Fn", source, 42, "%s", message.c_str());
}

// Date, time and thread id of a line this thread writes now.
std::string Stamp()
{
    char szStamp[32];
    const time_t tNow = time(nullptr);
    struct tm tmNow;
    const size_t n =
        strftime(szStamp, sizeof(szStamp), "%d-%m %H:%M:%S", localtime_r(&tNow, &tmNow));
    snprintf(szStamp + n, sizeof(szStamp) - n, ":%08X", unsigned(pthread_self()));
    return szStamp;
}

// The tail after date, time and thread id; a level of several bits is
// tagged by the first of DEBUG, INFO, ERROR it holds; the mask 3 filters
// the others, which then create no file.
TEST(TraceLog, LineLayoutAndLevels)
{
    setenv("TZ", "XYZ-13", 1); // far from UTC, so a line stamped in UTC shows
    tzset();
    // clang-format off
    const std::tuple<DWORD, const char*, const char*, const char*> cases[] = {
        {2, "xedabldn", "../../xedabldn/xedasvpk.cpp", "     xedabldn  [INFO] m%s [xedasvpk.cpp Fn:42]\r\n"},
        {1, "ab", "plain.cpp", "           ab [ERROR] m%s [plain.cpp Fn:42]\r\n"},
        {9, "averyverylongappname", "/a/b/", " averyverylongappname [DEBUG] m%s [ Fn:42]\r\n"},
        {6, "x", "x", "            x  [INFO] m%s [x Fn:42]\r\n"},
        {5, "x", "x", "            x [ERROR] m%s [x Fn:42]\r\n"},
        {4, "x", "x", nullptr}, {8, "x", "x", nullptr}, {0, "x", "x", nullptr}, {12, "x", "x", nullptr}};
    // clang-format on
    for (const auto& [dwLevel, app, source, tail] : cases)
    {
        tk::Remove(kLog);
        const std::string before = Stamp();
        ASSERT_EQ(1, Write(kLog, dwLevel, "m%s", app, source));
        const std::string line = tk::Read(kLog);
        EXPECT_TRUE(tail ? line == before + tail || line == Stamp() + tail : !tk::Exists(kLog))
            << line;
    }
    // Written once through "%s": no length limit, nothing formatted again.
    const std::string message = std::string(5000, 'L') + "%s%n%d";
    EXPECT_EQ(
        1, WriteToRpLogEx(nullptr, 1, "xedabldn", "Fn", "f.cpp", 7, "%d %s", 3, message.c_str()));
    EXPECT_EQ(tk::Trace().back(), "E Fn|3 " + message);
    EXPECT_EQ(0, Write("/var/log/no-dir/x.log", 1, "lost"));
    ASSERT_EQ(0, symlink("/var/log/victim", "/var/log/link.log")); // never written through
    EXPECT_EQ(0, Write("/var/log/link.log", 1, "lost"));
    EXPECT_FALSE(tk::Exists("/var/log/victim"));
    EXPECT_EQ(0, Write(kLog, 1, "m", nullptr));
}

// A log of exactly the threshold moves to the backup (replacing the older
// one) before the next line, one byte less stays; any log rotates into the
// one backup. Across file systems (/tmp) the rename fails: the line goes to
// the full log, and the older backup is gone.
TEST(TraceLog, RotationAtTheThreshold)
{
    const std::tuple<std::string, size_t, const char*> cases[] = {
        {kLog, 5242879, "older"},
        {kLog, 5242880, nullptr},
        {"/var/log/other.log", 5242880, nullptr},
        {"/tmp/full.log", 5242880, ""}};
    for (const auto& [log, nSize, backup] : cases)
    {
        const std::string initial(nSize, 'x');
        ASSERT_TRUE(tk::Write(log, initial) && tk::Write(kBackup, "older"));
        ASSERT_EQ(1, Write(log, 2, "after"));
        EXPECT_TRUE(tk::Read(kBackup) == (backup ? backup : initial)) << log;
        EXPECT_EQ(tk::Read(log).size(), (backup ? nSize : 0) + 73)
            << log << ": plus one line of 73";
        tk::Remove(log);
    }
}

// Lines longer than a stdio buffer take several writes, so two threads'
// lines would interleave without the lock; together they pass the threshold.
TEST(TraceLog, LinesOfTwoThreadsNeverInterleave)
{
    auto writer = [](char fill) {
        for (int i = 0; i < 300; ++i)
            Write(kLog, 2, std::string(10000, fill));
    };
    std::thread first(writer, 'a'), second(writer, 'b');
    first.join();
    second.join();
    tk::Strings lines = tk::Trace(kBackup), live = tk::Trace(kLog);
    lines.insert(lines.end(), live.begin(), live.end());
    EXPECT_EQ(600u, lines.size());
    EXPECT_EQ(300u, tk::Count(lines, "I Fn|" + std::string(10000, 'a')));
    EXPECT_EQ(300u, tk::Count(lines, "I Fn|" + std::string(10000, 'b')));
}
} // namespace
