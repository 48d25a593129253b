// The report over any log text: no crash, leak or exception (the JSON
// writer's included), every JSON line parses, and every line is accounted to
// a run or counted unreadable.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "fuzz.h"
#include "handles.h"
#include "render.h"
#include "split.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    UniqueFd fd(memfd_create("log", 0));
    FUZZ_CHECK(fd.Get() >= 0 && write(fd.Get(), pData, nSize) == static_cast<ssize_t>(nSize) &&
               lseek(fd.Get(), 0, SEEK_SET) == 0);
    std::ostringstream json, text;
    size_t nInRuns = 0;
    report::RunSplitter splitter([&](const report::Run& run) {
        nInRuns += run.lines;
        report::WriteJson(json, run);
        report::WriteDetails(text, run);
    });
    FUZZ_CHECK(report::Feed(fd.Get(), splitter));
    splitter.Finish();
    const std::string input(reinterpret_cast<const char*>(pData), nSize);
    const size_t nLines = std::count(input.begin(), input.end(), '\n') +
                          (input.empty() || input.back() == '\n' ? 0 : 1);
    FUZZ_CHECK(splitter.Lines() == nLines);
    FUZZ_CHECK(nInRuns + splitter.UnreadableLines() == nLines);
    for (const std::string& line : tk::Lines(json.str()))
        FUZZ_CHECK(nlohmann::json::accept(line));
    return 0;
}
