// The service-pack request (-CASP) end to end: manifest and package from the
// update source, verification, extraction with /bin/tar, the crontab line.
#include "harness.h"

namespace systest
{
namespace
{

const std::string kManifest = std::string(kModuleDir) + "capatch.ini";
const std::string kPackage = "/var/tmp/sp.tar.gz";

class ServicePackTest : public SystemTest
{
protected:
    RunResult RunServicePack() { return RunSwitch(Http(1), Http(2), "-CASP"); }

    void ExpectScheduledOnce(const RunResult& r)
    {
        std::vector<std::string> lines = NewCrontabLines();
        ASSERT_EQ(lines.size(), 1u) << testing::PrintToString(lines);
        EXPECT_TRUE(lines[0] == ServicePackCronLine(r.before) || lines[0] == ServicePackCronLine(r.after))
            << lines[0];
    }

    void ExpectFailedWithoutLine()
    {
        EXPECT_TRUE(Log().Has({"INFO", "main", "Service Pack installation failed"}));
        EXPECT_FALSE(Log().Has({"INFO", "main", "Exit"}));
        EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{});
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
    EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/upd/capatch.ini", "/upd/sp.tar.gz"}));
    const std::string& len = m["filelength_64"];
    const std::string& crc = m["checksum1_64"];
    const std::string& md5 = m["checksum2_64"];
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
    })) << Log().Text();
    EXPECT_NE(r.output.find("kvlinxsp/kvacascr"), std::string::npos) << "tar's verbose listing";
}

TEST_F(ServicePackTest, TwoRunsLeaveTwoLines)
{
    Publish(ServicePack());
    RunResult first = RunServicePack();
    RunResult second = RunServicePack();
    EXPECT_CLEAN_RUN(second);
    EXPECT_EQ(first.status, 0);
    std::vector<std::string> lines = NewCrontabLines();
    ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
    EXPECT_EQ(Log().Count({"INFO", "main", "Exit"}), 2u);
}

TEST_F(ServicePackTest, UpperCaseHashAndCrLfManifestAreAccepted)
{
    Publish(ServicePack({"--upper-md5", "--crlf"}));
    RunResult r = RunServicePack();
    EXPECT_CLEAN_RUN(r);
    ExpectScheduledOnce(r);
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

TEST_F(ServicePackTest, HttpsSourceVerifiedAgainstTheAgentsCaFile)
{
    Publish(ServicePack());
    RunResult r = RunSwitch(Https(1), Https(2), "-CASP");
    EXPECT_CLEAN_RUN(r);
    ExpectScheduledOnce(r);
    for (const Request& q : Requests())
        EXPECT_EQ(q.scheme, "https") << q.path;
    EXPECT_EQ(Requests().size(), 2u);
}

TEST_F(ServicePackTest, HttpsSourceWithAnUntrustedCertificateIsRefused)
{
    Publish(ServicePack());
    WriteSslConfig("[SSL]\nSSL_VERIFY_CERT=1\nSSL_CERT_STORE_PATH=" + Fixture("FX_OTHER_CA") + "\n");
    RunResult r = RunSwitch(Https(1), Https(2), "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_GE(Log().CountMessage("ERROR", "ERROR_INTERNET_INVALID_CA received"), 2u) << "both URLs";
    EXPECT_TRUE(Log().Has({"ERROR", "InstallXEDASP", "Ini downloa failed"}));
    EXPECT_EQ(Requests().size(), 0u) << "no request passes the TLS handshake";
    EXPECT_FALSE(Exists(kManifest));
    ExpectFailedWithoutLine();
}

TEST_F(ServicePackTest, SecondUrlServesBothFilesWhenTheFirstRefuses)
{
    Publish(ServicePack());
    RunResult r = RunSwitch("http://127.0.0.1:1/upd", Http(2), "-CASP");
    EXPECT_CLEAN_RUN(r);
    ExpectScheduledOnce(r);
    std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const Request& q : requests)
        EXPECT_EQ(q.server, Fixture("FX_ADDR2") + ":" + Fixture("FX_HTTP_PORT")) << q.path;
    // One failed direct attempt on the first URL for each of the two files.
    EXPECT_EQ(Log().CountMessage("INFO", "SendRequestAndGetResponse Failed Without Proxy"), 2u);
}

TEST_F(ServicePackTest, EqualUrlsDifferingInCaseFetchTheManifestOnce)
{
    Publish(ServicePack());
    std::string upper = "HTTP://" + Fixture("FX_ADDR1") + ":" + Fixture("FX_HTTP_PORT") + "/UPD";
    RunResult r = RunSwitch(Http(1), upper, "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP", "both URL are same"}));
    EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/upd/capatch.ini", "/upd/sp.tar.gz"}));
    ExpectScheduledOnce(r);
}

TEST_F(ServicePackTest, EqualUrlsFailWithoutTryingTheSecond)
{
    Publish(ServicePack());
    RunResult r = RunSwitch("http://127.0.0.1:1/upd", "HTTP://127.0.0.1:1/UPD", "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP", "both URL are same"}));
    EXPECT_TRUE(Log().Has({"ERROR", "InstallXEDASP", "Ini downloa failed"}));
    EXPECT_EQ(Log().CountMessage("INFO", "SendRequestAndGetResponse Failed Without Proxy"), 1u);
    ExpectFailedWithoutLine();
}

