// The three manifest readers: what lands in the record, which code is stored
// and which traces (label, level, text) each one writes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "installer_test_util.h"
#include "xedasvpk.h"

using insttest::Error;
using insttest::Info;
using insttest::ReadTrace;
using insttest::TraceLine;

namespace
{
const char kManifest[] = "/tmp/manifest.ini";
const char kHash32[] = "0123456789abcdef0123456789ABCDEF";

// One reader seen through the upgrade record, so the cases run for all three.
struct READER
{
    const char* pcszName;
    const char* pcszSection;
    std::function<BOOLEAN(const char*, const char*, XEDA_UPGRADE_INFO*, DWORD*)> read;
    bool bNameInSvPk; // the service-pack record keeps its own name
    const char* pcszLabel;
    const char* pcszInvalidLabel;
    const char* pcszNameLabel;
    const char* pcszTailLabel;
    const char* pcszHashLabel;
    std::vector<TraceLine> vExtraAfterName;
};

const READER g_Readers[] = {
    {"ServicePack", "service_pack_linux",
     [](const char* f, const char* k, XEDA_UPGRADE_INFO* p, DWORD* e) {
         return GetServicePackInfo(f, k, p != nullptr ? &p->XedaSvPkInfo : nullptr, e);
     },
     true, "GetServicePackName", "GetServicePackName", "GetServicePackName:", "GetServicePackName",
     "GetServicePackName szMD5:", {}},
    {"MinorUpgrade", "minor_upg_pack_linux", GetMinorUpgradePackInfo, false,
     "GetMinorUpgradePackName", "GetMinorUpgradeName", "GetServicePackName:", "GetServicePackName",
     "GetServicePackName szMD5:", {}},
    {"ClientAgent", "minor_upg_ca_pack_linux", GetMinorUpgradeCAPackInfo, false,
     "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName:",
     "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName szMD5:",
     {Info("GetMinorUpgradeCaPackName", "Exit")}},
};

class ManifestReaderTest : public ::testing::TestWithParam<READER>
{
protected:
    void SetUp() override { insttest::ClearTrace(); }

    const READER& Reader() const { return GetParam(); }

    // A section of the reader's own kind holding the given lines.
    void WriteSection(const std::string& strLines)
    {
        ASSERT_TRUE(insttest::WriteFile(kManifest, std::string("[") + Reader().pcszSection + "]\n" +
                                                       strLines));
    }

    BOOLEAN Read(DWORD* pdwError) { return Reader().read(kManifest, "file_64", &m_record, pdwError); }

    const char* Name() const
    {
        return Reader().bNameInSvPk ? m_record.XedaSvPkInfo.szServicePackName : m_record.szAppName;
    }

