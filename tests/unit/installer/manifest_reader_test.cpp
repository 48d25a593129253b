// The three manifest readers: what lands in the record, which code is stored
// and which traces (label, level, text) each one writes.
#include <gtest/gtest.h>

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
    const char* pcszOtherSection; // another reader's
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
    {"ServicePack", "service_pack_linux", "minor_upg_pack_linux",
     [](const char* f, const char* k, XEDA_UPGRADE_INFO* p, DWORD* e) {
         return GetServicePackInfo(f, k, p != nullptr ? &p->XedaSvPkInfo : nullptr, e);
     },
     true, "GetServicePackName", "GetServicePackName", "GetServicePackName:", "GetServicePackName",
     "GetServicePackName szMD5:", {}},
    {"MinorUpgrade", "minor_upg_pack_linux", "service_pack_linux", GetMinorUpgradePackInfo, false,
     "GetMinorUpgradePackName", "GetMinorUpgradeName", "GetServicePackName:", "GetServicePackName",
     "GetServicePackName szMD5:", {}},
    {"ClientAgent", "minor_upg_ca_pack_linux", "service_pack_linux", GetMinorUpgradeCAPackInfo, false,
     "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName:",
     "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName szMD5:",
     {Info("GetMinorUpgradeCaPackName", "Exit")}},
};

std::string Keys(const std::string& strLength, const std::string& strCrc, const std::string& strHash)
{
    return "file_64=pkg.tar.gz\nfilelength_64=" + strLength + "\nchecksum1_64=" + strCrc +
           "\nchecksum2_64=" + strHash + "\n";
}

class ManifestReaderTest : public ::testing::TestWithParam<READER>
{
protected:
    const READER& Reader() const { return GetParam(); }

    // Reads a manifest of the reader's own section holding strLines, into a
    // cleared record and a clear trace log.
    BOOLEAN Read(const std::string& strLines, DWORD* pdwError, const char* pcszSection = nullptr)
    {
        const std::string strSection = pcszSection != nullptr ? pcszSection : Reader().pcszSection;
        EXPECT_TRUE(insttest::WriteFile(kManifest, "[" + strSection + "]\n" + strLines));
        insttest::ClearTrace();
        m_record = XEDA_UPGRADE_INFO{};
        return Reader().read(kManifest, "file_64", &m_record, pdwError);
    }

    const char* Name() const
    {
        return Reader().bNameInSvPk ? m_record.XedaSvPkInfo.szServicePackName : m_record.szAppName;
    }

    XEDA_UPGRADE_INFO m_record{};
};

// Values from the downloaded file are traced as text, never as formats.
TEST_P(ManifestReaderTest, CompleteSectionFillsTheRecordAndTracesEachValueLiterally)
{
    DWORD dwError = 12345;
    ASSERT_EQ(TRUE, Read("file_64=p%s%n%d.tgz\nfilelength_64=1024\nchecksum1_64=77%n\nchecksum2_64=" +
                             std::string(kHash32) + "\n",
                         &dwError));
    EXPECT_EQ(12345u, dwError);
    EXPECT_STREQ("p%s%n%d.tgz", Name());
    if (!Reader().bNameInSvPk)
    {
        EXPECT_STREQ("", m_record.XedaSvPkInfo.szServicePackName);
    }
    EXPECT_EQ(1024u, m_record.XedaSvPkInfo.dwFileLength);
    EXPECT_EQ(77u, m_record.XedaSvPkInfo.dwCRC32);
    EXPECT_STREQ(kHash32, m_record.XedaSvPkInfo.szMD5CheckSumString);

    std::vector<TraceLine> vExpected = {Info(Reader().pcszLabel, "start."),
                                        Info(Reader().pcszNameLabel, "p%s%n%d.tgz")};
    vExpected.insert(vExpected.end(), Reader().vExtraAfterName.begin(), Reader().vExtraAfterName.end());
    vExpected.insert(vExpected.end(),
                     {Info("GetServicePackName dwlength:", "1024"), Info("GetServicePackName dwCRC32:", "77%n"),
                      Info(Reader().pcszHashLabel, kHash32), Info(Reader().pcszTailLabel, "Exit")});
    EXPECT_EQ(vExpected, ReadTrace());
}

