// Free space, file length and package verification against known answers
// from statvfs, md5sum and Python's zlib.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "installer_test_util.h"
#include "xedasvpk.h"

using insttest::Error;
using insttest::Info;
using insttest::ReadTrace;
using insttest::TraceLine;

namespace
{
const char kCheck[] = "CheckFileConsistency";
const char kSpace[] = "GetDiskFreeSpace";
const char kPackage[] = "/var/tmp/package.bin";

TEST(GetFileLength, ReportsSizeOrMinusOne)
{
    const std::string strDir = "/tmp/" + std::string(200, 'd');
    const std::string strLong = strDir + "/" + std::string(60, 'f'); // 266 characters
    ASSERT_EQ(0, mkdir(strDir.c_str(), 0755));
    ASSERT_TRUE(insttest::WriteFile(strLong, "abc"));
    ASSERT_TRUE(insttest::WriteFile("/tmp/empty", ""));
    ASSERT_TRUE(insttest::WriteFile("/tmp/k1025", std::string(1025, 'k')));
    EXPECT_EQ(0, GetFileLength("/tmp/empty"));
    EXPECT_EQ(1025, GetFileLength("/tmp/k1025"));
    EXPECT_EQ(-1, GetFileLength("/tmp/no-such-file"));
    EXPECT_EQ(-1, GetFileLength(nullptr));
    EXPECT_EQ(-1, GetFileLength(strLong.c_str())); // does not fit the path buffer
}

TEST(GetDiskFreeSpace, ReportsBlocksAvailableToUsersTimesBlockSize)
{
    // An ext4 file system with half its blocks reserved for root tells the
    // blocks an ordinary user may fill (f_bavail) from all free blocks.
    ASSERT_EQ(0, mkdir("/tmp/reserved", 0755));
    if (std::system("truncate -s 8M /tmp/ext4.img && mkfs.ext4 -q -F -m 50 /tmp/ext4.img && "
                    "mount -o loop /tmp/ext4.img /tmp/reserved") != 0)
        GTEST_SKIP() << "no loop device or mkfs.ext4 on this machine";
    struct statvfs fs;
    ASSERT_EQ(0, statvfs("/tmp/reserved/", &fs));
    ASSERT_LT(fs.f_bavail, fs.f_bfree) << "the reserve must make the two differ";
    uint64_t uiFree = 1;
    DWORD dwError = 99;
    insttest::ClearTrace();
    ASSERT_EQ(TRUE, GetDiskFreeSpace("/tmp/reserved/", &uiFree, &dwError));
    EXPECT_EQ(static_cast<uint64_t>(fs.f_bavail) * fs.f_bsize, uiFree);
    EXPECT_EQ(0u, dwError);
    EXPECT_EQ((std::vector<TraceLine>{Info(kSpace, "Entry"), Info(kSpace, "free space"), Info(kSpace, "EXIT")}),
              ReadTrace());
    EXPECT_EQ(0, umount("/tmp/reserved"));
}

TEST(GetDiskFreeSpace, MissingPathIs1002FullFileSystemIsZeroWith1005NullStoresNothing)
{
    ASSERT_EQ(0, mkdir("/tmp/full", 0755));
    ASSERT_EQ(0, mount("tmpfs", "/tmp/full", "tmpfs", 0, "size=64k"));
    // Filling it ends in dd's own "no space" failure, which is the point.
    (void)std::system("dd if=/dev/zero of=/tmp/full/fill bs=4k > /dev/null 2>&1");
    const struct
    {
        const char* pcszPath;
        BOOLEAN bResult;
        DWORD dwCode;
        const char* pcszTrace;
    } cases[] = {{"/var/tmp/no/such/dir/", FALSE, 1002, "Invalid Path"}, {"/tmp/full/", TRUE, 1005, "No free space"}};
    for (const auto& c : cases)
    {
        uint64_t uiFree = 5;
        DWORD dwError = 99;
        EXPECT_EQ(c.bResult, GetDiskFreeSpace(c.pcszPath, &uiFree, &dwError)) << c.pcszPath;
        EXPECT_EQ(0u, uiFree) << c.pcszPath;
        EXPECT_EQ(c.dwCode, dwError) << c.pcszPath;
        EXPECT_EQ(Error(kSpace, c.pcszTrace), ReadTrace().back()) << c.pcszPath;
    }
    EXPECT_EQ(0, umount("/tmp/full"));
    uint64_t uiFree = 5;
    DWORD dwError = 99;
    EXPECT_EQ(FALSE, GetDiskFreeSpace(nullptr, &uiFree, &dwError));
    EXPECT_EQ(FALSE, GetDiskFreeSpace("/var/tmp/", nullptr, &dwError));
    EXPECT_EQ(FALSE, GetDiskFreeSpace("/var/tmp/", &uiFree, nullptr));
    EXPECT_EQ(99u, dwError);
    EXPECT_EQ(Error(kSpace, "Invalid Parameter"), ReadTrace().back());
}

// Writes the package and returns the record a correct manifest would carry,
// from independent tools.
XEDA_SVPK_INFO RecordFor(const std::string& strContent)
{
    EXPECT_TRUE(insttest::WriteFile(kPackage, strContent));
    XEDA_SVPK_INFO info{};
    info.dwFileLength = static_cast<DWORD>(strContent.size());
    info.dwCRC32 = static_cast<DWORD>(insttest::ZlibCrcAfterFourBytes(kPackage));
    std::strncpy(info.szMD5CheckSumString, insttest::Md5sumOf(kPackage).c_str(), 32);
    insttest::ClearTrace();
    return info;
}

TEST(CheckFileConsistency, MatchingPackagesPass)
{
    std::string strBig; // several read chunks and an odd tail
    for (int i = 0; strBig.size() < 300 * 1024 + 17; ++i)
        strBig += std::to_string(i * 7919) + ",";
    const struct
    {
        const char* pcszName;
        std::string strContent;
        bool bUpperCaseHash;
    } cases[] = {
        {"plain", "some package content, longer than four bytes", false},
        {"upper-case hash", "upper case hash", true},
        {"chunked", strBig, false},
        {"digest starting with byte 0x04", "xeda-41", false},
        {"checksum 0 of a tiny file", "abc", false},
    };
    for (const auto& c : cases)
    {
        XEDA_SVPK_INFO info = RecordFor(c.strContent);
        const std::string strMd5 = info.szMD5CheckSumString;
        for (char* p = info.szMD5CheckSumString; c.bUpperCaseHash && *p != '\0'; ++p)
            *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        DWORD dwError = 42;
        ASSERT_EQ(TRUE, CheckFileConsistency(kPackage, &info, &dwError)) << c.pcszName;
        EXPECT_EQ(42u, dwError);
        const std::string strLen = std::to_string(info.dwFileLength);
        const std::string strCrc = std::to_string(info.dwCRC32);
        const std::string strIniMd5 = info.szMD5CheckSumString;
        EXPECT_EQ((std::vector<TraceLine>{
                      Info(kCheck, "start."),
                      Info(kCheck, "File length INI (" + strLen + "), From file (" + strLen + ")"),
                      Info(kCheck, "Checksum INI (" + strCrc + "), From file (" + strCrc + ")"),
                      Info(kCheck, "MD5 ini hash(" + strIniMd5 + ") Hash= (" + strMd5 + ")"), Info(kCheck, "end.")}),
                  ReadTrace())
            << c.pcszName;
    }
    EXPECT_EQ('0', RecordFor("xeda-41").szMD5CheckSumString[0]);
    EXPECT_EQ(0u, RecordFor("abc").dwCRC32);
}

// Each mismatch stops at its own step, with the manifest's value first.
TEST(CheckFileConsistency, MismatchesStoreTheirCodes)
{
    const struct
    {
        const char* pcszName;
        void (*spoil)(XEDA_SVPK_INFO&);
        DWORD dwCode;
        const char* pcszLengthFromFile; // length steps only
    } cases[] = {
        {"length", [](XEDA_SVPK_INFO& i) { i.dwFileLength = 1024; }, 603, "1025"},
        {"vanished file", [](XEDA_SVPK_INFO&) { ASSERT_EQ(0, unlink(kPackage)); }, 603, "4294967295"},
        {"crc", [](XEDA_SVPK_INFO& i) { i.dwCRC32 ^= 1; }, 605, nullptr},
        {"md5", [](XEDA_SVPK_INFO& i) { i.szMD5CheckSumString[31] ^= 1; }, 607, nullptr},
        {"md5 of 31 characters", [](XEDA_SVPK_INFO& i) { i.szMD5CheckSumString[31] = '\0'; }, 607, nullptr},
        {"md5 with directives", [](XEDA_SVPK_INFO& i) { std::strcpy(i.szMD5CheckSumString, "%s%n%x%d"); }, 607,
         nullptr},
    };
    for (const auto& c : cases)
    {
        const XEDA_SVPK_INFO good = RecordFor(std::string(1025, 'x'));
        XEDA_SVPK_INFO info = good;
        c.spoil(info);
        DWORD dwError = 0;
        EXPECT_EQ(FALSE, CheckFileConsistency(kPackage, &info, &dwError)) << c.pcszName;
        EXPECT_EQ(c.dwCode, dwError) << c.pcszName;
        // start., then one INFO line for each step passed, then the ERROR.
        const std::vector<TraceLine> vTrace = ReadTrace();
        ASSERT_EQ(c.dwCode == 603 ? 2u : c.dwCode == 605 ? 3u : 4u, vTrace.size()) << c.pcszName;
        const std::string strMessage =
            c.dwCode == 603 ? "File length mismatch In INI (" + std::to_string(info.dwFileLength) +
                                  "), From file (" + c.pcszLengthFromFile + ")"
            : c.dwCode == 605 ? "Checksum mismatch In INI (" + std::to_string(info.dwCRC32) + "), From file (" +
                                    std::to_string(good.dwCRC32) + ")"
                              : std::string("MD5 mismatch In INI (") + info.szMD5CheckSumString +
                                    "), From file (" + good.szMD5CheckSumString + ")";
        EXPECT_EQ(Error(kCheck, strMessage), vTrace.back()) << c.pcszName;
    }
}

TEST(CheckFileConsistency, NullArguments)
{
    XEDA_SVPK_INFO info{};
    DWORD dwError = 9;
    EXPECT_EQ(FALSE, CheckFileConsistency(kPackage, &info, nullptr));
    EXPECT_EQ(Error(kCheck, "NULL error code."), ReadTrace().back());
    EXPECT_EQ(FALSE, CheckFileConsistency(nullptr, &info, &dwError));
    EXPECT_EQ(601u, dwError);
    dwError = 9;
    EXPECT_EQ(FALSE, CheckFileConsistency(kPackage, nullptr, &dwError));
    EXPECT_EQ(601u, dwError);
    EXPECT_EQ(Error(kCheck, "Invalid Parameters."), ReadTrace().back());
}
} // namespace
