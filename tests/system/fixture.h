// A machine with the agent installed, in the test's sandbox, and the real
// xedabldn run on it against the fixture nginx. A test reads back only what
// the agent or an administrator can observe: the exit status, the trace
// log, the files left, /etc/crontab and the requests that reached the source.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "testkit.h"

namespace sys
{
using tk::Strings;
const std::string kModule = "/usr/lib/Zelvano/ClientAgent/", kWork = "/tmp/sys/",
                  kRefused = "http://127.0.0.1:1/upd";
const std::string kTail = " 1 NULL >> /dev/null 2>&1",
                  kUninstallLine =
                      "*/3 * * * * root /var/tmp/installation/kvuninstall_clagnt" + kTail,
                  kRollbackLine = "*/1 * * * * root /var/tmp/installation/rollbackCA.sh" + kTail,
                  kBuildLine =
                      "*/3 * * * * root /var/tmp/ClientBuild/x86_64/aclinux/kvinstall" + kTail;
// Machines to run the installer in (a mount namespace of its own): one whose
// /var/tmp has 2 MiB, 2097152 bytes, free; one without /var/tmp; one that
// starts it with SIGCHLD ignored, as an agent that never waits for its
// children does (dash would not hand that on, bash does).
const std::string kSmallTmp = "mount -t tmpfs -o size=2m t /var/tmp";
const std::string kNoTmp = "mount --bind /var/log /mnt && mount -t tmpfs t /var && mkdir /var/log "
                           "&& mount --bind /mnt /var/log";
const std::string kIgnoreSigchld = R"(exec bash -c 'trap "" CHLD; exec "$0" "$@"' "$0" "$@")";
// A crontab that cannot be written; a gzip (first on PATH, as tar finds it)
// that unpacks but cannot pack.
const std::string kReadOnlyCrontab = "mount -o remount,ro,bind /etc/crontab";
const std::string kGzipPacksNothing =
    R"(mkdir -p /tmp/sys/gz && printf '#!/bin/sh\ncase "$*" in *-d*) exec /bin/gzip "$@";; esac\nexit 1\n' )"
    R"(> /tmp/sys/gz/gzip && chmod 755 /tmp/sys/gz/gzip && export PATH=/tmp/sys/gz:$PATH)";

// The vendor's Ed25519 key pair `name` (kWork/keys/name.key and .pem), and
// the public key installed on the machine as updatekeys/name.pem.
const std::string kKeys = "/tmp/sys/keys/", kUpdateKeys = "/usr/lib/Zelvano/updatekeys/";
inline bool MakeKey(const std::string& name)
{
    const std::string key = kKeys + name + ".key";
    return tk::Write(key, "") &&
           tk::Run({"/usr/bin/openssl", "genpkey", "-algorithm", "ed25519", "-out", key}) == 0 &&
           tk::Run({"/usr/bin/openssl", "pkey", "-in", key, "-pubout", "-out",
                    kKeys + name + ".pem"}) == 0;
}
inline bool InstallKey(const std::string& name)
{
    return tk::Write(kUpdateKeys + name + ".pem", tk::Read(kKeys + name + ".pem"));
}

// Root's alone: not a link, owned by root, not writable by group or others.
inline bool RootOnly(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && st.st_uid == 0 &&
           (st.st_mode & 022) == 0;
}
inline mode_t Mode(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// make_update.py options of a package whose scripts only exist, or of one
// that is no archive at all.
inline Strings Update(const char* kind, const char* name, Strings scripts,
                      const Strings& extra = {})
{
    Strings args = {"--kind", kind, "--name", name};
    for (const std::string& script : scripts)
        args.insert(args.end(), {"--script", script + "="});
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}
inline Strings ServicePack(const Strings& extra = {})
{
    return Update("sp", "sp.tgz", {"kvlinxsp/kvacascr"}, extra);
}
inline Strings Garbage(const char* kind, const char* name, const char* size)
{
    return {"--kind", kind, "--name", name, "--garbage", size};
}

class SystemTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(tk::Servers({"start-nginx"})); }
    void SetUp() override { Reset(); }
    void TearDown() override
    {
        StopCron();
        if (HasFailure())
            fprintf(stderr, "---- trace\n%s---- output\n%s", tk::Read(tk::kTraceLog).c_str(),
                    tk::Read(kWork + "out").c_str());
    }

    // A fresh machine: the agent installed, verifying the source against the
    // test CA; with a type, an upgrade of that type pending.
    void Reset(const std::string& type = "")
    {
        for (const std::string& name : tk::Dir("/var/tmp"))
            tk::Remove("/var/tmp/" + name);
        for (const std::string& path :
             {std::string(tk::kTraceLog), std::string("/usr/lib/Zelvano"), tk::Www() + "/upd"})
            tk::Remove(path);
        tk::ClearRequests();
        ASSERT_TRUE(
            tk::Write("/etc/crontab", Crontab()) && tk::Write(kModule + "bin/kvagent", "agent\n") &&
            tk::WriteSslConfig("SSL_VERIFY_CERT=1\nSSL_CERT_STORE_PATH=" + tk::CaFile() + "\n"));
        ASSERT_TRUE(type.empty() || tk::Write(std::string(tk::kConfigDir) + "clntdata.ini",
                                              "[DATA_FOR_UPGRADE]\ntype=" + type));
        ASSERT_TRUE(tk::Write(kWork + "out", ""));
        m_before = Snapshot();
    }
    static void Publish(const Strings& args, const std::string& dir = "upd")
    {
        ASSERT_TRUE(tk::Publish(args, tk::Www() + "/" + dir));
    }