// Numbers are decimal up to the first non-digit; the hash keeps 32 characters.
TEST_P(ManifestReaderTest, ValuesAreStoredAsParsed)
{
    const std::string str40 = "0123456789abcdef0123456789abcdef01234567";
    const std::string str31 = "0123456789abcdef0123456789abcde";
    const struct
    {
        const char *pcszLength, *pcszCrc;
        std::string strHash;
        DWORD dwLength, dwCrc;
        std::string strStored;
    } cases[] = {
        {"0x400", "12ab", str40, 0, 12, str40.substr(0, 32)},
        {"abc", "x1", str31, 0, 0, str31},
        {"4294967295", "007", kHash32, 4294967295u, 7, kHash32},
    };
    for (const auto& c : cases)
    {
        DWORD dwError = 0;
        ASSERT_EQ(TRUE, Read(Keys(c.pcszLength, c.pcszCrc, c.strHash), &dwError)) << c.pcszLength;
        EXPECT_EQ(c.dwLength, m_record.XedaSvPkInfo.dwFileLength) << c.pcszLength;
        EXPECT_EQ(c.dwCrc, m_record.XedaSvPkInfo.dwCRC32) << c.pcszCrc;
        EXPECT_EQ(c.strStored, m_record.XedaSvPkInfo.szMD5CheckSumString);
        EXPECT_TRUE(insttest::HasTrace(ReadTrace(), Info("GetServicePackName dwlength:", c.pcszLength)));
    }
}

TEST_P(ManifestReaderTest, EachUnreadableKeyFailsWith591AndKeepsWhatWasRead)
{
    const struct
    {
        std::string strLines;
        const char* pcszSection; // null: the reader's own
        TraceLine failure;
        const char* pcszName;
        DWORD dwLength;
    } cases[] = {
        {"filelength_64=5\n", nullptr, Error(Reader().pcszLabel, "failed"), "", 0},
        {Keys("1", "2", kHash32), Reader().pcszOtherSection, Error(Reader().pcszLabel, "failed"), "", 0},
        {"file_64=a.tgz\nchecksum1_64=1\n", nullptr, Error(Reader().pcszTailLabel, "SP length failed"),
         "a.tgz", 0},
        {"file_64=a.tgz\nfilelength_64=5\nchecksum2_64=abc\n", nullptr,
         Error(Reader().pcszTailLabel, "CRC32 failed"), "a.tgz", 5},
        // An empty value reads like a missing key.
        {"file_64=a.tgz\nfilelength_64=5\nchecksum1_64=9\nchecksum2_64=\n", nullptr,
         Error(Reader().pcszTailLabel, "Md5sum failed"), "a.tgz", 5},
    };
    for (const auto& c : cases)
    {
        DWORD dwError = 0;
        EXPECT_EQ(FALSE, Read(c.strLines, &dwError, c.pcszSection)) << c.strLines;
        EXPECT_EQ(591u, dwError) << c.strLines;
        EXPECT_STREQ(c.pcszName, Name()) << c.strLines;
        EXPECT_EQ(c.dwLength, m_record.XedaSvPkInfo.dwFileLength) << c.strLines;
        const std::vector<TraceLine> vTrace = ReadTrace();
        ASSERT_FALSE(vTrace.empty());
        EXPECT_EQ(c.failure, vTrace.back()) << c.strLines;
        EXPECT_FALSE(insttest::HasTrace(vTrace, Info(Reader().pcszTailLabel, "Exit"))) << c.strLines;
    }
    DWORD dwError = 0;
    EXPECT_EQ(FALSE, Reader().read("/tmp/no-such-manifest.ini", "file_64", &m_record, &dwError));
    EXPECT_EQ(591u, dwError);
    EXPECT_EQ(Error(Reader().pcszLabel, "failed"), ReadTrace().back());
}

TEST_P(ManifestReaderTest, NullPointersAreRefused)
{
    DWORD dwError = 7;
    EXPECT_EQ(FALSE, Read(Keys("1", "2", kHash32), nullptr));
    EXPECT_EQ(Error(Reader().pcszLabel, "pdwErrorCode is NULL."), ReadTrace().back());
    const struct
    {
        const char *pcszFile, *pcszKey;
        XEDA_UPGRADE_INFO* pRecord;
    } cases[] = {{nullptr, "file_64", &m_record}, {kManifest, nullptr, &m_record}, {kManifest, "file_64", nullptr}};
    for (const auto& c : cases)
    {
        dwError = 7;
        EXPECT_EQ(FALSE, Reader().read(c.pcszFile, c.pcszKey, c.pRecord, &dwError));
        EXPECT_EQ(590u, dwError);
        EXPECT_EQ(Error(Reader().pcszInvalidLabel, "Invalid Parameters."), ReadTrace().back());
    }
    EXPECT_STREQ("", Name());
}

INSTANTIATE_TEST_SUITE_P(AllReaders, ManifestReaderTest, ::testing::ValuesIn(g_Readers),
                         [](const ::testing::TestParamInfo<READER>& info) {
                             return std::string(info.param.pcszName);
                         });
} // namespace
