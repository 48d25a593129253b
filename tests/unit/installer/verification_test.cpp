// Free space, file length and package verification against known answers
// from statvfs, md5sum and Python's zlib.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstring>

#include "installer_test_util.h"
#include "xedasvpk.h"

using namespace insttest;

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
    ASSERT_TRUE(WriteFile(strLong, "abc") && WriteFile("/tmp/empty", ""));
    EXPECT_EQ(0, GetFileLength("/tmp/empty"));
    EXPECT_EQ(-1, GetFileLength("/tmp/no-such-file"));
    EXPECT_EQ(-1, GetFileLength(nullptr));
    EXPECT_EQ(-1, GetFileLength(strLong.c_str())); // does not fit the path buffer
}

// Queries pcszPath and expects the size statvfs reports as f_bavail * f_bsize
// (0 where it fails), the code and the whole trace.
void ExpectFreeSpace(const char* pcszPath, BOOLEAN bResult, DWORD dwCode, const std::vector<TraceLine>& vTrace)
{
    SCOPED_TRACE(pcszPath);
    struct statvfs fs;
    const uint64_t uiExpected = statvfs(pcszPath, &fs) == 0 ? static_cast<uint64_t>(fs.f_bavail) * fs.f_bsize : 0;
    uint64_t uiFree = 5;
    DWORD dwError = 99;
    ClearTrace();
    EXPECT_EQ(bResult, GetDiskFreeSpace(pcszPath, &uiFree, &dwError));
    EXPECT_EQ(uiExpected, uiFree);
    EXPECT_EQ(dwCode, dwError);
    EXPECT_EQ(vTrace, ReadTrace());
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
    ExpectFreeSpace("/tmp/reserved/", TRUE, 0, {Info(kSpace, "Entry"), Info(kSpace, "free space"), Info(kSpace, "EXIT")});
    EXPECT_EQ(0, umount("/tmp/reserved"));
}

TEST(GetDiskFreeSpace, MissingPathIs1002NullStoresNothing)
{
    ExpectFreeSpace("/var/tmp/no/such/dir/", FALSE, 1002, {Info(kSpace, "Entry"), Error(kSpace, "Invalid Path")});
    DWORD dwError = 99;
    EXPECT_EQ(FALSE, GetDiskFreeSpace("/var/tmp/", nullptr, &dwError));
    EXPECT_EQ(99u, dwError);
    EXPECT_EQ(Error(kSpace, "Invalid Parameter"), LastTrace());
}

// Writes the package and returns the record a correct manifest carries.
XEDA_SVPK_INFO RecordFor(const std::string& strContent, const char* pcszMd5, DWORD dwCrc)
{
    EXPECT_TRUE(WriteFile(kPackage, strContent));
    XEDA_SVPK_INFO info{{}, static_cast<DWORD>(strContent.size()), dwCrc, {}};
    std::strncpy(info.szMD5CheckSumString, pcszMd5, 32);
    ClearTrace();
    return info;
}

// MD5 of the content and CRC-32 from its fifth byte on, by md5sum and
// Python's hashlib and zlib.
TEST(CheckFileConsistency, MatchingPackagesPass)
{
    std::string strBig; // several read chunks and an odd tail
    for (int i = 0; strBig.size() < 300 * 1024 + 17; ++i)
        strBig += std::to_string(i * 7919) + ",";
    const struct
    {
        std::string strContent;
        const char* pcszMd5; // as the manifest carries it
        DWORD dwCrc;
    } cases[] = {
        {"upper case hash", "140649396A99888FCC1077DC3A1CB57F", 1337950901},
        {strBig, "d29244abee26c032d55eed15250b566c", 4177876242u},
        {"xeda-41", "040e400881a01f6478dcad127b024aec", 622919532}, // a digest's leading zero
        {"abc", "900150983cd24fb0d6963f7d28e17f72", 0},             // nothing after the fourth byte
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pcszMd5);
        XEDA_SVPK_INFO info = RecordFor(c.strContent, c.pcszMd5, c.dwCrc);
        DWORD dwError = 42;
        ASSERT_EQ(TRUE, CheckFileConsistency(kPackage, &info, &dwError));
        EXPECT_EQ(42u, dwError);
        std::string strMd5 = c.pcszMd5, strLen = std::to_string(info.dwFileLength), strCrc = std::to_string(c.dwCrc);
        std::transform(strMd5.begin(), strMd5.end(), strMd5.begin(), ::tolower);
        EXPECT_EQ((std::vector<TraceLine>{
                      Info(kCheck, "start."),
                      Info(kCheck, "File length INI (" + strLen + "), From file (" + strLen + ")"),
                      Info(kCheck, "Checksum INI (" + strCrc + "), From file (" + strCrc + ")"),
                      Info(kCheck, "MD5 ini hash(" + std::string(c.pcszMd5) + ") Hash= (" + strMd5 + ")"),
                      Info(kCheck, "end.")}),
                  ReadTrace());
    }
}

