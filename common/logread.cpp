#include "logread.h"

#include <climits>

#include "log.h"

namespace
{
// "dd-mm hh:mm:ss:XXXXXXXX " as "%02d-%02d %02d:%02d:%02d:%08X " writes it.
constexpr std::string_view kStamp = "99-99 99:99:99:XXXXXXXX ";
// The program name is right-aligned in 12 columns after the stamp, and
// printed whole, without padding, when it is longer.
constexpr std::size_t kNameEnd = kStamp.size() + 12;

struct LEVEL_TAG
{
    std::string_view svTag; // the 7-column tag and the blank after it
    DWORD dwTraceLevel;
};
constexpr LEVEL_TAG kTags[] = {{" [INFO] ", RP_TRACE_LEVEL_INFO},
                               {"[ERROR] ", RP_TRACE_LEVEL_ERROR},
                               {" [WARN] ", RP_TRACE_LEVEL_WARN},
                               {"[DEBUG] ", RP_TRACE_LEVEL_DEBUG}};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool StampMatches(std::string_view line)
{
    if (line.size() < kStamp.size())
        return false;
    for (std::size_t i = 0; i < kStamp.size(); ++i)
    {
        const char c = line[i];
        const bool ok = kStamp[i] == '9'   ? IsDigit(c)
                        : kStamp[i] == 'X' ? IsDigit(c) || (c >= 'A' && c <= 'F')
                                           : c == kStamp[i];
        if (!ok)
            return false;
    }
    return true;
}

// "%u": one to ten digits, within 32 bits.
bool ParseLineNo(std::string_view sv, unsigned int& uiValue)
{
    if (sv.empty() || sv.size() > 10)
        return false;
    unsigned long long ullValue = 0;
    for (char c : sv)
    {
        if (!IsDigit(c))
            return false;
        ullValue = ullValue * 10 + static_cast<unsigned>(c - '0');
    }
    uiValue = static_cast<unsigned int>(ullValue);
    return ullValue <= UINT_MAX;
}

// "<source> <label>:<line>" between the trailer's " [" and "]".
bool ParseTrailer(std::string_view svInside, RP_LOG_LINE& fields)
{
    const std::size_t nBlank = svInside.find(' ');
    const std::size_t nColon = svInside.rfind(':');
    if (nBlank == std::string_view::npos || nColon == std::string_view::npos || nColon < nBlank)
        return false;
    fields.svSourceName = svInside.substr(0, nBlank);
    fields.svFunctionName = svInside.substr(nBlank + 1, nColon - nBlank - 1);
    return ParseLineNo(svInside.substr(nColon + 1), fields.uiLineNo);
}
} // namespace

bool ParseRpLogLine(std::string_view line, RP_LOG_LINE& fields)
{
    constexpr std::string_view kEnd = "]\r";
    if (!StampMatches(line) || line.size() < kEnd.size() ||
        line.substr(line.size() - kEnd.size()) != kEnd)
        return false;
    const std::size_t nName = line.find_first_not_of(' ', kStamp.size());
    const std::size_t nNameEnd = line.find(' ', nName);
    if (nNameEnd == std::string_view::npos ||
        !(nNameEnd == kNameEnd || (nNameEnd > kNameEnd && nName == kStamp.size())))
        return false;
    const std::size_t nTag = nNameEnd + 1;
    const LEVEL_TAG* pTag = nullptr;
    for (const LEVEL_TAG& tag : kTags)
        if (line.compare(nTag, tag.svTag.size(), tag.svTag) == 0)
            pTag = &tag;
    const std::size_t nMessage = nTag + 8;
    const std::size_t nTrailer = line.rfind(" [");
    if (pTag == nullptr || nTrailer == std::string_view::npos || nTrailer < nMessage ||
        !ParseTrailer(line.substr(nTrailer + 2, line.size() - kEnd.size() - nTrailer - 2), fields))
        return false;
    fields.svDayMonth = line.substr(0, 5);
    fields.svTime = line.substr(6, 8);
    fields.svThread = line.substr(15, 8);
    fields.svAppName = line.substr(nName, nNameEnd - nName);
    fields.dwTraceLevel = pTag->dwTraceLevel;
    fields.svMessage = line.substr(nMessage, nTrailer - nMessage);
    return true;
}
