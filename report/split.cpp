#include "split.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace report
{
namespace
{
// The installer's lines stay well below this; a longer one is damage.
constexpr std::size_t kMaxLine = 16 * 1024;
// No installation waits for that many others to begin and end: a run still
// open behind them has been cut off.
constexpr std::size_t kMaxHeld = 64;
constexpr std::size_t kChunk = 64 * 1024;
} // namespace

void RunSplitter::Line(std::string_view raw)
{
    RP_LOG_LINE line;
    if (!ParseRpLogLine(raw, line))
        return Unreadable();
    ++m_nLines;
    const Match match = MatchLine(line);
    Apply(Owner(line, match), line, match);
    for (Held& held : m_held)
        if (!held.closed && held.run.ended)
            CloseRun(held);
    while (m_held.size() > kMaxHeld)
    {
        CloseRun(m_held.front());
        HandOut();
    }
    HandOut();
}

void RunSplitter::Unreadable()
{
    ++m_nLines;
    ++m_nUnreadable;
    for (Held& held : m_held)
        held.run.unreadable += held.closed ? 0 : 1;
}

void RunSplitter::Finish()
{
    for (Held& held : m_held)
        if (!held.closed)
            CloseRun(held);
    HandOut();
}

Run& RunSplitter::Begin(std::string_view thread)
{
    m_held.emplace_back();
    m_held.back().run.thread = std::string(thread);
    return m_held.back().run;
}

void RunSplitter::CloseRun(Held& held)
{
    Close(held.run);
    held.closed = true;
}

void RunSplitter::HandOut()
{
    while (!m_held.empty() && m_held.front().closed)
    {
        m_sink(m_held.front().run);
        m_held.pop_front();
    }
}

// Lines go by their thread field. When several open runs show the same
// field (it is no process id), the roles of the lines decide; see
// docs/report.md, "Overlapping runs".
Run& RunSplitter::Owner(const RP_LOG_LINE& line, const Match& match)
{
    const Role role = RoleOf(line, match);
    if (role == Role::Begin)
        return Begin(line.svThread);
    std::vector<Held*> candidates; // oldest first
    for (Held& held : m_held)
        if (!held.closed && held.run.thread == line.svThread)
            candidates.push_back(&held);
    if (candidates.empty())
        return Begin(line.svThread); // its beginning is in no file read
    Run& newest = candidates.back()->run;
    if (candidates.size() == 1 || role == Role::MainOpening ||
        (role == Role::MainClosing && ClosesOpening(newest, match)))
        return newest;
    if (role == Role::FlowEntry && StartsRequestedFlow(newest, match))
    {
        // A new run starts its flow: an older one of the same field that
        // it did not wait for has stopped writing.
        for (Held* pHeld : candidates)
            if (&pHeld->run != &newest)
                CloseRun(*pHeld);
        return newest;
    }
    // Older runs of the field that had started a flow were closed when a
    // newer one started its own: the oldest is the one working.
    return candidates.front()->run;
}

bool Feed(int fd, RunSplitter& splitter)
{
    std::vector<char> chunk(kChunk);
    std::string line;
    bool bTooLong = false;
    for (;;)
    {
        const ssize_t nRead = read(fd, chunk.data(), chunk.size());
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0)
            return false;
        if (nRead == 0)
            break;
        for (const char *p = chunk.data(), *pEnd = p + nRead; p < pEnd;)
        {
            const char* pFeed = static_cast<const char*>(std::memchr(p, '\n', pEnd - p));
            const std::size_t n = (pFeed != nullptr ? pFeed : pEnd) - p;
            bTooLong = bTooLong || line.size() + n > kMaxLine;
            if (!bTooLong)
                line.append(p, n);
            if (pFeed == nullptr)
                break;
            bTooLong ? splitter.Unreadable() : splitter.Line(line);
            line.clear();
            bTooLong = false;
            p = pFeed + 1;
        }
    }
    // A last line without its line feed: a file cut while being written.
    if (bTooLong)
        splitter.Unreadable();
    else if (!line.empty())
        splitter.Line(line);
    return true;
}
} // namespace report
