#include "run.h"

#include <cstdio>

#include "log.h"

namespace report
{
// What a line of the trace table does to the run it belongs to.
enum class Effect
{
    Begin,           // a run begins
    Request,         // word: what was asked for
    Flow,            // a flow begins; word: the request it serves, check: its package
    Stage,           // a stage within a flow begins; word and check as for Flow
    Waiting,         // the run waits for another installation to end
    Fail,            // the run fails at step `word`, check `check`
    Fallback,        // the run fails; names step `word` only when no other line did
    Passed,          // step `word` passed
    Detail,          // an ERROR line that fails nothing by itself
    EndExit,         // main's last line when the flow succeeded or none was to run
    EndFailed,       // main's last line after a failure; word: main's own failing step
    EndNothing,      // main's last line when there is nothing to do; word: the request
    SilentEnd,       // as the run's last line: main ended it as if it had written `word`
    PackageName,     // the message is the package's name
    PackageLength,   // the message is its length as the manifest gives it
    PackageUrl,      // the message is the URL at base `word` ("1" or "2") of the next package
    DownloadBegin,   // a manifest or package download begins
    Attempt,         // the download tries its next base URL
    Destination,     // the message is where the download goes
    SecondAttempt,   // the direct attempt failed: once more with the proxy options
    ProxyHostNext,   // the download's next line is the proxy's host
    Served,          // the download succeeded
    Cron,            // the step issues the crontab line `word`
    Rollback,        // the step issues the rollback's crontab line `word`
    CronLogged,      // the message, after the prefix, is the line appended to /etc/crontab
    CronFailed,      // the line the step issued did not reach /etc/crontab
    ServicePackCron, // after the service pack, its line is the one due at this minute
};

struct Row
{
    DWORD dwLevel;          // 0: any level
    const char* pcszLabel;  // nullptr: any label
    const char* pcszPrefix; // how the message begins
    Effect effect;
    const char* pcszWord = nullptr;
    const char* pcszCheck = nullptr;
};

namespace
{
constexpr DWORD E = RP_TRACE_LEVEL_ERROR;
constexpr DWORD I = RP_TRACE_LEVEL_INFO;
const char kMain[] = "main";
const char kUpgrade[] = "upgrade";
const char kServicePack[] = "service pack";

// Every trace text that says something about a run. A line takes the effect
// of every row it matches, in this order. Texts with an "L" label below are
// written by each flow under its own label, so they match any label.
// clang-format off
const Row kRows[] = {
    // main: the request and the end of the run
    {I, kMain, "Entry", Effect::Begin},
    {I, kMain, "Service Pack installation Request -CASP", Effect::Request, kServicePack},
    {I, kMain, "Minor/Major Upgrade installation Request -CAUPG", Effect::Request, kUpgrade},
    {I, kMain, "Upgrade installation start point", Effect::SilentEnd, "configuration directory unavailable"},
    {E, kMain, "configuration directory unavailable", Effect::Request, "no configuration directory"},
    {E, kMain, "configuration directory unavailable", Effect::EndFailed, "configuration directory"},
    {I, kMain, "waiting for another installation", Effect::Waiting},
    {E, kMain, "another installation still runs after an hour", Effect::EndFailed, "waiting for another installation"},
    {E, kMain, "cannot lock /run/xedabldn.lock: ", Effect::Detail},
    {E, kMain, "Invalid arguments less than 3", Effect::EndNothing, "invalid arguments"},
    {E, kMain, "Argument ", Effect::EndNothing, "invalid arguments"}, // "Argument 1 longer than 259 characters"
    {I, kMain, "Exit", Effect::EndExit},
    {I, kMain, "Exit", Effect::ServicePackCron},
    {I, kMain, "Service Pack installation failed", Effect::EndFailed},
    {I, kMain, "Minor Upgrade installation failed", Effect::EndFailed},
    {I, kMain, "Major Upgrade installation failed", Effect::EndFailed},
    // the flows and the package each works on
    {I, "InstallXEDASP", "Entry", Effect::Flow, kServicePack, "service pack"},
    {I, "InstallMinUPG", "Entry", Effect::Flow, "minor upgrade", "delta package"},
    {I, "DownloadAndInstallCA", "Entry", Effect::Stage, "minor upgrade", "client-agent package"},
    {I, "InstallMajorUPG", "Entry", Effect::Flow, "major upgrade", "client build"},
    {E, nullptr, "Invalid Parameter", Effect::Fail, "arguments"},
    {E, nullptr, "base URL longer than 259 characters", Effect::Fail, "name too long", "base URL"},
    {E, nullptr, "manifest URL longer than 259 characters", Effect::Fail, "name too long", "manifest URL"},
    {E, nullptr, "manifest path longer than 259 characters", Effect::Fail, "name too long", "manifest path"},
    {E, nullptr, "package URL longer than 259 characters", Effect::Fail, "name too long", "package URL"},
    {E, nullptr, "package path longer than 259 characters", Effect::Fail, "name too long", "package path"},
    {E, nullptr, "cron service is not running", Effect::Fail, "cron service"},
    // the manifest
    {E, nullptr, "Ini downloa failed", Effect::Fail, "manifest download"},
    {E, nullptr, "minupg.ini download failed", Effect::Fail, "manifest download"},
    {E, nullptr, "Caupg.ini download failed", Effect::Fail, "manifest download"},
    {E, nullptr, "signature download failed", Effect::Fail, "manifest signature", "signature download"},
    {E, nullptr, "signature longer than 1024 bytes", Effect::Fail, "manifest signature", "signature length"},
    {E, nullptr, "no trusted update key", Effect::Fail, "manifest signature", "no trusted key"},
    {E, nullptr, "manifest signature not verified", Effect::Fail, "manifest signature", "signature"},
    {E, nullptr, "sha256_64 missing or malformed", Effect::Fail, "manifest signature", "sha256_64"},
    {E, nullptr, "expires_64 missing or malformed", Effect::Fail, "manifest signature", "expires_64"},
    {E, nullptr, "manifest expired at ", Effect::Fail, "manifest signature", "expired"},
    {I, nullptr, "manifest signed by ", Effect::Passed, "manifest signature"},
    {E, "UpdateKeys", "", Effect::Detail}, // a key, or the keys folder, not trusted
    {E, "GetServicePackName", "failed", Effect::Fail, "unreadable manifest", "file_64"},
    {E, "GetMinorUpgradePackName", "failed", Effect::Fail, "unreadable manifest", "file_64"},
    {E, "GetMinorUpgradeCAPackName", "failed", Effect::Fail, "unreadable manifest", "file_64"},
    {E, nullptr, "SP length failed", Effect::Fail, "unreadable manifest", "filelength_64"},
    {E, nullptr, "CRC32 failed", Effect::Fail, "unreadable manifest", "checksum1_64"},
    {E, nullptr, "Md5sum failed", Effect::Fail, "unreadable manifest", "checksum2_64"},
    {E, nullptr, "GetServicePackInfo failed.", Effect::Fail, "unreadable manifest"},
    {E, nullptr, "GetMinorUpgradePackInfo failed.", Effect::Fail, "unreadable manifest"},
    {E, nullptr, "GetMinorUpgradeCAPackInfo. failed", Effect::Fail, "unreadable manifest"},
    {E, nullptr, "package name refused: ", Effect::Fail, "unreadable manifest", "package name"},
    {I, "GetServicePackName:", "", Effect::PackageName},
    {I, "GetMinorUpgradeCAPackName:", "", Effect::PackageName},
    {I, "GetServicePackName dwlength:", "", Effect::PackageLength},
    // free space
    {E, "GetDiskFreeSpace", "Invalid Path", Effect::Fail, "free space", "no /var/tmp/"},
    {E, "GetDiskFreeSpace", "vfs failed", Effect::Fail, "free space", "query failed"},
    {E, "GetDiskFreeSpace", "No free space", Effect::Fail, "free space", "no free space"},
    {E, nullptr, "GetDiskFreeSpace failed.", Effect::Fail, "free space"},
    {E, nullptr, "Space not availabe", Effect::Fail, "free space", "too little space"},
    {I, nullptr, "Space availabe", Effect::Passed, "free space"},
    // downloads
    {I, "InstallXEDASP URL1=", "", Effect::PackageUrl, "1"},
    {I, "InstallXEDASP URL2=", "", Effect::PackageUrl, "2"},
    {I, "DownloadAndInstallCA URL1=", "", Effect::PackageUrl, "1"},
    {I, "DownloadAndInstallCA URL2=", "", Effect::PackageUrl, "2"},
    {I, "InstallMinUPG URL1=", "", Effect::PackageUrl, "1"},
    {I, "InstallMinUPG URL2=", "", Effect::PackageUrl, "2"},
    {I, "InstallMajorUPG URL1=", "", Effect::PackageUrl, "1"},
    {I, "InstallMajorUPG URL2=", "", Effect::PackageUrl, "2"},
    {I, "DownloadXEDASPServicePack", "Entry", Effect::DownloadBegin},
    {I, "DownloadFile", "Entry", Effect::Attempt},
    {I, "SpSendRequestAndGetResponse", "/", Effect::Destination},
    {I, "DownloadFile", "SendRequestAndGetResponse Failed Without Proxy", Effect::SecondAttempt},
    {I, "DownloadFile", "Proxy serverv name", Effect::ProxyHostNext},
    {I, "DownloadFile", "successfull down", Effect::Served},
    {E, "SpSendRequestAndGetResponse", "HTTP status ", Effect::Detail},
    {E, "SpSendRequestAndGetResponse", "more than ", Effect::Detail},
    {E, "SpSendRequestAndGetResponse", "no body received", Effect::Detail},
    {E, "WriteMemoryCallback1", "cannot create ", Effect::Detail},
    {E, nullptr, "SP download failed", Effect::Fail, "package download"},
    {E, nullptr, "MinorUpgrade  download failed", Effect::Fail, "package download"},
    {E, nullptr, "CA package download failed", Effect::Fail, "package download"},
    // verification
    {E, "CheckFileConsistency", "NULL error code.", Effect::Fail, "verification"},
    {E, "CheckFileConsistency", "Invalid Parameters.", Effect::Fail, "verification"},
    {E, "CheckFileConsistency", "File length mismatch", Effect::Fail, "verification", "length"},
    {E, "CheckFileConsistency", "CalculateCheckSum failed.", Effect::Fail, "verification", "CRC-32"},
    {E, "CheckFileConsistency", "Checksum mismatch", Effect::Fail, "verification", "CRC-32"},
    {E, "CheckFileConsistency", "objectcreation failed.", Effect::Fail, "verification", "MD5"},
    {E, "CheckFileConsistency", "CheckSumCalc.CalculateMD5 failed.", Effect::Fail, "verification", "MD5"},
    {E, "CheckFileConsistency", "MD5 mismatch", Effect::Fail, "verification", "MD5"},
    {E, "CheckFileConsistency", "SHA-256 mismatch", Effect::Fail, "verification", "SHA-256"},
    {E, "CheckFileConsistency", "SHA-256 could not be computed.", Effect::Fail, "verification", "SHA-256"},
    {I, "CheckFileConsistency", "end.", Effect::Passed, "verification"},
    // the client-agent stage of a minor upgrade, and its rollback
    {I, "DownloadAndInstallCA", "ClientAgentOld.tar.gz taken.", Effect::Passed, "agent archive"},
    {E, "DownloadAndInstallCA", "ClientAgentOld.tar.gz not taken: ", Effect::Detail},
    {E, "InstallMinUPG", "DownloadAndInstallCA failed", Effect::Fallback, "client-agent stage"},
    {I, "scheduling cron job for rollback of Client agent", "Exit", Effect::Rollback,
     "*/1 * * * * root /var/tmp/installation/rollbackCA.sh 1 NULL >> /dev/null 2>&1"},
    {E, "Old  CA Backup is not present", "Exit", Effect::Detail},
    {E, "InstallMinUPG", "no rollback scheduled: ", Effect::Detail},
    // extraction
    {E, "Extract status:", "failed", Effect::Fail, "extraction"},
    {E, "Extract", "Exit", Effect::Fail, "extraction"},
    {E, "extraction is failed with error %s", "", Effect::Fail, "extraction"},
    {E, "InstallXEDASP", "extraction failed", Effect::Fail, "extraction"},
    {I, "Extract status:", "Success", Effect::Passed, "extraction"},
    {E, nullptr, "cannot unpack: ", Effect::Detail},
    {E, nullptr, "cannot move ", Effect::Detail},
    // the script and its crontab line
    {E, "InstallXEDASP", "local time unavailable", Effect::Fail, "local time"},
    {E, " CA package dir not downloaded", "Exit", Effect::Fail, "script missing", "kvuninstall_clagnt"},
    {E, "Delta Changes not download", "Exit", Effect::Fail, "script missing", "kvacascr"},
    {E, " ClientBuild dir is not downloaded", "Exit", Effect::Fail, "script missing", "ClientBuild"},
    {E, nullptr, "script missing: ", Effect::Fail, "script missing"},
    {E, nullptr, "script not trusted: ", Effect::Fail, "script check"},
    {I, "!!!!!Scheduling cron job for Delta change via installation script", "Exit", Effect::Passed, "script check"},
    {I, "scheduling cron job for uninstallation of client agent", "Exit", Effect::Cron,
     "*/3 * * * * root /var/tmp/installation/kvuninstall_clagnt 1 NULL >> /dev/null 2>&1"},
    {I, "scheduling cron job for installing major upgrade build", "Exit", Effect::Cron,
     "*/3 * * * * root /var/tmp/ClientBuild/x86_64/aclinux/kvinstall 1 NULL >> /dev/null 2>&1"},
    {I, nullptr, "crontab line added: ", Effect::CronLogged},
    {E, nullptr, "crontab append failed: ", Effect::Fail, "cron"},
    {E, nullptr, "crontab append failed: ", Effect::CronFailed},
};
// clang-format on

// A run keeps this much of what it met, whatever the log holds.
constexpr std::size_t kMaxErrors = 32, kMaxStepErrors = 8, kMaxPackages = 4, kMaxDownloads = 16,
                      kMaxCron = 8, kMaxText = 1024;

bool Matches(const Row& row, const RP_LOG_LINE& line)
{
    return (row.dwLevel == 0 || row.dwLevel == line.dwTraceLevel) &&
           (row.pcszLabel == nullptr || line.svFunctionName == row.pcszLabel) &&
           line.svMessage.compare(0, std::char_traits<char>::length(row.pcszPrefix),
                                  row.pcszPrefix) == 0;
}

bool Has(const Match& match, Effect effect)
{
    for (std::size_t i = 0; i < match.n; ++i)
        if (match.rows[i]->effect == effect)
            return true;
    return false;
}

std::string Text(std::string_view sv)
{
    return std::string(sv.substr(0, kMaxText));
}

// The Flow or Stage row of the flow that writes under `label`: its own
// label, or its label and a suffix ("InstallXEDASP URL1=").
const Row* FlowRowOf(std::string_view label)
{
    for (const Row& row : kRows)
    {
        if (row.effect != Effect::Flow && row.effect != Effect::Stage)
            continue;
        const std::string_view flow = row.pcszLabel;
        if (label.compare(0, flow.size(), flow) == 0 &&
            (label.size() == flow.size() || label[flow.size()] == ' '))
            return &row;
    }
    return nullptr;
}

// A minor upgrade is an upgrade.
bool Serves(const char* pcszFlowRequest, const std::string& request)
{
    const std::string_view flow = pcszFlowRequest;
    return !request.empty() && flow.size() >= request.size() &&
           flow.compare(flow.size() - request.size(), request.size(), request) == 0 &&
           (flow.size() == request.size() || flow[flow.size() - request.size() - 1] == ' ');
}

// Which flow writes now; a run whose first lines are lost learns its
// request from it.
void TrackFlow(Run& run, std::string_view label)
{
    const Row* pFlow = FlowRowOf(label);
    if (pFlow == nullptr)
        return;
    run.flow = pFlow->pcszLabel;
    if (run.request.empty() ||
        (run.request != pFlow->pcszWord && Serves(pFlow->pcszWord, run.request)))
        run.request = pFlow->pcszWord;
}

// The last failing step wins: a step that fails is followed only by its
// consequences. A caller's line that names no check keeps the one its
// callee named ("CRC32 failed", then "GetServicePackInfo failed.").
void SetStep(Run& run, const char* pcszStep, const char* pcszCheck)
{
    if (run.step != pcszStep)
        run.check.clear();
    run.step = pcszStep;
    if (pcszCheck != nullptr)
        run.check = pcszCheck;
    const Row* pFlow = FlowRowOf(run.flow);
    run.stage = pFlow != nullptr ? pFlow->pcszCheck : "";
}

void End(Run& run, Outcome outcome)
{
    run.ended = true;
    run.outcome = outcome;
}

void AddCron(Run& run, std::string line, bool bLogged)
{
    if (!bLogged || run.crontab.empty() || run.crontab.back().logged)
    {
        if (run.crontab.size() < kMaxCron)
            run.crontab.push_back({std::move(line), bLogged});
        return;
    }
    // The line the step announced, now read back as it was appended.
    run.crontab.back() = {std::move(line), true};
}

// The installer schedules the service-pack script two minutes ahead, at
// minute 2 of the next hour from minute 58 on. It reads the clock
// milliseconds before main's "Exit", so the minute of that line is the one
// (but for a clock that turned the minute in between).
std::string ServicePackLine(std::string_view time)
{
    int iHour = 0, iMinute = 0;
    if (std::sscanf(std::string(time).c_str(), "%2d:%2d", &iHour, &iMinute) != 2)
        return "";
    if (iMinute + 2 > 59)
    {
        iHour += 1;
        iMinute = 2;
    }
    else
    {
        iMinute += 2;
    }
    return std::to_string(iMinute) + " " + std::to_string(iHour > 23 ? 0 : iHour) +
           " * * * root /var/tmp/kvlinxsp/kvacascr 1 NULL >> /dev/null 2>&1";
}

// Leading decimal digits, as the installer converts a length; -1 for none.
long long LeadingNumber(std::string_view sv)
{
    const std::size_t nStart = sv.find_first_not_of(' ');
    long long llValue = -1;
    for (std::size_t i = nStart; i < sv.size() && i < nStart + 10 && sv[i] >= '0' && sv[i] <= '9';
         ++i)
        llValue = (llValue < 0 ? 0 : llValue * 10) + (sv[i] - '0');
    return llValue;
}

Download* OpenDownload(Run& run)
{
    return run.downloads.empty() ? nullptr : &run.downloads.back();
}

void ApplyDownload(Run& run, const Row& row, const RP_LOG_LINE& line)
{
    if (row.effect == Effect::DownloadBegin)
    {
        if (run.downloads.size() >= kMaxDownloads)
            run.downloads.erase(run.downloads.begin());
        Download download;
        download.begin = download.end = Text(line.svTime);
        run.downloads.push_back(download);
        return;
    }
    Download* pDownload = OpenDownload(run);
    if (pDownload == nullptr)
        return;
    switch (row.effect)
    {
    case Effect::Attempt:
        pDownload->base += pDownload->base < 2 ? 1 : 0;
        pDownload->url = run.packageUrl[pDownload->base - 1];
        pDownload->proxyAttempt = false;
        pDownload->proxy.clear();
        break;
    case Effect::Destination:
        if (pDownload->file.empty())
            pDownload->file = Text(line.svMessage);
        break;
    case Effect::SecondAttempt:
        pDownload->proxyAttempt = true;
        break;
    case Effect::ProxyHostNext:
        run.proxyHostNext = true;
        break;
    case Effect::Served:
        pDownload->served = true;
        run.packageUrl[0].clear(); // announced for this download only
        run.packageUrl[1].clear();
        break;
    default:
        break;
    }
}

void ApplyRow(Run& run, const Row& row, const RP_LOG_LINE& line)
{
    const std::string_view rest =
        line.svMessage.substr(std::char_traits<char>::length(row.pcszPrefix));
    switch (row.effect)
    {
    case Effect::Begin:
        run.begunInLog = true;
        break;
    case Effect::Request:
        run.request = row.pcszWord;
        break;
    case Effect::Waiting:
        run.waiting = true;
        break;
    case Effect::Fail:
        SetStep(run, row.pcszWord, row.pcszCheck);
        break;
    case Effect::Fallback:
        if (run.step.empty())
            SetStep(run, row.pcszWord, row.pcszCheck);
        break;
    case Effect::Passed:
        run.after = row.pcszWord;
        break;
    case Effect::EndExit:
        if (FlowStarted(run))
            End(run, Outcome::Scheduled);
        else
        {
            // Without its request line a run asked for nothing valid; a
            // run begun before the log may have had one.
            End(run, Outcome::NothingRequested);
            if (run.request.empty() && run.begunInLog)
                run.request = "unknown switch";
            else if (run.request == kUpgrade)
                run.request = "no upgrade pending";
        }
        break;
    case Effect::EndFailed:
        End(run, Outcome::Failed);
        if (row.pcszWord != nullptr)
            SetStep(run, row.pcszWord, row.pcszCheck);
        break;
    case Effect::EndNothing:
        End(run, Outcome::NothingRequested);
        run.request = row.pcszWord;
        break;
    case Effect::PackageName:
        if (run.packages.size() < kMaxPackages)
            run.packages.push_back({Text(line.svMessage)});
        break;
    case Effect::PackageLength:
        if (!run.packages.empty())
            run.packages.back().length = LeadingNumber(line.svMessage);
        break;
    case Effect::PackageUrl:
        run.packageUrl[row.pcszWord[0] - '1'] = Text(line.svMessage);
        break;
    case Effect::Cron:
        AddCron(run, row.pcszWord, false);
        break;
    case Effect::Rollback:
        run.rollback = true;
        AddCron(run, row.pcszWord, false);
        break;
    case Effect::CronLogged:
        AddCron(run, Text(rest), true);
        break;
    case Effect::CronFailed:
        if (!run.crontab.empty() && !run.crontab.back().logged)
            run.crontab.pop_back();
        break;
    case Effect::ServicePackCron:
        if (run.request == kServicePack && FlowStarted(run) && run.crontab.empty())
            AddCron(run, ServicePackLine(line.svTime), false);
        break;
    case Effect::Flow: // the flow itself is tracked by its label
    case Effect::Stage:
    case Effect::Detail:
    case Effect::SilentEnd: // at the run's close
        break;
    default:
        ApplyDownload(run, row, line);
        break;
    }
}

// Lines that complete a step, after which its ERROR lines no longer tell why
// the run fails.
bool CompletesStep(Effect effect)
{
    return effect == Effect::Passed || effect == Effect::Served ||
           effect == Effect::DownloadBegin || effect == Effect::Flow || effect == Effect::Stage;
}

void Keep(std::vector<Event>& events, std::size_t nMax, const RP_LOG_LINE& line)
{
    if (events.size() >= nMax)
        events.erase(events.begin());
    events.push_back({Text(line.svTime), Text(line.svFunctionName), Text(line.svMessage)});
}

void ApplyRows(Run& run, const RP_LOG_LINE& line, const Match& match)
{
    run.silentEnd = nullptr;
    for (std::size_t i = 0; i < match.n; ++i)
    {
        if (CompletesStep(match.rows[i]->effect))
            run.stepErrors.clear();
        ApplyRow(run, *match.rows[i], line);
        if (match.rows[i]->effect == Effect::SilentEnd)
            run.silentEnd = match.rows[i];
    }
}
} // namespace

Match MatchLine(const RP_LOG_LINE& line)
{
    Match match;
    for (const Row& row : kRows)
        if (match.n < Match::kMax && Matches(row, line))
            match.rows[match.n++] = &row;
    return match;
}

Role RoleOf(const RP_LOG_LINE& line, const Match& match)
{
    if (Has(match, Effect::Begin))
        return Role::Begin;
    if (Has(match, Effect::Flow))
        return Role::FlowEntry;
    if (line.svFunctionName != kMain)
        return Role::Other;
    return Has(match, Effect::EndExit) || Has(match, Effect::EndFailed) ||
                   Has(match, Effect::EndNothing)
               ? Role::MainClosing
               : Role::MainOpening;
}

bool FlowStarted(const Run& run)
{
    return !run.flow.empty();
}

bool StartsRequestedFlow(const Run& run, const Match& match)
{
    if (FlowStarted(run))
        return false;
    for (std::size_t i = 0; i < match.n; ++i)
        if (match.rows[i]->effect == Effect::Flow && Serves(match.rows[i]->pcszWord, run.request))
            return true;
    return false;
}

bool ClosesOpening(const Run& run, const Match& match)
{
    if (FlowStarted(run))
        return false;
    for (std::size_t i = 0; i < match.n; ++i)
    {
        const Row& row = *match.rows[i];
        if (row.effect == Effect::EndNothing ||
            (row.effect == Effect::EndFailed && row.pcszWord != nullptr) ||
            (row.effect == Effect::EndExit && !run.waiting &&
             (run.request.empty() || run.silentEnd != nullptr)))
            return true;
    }
    return false;
}

void Apply(Run& run, const RP_LOG_LINE& line, const Match& match)
{
    ++run.lines;
    const std::string stamp = Text(line.svDayMonth) + " " + Text(line.svTime);
    if (run.begin.empty())
        run.begin = stamp;
    run.end = stamp;
    Download* pDownload = OpenDownload(run);
    if (pDownload != nullptr && line.svFunctionName == "DownloadFile")
        pDownload->end = Text(line.svTime);
    if (run.proxyHostNext && line.svFunctionName == "DownloadFile")
    {
        // A host name is data: it is matched against no row.
        run.proxyHostNext = false;
        if (pDownload != nullptr)
            pDownload->proxy = Text(line.svMessage);
        return;
    }
    if (line.dwTraceLevel == RP_TRACE_LEVEL_ERROR)
    {
        run.errorsOmitted += run.errors.size() >= kMaxErrors ? 1 : 0;
        Keep(run.errors, kMaxErrors, line);
        Keep(run.stepErrors, kMaxStepErrors, line);
    }
    TrackFlow(run, line.svFunctionName);
    ApplyRows(run, line, match);
}

void Close(Run& run)
{
    if (!run.ended && run.silentEnd != nullptr)
    {
        // The line main would have written had it said why it stopped.
        RP_LOG_LINE line = {};
        line.dwTraceLevel = RP_TRACE_LEVEL_ERROR;
        line.svFunctionName = kMain;
        line.svMessage = run.silentEnd->pcszWord;
        ApplyRows(run, line, MatchLine(line));
    }
    if (!run.ended)
        run.outcome = Outcome::Unfinished;
    if (run.outcome == Outcome::Failed && run.step.empty())
        run.step = "unknown";
}

const char* OutcomeWord(Outcome outcome)
{
    switch (outcome)
    {
    case Outcome::Scheduled:
        return "scheduled";
    case Outcome::Failed:
        return "failed";
    case Outcome::NothingRequested:
        return "nothing requested";
    default:
        return "unfinished";
    }
}

std::string Verdict(const Run& run)
{
    std::string verdict = OutcomeWord(run.outcome);
    if (run.outcome == Outcome::NothingRequested)
        return verdict + ": " + (run.request.empty() ? "unknown" : run.request);
    if (run.outcome != Outcome::Failed)
        return verdict;
    verdict += ": " + run.step;
    if (run.step == "unknown" && !run.after.empty())
        verdict += " step after " + run.after;
    return run.check.empty() ? verdict : verdict + " (" + run.check + ")";
}

} // namespace report
