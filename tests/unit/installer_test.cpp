// What a run of the binary cannot show: the readers' and the verification's
// codes and failure traces, free space and file length, the service pack's
// run time at the hour's end, the codes and buffers the flows hand back to
// their caller, and the child-process helper's code for a missing program.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>

#include <cstdlib>

#include "process.h"
#include "testkit.h"
#include "xedamisc.h"
#include "xedasvpk.h"

namespace
{
// The codes are what a caller sees, so the checks below spell out their
// values; these are the ones no test can provoke.
static_assert(XEDA_ERR_CRC_FAILED == 604 && XEDA_ERR_MD5_FAILED == 606 &&
              DISK_ERR_QUERY_FAILED == 1001 && DISK_ERR_NO_SPACE == 1005);

BOOLEAN ReadServicePack(const char* file, const char* key, XEDA_UPGRADE_INFO* p, DWORD* code)
{
    return GetServicePackInfo(file, key, p ? &p->XedaSvPkInfo : nullptr, code);
}

// Values convert like "%u" and stop at a non-digit; the hash keeps 32
// characters. A reader stops at the first key it cannot read, with a code and
// a trace under its label.
TEST(ManifestReader, ValuesCodesAndFailureTraces)
{
    const std::string hash = "0123456789ABCDEF0123456789abcdef01234567";
    ASSERT_TRUE(
        tk::Write("/tmp/m", "[x_service_pack_linux_y]\nfile_64=" + std::string(300, 'n') +
                                "\nfilelength_64=0x400\nchecksum1_64=12ab\nchecksum2_64=" + hash));
    XEDA_SVPK_INFO info{};
    DWORD dwCode = 7;
    ASSERT_EQ(TRUE, GetServicePackInfo("/tmp/m", "file_64", &info, &dwCode));
    EXPECT_EQ(std::string(247, 'n'), info.szServicePackName) << "the rest of a 255-character piece";
    EXPECT_EQ(0u, info.dwFileLength);
    EXPECT_EQ(12u, info.dwCRC32);
    EXPECT_EQ(hash.substr(0, 32), info.szMD5CheckSumString);
    EXPECT_EQ(7u, dwCode);
    const struct
    {
        BOOLEAN (*read)(const char*, const char*, XEDA_UPGRADE_INFO*, DWORD*);
        std::string section, start, tail, invalid; // the labels
    } readers[] = {{ReadServicePack, "service_pack_linux", "GetServicePackName",
                    "GetServicePackName", "GetServicePackName"},
                   {GetMinorUpgradePackInfo, "minor_upg_pack_linux", "GetMinorUpgradePackName",
                    "GetServicePackName", "GetMinorUpgradeName"},
                   {GetMinorUpgradeCAPackInfo, "minor_upg_ca_pack_linux",
                    "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName",
                    "GetMinorUpgradeCAPackName"}};
    const std::string keys[] = {"file_64=a", "filelength_64=5", "checksum1_64=9", "checksum2_64=h"};
    const std::string failures[] = {"failed", "SP length failed", "CRC32 failed", "Md5sum failed"};
    for (const auto& r : readers)
    {
        XEDA_UPGRADE_INFO record{};
        for (int iMissing = 0; iMissing < 4; ++iMissing) // the last one is there, but empty
        {
            std::string text = "[" + r.section + "]\n";
            for (int i = 0; i < 4; ++i)
                text += (i != iMissing ? keys[i] : i == 3 ? "checksum2_64=" : "") + "\n";
            ASSERT_TRUE(tk::Write("/tmp/m", text));
            EXPECT_EQ(FALSE, r.read("/tmp/m", "file_64", &record, &dwCode));
            EXPECT_EQ(591u, dwCode);
            EXPECT_EQ("E " + (iMissing ? r.tail : r.start) + "|" + failures[iMissing],
                      tk::Trace().back());
        }
        EXPECT_EQ(FALSE, r.read("/tmp/m", nullptr, &record, &dwCode));
        EXPECT_EQ(590u, dwCode);
        EXPECT_EQ("E " + r.invalid + "|Invalid Parameters.", tk::Trace().back());
        EXPECT_EQ(FALSE, r.read("/tmp/m", "file_64", &record, nullptr));
        EXPECT_EQ("E " + r.start + "|pdwErrorCode is NULL.", tk::Trace().back());
    }
}

// Known answers from md5sum and Python's zlib; the CRC covers everything
// after the fourth byte. Each mismatch stops at its step, the manifest's
// value first. The MD5 of "/var/tmp" (older sources publish it for every
// package) passes a package on length and CRC-32 alone.
TEST(CheckFileConsistency, PassesOnlyWhatMatchesItsManifest)
{
    const std::string content(1025, 'x'), md5 = "41b2b8ce59ecc0c64c9c7ecaae3002c3",
                                          fixed = "fc513f04005552c2466fbf89716f3154",
                                          hash = "I CheckFileConsistency|MD5 ini hash(";
    // clang-format off
    const struct { std::string content, hash; DWORD dwLength, dwCrc, dwCode; std::string trace; } cases[] = {
        {"upper case", "141A8CAA1FFA22FD3024851708732846", 10, 1873110133, 0, hash + "141A8CAA1FFA22FD3024851708732846) Hash= (141a8caa1ffa22fd3024851708732846)"},
        {"xeda-41", "040e400881a01f6478dcad127b024aec", 7, 622919532, 0, hash + "040e400881a01f6478dcad127b024aec) Hash= (040e400881a01f6478dcad127b024aec)"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", 3, 0, 0, hash + "900150983cd24fb0d6963f7d28e17f72) Hash= (900150983cd24fb0d6963f7d28e17f72)"},
        {content, fixed, 1025, 1904830790, 0, hash + fixed + ") Hash= (" + fixed + ")"},
        {content, "FC513F04005552C2466FBF89716F3154", 1025, 1904830790, 0, hash + "FC513F04005552C2466FBF89716F3154) Hash= (" + fixed + ")"},
        {content, fixed, 1025, 1, 605, "E CheckFileConsistency|Checksum mismatch In INI (1), From file (1904830790)"},
        {content, md5, 1024, 1904830790, 603, "E CheckFileConsistency|File length mismatch In INI (1024), From file (1025)"},
        {"", md5, 1025, 1904830790, 603, "E CheckFileConsistency|File length mismatch In INI (1025), From file (4294967295)"},
        {content, md5, 1025, 1, 605, "E CheckFileConsistency|Checksum mismatch In INI (1), From file (1904830790)"},
        {content, md5.substr(1), 1025, 1904830790, 607,
         "E CheckFileConsistency|MD5 mismatch In INI (" + md5.substr(1) + "), From file (" + md5 + ")"},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        tk::Remove("/var/tmp/p");
        ASSERT_TRUE(c.content.empty() || tk::Write("/var/tmp/p", c.content));
        XEDA_SVPK_INFO info{{}, c.dwLength, c.dwCrc, {}};
        c.hash.copy(info.szMD5CheckSumString, 32);
        DWORD dwCode = 0;
        EXPECT_EQ(c.dwCode == 0, CheckFileConsistency("/var/tmp/p", &info, &dwCode) == TRUE)
            << c.trace;
        EXPECT_EQ(c.dwCode, dwCode);
        const tk::Strings trace = tk::Trace(); // a match is followed by "end."
        EXPECT_EQ(c.trace, trace.at(trace.size() - (c.dwCode == 0 ? 2 : 1)));
        EXPECT_EQ(c.dwCode == 0, trace.back() == "I CheckFileConsistency|end.");
    }
    XEDA_SVPK_INFO info{};
    DWORD dwCode = 0;
    EXPECT_EQ(FALSE, CheckFileConsistency(nullptr, &info, &dwCode));
    EXPECT_EQ(601u, dwCode);
    EXPECT_EQ(FALSE, CheckFileConsistency("/var/tmp/p", &info, nullptr));
    EXPECT_EQ("E CheckFileConsistency|NULL error code.", tk::Trace().back());
}

// Free space is what an ordinary user may fill: an ext4 file system with half
// its blocks reserved for root tells f_bavail from f_bfree. An empty file has
// length 0, a missing one -1.
TEST(GetDiskFreeSpace, BlocksAvailableToUsersAndCodes)
{
    ASSERT_TRUE(tk::Write("/tmp/empty", "") && mkdir("/tmp/reserved", 0755) == 0);
    EXPECT_EQ(0, GetFileLength("/tmp/empty"));
    EXPECT_EQ(-1, GetFileLength("/tmp/no-such-file"));
    ASSERT_EQ(0, std::system("truncate -s 8M /tmp/ext4.img && mkfs.ext4 -q -F -m 50 /tmp/ext4.img "
                             "&& mount -o loop /tmp/ext4.img /tmp/reserved"));
    struct statvfs fs;
    ASSERT_EQ(0, statvfs("/tmp/reserved/", &fs));
    ASSERT_LT(fs.f_bavail, fs.f_bfree);
    uint64_t uiFree = 0;
    DWORD dwCode = 7;
    EXPECT_EQ(TRUE, GetDiskFreeSpace("/tmp/reserved/", &uiFree, &dwCode));
    EXPECT_EQ(static_cast<uint64_t>(fs.f_bavail) * fs.f_bsize, uiFree);
    EXPECT_EQ(0, umount("/tmp/reserved"));
    EXPECT_EQ(FALSE, GetDiskFreeSpace("/var/tmp/no/such/dir/", &uiFree, &dwCode));
    EXPECT_EQ(1002u, dwCode);
}

// The agent's library (its stand-in here) wants room for the whole folder
// name and its terminator, 37 bytes.
TEST(AgentLibrary, ConfigDirNeedsItsWholeLength)
{
    char szDir[37];
    ASSERT_TRUE(tk::Write(std::string(tk::kConfigDir) + "x", ""));
    EXPECT_EQ(FALSE, GetClientAgentConfigDir(szDir, 36));
    EXPECT_EQ(TRUE, GetClientAgentConfigDir(szDir, 37));
    EXPECT_EQ(tk::kConfigDir, std::string(szDir));
}

// The minute and hour of the service-pack line at the hour's and the day's
// end; the lines themselves are the system tests'.
TEST(Cron, ServicePackRunTime)
{
    const int times[][4] = {
        {14, 5, 7, 14}, {23, 57, 59, 23}, {14, 58, 2, 15}, {14, 59, 2, 15}, {23, 58, 2, 0}};
    for (const auto& t : times) // hour, minute -> minute, hour
    {
        int iMinute = -1, iHour = -1;
        ComputeServicePackRunTime(t[0], t[1], &iMinute, &iHour);
        EXPECT_EQ(std::to_string(t[2]) + " " + std::to_string(t[3]),
                  std::to_string(iMinute) + " " + std::to_string(iHour));
    }
}

// What reaches the caller of a flow: the verification's and the readers'
// codes pass through (their tables above), a null argument is refused, and
// the download wrapper's own codes.
TEST(Flow, CodesReachTheCaller)
{
    const DWORD kNone = 12345;
    char szRefused[260] = "http://127.0.0.1:1/x", szPath[260] = "/tmp/x";
    // A null argument: only the service-pack and minor flows store a code.
    const std::tuple<BOOLEAN (*)(char*, char*, char*, int, DWORD*), const char*, DWORD> nulls[] = {
        {InstallXEDASP, "InstallXEDASP", 570},
        {InstallMinUPG, "InstallMinUPG", 570},
        {DownloadAndInstallCA, "DownloadAndInstallCA", kNone},
        {InstallMajorUPG, "InstallMajorUPG", kNone}};
    for (const auto& [flow, label, dwExpected] : nulls)
    {
        DWORD dwCode = kNone;
        EXPECT_EQ(FALSE, flow(szRefused, nullptr, szPath, INSTALL_REQUEST_UPGRADE, &dwCode));
        EXPECT_EQ(dwExpected, dwCode) << label;
        EXPECT_EQ(std::string("E ") + label + "|Invalid Parameter", tk::Trace().back());
    }
    // The source refused and no cron to be found (pidof and service fail):
    // the manifest's URLs, and for the service pack its path, are left in the
    // caller's buffers; the major upgrade stops at the cron check.
    ASSERT_TRUE(tk::Write("/tmp/shim/pidof", "exit 1") && tk::Write("/tmp/shim/service", "exit 1"));
    ASSERT_EQ(0, std::system("chmod +x /tmp/shim/*") +
                     setenv("PATH", "/tmp/shim:/usr/sbin:/usr/bin:/sbin:/bin", 1));
    const std::tuple<BOOLEAN (*)(char*, char*, char*, int, DWORD*), std::string, DWORD> refused[] =
        {{InstallXEDASP, "capatch.ini", 581},
         {DownloadAndInstallCA, "linuxupgrade.ini", 581},
         {InstallMajorUPG, "linuxupgrade.ini", 608}};
    for (const auto& [flow, manifest, dwExpected] : refused)
    {
        char szUrl1[260] = "http://127.0.0.1:1/a", szUrl2[260] = "http://127.0.0.1:1/b",
             szModule[260] = "/tmp/module/";
        const int kind =
            flow == InstallXEDASP ? INSTALL_REQUEST_SERVICE_PACK : INSTALL_REQUEST_UPGRADE;
        DWORD dwCode = 0;
        EXPECT_EQ(FALSE, flow(szUrl1, szUrl2, szModule, kind, &dwCode));
        EXPECT_EQ(dwExpected, dwCode) << manifest;
        EXPECT_EQ("http://127.0.0.1:1/a/" + manifest, szUrl1);
        EXPECT_EQ("http://127.0.0.1:1/b/" + manifest, szUrl2);
        EXPECT_EQ(flow == InstallXEDASP ? "/tmp/module/" + manifest : "/tmp/module/", szModule);
    }
    // A package neither tar nor the shell retry can extract: the code is the
    // errno whose text the trace gives.
    ASSERT_TRUE(tk::Servers({"start-nginx"}) && tk::Write("/tmp/shim/pidof", "exit 0") &&
                tk::Write("/tmp/module/x", "") &&
                tk::Publish({"--kind", "ca", "--name", "p.tgz", "--garbage", "600"}));
    char szUrl[260] = "http://127.0.0.1:8080", szUrl2[260] = "http://127.0.0.3:8080",
         szModule[260] = "/tmp/module/";
    DWORD dwCode = kNone;
    EXPECT_EQ(FALSE, InstallMajorUPG(szUrl, szUrl2, szModule, INSTALL_REQUEST_UPGRADE, &dwCode));
    EXPECT_EQ("E extraction is failed with error %s|" + std::string(strerror(int(dwCode))),
              tk::Trace().back());
    EXPECT_EQ(FALSE, DownloadXEDASPServicePack(nullptr, szRefused, szPath, &dwCode));
    EXPECT_EQ(580u, dwCode);
    EXPECT_EQ(FALSE, DownloadXEDASPServicePack(szRefused, szRefused, szPath, &dwCode));
    EXPECT_EQ(581u, dwCode);
}

// The child's wait status comes back (the system tests see tar's); a
// program that cannot start ends its child with 127.
TEST(Process, AProgramThatCannotStartEndsWith127)
{
    char* const argv[] = {const_cast<char*>("/no/such/program"), nullptr};
    EXPECT_EQ(127, WEXITSTATUS(RunChildAndWait(argv[0], argv, {})));
}
} // namespace