// Each mismatch stops at its own step, with the manifest's value first.
TEST(CheckFileConsistency, MismatchesStoreTheirCodes)
{
    const struct
    {
        void (*spoil)(XEDA_SVPK_INFO&);
        DWORD dwCode;
        const char* pcszTrace;
    } cases[] = {
        {[](XEDA_SVPK_INFO& i) { i.dwFileLength = 1024; }, 603, "File length mismatch In INI (1024), From file (1025)"},
        {[](XEDA_SVPK_INFO&) { ASSERT_EQ(0, unlink(kPackage)); }, 603,
         "File length mismatch In INI (1025), From file (4294967295)"},
        {[](XEDA_SVPK_INFO& i) { i.dwCRC32 = 1; }, 605, "Checksum mismatch In INI (1), From file (1904830790)"},
        {[](XEDA_SVPK_INFO& i) { i.szMD5CheckSumString[31] = '2'; }, 607,
         "MD5 mismatch In INI (41b2b8ce59ecc0c64c9c7ecaae3002c2), From file (41b2b8ce59ecc0c64c9c7ecaae3002c3)"},
        {[](XEDA_SVPK_INFO& i) { i.szMD5CheckSumString[31] = '\0'; }, 607,
         "MD5 mismatch In INI (41b2b8ce59ecc0c64c9c7ecaae3002c), From file (41b2b8ce59ecc0c64c9c7ecaae3002c3)"},
        {[](XEDA_SVPK_INFO& i) { std::strcpy(i.szMD5CheckSumString, "%s%n%x%d"); }, 607,
         "MD5 mismatch In INI (%s%n%x%d), From file (41b2b8ce59ecc0c64c9c7ecaae3002c3)"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pcszTrace);
        XEDA_SVPK_INFO info = RecordFor(std::string(1025, 'x'), "41b2b8ce59ecc0c64c9c7ecaae3002c3", 1904830790);
        c.spoil(info);
        DWORD dwError = 0;
        EXPECT_EQ(FALSE, CheckFileConsistency(kPackage, &info, &dwError));
        EXPECT_EQ(c.dwCode, dwError);
        // start., then one INFO line for each step passed, then the ERROR.
        const std::vector<TraceLine> vTrace = ReadTrace();
        ASSERT_EQ(c.dwCode == 603 ? 2u : c.dwCode == 605 ? 3u : 4u, vTrace.size());
        EXPECT_EQ(Error(kCheck, c.pcszTrace), vTrace.back());
    }
    XEDA_SVPK_INFO info{};
    DWORD dwError = 9;
    EXPECT_EQ(FALSE, CheckFileConsistency(kPackage, &info, nullptr));
    EXPECT_EQ(Error(kCheck, "NULL error code."), LastTrace());
    EXPECT_EQ(FALSE, CheckFileConsistency(kPackage, nullptr, &dwError));
    EXPECT_EQ(601u, dwError);
    EXPECT_EQ(Error(kCheck, "Invalid Parameters."), LastTrace());
}
} // namespace
