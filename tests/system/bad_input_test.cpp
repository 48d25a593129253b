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

namespace fs = std::filesystem;
using BadInputTest = SystemTest;
const std::string kManifest = std::string(kModuleDir) + "capatch.ini";

TEST_F(BadInputTest, DirectivesInUrlsAndTheModulePathArePrintedLiterally)
{
    const std::string encoded = "p%25s%25n%25d%25x";
    const std::string module = std::string(kModuleDir) + "m%s%n%x/";
    fs::create_directories(module);
    Publish(ServicePack(), "p%s%n%d%x");
    RunResult r = Run({Http(1, encoded), Http(2, encoded), "-CASP", module});
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP URL1=", Http(1, encoded) + "/sp.tar.gz"}));
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP URL2=", Http(2, encoded) + "/sp.tar.gz"}));
    EXPECT_TRUE(Exists(module + "capatch.ini"));
    EXPECT_EQ(NewCrontabLines().size(), 1u);

    Reset();  // raw directives, which no server path matches
    Publish(ServicePack());
    r = RunSwitch(Http(1, "upd%s%n%n%p%x"), Http(2, "upd%s%n%n%p%x"), "-CASP");
    EXPECT_CLEAN_RUN(r);
    ExpectFailedWithoutLine("Service Pack");
}

TEST_F(BadInputTest, DirectivesInManifestValuesArePrintedLiterally)
{
    const std::string name = "sp%s%n%x.tar.gz";
    const std::string hash = "%s%n%s%n%p%x%d%c%s%n%s%n%s%n%s%n";
    Publish(ServicePack({"--set", "file_64=" + name, "--set", "filelength_64=%n%s", "--set",
                         "checksum2_64=" + hash + "%n%n"}));
    RunResult r = RunSwitch(Http(1), Http(2), "-CASP");

    EXPECT_CLEAN_RUN(r);
    TraceLog log = Log();
    EXPECT_TRUE(log.Has({"INFO", "GetServicePackName:", name}));
    EXPECT_TRUE(log.Has({"INFO", "GetServicePackName dwlength:", "%n%s"}));
    EXPECT_TRUE(log.Has({"INFO", "GetServicePackName szMD5:", hash})) << "cut to 32 characters";
    EXPECT_TRUE(log.Has({"INFO", "InstallXEDASP URL1=", Http(1) + "/" + name}));
    EXPECT_TRUE(log.Has({"ERROR", "CheckFileConsistency", "File length mismatch In INI (0), From file ("}, true))
        << "a length that is no number reads as 0";
    EXPECT_FALSE(Exists(kManifest));
    EXPECT_EQ(ListDir("/var/tmp"), Strings{});
    ExpectFailedWithoutLine("Service Pack");
}

// A manifest line is read in pieces of 255 characters, and a name must leave
// room for "/var/tmp/" and the base URL in 260-byte buffers. A name that
// leaves "/var/tmp/" is refused before the download, although the source
// serves the very package where the escaping URL leads.
TEST_F(BadInputTest, GarbageLongAndEscapingManifestInputIsRefused)
{
    const struct
    {
        const char* name;
        Args manifest;  // make_update.py manifest options
        bool installs;  // whether the run still schedules the script
    } cases[] = {
        {"binary garbage", {"--garbage-manifest", "8192"}, false},
        {"line of 10000 characters", {"--before", std::string(10000, 'x')}, true},
        {"name of 259 characters", {"--set", "file_64=" + std::string(259, 'n')}, false},
        {"../", {"--set", "file_64=../escaped.tar.gz"}, false},
        {"sub/", {"--set", "file_64=sub/escaped.tar.gz"}, false},
        {"..", {"--set", "file_64=.."}, false},
        {".", {"--set", "file_64=."}, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Reset();
        Publish(ServicePack(c.manifest));
        fs::create_directories(Www("upd/sub"));
        for (const std::string& copy : {Www("") + "/escaped.tar.gz", Www("upd/sub") + "/escaped.tar.gz"})
            fs::copy_file(Www() + "/sp.tar.gz", copy);
        RunResult r = RunSwitch(Http(1), Http(2), "-CASP");
        EXPECT_CLEAN_RUN(r);
        if (c.installs)
        {
            EXPECT_EQ(NewCrontabLines().size(), 1u);
            continue;
        }
        EXPECT_EQ(RequestedPaths(), Strings{"/upd/capatch.ini"});
        EXPECT_FALSE(Exists(kManifest));
        EXPECT_EQ(ListDir("/var/tmp"), Strings{});
        EXPECT_TRUE(Log().Has({"ERROR", "", ""}, true));
        ExpectFailedWithoutLine("Service Pack");
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
