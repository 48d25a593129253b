// The service-pack request (-CASP) end to end: manifest and package from the
// update source, verification, extraction with /bin/tar, the crontab line.
#include "harness.h"

#include <cstdio>

namespace systest
{
namespace
{

const std::string kManifest = std::string(kModuleDir) + "capatch.ini";
const std::string kPackage = "/var/tmp/sp.tar.gz";
const std::string kNoServer = "http://127.0.0.1:1/upd";

// Two minutes after `now`; minute 2 of the next hour from minute 58 or 59.
std::string ServicePackCronLine(const struct tm& now)
{
    bool wrap = now.tm_min >= 58;
    return std::to_string(wrap ? 2 : now.tm_min + 2) + " " + std::to_string((now.tm_hour + wrap) % 24) +
           " * * * root /var/tmp/kvlinxsp/kvacascr 1 NULL >> /dev/null 2>&1";
}

class ServicePackTest : public SystemTest
{
protected:
    RunResult RunServicePack() { return RunSwitch(Http(1), Http(2), "-CASP"); }

    void ExpectScheduledOnce(const RunResult& r)
    {
        Strings lines = NewCrontabLines();
        ASSERT_EQ(lines.size(), 1u) << testing::PrintToString(lines);
        EXPECT_TRUE(lines[0] == ServicePackCronLine(r.before) || lines[0] == ServicePackCronLine(r.after))
            << lines[0];
    }
};

TEST_F(ServicePackTest, ServicePackIsFetchedVerifiedUnpackedAndScheduledTwoMinutesLater)
{
    Publish(ServicePack());
    auto m = IniValues(Www() + "/capatch.ini");

    RunResult r = RunServicePack();

    EXPECT_CLEAN_RUN(r);
    ExpectScheduledOnce(r);
    EXPECT_TRUE(IsExecutable(kSpScript));
    EXPECT_TRUE(Exists(kPackage));
    EXPECT_EQ(ReadFile(kManifest), ReadFile(Www() + "/capatch.ini"));
    EXPECT_EQ(RequestedPaths(), (Strings{"/upd/capatch.ini", "/upd/sp.tar.gz"}));
    const std::string &len = m["filelength_64"], &crc = m["checksum1_64"], &md5 = m["checksum2_64"];
    EXPECT_TRUE(Log().HasInOrder({
        {"INFO", "main", "Entry"},
        {"INFO", "main", "Service Pack installation Request -CASP"},
        {"INFO", "main", "In Service pack installation start point"},
        {"INFO", "InstallXEDASP", "Entry"},
        {"INFO", "InstallXEDASP", "capatch.ini"},
        {"INFO", "GetServicePackName:", "sp.tar.gz"},
        {"INFO", "GetServicePackName dwlength:", len},
        {"INFO", "GetServicePackName dwCRC32:", crc},
        {"INFO", "GetServicePackName szMD5:", md5},
        {"INFO", "GetServicePackName", "Exit"},
        {"INFO", "InstallXEDASP URL1=", Http(1) + "/sp.tar.gz"},
        {"INFO", "InstallXEDASP URL2=", Http(2) + "/sp.tar.gz"},
        {"INFO", "InstallXEDASP path=", "/var/tmp/"},
        {"INFO", "InstallXEDASP", "Space availabe"},
        {"INFO", "CheckFileConsistency", "File length INI (" + len + "), From file (" + len + ")"},
        {"INFO", "CheckFileConsistency", "Checksum INI (" + crc + "), From file (" + crc + ")"},
        {"INFO", "CheckFileConsistency", "MD5 ini hash(" + md5 + ") Hash= (" + md5 + ")"},
        {"INFO", "CheckFileConsistency", "end."},
        {"INFO", "main", "Exit"},
    }));
    EXPECT_NE(r.output.find("kvlinxsp/kvacascr"), std::string::npos) << "tar's verbose listing";
}

TEST_F(ServicePackTest, TwoRunsLeaveTwoLines)
{
    Publish(ServicePack());
    EXPECT_EQ(RunServicePack().status, 0);
    RunResult second = RunServicePack();
    EXPECT_CLEAN_RUN(second);
    EXPECT_EQ(NewCrontabLines().size(), 2u);
    EXPECT_EQ(Log().Count({"INFO", "main", "Exit"}), 2u);
}

// Variants of a good source that must install all the same.
TEST_F(ServicePackTest, UpperCaseHashCrLfManifestHttpsAndSecondUrlInstall)
{
    struct
    {
        const char* name;
        Args extra;  // manifest options
        std::string url1, url2;
        std::string server;  // where every request must arrive; "" any
    } const cases[] = {
        {"upper-case MD5, CR LF", {"--upper-md5", "--crlf"}, Http(1), Http(2), ""},
        {"HTTPS", {}, Https(1), Https(2), Fixture("FX_ADDR1") + ":" + Fixture("FX_HTTPS_PORT")},
        {"first URL refused", {}, kNoServer, Http(2), Fixture("FX_ADDR2") + ":" + Fixture("FX_HTTP_PORT")},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Reset();
        Publish(ServicePack(c.extra));
        RunResult r = RunSwitch(c.url1, c.url2, "-CASP");
        EXPECT_CLEAN_RUN(r);
        ExpectScheduledOnce(r);
        EXPECT_EQ(RequestedPaths(), (Strings{"/upd/capatch.ini", "/upd/sp.tar.gz"}));
        for (const Request& q : Requests())
            EXPECT_TRUE(c.server.empty() || q.server == c.server) << q.server << q.path;
        // One failed direct attempt on the first URL for each of the two files.
        EXPECT_EQ(Log().CountMessage("INFO", "SendRequestAndGetResponse Failed Without Proxy"),
                  c.url1 == kNoServer ? 2u : 0u);
    }
}

TEST_F(ServicePackTest, ModulePathWithoutTrailingSlashGluesTheManifestName)
{
    Publish(ServicePack());
    RunResult r = Run({Http(1), Http(2), "-CASP", std::string(kModuleDir) + "mod"});
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Exists(std::string(kModuleDir) + "modcapatch.ini"));
    EXPECT_FALSE(Exists(kManifest));
    ExpectScheduledOnce(r);
}

TEST_F(ServicePackTest, HttpsSourceWithAnUntrustedCertificateIsRefused)
{
    Publish(ServicePack());
    WriteSslConfig(Fixture("FX_OTHER_CA"));
    RunResult r = RunSwitch(Https(1), Https(2), "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_GE(Log().CountMessage("ERROR", "ERROR_INTERNET_INVALID_CA received"), 2u) << "both URLs";
    EXPECT_TRUE(Log().Has({"ERROR", "InstallXEDASP", "Ini downloa failed"}));
    EXPECT_EQ(Requests().size(), 0u) << "no request passes the TLS handshake";
    EXPECT_FALSE(Exists(kManifest));
    ExpectFailedWithoutLine("Service Pack");
}

// Equal URLs, by case only: the second is not tried after the first fails.
TEST_F(ServicePackTest, EqualUrlsFailWithoutTryingTheSecond)
{
    Publish(ServicePack());
    RunResult r = RunSwitch(kNoServer, "HTTP://127.0.0.1:1/UPD", "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"INFO", "InstallXEDASP", "both URL are same"},
                                  {"ERROR", "InstallXEDASP", "Ini downloa failed"}}));
    EXPECT_EQ(Log().CountMessage("INFO", "SendRequestAndGetResponse Failed Without Proxy"), 1u);
    ExpectFailedWithoutLine("Service Pack");
}

