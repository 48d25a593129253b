// Hostile or broken input from the command line and the network: format
// directives, binary garbage, overlong lines and names, names that point
// outside /var/tmp/. Every run ends with exit status 0, a well-formed log and
// nothing changed outside the installer's own places.
#include "harness.h"

#include <algorithm>
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
        EXPECT_EQ(RequestedPaths(), Strings{"/upd/capatch.ini"});
        EXPECT_FALSE(Exists(kManifest));
        EXPECT_EQ(ListDir("/var/tmp"), Strings{});
        ExpectFailedWithoutLine("Service Pack");
    }
};

TEST_F(BadInputTest, DirectivesInUrlsAndTheModulePathArePrintedLiterally)
{
    const std::string dir = "p%s%n%d%x";
    const std::string encoded = "p%25s%25n%25d%25x";
    const std::string module = std::string(kModuleDir) + "m%s%n%x/";
    std::filesystem::create_directories(module);
    Publish(ServicePack(), dir);
    RunResult r = Run({Http(1, encoded), Http(2, encoded), "-CASP", module});
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP URL1=", Http(1, encoded) + "/sp.tar.gz"}));
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP URL2=", Http(2, encoded) + "/sp.tar.gz"}));
    EXPECT_TRUE(Exists(module + "capatch.ini"));
    EXPECT_EQ(NewCrontabLines().size(), 1u);
}

TEST_F(BadInputTest, RawDirectivesInTheBaseUrlDoNotCrash)
{
    Publish(ServicePack());
    RunResult r = RunSwitch(Http(1, "upd%s%n%n%p%x"), Http(2, "upd%s%n%n%p%x"), "-CASP");
    EXPECT_CLEAN_RUN(r);
    ExpectFailedWithoutLine("Service Pack");
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
    EXPECT_EQ(ListDir("/var/tmp"), Strings{});
    ExpectFailedWithoutLine("Service Pack");
}

// A manifest line is read in pieces of 255 characters, and a name must leave
// room for "/var/tmp/" and the base URL in 260-byte buffers.
TEST_F(BadInputTest, GarbageAndLongManifestInputNeverOverrunABuffer)
{
    struct
    {
        const char* name;
        Args manifest;  // make_update.py manifest options
        bool installs;  // whether the run still schedules the script
    } const cases[] = {
        {"binary garbage", {"--garbage-manifest", "8192"}, false},
        {"line of 10000 characters", {"--before", std::string(10000, 'x')}, true},
        {"name of 259 characters", {"--set", "file_64=" + std::string(259, 'n')}, false},
        {"name of 10000 characters", {"--set", "file_64=" + std::string(10000, 'n')}, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Reset();
        Publish(ServicePack(c.manifest));
        RunResult r = RunServicePack();
        EXPECT_CLEAN_RUN(r);
        if (c.installs)
        {
            EXPECT_EQ(NewCrontabLines().size(), 1u);
            continue;
        }
        ExpectStoppedAfterTheManifest();
        std::vector<Trace> lines = Log().Lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const Trace& t) { return t.level == "ERROR"; }));
    }
}

// The update source even serves a valid package where the escaping URL
// leads, so an installer that followed the name would download, verify,
// unpack and schedule it.
TEST_F(BadInputTest, NameThatEscapesTheWorkDirectoryIsRefusedBeforeTheDownload)
{
    const std::pair<const char*, const char*> cases[] = {
        // the manifest's file_64, and where a download to "/var/tmp/" + name would land
        {"../escaped.tar.gz", "/var/escaped.tar.gz"},
        {"sub/escaped.tar.gz", "/var/tmp/sub"},
        {"..", "/var/tmp/kvlinxsp"},
        {".", "/var/tmp/kvlinxsp"},
    };
    for (const auto& [fileName, target] : cases)
    {
        SCOPED_TRACE(fileName);
        Reset();
        std::filesystem::create_directories(Www("upd/sub"));
        for (const std::string& where : {Www("") + "/escaped.tar.gz", Www("upd/sub") + "/escaped.tar.gz"})
            MakeUpdate({"package", where, "--script", "kvlinxsp/kvacascr=#!/bin/sh\n"});
        MakeUpdate({"manifest", Www("upd") + "/capatch.ini", "--kind", "sp", "--package",
                    Www("") + "/escaped.tar.gz", "--name", fileName});

        RunResult r = RunServicePack();

        EXPECT_CLEAN_RUN(r);
        ExpectStoppedAfterTheManifest();
        EXPECT_FALSE(Exists(target));
        std::error_code ec;
        std::filesystem::remove(target, ec);
    }
}

// A base URL or module path with no room left for "/capatch.ini".
TEST_F(BadInputTest, ArgumentWithNoRoomForTheManifestNameDownloadsNothing)
{
    std::string module = std::string(kModuleDir) + std::string(259 - strlen(kModuleDir) - 5, 'm');
    std::string url1 = Http(1) + std::string(259 - Http(1).size() - 5, 'd');
    for (const Args& args : {Args{url1, Http(2), "-CASP", kModuleDir}, Args{Http(1), Http(2), "-CASP", module}})
    {
        SCOPED_TRACE(args[0].size() + args[3].size());
        Reset();
        Publish(ServicePack());
        RunResult r = Run(args);
        EXPECT_CLEAN_RUN(r);
        EXPECT_EQ(Requests().size(), 0u);
        EXPECT_FALSE(Exists(kManifest));
        ExpectFailedWithoutLine("Service Pack");
    }
}

}  // namespace
}  // namespace systest
