// Free space of /var/tmp (a 2 MiB tmpfs here): a package must be strictly
// smaller than the space that ordinary users may still fill.
#include "harness.h"

#include <sys/statvfs.h>

namespace systest
{
namespace
{

uint64_t FreeBytesOfVarTmp()
{
    struct statvfs vfs;
    EXPECT_EQ(statvfs("/var/tmp/", &vfs), 0);
    return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_bsize;
}

struct SpaceCase
{
    const char* name;
    const char* typeLine;  // clntdata.ini entry; "" for the service pack
    const char* flowLabel;
    const char* manifest;  // file name in the module directory
    bool manifestKept;

    friend void PrintTo(const SpaceCase& c, std::ostream* os) { *os << c.name; }
};

class ExactlyTheFreeSpace : public SystemTest, public testing::WithParamInterface<SpaceCase>
{
};

TEST_P(ExactlyTheFreeSpace, IsRefusedBeforeThePackageDownload)
{
    const SpaceCase& c = GetParam();
    std::string free = std::to_string(FreeBytesOfVarTmp());
    std::string sw = "-CASP";
    Args package = ServicePack({"--set", "filelength_64=" + free});
    if (*c.typeLine != '\0')
    {
        SetUpgradeType(c.typeLine);
        sw = "-CAUPG";
        package = CaPackage({"--set", "filelength_64=" + free});
    }
    Publish(package);
    std::string cronRunning = MakeShims("cron-running", {{"pidof", "exit 0"}, {"service", "exit 1"}});

    RunResult r = RunSwitch(Http(1), Http(2), sw, {cronRunning});

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "GetServicePackName dwlength:", free}));
    EXPECT_TRUE(Log().Has({"ERROR", c.flowLabel, "Space not availabe"})) << Log().Text();
    EXPECT_EQ(Requests().size(), 1u) << "only the manifest";
    EXPECT_EQ(Exists(std::string(kModuleDir) + c.manifest), c.manifestKept);
    EXPECT_EQ(ListDir("/var/tmp"), std::vector<std::string>{});
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    FreeSpace, ExactlyTheFreeSpace,
    testing::Values(SpaceCase{"ServicePack", "", "InstallXEDASP", "capatch.ini", true},
                    SpaceCase{"MinorUpgradeAgentStage", "type=1", "DownloadAndInstallCA", "linuxupgrade.ini", true},
                    SpaceCase{"MajorUpgrade", "type=2", "InstallMajorUPG", "linuxupgrade.ini", false}),
    [](const testing::TestParamInfo<SpaceCase>& info) { return std::string(info.param.name); });

class FreeSpaceTest : public SystemTest
{
};

TEST_F(FreeSpaceTest, PackageOneByteSmallerThanTheFreeSpaceIsDownloadedWhole)
{
    uint64_t free = FreeBytesOfVarTmp();
    Publish({"--kind", "sp", "--name", "sp.tar.gz", "--garbage", std::to_string(free - 1)});

    RunResult r = RunSwitch(Http(1), Http(2), "-CASP");

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().Has({"INFO", "InstallXEDASP", "Space availabe"}));
    std::string n = std::to_string(free - 1);
    EXPECT_TRUE(Log().Has({"INFO", "CheckFileConsistency", "File length INI (" + n + "), From file (" + n + ")"}));
    EXPECT_TRUE(Log().Has({"INFO", "CheckFileConsistency", "end."}));
    // Not an archive: tar fails and the flow deletes what it downloaded.
    EXPECT_EQ(ListDir("/var/tmp"), std::vector<std::string>{});
    EXPECT_FALSE(Exists(std::string(kModuleDir) + "capatch.ini"));
    EXPECT_EQ(NewCrontabLines(), std::vector<std::string>{});
}

}  // namespace
}  // namespace systest
