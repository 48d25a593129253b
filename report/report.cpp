#include "report.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "handles.h"
#include "render.h"
#include "split.h"

namespace report
{
namespace
{
// The installer's log and the one backup it rotates into; a run may begin
// in the backup and end in the log.
const char kLog[] = "/var/log/xedabldn.log";
const char kBackup[] = "/var/log/xedabldn.bak";
const char kUsage[] = "usage: xedabldn-report [--json] [--last] [--log FILE]\n";

struct OPTIONS
{
    bool bJson = false;
    bool bLast = false;
    const char* pcszLog = nullptr; // one file instead of the backup and the log; "-" is stdin
};

bool ParseOptions(int argc, char* argv[], OPTIONS& options)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--json")
            options.bJson = true;
        else if (arg == "--last")
            options.bLast = true;
        else if (arg == "--log" && i + 1 < argc)
            options.pcszLog = argv[++i];
        else
            return false;
    }
    return true;
}

int ExitStatus(const Run* pLast)
{
    if (pLast == nullptr)
        return REPORT_UNFINISHED;
    switch (pLast->outcome)
    {
    case Outcome::Scheduled:
        return REPORT_SCHEDULED;
    case Outcome::Failed:
        return REPORT_FAILED;
    case Outcome::NothingRequested:
        return REPORT_NOTHING_REQUESTED;
    default:
        return REPORT_UNFINISHED;
    }
}

struct SOURCE
{
    std::string name;
    bool bOptional; // the backup exists only once the log has rotated
};

bool SameFile(int fd1, int fd2)
{
    struct stat st1, st2;
    return fstat(fd1, &st1) == 0 && fstat(fd2, &st2) == 0 && st1.st_dev == st2.st_dev &&
           st1.st_ino == st2.st_ino;
}

// Every file is opened before any is read, the log before its backup: once
// both are open a rotation changes nothing that is read, and should the log
// rotate between the two opens, the backup is the file already open as the
// log, read once. In `fds` they stand in the order they are read.
bool OpenAll(const std::vector<SOURCE>& sources, std::deque<UniqueFd>& fds, std::ostream& err)
{
    for (auto source = sources.rbegin(); source != sources.rend(); ++source)
    {
        const int fd =
            source->name == "-" ? dup(0) : open(source->name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && !(source->bOptional && errno == ENOENT))
        {
            err << "xedabldn-report: cannot read " << source->name << ": " << std::strerror(errno)
                << '\n';
            return false;
        }
        fds.emplace_front(fd);
    }
    if (fds.size() == 2 && fds[0].IsOpen() && SameFile(fds[0].Get(), fds[1].Get()))
        (void)fds[0].Close(); // read only: nothing to lose
    return true;
}
} // namespace

int ReportMain(int argc, char* argv[], std::ostream& out, std::ostream& err)
{
    OPTIONS options;
    if (!ParseOptions(argc, argv, options))
    {
        err << kUsage;
        return REPORT_USAGE;
    }
    std::vector<SOURCE> sources;
    if (options.pcszLog != nullptr)
        sources.push_back({options.pcszLog, false});
    else
        sources = {{kBackup, true}, {kLog, false}};
    std::deque<UniqueFd> fds; // a deque grows without moving them
    if (!OpenAll(sources, fds, err))
        return REPORT_UNREADABLE;

    std::optional<Run> last;
    RunSplitter splitter([&](const Run& run) {
        if (!options.bLast)
            options.bJson ? WriteJson(out, run) : WriteSummary(out, run);
        last = run;
    });
    for (std::size_t i = 0; i < fds.size(); ++i)
    {
        if (fds[i].IsOpen() && !Feed(fds[i].Get(), splitter))
        {
            err << "xedabldn-report: cannot read " << sources[i].name << ": "
                << std::strerror(errno) << '\n';
            return REPORT_UNREADABLE;
        }
    }
    splitter.Finish();

    if (options.bJson)
    {
        if (options.bLast && last)
            WriteJson(out, *last);
    }
    else if (!last)
    {
        out << "no run of xedabldn in the log\n";
    }
    else
    {
        out << (options.bLast ? "" : "\n");
        WriteDetails(out, *last);
    }
    if (!options.bJson && splitter.UnreadableLines() > 0)
        out << splitter.UnreadableLines() << " of " << splitter.Lines()
            << " lines are not in the trace log's layout\n";
    return ExitStatus(last ? &*last : nullptr);
}
} // namespace report
