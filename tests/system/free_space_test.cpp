// Free space of /var/tmp (a 2 MiB tmpfs here): a package must be strictly
// smaller than the space that ordinary users may still fill.
#include "harness.h"

#include <sys/statvfs.h>

namespace systest
{
namespace
{

class FreeSpaceTest : public SystemTest
{
protected:
    static std::string FreeBytesOfVarTmp(int less = 0)
    {
        struct statvfs vfs;
        EXPECT_EQ(statvfs("/var/tmp/", &vfs), 0);
        return std::to_string(static_cast<uint64_t>(vfs.f_bavail) * vfs.f_bsize - less);
    }
};

TEST_F(FreeSpaceTest, PackageOfExactlyTheFreeSpaceIsRefusedBeforeItsDownload)
{
    struct
    {
        const char* typeLine;  // clntdata.ini entry; "" for the service pack
        const char* flowLabel;
        const char* manifest;  // file name in the module directory
        bool manifestKept;
    } const cases[] = {
        {"", "InstallXEDASP", "capatch.ini", true},
        {"type=1", "DownloadAndInstallCA", "linuxupgrade.ini", true},
        {"type=2", "InstallMajorUPG", "linuxupgrade.ini", false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.flowLabel);
        Reset();
        std::string free = FreeBytesOfVarTmp();
        bool sp = *c.typeLine == '\0';
        Publish((sp ? ServicePack : CaPackage)({"--set", "filelength_64=" + free}));
        if (!sp)
            SetUpgradeType(c.typeLine);
        StartCron();

        RunResult r = RunSwitch(Http(1), Http(2), sp ? "-CASP" : "-CAUPG");

        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().Has({"INFO", "GetServicePackName dwlength:", free}));
        EXPECT_TRUE(Log().Has({"ERROR", c.flowLabel, "Space not availabe"}));
        EXPECT_EQ(Requests().size(), 1u) << "only the manifest";
        EXPECT_EQ(Exists(std::string(kModuleDir) + c.manifest), c.manifestKept);
        EXPECT_EQ(ListDir("/var/tmp"), Strings{});
        EXPECT_EQ(NewCrontabLines(), Strings{});
    }
}

TEST_F(FreeSpaceTest, PackageOneByteSmallerThanTheFreeSpaceIsDownloadedWhole)
{
    std::string n = FreeBytesOfVarTmp(1);
    Publish({"--kind", "sp", "--name", "sp.tar.gz", "--garbage", n});

    RunResult r = RunSwitch(Http(1), Http(2), "-CASP");

    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"INFO", "InstallXEDASP", "Space availabe"},
                                  {"INFO", "CheckFileConsistency", "File length INI (" + n + "), From file (" + n + ")"},
                                  {"INFO", "CheckFileConsistency", "end."}}));
    // Not an archive: tar fails and the flow deletes what it downloaded.
    EXPECT_EQ(ListDir("/var/tmp"), Strings{});
    EXPECT_FALSE(Exists(std::string(kModuleDir) + "capatch.ini"));
    EXPECT_EQ(NewCrontabLines(), Strings{});
}

}  // namespace
}  // namespace systest
