// The trace writer with fuzzed label and message passed as data: the file
// then holds exactly one line in the designed layout, ending with CR LF, and
// the reader gives the label and the message back. A line break in the
// message is written as it is, so the message here has none.
#include <regex>

#include "fuzz.h"
#include "log.h"
#include "logread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    tk::Strings pieces = fuzz::Pieces(pData, nSize, 2);
    const std::string label = pieces[0],
                      message = pieces[1].substr(0, pieces[1].find_first_of("\r\n"));
    const char kLog[] = "/tmp/fuzz.log";
    tk::Remove(kLog);
    FUZZ_CHECK(WriteToRpLogEx(kLog, RP_TRACE_LEVEL_ERROR, "xedabldn", label.c_str(),
                              "/src/xedasvpk.cpp", 42, "%s", message.c_str()) == 1);
    // Time stamp and thread, the program name in 12 columns, the level in 7.
    static const std::regex line(R"(\d\d-\d\d \d\d:\d\d:\d\d:[0-9A-F]{8}     xedabldn \[ERROR\] )");
    const std::string written = tk::Read(kLog);
    FUZZ_CHECK(written.size() > 45 && std::regex_match(written.substr(0, 45), line));
    FUZZ_CHECK(written.substr(45) ==
               std::string(message.c_str()) + " [xedasvpk.cpp " + label + ":42]\r\n");
    // The reader takes the last " [" for the trailer's start: no label holds one.
    RP_LOG_LINE fields;
    FUZZ_CHECK((" " + label).find(" [") != std::string::npos ||
               (ParseRpLogLine(written.substr(0, written.size() - 1), fields) &&
                fields.svFunctionName == label && fields.svMessage == message.c_str() &&
                fields.svSourceName == "xedasvpk.cpp" && fields.uiLineNo == 42 &&
                fields.dwTraceLevel == RP_TRACE_LEVEL_ERROR));
    return 0;
}
