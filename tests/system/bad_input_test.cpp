// Hostile or broken input from the command line and the network: format
// directives, binary garbage, overlong lines and names, names that point
// outside /var/tmp/. Every run ends with exit status 0, a well-formed log and
// nothing changed outside the installer's own places.
#include "harness.h"

#include <cstring>
#include <filesystem>

namespace systest
{
namespace
{

const std::string kManifest = std::string(kModuleDir) + "capatch.ini";

class BadInputTest : public SystemTest
{
protected:
    RunResult RunServicePack() { return RunSwitch(Http(1), Http(2), "-CASP"); }

    // The flow stopped before the package: only the manifest was requested,
    // and it is gone again.
    void ExpectStoppedAfterTheManifest()
    {
        EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/upd/capatch.ini"});
        EXPECT_FALSE(Exists(kManifest));
        EXPECT_EQ(ListDir("/var/tmp"), std::vector<std::string>{});
        ExpectFailed();
    }

    void ExpectFailed()
    {
        EXPECT_TRUE(Log().Has({"INFO", "main", "Service Pack installation failed"}));
        EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{});
    }
};

TEST_F(BadInputTest, EncodedDirectivesInTheBaseUrlArePrintedLiterally)
{
    const std::string dir = "p%s%n%d%x";
    const std::string encoded = "p%25s%25n%25d%25x";
    Publish(ServicePack(), dir);
    RunResult r = RunSwitch(Http(1, encoded), Http(2, encoded), "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP URL1=", Http(1, encoded) + "/sp.tar.gz"}));
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP URL2=", Http(2, encoded) + "/sp.tar.gz"}));
    EXPECT_EQ(NewCrontabLines().size(), 1u);
}

TEST_F(BadInputTest, RawDirectivesInTheBaseUrlDoNotCrash)
{
    Publish(ServicePack());
    RunResult r = RunSwitch(Http(1, "upd%s%n%n%p%x"), Http(2, "upd%s%n%n%p%x"), "-CASP");
    EXPECT_CLEAN_RUN(r);
    ExpectFailed();
}

TEST_F(BadInputTest, DirectivesInManifestValuesArePrintedLiterally)
{
    const std::string name = "sp%s%n%x.tar.gz";
    const std::string hash = "%s%n%s%n%p%x%d%c%s%n%s%n%s%n%s%n";
    Publish(ServicePack({"--set", "file_64=" + name, "--set", "filelength_64=%n%s", "--set",
                         "checksum2_64=" + hash + "%n%n"}));

    RunResult r = RunServicePack();

    EXPECT_CLEAN_RUN(r);
    TraceLog log = Log();
    EXPECT_TRUE(log.Has({"INFO", "GetServicePackName:", name}));
    EXPECT_TRUE(log.Has({"INFO", "GetServicePackName dwlength:", "%n%s"}));
    EXPECT_TRUE(log.Has({"INFO", "GetServicePackName szMD5:", hash})) << "cut to 32 characters";
    EXPECT_TRUE(log.Has({"INFO", "InstallXEDASP URL1=", Http(1) + "/" + name}));
    EXPECT_TRUE(log.HasPrefix({"ERROR", "CheckFileConsistency", "File length mismatch In INI (0), From file ("}))
        << "a length that is no number reads as 0";
    EXPECT_FALSE(Exists(kManifest));
    EXPECT_EQ(ListDir("/var/tmp"), std::vector<std::string>{});
    ExpectFailed();
}

TEST_F(BadInputTest, DirectivesInTheModulePathArePrintedLiterally)
{
    const std::string module = std::string(kModuleDir) + "m%s%n%x/";
    std::filesystem::create_directories(module);
    Publish(ServicePack());
    RunResult r = Run({Http(1), Http(2), "-CASP", module});
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Exists(module + "capatch.ini"));
    EXPECT_EQ(NewCrontabLines().size(), 1u);
}

TEST_F(BadInputTest, BinaryGarbageAsManifestIsDeleted)
{
    Publish(ServicePack({"--garbage-manifest", "8192"}));
    RunResult r = RunServicePack();
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"ERROR", "InstallXEDASP", "GetServicePackInfo failed."}));
    ExpectStoppedAfterTheManifest();
}

struct LongInput
{
    const char* name;
    Args manifest;  // make_update.py manifest options
    bool installs;  // whether the run still schedules the script

    friend void PrintTo(const LongInput& c, std::ostream* os) { *os << c.name; }
};