    XEDA_UPGRADE_INFO m_record{};
};

std::string Keys(const std::string& strLength, const std::string& strCrc, const std::string& strHash)
{
    return "file_64=pkg.tar.gz\nfilelength_64=" + strLength + "\nchecksum1_64=" + strCrc +
           "\nchecksum2_64=" + strHash + "\n";
}

TEST_P(ManifestReaderTest, CompleteSectionFillsTheRecordAndTracesEachValue)
{
    WriteSection(Keys("1024", "77", kHash32));
    DWORD dwError = 12345;
    ASSERT_EQ(TRUE, Read(&dwError));
    EXPECT_EQ(12345u, dwError);
    EXPECT_STREQ("pkg.tar.gz", Name());
    EXPECT_EQ(1024u, m_record.XedaSvPkInfo.dwFileLength);
    EXPECT_EQ(77u, m_record.XedaSvPkInfo.dwCRC32);
    EXPECT_STREQ(kHash32, m_record.XedaSvPkInfo.szMD5CheckSumString);

    std::vector<TraceLine> vExpected = {Info(Reader().pcszLabel, "start."),
                                        Info(Reader().pcszNameLabel, "pkg.tar.gz")};
    vExpected.insert(vExpected.end(), Reader().vExtraAfterName.begin(),
                     Reader().vExtraAfterName.end());
    vExpected.insert(vExpected.end(), {Info("GetServicePackName dwlength:", "1024"),
                                       Info("GetServicePackName dwCRC32:", "77"),
                                       Info(Reader().pcszHashLabel, kHash32),
                                       Info(Reader().pcszTailLabel, "Exit")});
    EXPECT_EQ(vExpected, ReadTrace());
}

TEST_P(ManifestReaderTest, NumbersAreDecimalAndStopAtTheFirstNonDigit)
{
    const struct
    {
        const char* pcszLength;
        const char* pcszCrc;
        DWORD dwLength, dwCrc;
    } cases[] = {
        {"0x400", "12ab", 0, 12},                  // only the leading 0 of 0x400 is a number
        {"abc", "x1", 0, 0},                       // no digits: the cleared field stays
        {"4294967295", "007", 4294967295u, 7},
    };
    for (const auto& c : cases)
    {
        insttest::ClearTrace();
        m_record = XEDA_UPGRADE_INFO{};
        WriteSection(Keys(c.pcszLength, c.pcszCrc, kHash32));
        DWORD dwError = 0;
        ASSERT_EQ(TRUE, Read(&dwError)) << c.pcszLength;
        EXPECT_EQ(c.dwLength, m_record.XedaSvPkInfo.dwFileLength) << c.pcszLength;
        EXPECT_EQ(c.dwCrc, m_record.XedaSvPkInfo.dwCRC32) << c.pcszCrc;
        // The trace shows the text as read, not the number.
        EXPECT_TRUE(insttest::HasTrace(ReadTrace(), Info("GetServicePackName dwlength:", c.pcszLength)));
    }
}

TEST_P(ManifestReaderTest, HashIsCutToThirtyTwoCharacters)
{
    struct
    {
        std::string strValue;
        std::string strStored;
    } const cases[] = {
        {"0123456789abcdef0123456789abcdef01234567", "0123456789abcdef0123456789abcdef"},
        {"0123456789abcdef0123456789abcde", "0123456789abcdef0123456789abcde"},
    };
    for (const auto& c : cases)
    {
        m_record = XEDA_UPGRADE_INFO{};
        WriteSection(Keys("1", "2", c.strValue));
        DWORD dwError = 0;
        ASSERT_EQ(TRUE, Read(&dwError)) << c.strValue;
        EXPECT_EQ(c.strStored, m_record.XedaSvPkInfo.szMD5CheckSumString);
    }
}

TEST_P(ManifestReaderTest, EachUnreadableKeyFailsWith591AndKeepsWhatWasRead)
{
    struct
    {
        std::string strLines;
        TraceLine failure;
        const char* pcszName;
        DWORD dwLength;
    } const cases[] = {
        {"filelength_64=5\n", Error(Reader().pcszLabel, "failed"), "", 0},
        {"file_64=a.tgz\nchecksum1_64=1\n", Error(Reader().pcszTailLabel, "SP length failed"), "a.tgz",
         0},
        {"file_64=a.tgz\nfilelength_64=5\nchecksum2_64=abc\n",
         Error(Reader().pcszTailLabel, "CRC32 failed"), "a.tgz", 5},
        // An empty value reads like a missing key.
        {"file_64=a.tgz\nfilelength_64=5\nchecksum1_64=9\nchecksum2_64=\n",
         Error(Reader().pcszTailLabel, "Md5sum failed"), "a.tgz", 5},
    };
    for (const auto& c : cases)
    {
        insttest::ClearTrace();
        m_record = XEDA_UPGRADE_INFO{};
        WriteSection(c.strLines);
        DWORD dwError = 0;
        EXPECT_EQ(FALSE, Read(&dwError)) << c.strLines;
        EXPECT_EQ(591u, dwError) << c.strLines;
        EXPECT_STREQ(c.pcszName, Name()) << c.strLines;
        EXPECT_EQ(c.dwLength, m_record.XedaSvPkInfo.dwFileLength) << c.strLines;
        const std::vector<TraceLine> vTrace = ReadTrace();
        ASSERT_FALSE(vTrace.empty());
        EXPECT_EQ(c.failure, vTrace.back()) << c.strLines;
        EXPECT_FALSE(insttest::HasTrace(vTrace, Info(Reader().pcszTailLabel, "Exit"))) << c.strLines;
    }
}

TEST_P(ManifestReaderTest, OtherSectionOrMissingFileFailsOnTheName)
{
    ASSERT_TRUE(insttest::WriteFile(kManifest, "[some_other_section]\n" + Keys("1", "2", kHash32)));
    DWORD dwError = 0;
    EXPECT_EQ(FALSE, Read(&dwError));
    EXPECT_EQ(591u, dwError);

    dwError = 0;
    EXPECT_EQ(FALSE, Reader().read("/tmp/no-such-manifest.ini", "file_64", &m_record, &dwError));
    EXPECT_EQ(591u, dwError);
    EXPECT_EQ(Error(Reader().pcszLabel, "failed"), ReadTrace().back());
}

TEST_P(ManifestReaderTest, NullPointersAreRefused)
{
    WriteSection(Keys("1", "2", kHash32));
    DWORD dwError = 7;
    EXPECT_EQ(FALSE, Reader().read(kManifest, "file_64", &m_record, nullptr));
    EXPECT_EQ(Error(Reader().pcszLabel, "pdwErrorCode is NULL."), ReadTrace().back());

    const struct
    {
        const char* pcszFile;
        const char* pcszKey;
        XEDA_UPGRADE_INFO* pRecord;
    } cases[] = {{nullptr, "file_64", &m_record}, {kManifest, nullptr, &m_record},
                 {kManifest, "file_64", nullptr}};
    for (const auto& c : cases)
    {
        dwError = 7;
        EXPECT_EQ(FALSE, Reader().read(c.pcszFile, c.pcszKey, c.pRecord, &dwError));
        EXPECT_EQ(590u, dwError);
        EXPECT_EQ(Error(Reader().pcszInvalidLabel, "Invalid Parameters."), ReadTrace().back());
    }
    EXPECT_STREQ("", Name());
}

TEST_P(ManifestReaderTest, PercentSignsInValuesArePrintedLiterally)
{
    WriteSection("file_64=p%s%n%d%%.tgz\nfilelength_64=3%n\nchecksum1_64=4%s\nchecksum2_64=%x%s%n\n");
    DWORD dwError = 0;
    ASSERT_EQ(TRUE, Read(&dwError));
    EXPECT_STREQ("p%s%n%d%%.tgz", Name());
    const std::vector<TraceLine> vTrace = ReadTrace();
    EXPECT_TRUE(insttest::HasTrace(vTrace, Info(Reader().pcszNameLabel, "p%s%n%d%%.tgz")));
    EXPECT_TRUE(insttest::HasTrace(vTrace, Info("GetServicePackName dwlength:", "3%n")));
    EXPECT_TRUE(insttest::HasTrace(vTrace, Info("GetServicePackName dwCRC32:", "4%s")));
    EXPECT_TRUE(insttest::HasTrace(vTrace, Info(Reader().pcszHashLabel, "%x%s%n")));
}

INSTANTIATE_TEST_SUITE_P(AllReaders, ManifestReaderTest, ::testing::ValuesIn(g_Readers),
                         [](const ::testing::TestParamInfo<READER>& info) {
                             return std::string(info.param.pcszName);
                         });

TEST(ManifestReaderSections, AReaderFindsOnlyItsOwnSection)
{
    ASSERT_TRUE(insttest::WriteFile(kManifest, "[minor_upg_pack_linux]\n" + Keys("1", "2", kHash32)));
    XEDA_SVPK_INFO info{};
    XEDA_UPGRADE_INFO upgrade{};
    DWORD dwError = 0;
    EXPECT_EQ(FALSE, GetServicePackInfo(kManifest, "file_64", &info, &dwError));
    EXPECT_EQ(591u, dwError);
    EXPECT_EQ(FALSE, GetMinorUpgradeCAPackInfo(kManifest, "file_64", &upgrade, &dwError));
    dwError = 0;
    EXPECT_EQ(TRUE, GetMinorUpgradePackInfo(kManifest, "file_64", &upgrade, &dwError));
    EXPECT_EQ(0u, dwError);
    EXPECT_STREQ("", upgrade.XedaSvPkInfo.szServicePackName);
}
} // namespace
