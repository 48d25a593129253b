// The trace log as a sequence of runs: lines are handed out to the run that
// wrote them, and each run, once closed, goes to a sink in the order the
// runs began. Only the runs still open (and those waiting for an older one
// to close) are held, never the log.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string_view>

#include "run.h"

namespace report
{
class RunSplitter
{
public:
    using Sink = std::function<void(const Run&)>;
    explicit RunSplitter(Sink sink) : m_sink(std::move(sink)) {}

    // One line of the file, without its line feed.
    void Line(std::string_view raw);
    // A line that is not in the log's layout, or too long to be one.
    void Unreadable();
    // The end of the log: every run still open is unfinished.
    void Finish();

    std::size_t Lines() const { return m_nLines; }
    std::size_t UnreadableLines() const { return m_nUnreadable; }

private:
    struct Held
    {
        Run run;
        bool closed = false;
    };
    Run& Owner(const RP_LOG_LINE& line, const Match& match);
    Run& Begin(std::string_view thread);
    void CloseRun(Held& held);
    void HandOut();

    Sink m_sink;
    std::deque<Held> m_held; // in the order the runs began
    std::size_t m_nLines = 0, m_nUnreadable = 0;
};

// Feeds every line of the open file `fd` to the splitter; false on a read
// error, with errno set.
bool Feed(int fd, RunSplitter& splitter);
} // namespace report