class LongManifestInput : public BadInputTest, public testing::WithParamInterface<LongInput>
{
};

// A manifest line is read in pieces of 255 characters, and a name must leave
// room for "/var/tmp/" and the base URL in 260-byte buffers.
TEST_P(LongManifestInput, NeverOverrunsABuffer)
{
    const LongInput& c = GetParam();
    Publish(ServicePack(c.manifest));
    RunResult r = RunServicePack();
    EXPECT_CLEAN_RUN(r);
    if (c.installs)
    {
        EXPECT_EQ(NewCrontabLines().size(), 1u);
        return;
    }
    ExpectStoppedAfterTheManifest();
    EXPECT_GE(Log().CountLevel("ERROR"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, LongManifestInput,
    testing::Values(LongInput{"LineOf10000CharactersBeforeTheSection", {"--before", std::string(10000, 'x')}, true},
                    LongInput{"LineOf10000CharactersAfterTheKeys", {"--after", std::string(10000, 'y')}, true},
                    LongInput{"NameOf259Characters", {"--set", "file_64=" + std::string(259, 'n')}, false},
                    LongInput{"NameOf10000Characters", {"--set", "file_64=" + std::string(10000, 'n')}, false},
                    LongInput{"NameFillingTheLineBuffer", {"--set", "file_64=" + std::string(247, 'n')}, false}),
    [](const testing::TestParamInfo<LongInput>& info) { return std::string(info.param.name); });

struct Escape
{
    const char* name;
    const char* fileName;  // the manifest's file_64
    const char* target;    // where a download to "/var/tmp/" + name would land

    friend void PrintTo(const Escape& c, std::ostream* os) { *os << c.name; }
};

class EscapingName : public BadInputTest, public testing::WithParamInterface<Escape>
{
};

// The update source even serves a valid package where the escaping URL
// leads, so an installer that followed the name would download, verify,
// unpack and schedule it.
TEST_P(EscapingName, IsRefusedBeforeTheDownload)
{
    const Escape& c = GetParam();
    std::error_code ec;
    std::filesystem::remove(c.target, ec);  // left by a faulty earlier build
    std::filesystem::create_directories(Www("upd"));
    std::filesystem::create_directories(Www("upd/sub"));
    for (const std::string& where : {Www("") + "/escaped.tar.gz", Www("upd/sub") + "/escaped.tar.gz"})
        MakeUpdate({"package", where, "--script", "kvlinxsp/kvacascr=#!/bin/sh\n"});
    MakeUpdate({"manifest", Www("upd") + "/capatch.ini", "--kind", "sp", "--package", Www("") + "/escaped.tar.gz",
                "--name", c.fileName});

    RunResult r = RunServicePack();

    EXPECT_CLEAN_RUN(r);
    ExpectStoppedAfterTheManifest();
    EXPECT_FALSE(Exists(c.target));
    std::filesystem::remove(c.target, ec);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, EscapingName,
    testing::Values(Escape{"ParentDirectory", "../escaped.tar.gz", "/var/escaped.tar.gz"},
                    Escape{"TwoLevelsUp", "../../escaped.tar.gz", "/escaped.tar.gz"},
                    Escape{"Subdirectory", "sub/escaped.tar.gz", "/var/tmp/sub"},
                    Escape{"Absolute", "/escaped.tar.gz", "/var/tmp/escaped.tar.gz"},
                    Escape{"DotDot", "..", "/var/tmp/kvlinxsp"}, Escape{"Dot", ".", "/var/tmp/kvlinxsp"}),
    [](const testing::TestParamInfo<Escape>& info) { return std::string(info.param.name); });

TEST_F(BadInputTest, BaseUrlWithNoRoomForTheManifestNameDownloadsNothing)
{
    Publish(ServicePack());
    std::string url1 = Http(1) + std::string(259 - Http(1).size() - 5, 'd');
    RunResult r = RunSwitch(url1, Http(2), "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(Requests().size(), 0u);
    EXPECT_FALSE(Exists(kManifest));
    ExpectFailed();
}

TEST_F(BadInputTest, ModulePathWithNoRoomForTheManifestNameDownloadsNothing)
{
    std::string module = std::string(kModuleDir) + std::string(259 - strlen(kModuleDir) - 5, 'm');
    Publish(ServicePack());
    RunResult r = Run({Http(1), Http(2), "-CASP", module});
    EXPECT_CLEAN_RUN(r);
    EXPECT_EQ(Requests().size(), 0u);
    ExpectFailed();
}

}  // namespace
}  // namespace systest
