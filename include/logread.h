// Reading the trace log back: one line in the layout WriteToRpLogEx writes,
// split into its fields. It sits beside the writer so that a change of the
// layout is made, and tested, in both at once.
#pragma once

#include <string_view>

#include "typedef.h"

// Views into the line given to ParseRpLogLine; valid as long as that text is.
struct RP_LOG_LINE
{
    std::string_view svDayMonth; // "dd-mm": there is no year
    std::string_view svTime;     // "hh:mm:ss", local time
    // The low 32 bits of the writer's pthread_self, 8 upper-case hexadecimal
    // digits: it tells apart the threads, and mostly the processes, that
    // write at the same time, but it is no process id and may repeat.
    std::string_view svThread;
    std::string_view svAppName;
    DWORD dwTraceLevel; // RP_TRACE_LEVEL_ERROR, _INFO, _WARN or _DEBUG
    std::string_view svMessage;
    std::string_view svSourceName;   // the last component of the writer's source file
    std::string_view svFunctionName; // the label: a function's name or a short text
    unsigned int uiLineNo;
};

// `line` is one line of the file without its line feed; it ends with the
// carriage return the writer puts before it. False for anything else: a
// line cut short, garbled or binary, or text of another layout.
//
// The message runs up to the last " [" of the line, where the trailer begins:
// a message may hold " [" (a URL, a server's error text), a label or source
// name never does. The source name ends at the trailer's first blank, so the
// label may hold blanks and colons ("Extract status:").
bool ParseRpLogLine(std::string_view line, RP_LOG_LINE& fields);