// A manifest the reader rejects (a 404 page, a missing key) is deleted and
// the package never asked for.
TEST_F(ServicePackTest, RejectedManifestIsDeleted)
{
    for (bool published : {false, true})
    {
        SCOPED_TRACE(published ? "no checksum1_64" : "404 page");
        Reset();
        if (published)
            Publish(ServicePack({"--drop", "checksum1_64"}));
        RunResult r = RunServicePack();
        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().Has({"ERROR", "GetServicePackName", published ? "CRC32 failed" : "failed"}));
        EXPECT_TRUE(Log().Has({"ERROR", "InstallXEDASP", "GetServicePackInfo failed."}));
        EXPECT_FALSE(Exists(kManifest));
        EXPECT_EQ(RequestedPaths(), Strings{"/upd/capatch.ini"});
        EXPECT_EQ(Requests().at(0).status, published ? 200 : 404);
        ExpectFailedWithoutLine("Service Pack");
    }
}

// Each verification failure deletes the package and the manifest.
TEST_F(ServicePackTest, PackageThatFailsVerificationIsDeletedWithItsManifest)
{
    struct
    {
        const char* key;
        const char* value;
        const char* message;  // the ERROR trace, %s for the computed value
    } const cases[] = {
        {"filelength_64", "7", "File length mismatch In INI (7), From file (%s)"},
        {"checksum1_64", "12345", "Checksum mismatch In INI (12345), From file (%s)"},
        {"checksum2_64", "0123456789abcdef0123456789abcdef",
         "MD5 mismatch In INI (0123456789abcdef0123456789abcdef), From file (%s)"},
        {"checksum2_64", "0123456789abcdef0123456789abcde",
         "MD5 mismatch In INI (0123456789abcdef0123456789abcde), From file (%s)"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.message);
        Reset();
        Publish(ServicePack());
        std::string expected = c.message;
        expected.replace(expected.find("%s"), 2, IniValues(Www() + "/capatch.ini")[c.key]);
        Publish(ServicePack({"--set", std::string(c.key) + "=" + c.value}));
        RunResult r = RunServicePack();
        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().Has({"ERROR", "CheckFileConsistency", expected})) << expected;
        EXPECT_FALSE(Exists(kPackage));
        EXPECT_FALSE(Exists(kManifest));
        EXPECT_FALSE(Exists(kSpScript)) << "nothing was unpacked";
        ExpectFailedWithoutLine("Service Pack");
    }
}

