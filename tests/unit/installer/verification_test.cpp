// Free space, file length and package verification against known answers
// from statvfs, md5sum and Python's zlib.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

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

// ---- GetFileLength ----------------------------------------------------------------

TEST(GetFileLength, ReportsSizeOrMinusOne)
{
    ASSERT_TRUE(insttest::WriteFile("/tmp/empty", ""));
    ASSERT_TRUE(insttest::WriteFile("/tmp/k1025", std::string(1025, 'k')));
    EXPECT_EQ(0, GetFileLength("/tmp/empty"));
    EXPECT_EQ(1025, GetFileLength("/tmp/k1025"));
    EXPECT_EQ(-1, GetFileLength("/tmp/no-such-file"));
    EXPECT_EQ(-1, GetFileLength(nullptr));
}

TEST(GetFileLength, PathThatDoesNotFitTheBufferIsMinusOne)
{
    const std::string strDir = "/tmp/" + std::string(200, 'd');
    ASSERT_EQ(0, mkdir(strDir.c_str(), 0755));
    const std::string strFile = strDir + "/" + std::string(60, 'f'); // 266 characters
    ASSERT_TRUE(insttest::WriteFile(strFile, "abc"));
    EXPECT_EQ(-1, GetFileLength(strFile.c_str()));
}

// ---- GetDiskFreeSpace -----------------------------------------------------------------

TEST(GetDiskFreeSpace, ReportsBlocksAvailableToUsersTimesBlockSize)
{
    struct statvfs fs;
    ASSERT_EQ(0, statvfs("/var/tmp/", &fs));
    uint64_t uiFree = 1;
    DWORD dwError = 99;
    insttest::ClearTrace();
    ASSERT_EQ(TRUE, GetDiskFreeSpace("/var/tmp/", &uiFree, &dwError));
    EXPECT_EQ(static_cast<uint64_t>(fs.f_bavail) * fs.f_bsize, uiFree);
    EXPECT_EQ(0u, dwError);
    EXPECT_EQ((std::vector<TraceLine>{Info(kSpace, "Entry"), Info(kSpace, "free space"),
                                      Info(kSpace, "EXIT")}),
              ReadTrace());
}

TEST(GetDiskFreeSpace, MissingPathIs1002AndNullArgumentsStoreNothing)
{
    uint64_t uiFree = 5;
    DWORD dwError = 99;
    insttest::ClearTrace();
    EXPECT_EQ(FALSE, GetDiskFreeSpace("/var/tmp/no/such/dir/", &uiFree, &dwError));
    EXPECT_EQ(1002u, dwError);
    EXPECT_EQ(0u, uiFree);
    EXPECT_EQ(Error(kSpace, "Invalid Path"), ReadTrace().back());

    dwError = 99;
    EXPECT_EQ(FALSE, GetDiskFreeSpace(nullptr, &uiFree, &dwError));
    EXPECT_EQ(FALSE, GetDiskFreeSpace("/var/tmp/", nullptr, &dwError));
    EXPECT_EQ(FALSE, GetDiskFreeSpace("/var/tmp/", &uiFree, nullptr));
    EXPECT_EQ(99u, dwError);
    EXPECT_EQ(Error(kSpace, "Invalid Parameter"), ReadTrace().back());
}

TEST(GetDiskFreeSpace, FullFileSystemIsASuccessfulQueryOfZeroWith1005)
{
    const char kMount[] = "/tmp/full";
    ASSERT_EQ(0, mkdir(kMount, 0755));
    ASSERT_EQ(0, mount("tmpfs", kMount, "tmpfs", 0, "size=64k"));
    // Fill it: the shell's own error for the full disk is expected.
    (void)std::system("dd if=/dev/zero of=/tmp/full/fill bs=4k > /dev/null 2>&1");
    uint64_t uiFree = 5;
    DWORD dwError = 99;
    insttest::ClearTrace();
    EXPECT_EQ(TRUE, GetDiskFreeSpace("/tmp/full/", &uiFree, &dwError));
    EXPECT_EQ(0u, uiFree);
    EXPECT_EQ(1005u, dwError);
    EXPECT_EQ(Error(kSpace, "No free space"), ReadTrace().back());
    EXPECT_EQ(0, umount(kMount));
}

