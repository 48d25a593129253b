// The trace writer with fuzzed label and message passed as data: the file
// then holds exactly one line in the designed layout, ending with CR LF. A
// line break in the message is written as it is, so the message here has
// none.
#include <unistd.h>

#include <regex>

#include "fuzz.h"
#include "log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    fuzz::Input input(pData, nSize);
    const std::string label = input.Text();
    std::string message = input.Text();
    for (char& c : message)
        c = (c == '\r' || c == '\n') ? ' ' : c;
    const char kLog[] = "/tmp/fuzz.log";
    (void)unlink(kLog);
    FUZZ_CHECK(WriteToRpLogEx(kLog, RP_TRACE_LEVEL_ERROR, "xedabldn", label.c_str(),
                              "/src/xedasvpk.cpp", 42, "%s", message.c_str()) == 1);
    std::string written(message.size() + label.size() + 200, '\0');
    std::FILE* fp = std::fopen(kLog, "rb");
    FUZZ_CHECK(fp != nullptr);
    written.resize(std::fread(&written[0], 1, written.size(), fp));
    std::fclose(fp);
    const std::string expected = message + " [xedasvpk.cpp " + label + ":42]\r\n";
    static const std::regex prefix(
        R"(\d\d-\d\d \d\d:\d\d:\d\d:[0-9A-F]{8}     xedabldn \[ERROR\] )");
    const size_t nPrefix = 45; // time stamp, thread, app name in 12, level in 7
    FUZZ_CHECK(written.size() == nPrefix + expected.size());
    FUZZ_CHECK(std::regex_match(written.substr(0, nPrefix), prefix));
    FUZZ_CHECK(written.compare(nPrefix, std::string::npos, expected) == 0);
    return 0;
}
