// Free space of /var/tmp (a 2 MiB tmpfs here): a package must be strictly
// smaller than the space that ordinary users may still fill.
#include "harness.h"

#include <sys/statvfs.h>

namespace systest
{
namespace
{

using FreeSpaceTest = SystemTest;

std::string FreeBytesOfVarTmp(int less)
{
    struct statvfs vfs;
    EXPECT_EQ(statvfs("/var/tmp/", &vfs), 0);
    return std::to_string(static_cast<uint64_t>(vfs.f_bavail) * vfs.f_bsize - less);
}

// Exactly the free space is refused before the download; one byte less is
// downloaded whole (and, being no archive, deleted again after tar fails).
TEST_F(FreeSpaceTest, PackageMustBeSmallerThanTheFreeSpace)
{
    const struct
    {
        const char* type;  // clntdata.ini entry; "" for the service pack
        const char* label;
        const char* manifest;  // file name in the module directory
        bool manifestKept;
    } cases[] = {
        {"", "InstallXEDASP", "capatch.ini", true},
        {"type=1", "DownloadAndInstallCA", "linuxupgrade.ini", true},
        {"type=2", "InstallMajorUPG", "linuxupgrade.ini", false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        Reset();
        std::string free = FreeBytesOfVarTmp(0);
        bool sp = *c.type == '\0';
        Publish((sp ? ServicePack : CaPackage)({"--set", "filelength_64=" + free}));
        if (!sp)
            SetUpgradeType(c.type);
        StartCron();
        RunResult r = RunSwitch(Http(1), Http(2), sp ? "-CASP" : "-CAUPG");

        EXPECT_CLEAN_RUN(r);
        EXPECT_TRUE(Log().Has({"INFO", "GetServicePackName dwlength:", free}));
        EXPECT_TRUE(Log().Has({"ERROR", c.label, "Space not availabe"}));
        EXPECT_EQ(Requests().size(), 1u) << "only the manifest";
        EXPECT_EQ(Exists(std::string(kModuleDir) + c.manifest), c.manifestKept);
        EXPECT_EQ(ListDir("/var/tmp"), Strings{});
        EXPECT_EQ(NewCrontabLines(), Strings{});
    }

    Reset();
    std::string n = FreeBytesOfVarTmp(1);
    Publish({"--kind", "sp", "--name", "sp.tar.gz", "--garbage", n});
    RunResult r = RunSwitch(Http(1), Http(2), "-CASP");
    EXPECT_CLEAN_RUN(r);
    EXPECT_TRUE(Log().HasInOrder({{"INFO", "InstallXEDASP", "Space availabe"},
                                  {"INFO", "CheckFileConsistency", "File length INI (" + n + "), From file (" + n + ")"},
                                  {"INFO", "CheckFileConsistency", "end."}}));
    EXPECT_EQ(ListDir("/var/tmp"), Strings{});
    EXPECT_FALSE(Exists(std::string(kModuleDir) + "capatch.ini"));
    EXPECT_EQ(NewCrontabLines(), Strings{});
}

}  // namespace
}  // namespace systest