// ---- CheckFileConsistency ---------------------------------------------------------------

class CheckFileConsistencyTest : public ::testing::Test
{
protected:
    const std::string m_strFile = "/var/tmp/package.bin";

    void SetUp() override { insttest::ClearTrace(); }

    // The record a correct manifest would carry, from independent tools.
    XEDA_SVPK_INFO RecordFor(const std::string& strContent)
    {
        EXPECT_TRUE(insttest::WriteFile(m_strFile, strContent));
        XEDA_SVPK_INFO info{};
        info.dwFileLength = static_cast<DWORD>(strContent.size());
        info.dwCRC32 = static_cast<DWORD>(insttest::ZlibCrcAfterFourBytes(m_strFile));
        const std::string strMd5 = insttest::Md5sumOf(m_strFile);
        EXPECT_EQ(32u, strMd5.size());
        std::strncpy(info.szMD5CheckSumString, strMd5.c_str(), 32);
        return info;
    }
};

std::string Upper(std::string strText)
{
    for (char& c : strText)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return strText;
}

TEST_F(CheckFileConsistencyTest, MatchingPackagePassesWithTheSuccessTraces)
{
    const XEDA_SVPK_INFO info = RecordFor("some package content, longer than four bytes");
    DWORD dwError = 42;
    ASSERT_EQ(TRUE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError));
    EXPECT_EQ(42u, dwError);
    const std::string strLen = std::to_string(info.dwFileLength);
    const std::string strCrc = std::to_string(info.dwCRC32);
    const std::string strMd5 = info.szMD5CheckSumString;
    EXPECT_EQ((std::vector<TraceLine>{
                  Info(kCheck, "start."),
                  Info(kCheck, "File length INI (" + strLen + "), From file (" + strLen + ")"),
                  Info(kCheck, "Checksum INI (" + strCrc + "), From file (" + strCrc + ")"),
                  Info(kCheck, "MD5 ini hash(" + strMd5 + ") Hash= (" + strMd5 + ")"),
                  Info(kCheck, "end.")}),
              ReadTrace());
}

TEST_F(CheckFileConsistencyTest, ContentIsHashedWholeInChunks)
{
    // Several read chunks and an odd tail: the digest must equal md5sum's.
    std::string strContent;
    for (int i = 0; strContent.size() < 300 * 1024 + 17; ++i)
        strContent += std::to_string(i * 7919) + ",";
    const XEDA_SVPK_INFO info = RecordFor(strContent);
    DWORD dwError = 0;
    EXPECT_EQ(TRUE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError));
}

TEST_F(CheckFileConsistencyTest, EveryDigestByteGivesTwoDigits)
{
    // md5("xeda-41") begins with the byte 0x04.
    const XEDA_SVPK_INFO info = RecordFor("xeda-41");
    ASSERT_EQ('0', info.szMD5CheckSumString[0]);
    DWORD dwError = 0;
    EXPECT_EQ(TRUE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError));
}

TEST_F(CheckFileConsistencyTest, UpperCaseManifestHashMatches)
{
    XEDA_SVPK_INFO info = RecordFor("upper case hash");
    const std::string strUpper = Upper(info.szMD5CheckSumString);
    std::strncpy(info.szMD5CheckSumString, strUpper.c_str(), 32);
    DWORD dwError = 0;
    EXPECT_EQ(TRUE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError));
}

TEST_F(CheckFileConsistencyTest, LengthMismatchStopsBeforeTheChecksum)
{
    XEDA_SVPK_INFO info = RecordFor(std::string(1025, 'x'));
    info.dwFileLength = 1024;
    DWORD dwError = 0;
    EXPECT_EQ(FALSE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError));
    EXPECT_EQ(603u, dwError);
    EXPECT_EQ((std::vector<TraceLine>{
                  Info(kCheck, "start."),
                  Error(kCheck, "File length mismatch In INI (1024), From file (1025)")}),
              ReadTrace());
}

