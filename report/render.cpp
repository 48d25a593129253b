#include "render.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace report
{
namespace
{
using Json = nlohmann::ordered_json;

Json OrNull(const std::string& text)
{
    return text.empty() ? Json() : Json(text);
}

// Seconds from one "hh:mm:ss" to a later one, across midnight at most once.
long Seconds(const std::string& begin, const std::string& end)
{
    int h1, m1, s1, h2, m2, s2;
    if (std::sscanf(begin.c_str(), "%2d:%2d:%2d", &h1, &m1, &s1) != 3 ||
        std::sscanf(end.c_str(), "%2d:%2d:%2d", &h2, &m2, &s2) != 3)
        return 0;
    const long lSeconds = (h2 - h1) * 3600L + (m2 - m1) * 60L + (s2 - s1);
    return lSeconds < 0 ? lSeconds + 86400 : lSeconds;
}

// Log text reaches a terminal: control characters (an escape sequence in a
// manifest's value) are shown, not obeyed.
std::string Printable(const std::string& text)
{
    std::string shown = text;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return shown;
}

Json EventsJson(const std::vector<Event>& events)
{
    Json json = Json::array();
    for (const Event& event : events)
        json.push_back(
            {{"time", event.time}, {"function", event.function}, {"message", event.message}});
    return json;
}

Json DownloadJson(const Download& download)
{
    return {{"file", OrNull(download.file)},
            {"url", OrNull(download.url)},
            {"base_url", download.base == 0 ? Json() : Json(download.base)},
            {"proxy_attempt", download.proxyAttempt},
            {"proxy", OrNull(download.proxy)},
            {"served", download.served},
            {"seconds", Seconds(download.begin, download.end)}};
}

std::string DownloadText(const Download& download)
{
    std::string text = download.url.empty() ? download.file : download.url + " -> " + download.file;
    text += ": base URL " + std::to_string(download.base) + ", ";
    text += download.proxyAttempt
                ? "proxy attempt" + (download.proxy.empty() ? "" : " (" + download.proxy + ")")
                : std::string("direct");
    return text + (download.served ? ", served in " : ", failed after ") +
           std::to_string(Seconds(download.begin, download.end)) + " s";
}

void Detail(std::ostream& out, const char* pcszWhat, const std::string& text)
{
    out << "  " << pcszWhat << std::string(10 - std::char_traits<char>::length(pcszWhat), ' ')
        << Printable(text) << '\n';
}
} // namespace

void WriteJson(std::ostream& out, const Run& run)
{
    Json packages = Json::array(), downloads = Json::array(), crontab = Json::array();
    for (const Package& package : run.packages)
        packages.push_back({{"name", package.name},
                            {"length", package.length < 0 ? Json() : Json(package.length)}});
    for (const Download& download : run.downloads)
        downloads.push_back(DownloadJson(download));
    for (const CronLine& line : run.crontab)
        crontab.push_back({{"line", line.line}, {"logged", line.logged}});
    const Json json = {{"schema", kSchemaVersion},
                       {"begin", run.begin},
                       {"end", run.end},
                       {"thread", run.thread},
                       {"begun_in_log", run.begunInLog},
                       {"request", OrNull(run.request)},
                       {"outcome", OutcomeWord(run.outcome)},
                       {"verdict", Verdict(run)},
                       {"step", OrNull(run.step)},
                       {"check", OrNull(run.check)},
                       {"stage", OrNull(run.stage)},
                       {"after", OrNull(run.after)},
                       {"step_errors", EventsJson(run.stepErrors)},
                       {"errors", EventsJson(run.errors)},
                       {"errors_omitted", run.errorsOmitted},
                       {"packages", packages},
                       {"downloads", downloads},
                       {"crontab", crontab},
                       {"rollback_scheduled", run.rollback},
                       {"lines", run.lines},
                       {"unreadable_lines", run.unreadable}};
    // The log may hold any bytes; what is not UTF-8 becomes U+FFFD.
    out << json.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

void WriteSummary(std::ostream& out, const Run& run)
{
    // Wide enough for "no configuration directory".
    std::string request = Printable(run.request.empty() ? "unknown" : run.request);
    request.resize(std::max<std::size_t>(request.size(), 26), ' ');
    out << run.begin << "  " << run.end << "  " << request << "  " << Printable(Verdict(run))
        << '\n';
}

void WriteDetails(std::ostream& out, const Run& run)
{
    out << "Run of " << run.begin << (run.begunInLog ? "" : " (begun before the log)") << " to "
        << run.end << ", thread " << run.thread << ", " << run.lines << " lines\n";
    Detail(out, "request", run.request.empty() ? "unknown" : run.request);
    Detail(out, "outcome", Verdict(run) + (run.stage.empty() ? "" : ", " + run.stage));
    for (const Package& package : run.packages)
        Detail(out, "package",
               package.name +
                   (package.length < 0 ? "" : ", " + std::to_string(package.length) + " bytes"));
    for (const Download& download : run.downloads)
        Detail(out, "download", DownloadText(download));
    for (const CronLine& line : run.crontab)
        Detail(out, "crontab", line.line + (line.logged ? "" : " (issued; not read back)"));
    if (run.rollback)
        Detail(out, "rollback", "scheduled");
    // A run that went on after a failed attempt has ERROR lines that no
    // longer matter; those of the step it stopped at do.
    if (run.outcome == Outcome::Failed || run.outcome == Outcome::Unfinished)
        for (const Event& error : run.stepErrors)
            Detail(out, "error", error.time + " " + error.function + ": " + error.message);
    const std::size_t nErrors = run.errors.size() + run.errorsOmitted;
    if (nErrors > 0)
        Detail(out, "errors", std::to_string(nErrors) + " ERROR lines in all (--json lists them)");
    if (run.unreadable > 0)
        Detail(out, "unreadable", std::to_string(run.unreadable) + " lines while it ran");
}
} // namespace report