TEST_F(ServicePackTest, ModuleDirectoryThatDoesNotExistFailsTheManifestDownload)
{
    Publish(ServicePack());
    const std::string missing = std::string(kModuleDir) + "missing/";
    RunResult r = Run({Http(1), Http(2), "-CASP", missing});
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"ERROR", "InstallXEDASP", "Ini downloa failed"}));
    EXPECT_FALSE(Exists(missing));
    EXPECT_EQ(ListDir("/var/tmp"), std::vector<std::string>{});
    for (const Request& q : Requests())
        EXPECT_EQ(q.path, "/upd/capatch.ini") << "the package is never asked for";
    ExpectFailedWithoutLine();
}

TEST_F(ServicePackTest, MissingManifestGivesA404BodyThatTheReaderRejects)
{
    RunResult r = RunServicePack();
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"ERROR", "GetServicePackName", "failed"}));
    EXPECT_TRUE(Log().Has({"ERROR", "InstallXEDASP", "GetServicePackInfo failed."}));
    EXPECT_FALSE(Exists(kManifest)) << "the 404 page is deleted";
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/upd/capatch.ini"});
    EXPECT_EQ(Requests().at(0).status, 404);
    ExpectFailedWithoutLine();
}

TEST_F(ServicePackTest, MissingPackageGivesA404BodyThatVerificationRejects)
{
    Publish(ServicePack());
    std::string len = IniValues(Www() + "/capatch.ini")["filelength_64"];
    std::remove((Www() + "/sp.tar.gz").c_str());
    RunResult r = RunServicePack();
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasPrefix({"ERROR", "CheckFileConsistency", "File length mismatch In INI (" + len + "), From file ("}));
    EXPECT_FALSE(Exists(kPackage));
    EXPECT_FALSE(Exists(kManifest));
    ExpectFailedWithoutLine();
}

struct Mismatch
{
    const char* name;
    const char* key;
    const char* value;
    const char* message;  // the ERROR trace, %s for the computed value

    friend void PrintTo(const Mismatch& c, std::ostream* os) { *os << c.name; }
};

class ServicePackMismatch : public ServicePackTest, public testing::WithParamInterface<Mismatch>
{
};

TEST_P(ServicePackMismatch, RejectsThePackageAndDeletesPackageAndManifest)
{
    const Mismatch& c = GetParam();
    Publish(ServicePack());
    auto real = IniValues(Www() + "/capatch.ini");
    Publish(ServicePack({"--set", std::string(c.key) + "=" + c.value}));

    RunResult r = RunServicePack();

    EXPECT_CLEAN_RUN(r);
    std::string expected = c.message;
    expected.replace(expected.find("%s"), 2, real[c.key]);
    EXPECT_TRUE(Log().Has({"ERROR", "CheckFileConsistency", expected})) << expected;
    EXPECT_FALSE(Exists(kPackage));
    EXPECT_FALSE(Exists(kManifest));
    EXPECT_FALSE(Exists(kSpScript)) << "nothing was unpacked";
    ExpectFailedWithoutLine();
}

INSTANTIATE_TEST_SUITE_P(
    ServicePack, ServicePackMismatch,
    testing::Values(
        Mismatch{"Length", "filelength_64", "7", "File length mismatch In INI (7), From file (%s)"},
        Mismatch{"Crc", "checksum1_64", "12345", "Checksum mismatch In INI (12345), From file (%s)"},
        Mismatch{"Md5", "checksum2_64", "0123456789abcdef0123456789abcdef",
                 "MD5 mismatch In INI (0123456789abcdef0123456789abcdef), From file (%s)"},
        Mismatch{"Md5Of31Digits", "checksum2_64", "0123456789abcdef0123456789abcde",
                 "MD5 mismatch In INI (0123456789abcdef0123456789abcde), From file (%s)"}),
    [](const testing::TestParamInfo<Mismatch>& info) { return std::string(info.param.name); });

TEST_F(ServicePackTest, PackageThatTarCannotUnpackIsDeletedWithItsManifest)
{
    Publish({"--kind", "sp", "--name", "sp.tar.gz", "--garbage", "3000"});
    RunResult r = RunServicePack();
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "CheckFileConsistency", "end."})) << "verification passed";
    EXPECT_FALSE(Exists(kPackage));
    EXPECT_FALSE(Exists(kManifest));
    ExpectFailedWithoutLine();
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
    ExpectFailedWithoutLine();
}

TEST_F(ServicePackTest, ManifestWithoutTheChecksumKeyIsDeleted)
{
    Publish(ServicePack({"--drop", "checksum1_64"}));
    RunResult r = RunServicePack();
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"ERROR", "GetServicePackName", "CRC32 failed"}));
    EXPECT_FALSE(Exists(kManifest));
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/upd/capatch.ini"});
    ExpectFailedWithoutLine();
}

}  // namespace
}  // namespace systest