TEST_F(CheckFileConsistencyTest, MismatchesStoreTheirCodesWithManifestValueFirst)
{
    const XEDA_SVPK_INFO good = RecordFor("0123456789 package bytes");
    struct
    {
        const char* pcszName;
        void (*spoil)(XEDA_SVPK_INFO&);
        DWORD dwCode;
        std::string strTrace;
    } const cases[] = {
        {"crc", [](XEDA_SVPK_INFO& i) { i.dwCRC32 ^= 1; }, 605,
         "Checksum mismatch In INI (" + std::to_string(good.dwCRC32 ^ 1) + "), From file (" +
             std::to_string(good.dwCRC32) + ")"},
        {"md5", [](XEDA_SVPK_INFO& i) { i.szMD5CheckSumString[31] = i.szMD5CheckSumString[31] == '0' ? '1' : '0'; },
         607, ""},
        {"md5 of 31 characters", [](XEDA_SVPK_INFO& i) { i.szMD5CheckSumString[31] = '\0'; }, 607,
         ""},
    };
    for (const auto& c : cases)
    {
        insttest::ClearTrace();
        XEDA_SVPK_INFO info = good;
        c.spoil(info);
        DWORD dwError = 0;
        EXPECT_EQ(FALSE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError)) << c.pcszName;
        EXPECT_EQ(c.dwCode, dwError) << c.pcszName;
        const std::string strTrace =
            !c.strTrace.empty() ? c.strTrace
                                : std::string("MD5 mismatch In INI (") + info.szMD5CheckSumString +
                                      "), From file (" + good.szMD5CheckSumString + ")";
        EXPECT_EQ(Error(kCheck, strTrace), ReadTrace().back()) << c.pcszName;
    }
}

TEST_F(CheckFileConsistencyTest, VanishedFileReadsAsAllOnesLength)
{
    XEDA_SVPK_INFO info = RecordFor("gone");
    ASSERT_EQ(0, unlink(m_strFile.c_str()));
    DWORD dwError = 0;
    EXPECT_EQ(FALSE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError));
    EXPECT_EQ(603u, dwError);
    EXPECT_EQ(Error(kCheck, "File length mismatch In INI (4), From file (4294967295)"),
              ReadTrace().back());
}

TEST_F(CheckFileConsistencyTest, TinyFileHasChecksumZero)
{
    XEDA_SVPK_INFO info = RecordFor("abc");
    EXPECT_EQ(0u, info.dwCRC32);
    DWORD dwError = 0;
    EXPECT_EQ(TRUE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError));
}

TEST_F(CheckFileConsistencyTest, NullArguments)
{
    XEDA_SVPK_INFO info{};
    DWORD dwError = 9;
    EXPECT_EQ(FALSE, CheckFileConsistency(m_strFile.c_str(), &info, nullptr));
    EXPECT_EQ(Error(kCheck, "NULL error code."), ReadTrace().back());
    EXPECT_EQ(FALSE, CheckFileConsistency(nullptr, &info, &dwError));
    EXPECT_EQ(601u, dwError);
    dwError = 9;
    EXPECT_EQ(FALSE, CheckFileConsistency(m_strFile.c_str(), nullptr, &dwError));
    EXPECT_EQ(601u, dwError);
    EXPECT_EQ(Error(kCheck, "Invalid Parameters."), ReadTrace().back());
}

TEST_F(CheckFileConsistencyTest, PercentSignsInTheManifestHashArePrintedLiterally)
{
    XEDA_SVPK_INFO info = RecordFor("percent");
    std::strncpy(info.szMD5CheckSumString, "%s%n%x%d", sizeof(info.szMD5CheckSumString) - 1);
    DWORD dwError = 0;
    EXPECT_EQ(FALSE, CheckFileConsistency(m_strFile.c_str(), &info, &dwError));
    EXPECT_EQ(607u, dwError);
    EXPECT_EQ(Error(kCheck, "MD5 mismatch In INI (%s%n%x%d), From file (" +
                                insttest::Md5sumOf(m_strFile) + ")"),
              ReadTrace().back());
}
} // namespace
