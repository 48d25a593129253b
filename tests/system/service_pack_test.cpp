// The service-pack request (-CASP) end to end: manifest and package from the
// update source, verification, extraction with /bin/tar, the crontab line.
#include "harness.h"

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
        {"INFO", "main", "Entry"}, {"INFO", "main", "Service Pack installation Request -CASP"},
        {"INFO", "main", "In Service pack installation start point"}, {"INFO", "InstallXEDASP", "Entry"},
        {"INFO", "InstallXEDASP", "capatch.ini"}, {"INFO", "GetServicePackName:", "sp.tar.gz"},
        {"INFO", "GetServicePackName dwlength:", len}, {"INFO", "GetServicePackName dwCRC32:", crc},
        {"INFO", "GetServicePackName szMD5:", md5}, {"INFO", "GetServicePackName", "Exit"},
        {"INFO", "InstallXEDASP URL1=", Http(1) + "/sp.tar.gz"}, {"INFO", "InstallXEDASP URL2=", Http(2) + "/sp.tar.gz"},
        {"INFO", "InstallXEDASP path=", "/var/tmp/"}, {"INFO", "InstallXEDASP", "Space availabe"},
        {"INFO", "CheckFileConsistency", "File length INI (" + len + "), From file (" + len + ")"},
        {"INFO", "CheckFileConsistency", "Checksum INI (" + crc + "), From file (" + crc + ")"},
        {"INFO", "CheckFileConsistency", "MD5 ini hash(" + md5 + ") Hash= (" + md5 + ")"},
        {"INFO", "CheckFileConsistency", "end."}, {"INFO", "main", "Exit"},
    }));
    EXPECT_NE(r.output.find("kvlinxsp/kvacascr"), std::string::npos) << "tar's verbose listing";
}

// An HTTPS source, and a refused first URL: all requests reach the one
// server meant, and the install is the same.
TEST_F(ServicePackTest, HttpsSourceAndSecondUrlInstall)
{
    const std::string https = Fixture("FX_ADDR1") + ":" + Fixture("FX_HTTPS_PORT");
    const std::string second = Fixture("FX_ADDR2") + ":" + Fixture("FX_HTTP_PORT");
    for (const auto& [url1, url2, server] : {std::tuple{Https(1), Https(2), https}, {kNoServer, Http(2), second}})
    {
        SCOPED_TRACE(url1);
        Reset();
        Publish(ServicePack());
        RunResult r = RunSwitch(url1, url2, "-CASP");
        EXPECT_CLEAN_RUN(r);
        ExpectScheduledOnce(r);
        EXPECT_EQ(RequestedPaths(), (Strings{"/upd/capatch.ini", "/upd/sp.tar.gz"}));
        for (const Request& q : Requests())
            EXPECT_EQ(q.server, server) << q.path;
        // One failed direct attempt on the first URL for each of the two files.
        EXPECT_EQ(Log().Count({"INFO", "", "SendRequestAndGetResponse Failed Without Proxy"}),
                  url1 == kNoServer ? 2u : 0u);
    }
}

// Equal URLs, by case only: the second is not tried after the first fails.
TEST_F(ServicePackTest, EqualUrlsFailWithoutTryingTheSecond)
{
    Publish(ServicePack());
    RunResult r = RunSwitch(kNoServer, "HTTP://127.0.0.1:1/UPD", "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"INFO", "InstallXEDASP", "both URL are same"},
                                  {"ERROR", "InstallXEDASP", "Ini downloa failed"}}));
    EXPECT_EQ(Log().Count({"INFO", "", "SendRequestAndGetResponse Failed Without Proxy"}), 1u);
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

// A package that fails verification (a 404 page in its place included) or
// extraction is deleted with its manifest; an archive without the script
// leaves both. Nothing is scheduled.
TEST_F(ServicePackTest, FailedPackageIsDeletedWithItsManifestUnlessItUnpacked)
{
    Publish(ServicePack());
    auto m = IniValues(Www() + "/capatch.ini");
    const std::string md5 = "0123456789abcdef0123456789abcdef", md5Short = md5.substr(1);
    auto error = [](const std::string& message) { return Trace{"ERROR", "CheckFileConsistency", message}; };
    const Trace verified{"INFO", "CheckFileConsistency", "end."};
    struct
    {
        Args update;
        Trace trace;
        bool prefix;  // trace.message is the beginning of the line's
        bool left;    // package and manifest left
    } const cases[] = {
        {ServicePack({"--set", "filelength_64=7"}),
         error("File length mismatch In INI (7), From file (" + m["filelength_64"] + ")"), false, false},
        {ServicePack({"--set", "checksum1_64=12345"}),
         error("Checksum mismatch In INI (12345), From file (" + m["checksum1_64"] + ")"), false, false},
        {ServicePack({"--set", "checksum2_64=" + md5}),
         error("MD5 mismatch In INI (" + md5 + "), From file (" + m["checksum2_64"] + ")"), false, false},
        {ServicePack({"--set", "checksum2_64=" + md5Short}),
         error("MD5 mismatch In INI (" + md5Short + "), From file (" + m["checksum2_64"] + ")"), false, false},
        {ServicePack({"--set", "file_64=gone.tar.gz"}),
         error("File length mismatch In INI (" + m["filelength_64"] + "), From file ("), true, false},
        {{"--kind", "sp", "--name", "sp.tar.gz", "--garbage", "3000"}, verified, false, false},
        {{"--kind", "sp", "--name", "sp.tar.gz", "--file", "kvlinxsp/readme=no script\n"}, verified, false, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.trace);
        Reset();
        Publish(c.update);
        RunResult r = RunServicePack();
        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().Has(c.trace, c.prefix));
        EXPECT_FALSE(Exists(kSpScript)) << "nothing was unpacked";
        EXPECT_EQ(Exists(kManifest), c.left);
        EXPECT_EQ(Exists("/var/tmp/kvlinxsp/readme"), c.left);
        EXPECT_EQ(ListDir("/var/tmp"), c.left ? (Strings{"kvlinxsp", "sp.tar.gz"}) : Strings{});
        ExpectFailedWithoutLine("Service Pack");
    }
}

}  // namespace
}  // namespace systest