    // The installer as the agent starts it, in the machine `wrap` makes.
    int Run(const Strings& args, const std::string& wrap = "")
    {
        const std::string script = (wrap.empty() ? "true" : wrap) + " && exec \"$0\" \"$@\"";
        Strings argv = {"/usr/bin/unshare", "--mount", "/bin/sh", "-c", script, XEDA_INSTALLER};
        argv.insert(argv.end(), args.begin(), args.end());
        m_tBefore = time(nullptr);
        const int iStatus = tk::Run(argv, kWork + "out");
        m_tAfter = time(nullptr);
        return iStatus;
    }
    int RunSwitch(const std::string& sw, const std::string& wrap = "")
    {
        return Run({tk::Url(1, "upd"), tk::Url(2, "upd"), sw, kModule}, wrap);
    }

    static const std::string& Crontab() // as the machine had it
    {
        static const std::string crontab = tk::Read("/etc/crontab");
        return crontab;
    }
    static Strings NewCrontabLines()
    {
        return tk::Lines(tk::Read("/etc/crontab").substr(Crontab().size()));
    }
    // Two minutes after the run, or minute 2 of the next hour from minute 58 on.
    bool ScheduledServicePack() const
    {
        for (time_t t : {m_tBefore, m_tAfter})
        {
            struct tm tmRun;
            localtime_r(&t, &tmRun);
            const bool bNextHour = tmRun.tm_min >= 58;
            const std::string line = std::to_string(bNextHour ? 2 : tmRun.tm_min + 2) + " " +
                                     std::to_string((tmRun.tm_hour + bNextHour) % 24) +
                                     " * * * root /var/tmp/kvlinxsp/kvacascr" + kTail;
            if (NewCrontabLines() == Strings{line})
                return true;
        }
        return false;
    }

    // What a run left: /var/tmp's entries, the manifests in the module
    // directory, and "archive" for the archive of the installed agent.
    static Strings Left()
    {
        Strings left = tk::Dir("/var/tmp");
        for (const char* name : {"capatch.ini", "linuxupgrade.ini", "minupg.ini",
                                 "../ClientAgentOld.tar.gz"}) // the archive
            if (tk::Exists(kModule + name))
                left.push_back(name[0] == '.' ? "archive" : name);
        return left;
    }
    static Strings Paths() // what the source served
    {
        Strings paths;
        for (const tk::Request& request : tk::Requests())
            if (request.status == 200)
                paths.push_back(request.path);
        return paths;
    }

    // Exit status 0, every line in the writer's layout, nothing created or
    // removed outside the installer's own places.
    void ExpectClean(int iStatus) const
    {
        EXPECT_EQ(0, iStatus);
        const Strings trace = tk::Trace();
        EXPECT_TRUE(std::none_of(trace.begin(), trace.end(),
                                 [](const std::string& line) { return line[0] == '?'; }));
        const std::set<std::string> now = Snapshot();
        Strings changes;
        std::set_symmetric_difference(m_before.begin(), m_before.end(), now.begin(), now.end(),
                                      std::back_inserter(changes));
        EXPECT_EQ(changes, Strings{});
    }

    void StopCron()
    {
        if (m_cronPid > 0 && kill(m_cronPid, SIGTERM) == 0)
            tk::Wait(m_cronPid);
        m_cronPid = -1;
    }
    void StartCron()
    {
        StopCron();
        tk::Remove("/run/crond.pid");
        m_cronPid = tk::Start({"/usr/sbin/cron", "-f"});
        for (int i = 0; i < 250 && !tk::Exists("/run/crond.pid"); ++i)
            usleep(20000);
        // cron sees a changed crontab by its time stamp in whole seconds.
        for (const time_t tStart = time(nullptr); time(nullptr) == tStart;)
            usleep(20000);
    }

private:
    // The trees a runaway path could reach, but the installer's places and the test's.
    static std::set<std::string> Snapshot()
    {
        const std::string owned[] = {
            "/var/tmp",     "/var/log",      "/usr/lib/Zelvano",    kWork,       "/var/cache",
            "/var/lib/apt", "/var/lib/dpkg", getenv("SANDBOX_DIR"), tk::Source()};
        std::set<std::string> paths;
        for (const auto& [root, depth] :
             {std::pair{"/etc", 9}, {"/var", 9}, {"/tmp", 9}, {"/opt", 1}, {"/root", 0}})
        {
            std::error_code ec;
            for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end;
                 it.increment(ec))
            {
                const std::string path = it->path();
                const bool own =
                    std::any_of(std::begin(owned), std::end(owned),
                                [&](const std::string& p) { return !path.rfind(p, 0); });
                if (!own)
                    paths.insert(path);
                if (own || it.depth() >= depth)
                    it.disable_recursion_pending();
            }
        }
        return paths;
    }

    std::set<std::string> m_before;
    pid_t m_cronPid = -1;
    time_t m_tBefore = 0, m_tAfter = 0;
};
} // namespace sys
