// What one run of the installer did, as its trace lines tell it: the
// request, the outcome, the failing step, the packages, downloads and
// crontab lines. Lines are read one at a time; a run keeps a bounded
// summary, never its lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "logread.h"

namespace report
{
enum class Outcome
{
    Scheduled, // main's "Exit" after a flow: its crontab line was issued
    Failed,
    NothingRequested, // no flow to run: unknown switch, invalid arguments, no upgrade pending
    Unfinished,       // still running, or cut off by a crash, a kill or the end of the log
};

struct Event
{
    std::string time, function, message;
};

struct Package
{
    std::string name;
    long long length = -1; // as the installer converted it; -1 when the text holds no number
};

// One fetch of a manifest or a package: the first base URL, then the second;
// each tried directly, then once more with the proxy options.
struct Download
{
    std::string file; // where it was saved
    std::string url;  // the URL that served it, or was last tried; only packages' are logged
    int base = 0;     // 1 or 2: which base URL
    bool proxyAttempt = false; // the second attempt, with the agent's proxy options
    std::string proxy;         // the proxy host those options name
    bool served = false;
    std::string begin, end; // "hh:mm:ss"
};

struct CronLine
{
    std::string line;
    bool logged; // false: the line the installer's step issues, not read back from the log
};

struct Row; // a line of the trace table (run.cpp)

struct Run
{
    std::string thread;
    std::string begin, end;  // "dd-mm hh:mm:ss" of its first and last line
    bool begunInLog = false; // false: its first lines are in no file read
    std::string request;     // "service pack", "minor upgrade", ...; "" unknown
    Outcome outcome = Outcome::Unfinished;
    bool ended = false;
    std::string step, check;   // the failing step, and which check of it
    std::string stage;         // the package the failing step worked on
    std::string after;         // the last step seen to pass
    std::vector<Event> errors; // the last ERROR lines
    std::size_t errorsOmitted = 0;
    // The ERROR lines since the last step the run completed: for a failure,
    // those that say why, without the retried attempts before.
    std::vector<Event> stepErrors;
    std::vector<Package> packages;
    std::vector<Download> downloads;
    std::vector<CronLine> crontab;
    bool rollback = false;
    std::size_t lines = 0, unreadable = 0;

    // While the run is read.
    std::string flow;               // the label of the flow writing now
    bool waiting = false;           // it said it waits for another installation
    bool proxyHostNext = false;     // the next download line is the proxy host
    std::string packageUrl[2];      // announced for the next download
    const Row* silentEnd = nullptr; // its last line may end it without a word
};

// What a line means for telling runs apart.
enum class Role
{
    Begin,       // main's "Entry"
    MainOpening, // main's lines before a flow starts
    MainClosing, // main's last line
    FlowEntry,   // a flow's first line
    Other,
};

// The rows of the trace table that one line matches, in table order.
struct Match
{
    static constexpr std::size_t kMax = 4;
    const Row* rows[kMax];
    std::size_t n = 0;
};

Match MatchLine(const RP_LOG_LINE& line);
Role RoleOf(const RP_LOG_LINE& line, const Match& match);
bool FlowStarted(const Run& run);
// Whether `match` can be the first line of the flow the run has asked for.
bool StartsRequestedFlow(const Run& run, const Match& match);
// Whether main's closing line `match` is what the run, still in its
// opening, writes next.
bool ClosesOpening(const Run& run, const Match& match);

void Apply(Run& run, const RP_LOG_LINE& line, const Match& match);
// The run has ended or is given up: settles its outcome.
void Close(Run& run);

// "scheduled", "failed: verification (CRC-32)", "nothing requested: unknown
// switch", "unfinished".
std::string Verdict(const Run& run);
const char* OutcomeWord(Outcome outcome);
} // namespace report