// A 404 page in place of the package fails verification; an archive tar
// cannot unpack passes it and fails extraction. Both delete what came.
TEST_F(ServicePackTest, MissingOrUnreadablePackageIsDeletedWithItsManifest)
{
    for (bool missing : {true, false})
    {
        SCOPED_TRACE(missing ? "404" : "not an archive");
        Reset();
        Publish(missing ? ServicePack() : Args{"--kind", "sp", "--name", "sp.tar.gz", "--garbage", "3000"});
        std::string len = IniValues(Www() + "/capatch.ini")["filelength_64"];
        if (missing)
            std::remove((Www() + "/sp.tar.gz").c_str());
        RunResult r = RunServicePack();
        EXPECT_CLEAN_RUN(r);
        if (missing)
            EXPECT_TRUE(Log().HasPrefix(
                {"ERROR", "CheckFileConsistency", "File length mismatch In INI (" + len + "), From file ("}));
        else
            EXPECT_TRUE(Log().Has({"INFO", "CheckFileConsistency", "end."})) << "verification passed";
        EXPECT_FALSE(Exists(kPackage));
        EXPECT_FALSE(Exists(kManifest));
        ExpectFailedWithoutLine("Service Pack");
    }
}

TEST_F(ServicePackTest, ArchiveWithoutTheScriptLeavesEverythingAndSchedulesNothing)
{
    Publish({"--kind", "sp", "--name", "sp.tar.gz", "--file", "kvlinxsp/readme=no script\n"});
    RunResult r = RunServicePack();
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Exists(kPackage));
    EXPECT_TRUE(Exists(kManifest));
    EXPECT_TRUE(Exists("/var/tmp/kvlinxsp/readme"));
    EXPECT_FALSE(Exists(kSpScript));
    ExpectFailedWithoutLine("Service Pack");
}

}  // namespace
}  // namespace systest
