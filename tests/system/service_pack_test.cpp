// The service pack (-CASP) end to end: manifest and package from the update
// source (directly or through the agent's proxy), verification, /bin/tar,
// the crontab line; and every way it fails.
#include <sys/file.h>

#include "fixture.h"

namespace sys
{
namespace
{
using ServicePackTest = SystemTest;

std::string ManifestValue(const std::string& key)
{
    const std::string manifest = tk::Read(tk::Www() + "/upd/capatch.ini");
    const size_t at = manifest.find(key + "=") + key.size() + 1;
    return manifest.substr(at, manifest.find('\n', at) - at);
}

// What another user (uid 65534) left in /var/tmp/ beforehand, and owners and
// modes in the archive, change nothing: the package and what it unpacks are
// root's alone, nothing is written through a link, and the log holding the
// proxy's user is readable by root only, however an older version left it.
TEST_F(ServicePackTest, InstallsFromEitherSourceAndSchedulesTheScript)
{
    const Strings urls = {tk::Url(1, "upd"), tk::Url(2, "upd")};
    // An agent that ignores SIGCHLD hands that on: tar's status must still count.
    const std::tuple<Strings, Strings, std::string, std::string> cases[] = {
        // the two base URLs, manifest options, the machine, what uid 65534 left
        {urls, {}, "", ""},
        {{tk::Url(1, "upd", true), tk::Url(2, "upd", true)},
         {"--before", std::string(10000, 'x')},
         "",
         ""},
        {urls, {}, kIgnoreSigchld, ""},
        {urls, {"--path-digest", "--owner", "1000", "--mode", "777"}, "umask 0", ""},
        {urls, {}, "", "ln -s victim sp.tgz && chown -h 65534 sp.tgz"},
        {urls, {}, "", "ln victim sp.tgz"},
        {urls, {}, "", "echo mine > sp.tgz && chmod 666 sp.tgz && chown 65534 sp.tgz"},
        {urls, {}, "", "mkdir -m 777 kvlinxsp && chown 65534 kvlinxsp"},
        {{tk::Url(1, "gone"), tk::Url(2, "upd")}, {}, "", ""}, // an error page is no download
        {{kRefused, tk::Url(2, "upd")}, {}, "", ""}};          // its trace is checked below
    for (const auto& [urls, extra, wrap, planted] : cases)
    {
        Reset();
        Publish(ServicePack(extra));
        for (const char* log : {tk::kTraceLog, "/var/log/xedabldn.bak"})
            ASSERT_TRUE(tk::Write(log, "") && chmod(log, 0644) == 0);
        ASSERT_TRUE(tk::Write("/var/tmp/victim", "root's\n"));
        ASSERT_EQ(0, tk::Run({"/bin/sh", "-c", planted}, "/dev/null", "/var/tmp"));
        ExpectClean(Run({urls[0], urls[1], "-casp", kModule}, wrap));
        EXPECT_EQ("scheduled", tk::Report());
        EXPECT_TRUE(ScheduledServicePack()) << planted << tk::Read("/etc/crontab");
        EXPECT_EQ(Left(), (Strings{"kvlinxsp", "sp.tgz", "victim", "capatch.ini"}));
        EXPECT_EQ("root's\n", tk::Read("/var/tmp/victim"));
        for (const char* path : {"sp.tgz", "kvlinxsp", "kvlinxsp/kvacascr"})
            EXPECT_TRUE(RootOnly(std::string("/var/tmp/") + path)) << path << " " << planted;
        EXPECT_EQ(0600u, Mode(tk::kTraceLog) | Mode("/var/log/xedabldn.bak"));
        EXPECT_EQ(tk::Read(tk::Www() + "/upd/capatch.ini"), tk::Read(kModule + "capatch.ini"));
        EXPECT_EQ(Paths(), (Strings{"/upd/capatch.ini", "/upd/sp.tgz"}));
        EXPECT_NE(std::string::npos, tk::Read(kWork + "out").find("kvlinxsp/kvacascr"))
            << "tar's listing";
    }
    const std::string len = ManifestValue("filelength_64"), crc = ManifestValue("checksum1_64"),
                      md5 = ManifestValue("checksum2_64");
    EXPECT_EQ("", tk::MissingInOrder(tk::Trace(), tk::Lines(R"(I main|Entry
I main|Service Pack installation Request -CASP
I main|In Service pack installation start point
I InstallXEDASP|Entry
I InstallXEDASP|capatch.ini
I DownloadXEDASPServicePack|Entry
I DownloadFile|SendRequestAndGetResponse Failed Without Proxy
I GetServicePackName|start.
I GetServicePackName:|sp.tgz
I GetServicePackName dwlength:|)" + len + R"(
I GetServicePackName dwCRC32:|)" + crc + R"(
I GetServicePackName szMD5:|)" + md5 + R"(
I GetServicePackName|Exit
I InstallXEDASP URL1=|http://127.0.0.1:1/upd/sp.tgz
I InstallXEDASP URL2=|http://127.0.0.3:8080/upd/sp.tgz
I InstallXEDASP path=|/var/tmp/
I GetDiskFreeSpace|free space
I GetDiskFreeSpace|EXIT
I InstallXEDASP|Space availabe
I DownloadFile|SendRequestAndGetResponse Failed Without Proxy
I CheckFileConsistency|start.
I CheckFileConsistency|File length INI ()" + len + "), From file (" +
                                                            len + R"()
I CheckFileConsistency|Checksum INI ()" + crc + "), From file (" +
                                                            crc + R"()
I CheckFileConsistency|MD5 ini hash()" + md5 + ") Hash= (" + md5 +
                                                            R"()
I CheckFileConsistency|end.
I main|Exit)")));
}

// A machine that holds the vendor's keys installs only what one of them
// signed; a refused manifest goes with its signature, before the package is
// fetched. Without the keys folder, signatures are not even fetched.
TEST_F(ServicePackTest, SignedManifestsOnAMachineThatHoldsTheVendorsKeys)
{
    ASSERT_TRUE(MakeKey("a") && MakeKey("b"));
    const std::string a = kKeys + "a.key", b = kKeys + "b.key", zeros(64, '0'),
                      added = "I InstallXEDASP|crontab line added: *";
    // clang-format off
    // keys installed ("-": none, no folder), how the source signed, what then changed there, the traces.
    const struct { std::string verdict; Strings keys; Strings update; std::string tamper; Strings trace; } cases[] = {
        {"scheduled", {"a"}, {"--sign", a}, "", {"I InstallXEDASP|manifest signed by a.pem", "I CheckFileConsistency|SHA-256 In INI (*", added}},
        {"scheduled", {"a", "b"}, {"--sign", b}, "", {"I InstallXEDASP|manifest signed by b.pem", added}},
        {"scheduled", {"-"}, {"--sign", a}, "", {added}},
        {"scheduled", {"-"}, {}, "", {added}},
        {"failed: manifest signature (signature)", {"a"}, {"--sign", a}, "sed -i s/sp.tgz/sp.tgZ/ capatch.ini", {"E InstallXEDASP|manifest signature not verified"}},
        {"failed: manifest signature (signature download)", {"a"}, {"--sign", a}, "rm capatch.ini.sig", {"E InstallXEDASP|signature download failed"}},
        {"failed: manifest signature (signature length)", {"a"}, {"--sign", a}, "head -c 1025 /dev/zero > capatch.ini.sig", {"E InstallXEDASP|signature longer than 1024 bytes"}},
        {"failed: manifest signature (signature)", {"b"}, {"--sign", a}, "", {"E InstallXEDASP|manifest signature not verified"}},
        {"failed: manifest signature (no trusted key)", {}, {"--sign", a}, "", {"E InstallXEDASP|no trusted update key"}},
        {"failed: manifest signature (no trusted key)", {"a"}, {"--sign", a}, "chmod 666 " + kUpdateKeys + "a.pem", {"E UpdateKeys|key ignored: " + kUpdateKeys +
         "a.pem: writable by group or others", "E InstallXEDASP|no trusted update key"}},
        {"failed: manifest signature (no trusted key)", {"a"}, {"--sign", a}, "openssl pkey -in ../../pki/server.key -pubout -out " + kUpdateKeys + "a.pem", {"E UpdateKeys|key ignored: " + kUpdateKeys +
         "a.pem: not an Ed25519 public key", "E InstallXEDASP|no trusted update key"}},
        {"failed: manifest signature (expired)", {"a"}, {"--sign", a, "--set", "expires_64=1000"}, "", {"E InstallXEDASP|manifest expired at 1970-01-01 00:16:40 UTC"}},
        {"failed: manifest signature (expires_64)", {"a"}, {"--sign", a, "--drop", "expires_64"}, "", {"E InstallXEDASP|expires_64 missing or malformed"}},
        {"failed: manifest signature (sha256_64)", {"a"}, {"--sign", a, "--set", "sha256_64=" + zeros.substr(1)}, "", {"E InstallXEDASP|sha256_64 missing or malformed"}},
        {"failed: verification (SHA-256)", {"a"}, {"--sign", a, "--set", "sha256_64=" + zeros}, "", {"E CheckFileConsistency|SHA-256 mismatch In INI (" + zeros + "), From file (*"}},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.trace.front());
        Reset();
        Publish(ServicePack(c.update));
        for (const std::string& key : c.keys)
            ASSERT_TRUE(key == "-" || InstallKey(key));
        ASSERT_TRUE(!c.keys.empty() || mkdir(kUpdateKeys.c_str(), 0755) == 0);
        ASSERT_EQ(0, tk::Run({"/bin/sh", "-c", c.tamper}, "/dev/null", tk::Www() + "/upd"));
        ExpectClean(RunSwitch("-CASP"));
        EXPECT_EQ(c.verdict, tk::Report());
        const bool bInstalls = c.trace.back() == added, bSigned = c.keys != Strings{"-"};
        EXPECT_EQ("", tk::MissingInOrder(tk::Trace(), c.trace));
        EXPECT_EQ(bInstalls, ScheduledServicePack());
        EXPECT_EQ(Left(), bInstalls ? Strings({"kvlinxsp", "sp.tgz", "capatch.ini"}) : Strings());
        EXPECT_EQ(bInstalls && bSigned, tk::Exists(kModule + "capatch.ini.sig"));
        size_t nSignatureRequests = 0;
        for (const tk::Request& request : tk::Requests(2))
            nSignatureRequests += request.path == "/upd/capatch.ini.sig";
        EXPECT_EQ(bSigned, nSignatureRequests == 1);
    }
}

// One installation at a time: requests made while another installation runs
// wait for it, then install one after the other.
TEST_F(ServicePackTest, RequestsMadeTogetherWaitTheirTurnAndBothInstall)
{
    Publish(ServicePack());
    const int fdLock = open("/run/xedabldn.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(0, flock(fdLock, LOCK_EX)); // the other installation
    pid_t runs[2];
    for (pid_t& pid : runs)
        pid = tk::Start({XEDA_INSTALLER, tk::Url(1, "upd"), tk::Url(2, "upd"), "-CASP", kModule});
    const std::string waiting = "I main|waiting for another installation";
    for (int i = 0; i < 500 && tk::Count(tk::Trace(), waiting) < 2; ++i)
        usleep(20000);
    EXPECT_EQ(2u, tk::Count(tk::Trace(), waiting));
    EXPECT_EQ(NewCrontabLines(), Strings{});
    close(fdLock);
    for (pid_t pid : runs)
        EXPECT_EQ(0, tk::Wait(pid));
    EXPECT_EQ(2u, NewCrontabLines().size());
    EXPECT_EQ(2u, tk::Count(tk::Trace(), "I main|Exit"));
    // Past the three lines each wrote before waiting, one run's lines follow
    // the other's: the thread field (column 15) changes once at most.
    const Strings lines = tk::Lines(tk::Read(tk::kTraceLog));
    int iChanges = 0;
    for (size_t i = 7; i < lines.size(); ++i)
        iChanges += lines[i].compare(15, 8, lines[i - 1], 15, 8) != 0;
    EXPECT_LE(iChanges, 1);
}

// What the source or the machine lacks; the traces that follow (in this
// order), what is left, how many requests reached the source. Nothing is
// scheduled; main reports the failure and exits 0.
TEST_F(ServicePackTest, FailureTable)
{
    const std::string hash = "%s%n%p%x%d%c%s%n%s%n%s%n%s%n%s%n", n259(259, 'n');
    // clang-format off
    // args: instead of the two base URLs.
    const struct { std::string verdict; Strings update, trace, left; size_t nRequests; std::string wrap; Strings args; } cases[] = {
        {"manifest download", {}, {"E SpSendRequestAndGetResponse|HTTP status 404", "E InstallXEDASP|Ini downloa failed"}, {}, 2},
        {"unreadable manifest (checksum1_64)", ServicePack({"--drop", "checksum1_64"}), {"E GetServicePackName|CRC32 failed"}, {}, 1},
        {"unreadable manifest (file_64)", ServicePack({"--garbage-manifest", "8K"}), {"E GetServicePackName|failed", "E InstallXEDASP|GetServicePackInfo failed."}, {}, 1},
        {"package download", ServicePack({"--set", "filelength_64=7"}), {"E SpSendRequestAndGetResponse|more than 7 bytes received",
         "E InstallXEDASP|SP download failed"}, {"capatch.ini"}, 3},
        {"verification (length)", ServicePack({"--set", "filelength_64=99999"}), {"E CheckFileConsistency|File length mismatch In INI (99999), From file (*"}, {}, 2},
        {"verification (CRC-32)", ServicePack({"--set", "checksum1_64=12345"}), {"E CheckFileConsistency|Checksum mismatch In INI (12345), From file (*"}, {}, 2},
        {"verification (MD5)", ServicePack({"--set", "checksum2_64=" + std::string(32, 'f')}),
         {"E CheckFileConsistency|MD5 mismatch In INI (" + std::string(32, 'f') + "), From file (*"}, {}, 2},
        {"extraction", Garbage("sp", "sp.tgz", "3000"), {"I CheckFileConsistency|end.", "E InstallXEDASP|extraction failed"}, {}, 2},
        {"script missing", {"--kind", "sp", "--name", "sp.tgz", "--file", "kvlinxsp/x=y"}, {"I CheckFileConsistency|end.",
         "E InstallXEDASP|script missing: /var/tmp/kvlinxsp/kvacascr"},
         {"kvlinxsp", "sp.tgz", "capatch.ini"}, 2},
        {"package download", ServicePack({"--set", "file_64=s%s%n", "--set", "filelength_64=%n%s", "--set", "checksum2_64=" + hash + "%n"}),
         {"I GetServicePackName:|s%s%n", "I GetServicePackName dwlength:|%n%s", "I GetServicePackName szMD5:|" + hash,
          "I InstallXEDASP URL1=|http://127.0.0.1:8080/upd/s%s%n",
          "E InstallXEDASP|SP download failed"}, {"capatch.ini"}, 3},
        {"unreadable manifest (package name)", ServicePack({"--set", "file_64=../sp.tgz"}), {"E InstallXEDASP|package name refused: ../sp.tgz"}, {}, 1},
        {"unreadable manifest (package name)", ServicePack({"--set", "file_64=sub/sp.tgz"}), {"E InstallXEDASP|package name refused: sub/sp.tgz"}, {}, 1},
        {"unreadable manifest (package name)", ServicePack({"--set", "file_64=.."}), {"E InstallXEDASP|package name refused: .."}, {}, 1},
        {"name too long (package URL)", ServicePack({"--set", "file_64=" + n259}), {"E InstallXEDASP|package URL longer than 259 characters"}, {}, 1},
        {"free space (too little space)", ServicePack({"--set", "filelength_64=2097152"}), {"I GetServicePackName dwlength:|2097152",
         "E InstallXEDASP|Space not availabe"}, {"capatch.ini"}, 1, kSmallTmp},
        {"extraction", Garbage("sp", "sp.tgz", "2097151"), {"I InstallXEDASP|Space availabe",
         "I CheckFileConsistency|File length INI (2097151), From file (2097151)", "I CheckFileConsistency|end."}, {}, 2, kSmallTmp},
        {"free space (no /var/tmp/)", ServicePack(), {"E GetDiskFreeSpace|Invalid Path", "E InstallXEDASP|GetDiskFreeSpace failed."}, {}, 1, kNoTmp},
        {"manifest download", ServicePack(), {"I InstallXEDASP|both URL are same", "E InstallXEDASP|Ini downloa failed"}, {}, 0, "",
         {kRefused, "HTTP://127.0.0.1:1/UPD", "-CASP", kModule}},
        {"cron", ServicePack(), {"E InstallXEDASP|crontab append failed: Read-only file system"}, {"kvlinxsp", "sp.tgz", "capatch.ini"}, 2,
         kReadOnlyCrontab},
        {"script check", Update("sp", "sp.tgz", {}, {"--link", "kvlinxsp/kvacascr=/bin/true"}),
         {"E InstallXEDASP|script not trusted: /var/tmp/kvlinxsp/kvacascr: a link"}, {"kvlinxsp", "sp.tgz", "capatch.ini"}, 2},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.trace.back());
        Reset();
        ASSERT_TRUE(c.update.empty() || tk::Publish(c.update, tk::Www() + "/upd"));
        ExpectClean(c.args.empty() ? RunSwitch("-CASP", c.wrap) : Run(c.args, c.wrap));
        EXPECT_EQ("failed: " + c.verdict, tk::Report());
        const Strings trace = tk::Trace();
        EXPECT_EQ("", tk::MissingInOrder(trace, c.trace));
        EXPECT_EQ("", tk::MissingInOrder(trace, {"I InstallXEDASP|Entry",
                                                 "I main|Service Pack installation failed"}));
        EXPECT_EQ(0u, tk::Count(trace, "I main|Exit"));
        // An equal second URL is not tried.
        EXPECT_EQ(
            !c.args.empty(),
            tk::Count(trace, "I DownloadFile|SendRequestAndGetResponse Failed Without Proxy") == 1);
        EXPECT_EQ(c.left, Left());
        EXPECT_EQ(c.nRequests, tk::Requests(c.nRequests).size());
        EXPECT_EQ(NewCrontabLines(), Strings{});
    }
}
} // namespace
} // namespace sys
