// xedabldn-report [--json] [--last] [--log FILE]: what each run of the
// installer did, read from its trace log. It only reads.
#pragma once

#include <ostream>

namespace report
{
// The exit status is about the last run to begin.
enum
{
    REPORT_SCHEDULED = 0,
    REPORT_FAILED = 1,
    REPORT_UNFINISHED = 2, // or no run found
    REPORT_UNREADABLE = 3, // the log cannot be read
    REPORT_NOTHING_REQUESTED = 4,
    REPORT_USAGE = 64, // a wrong command line, as sysexits.h counts it
};

int ReportMain(int argc, char* argv[], std::ostream& out, std::ostream& err);
} // namespace report
