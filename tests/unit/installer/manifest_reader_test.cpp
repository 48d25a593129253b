// The three manifest readers: what lands in the record, which code is stored
// and which traces (label, level, text) each one writes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "installer_test_util.h"
#include "xedasvpk.h"

using namespace insttest;

namespace
{
const char kManifest[] = "/tmp/manifest.ini";
const std::string kHash32 = "0123456789abcdef0123456789ABCDEF";

// One reader seen through the upgrade record, so the cases run for all three.
struct READER
{
    const char *pcszSection, *pcszOtherSection; // the other is another reader's
    std::function<BOOLEAN(const char*, const char*, XEDA_UPGRADE_INFO*, DWORD*)> read;
    bool bNameInSvPk; // the service-pack record keeps its own name
    const char *pcszLabel, *pcszInvalidLabel, *pcszNameLabel, *pcszTailLabel, *pcszHashLabel;
    bool bExitAfterName;
};

const READER g_Readers[] = {
    {"service_pack_linux", "minor_upg_pack_linux",
     [](const char* f, const char* k, XEDA_UPGRADE_INFO* p, DWORD* e) {
         return GetServicePackInfo(f, k, p != nullptr ? &p->XedaSvPkInfo : nullptr, e);
     },
     true, "GetServicePackName", "GetServicePackName", "GetServicePackName:", "GetServicePackName",
     "GetServicePackName szMD5:", false},
    {"minor_upg_pack_linux", "service_pack_linux", GetMinorUpgradePackInfo, false, "GetMinorUpgradePackName",
     "GetMinorUpgradeName", "GetServicePackName:", "GetServicePackName", "GetServicePackName szMD5:", false},
    {"minor_upg_ca_pack_linux", "service_pack_linux", GetMinorUpgradeCAPackInfo, false,
     "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName:",
     "GetMinorUpgradeCAPackName", "GetMinorUpgradeCAPackName szMD5:", true},
};

// Reads a manifest of the given section holding strLines, into a cleared
// record and a clear trace log.
BOOLEAN Read(const READER& r, const std::string& strSection, const std::string& strLines, XEDA_UPGRADE_INFO* p,
             DWORD* pdwError)
{
    EXPECT_TRUE(WriteFile(kManifest, "[" + strSection + "]\n" + strLines));
    ClearTrace();
    *p = XEDA_UPGRADE_INFO{};
    return r.read(kManifest, "file_64", p, pdwError);
}

const char* Name(const READER& r, const XEDA_UPGRADE_INFO& rec)
{
    return r.bNameInSvPk ? rec.XedaSvPkInfo.szServicePackName : rec.szAppName;
}

// Numbers are decimal up to the first non-digit; the hash keeps 32
// characters; values from the downloaded file are traced as text, never as formats.
TEST(ManifestReader, CompleteSectionsAreStoredAsParsedAndTracedLiterally)
{
    const std::string str40 = "0123456789abcdef0123456789abcdef01234567", str31 = str40.substr(0, 31);
    const struct
    {
        const char *pcszName, *pcszLength, *pcszCrc;
        std::string strHash;
        DWORD dwLength, dwCrc;
        std::string strStored;
    } cases[] = {
        {"p%s%n%d.tgz", "1024", "77%n", kHash32, 1024, 77, kHash32},
        {"pkg.tar.gz", "0x400", "12ab", str40, 0, 12, str40.substr(0, 32)},
        {"pkg.tar.gz", "abc", "x1", str31, 0, 0, str31},
        {"pkg.tar.gz", "4294967295", "007", kHash32, 4294967295u, 7, kHash32},
    };
    for (const READER& r : g_Readers)
        for (const auto& c : cases)
        {
            SCOPED_TRACE(std::string(r.pcszSection) + " " + c.pcszLength);
            XEDA_UPGRADE_INFO rec;
            DWORD dwError = 12345;
            ASSERT_EQ(TRUE, Read(r, r.pcszSection,
                                 std::string("file_64=") + c.pcszName + "\nfilelength_64=" + c.pcszLength +
                                     "\nchecksum1_64=" + c.pcszCrc + "\nchecksum2_64=" + c.strHash + "\n",
                                 &rec, &dwError));
            EXPECT_EQ(12345u, dwError);
            EXPECT_STREQ(c.pcszName, Name(r, rec));
            EXPECT_STREQ("", r.bNameInSvPk ? "" : rec.XedaSvPkInfo.szServicePackName);
            EXPECT_EQ(c.dwLength, rec.XedaSvPkInfo.dwFileLength);
            EXPECT_EQ(c.dwCrc, rec.XedaSvPkInfo.dwCRC32);
            EXPECT_EQ(c.strStored, rec.XedaSvPkInfo.szMD5CheckSumString);
            std::vector<TraceLine> vExpected = {
                Info(r.pcszLabel, "start."), Info(r.pcszNameLabel, c.pcszName),
                Info("GetMinorUpgradeCaPackName", "Exit"), Info("GetServicePackName dwlength:", c.pcszLength),
                Info("GetServicePackName dwCRC32:", c.pcszCrc), Info(r.pcszHashLabel, c.strStored),
                Info(r.pcszTailLabel, "Exit")};
            if (!r.bExitAfterName)
                vExpected.erase(vExpected.begin() + 2);
            EXPECT_EQ(vExpected, ReadTrace());
        }
}

// A reader stops at the first unreadable key and keeps what it read before:
// the name key in another reader's section, a key absent, the hash empty.
TEST(ManifestReader, FailuresStoreTheirCodes)
{
    const std::string kKeys[] = {"file_64=a.tgz", "filelength_64=5", "checksum1_64=9", "checksum2_64=abc"};
    const char* kFailures[] = {"failed", "SP length failed", "CRC32 failed", "Md5sum failed"};
    for (const READER& r : g_Readers)
    {
        for (int iKey = 0; iKey < 4; ++iKey)
        {
            SCOPED_TRACE(std::string(r.pcszSection) + " " + kFailures[iKey]);
            std::string strLines;
            for (int i = 0; i < 4; ++i)
                strLines += (i != iKey || iKey == 0 ? kKeys[i] : iKey == 3 ? "checksum2_64=" : "") + "\n";
            XEDA_UPGRADE_INFO rec;
            DWORD dwError = 0;
            EXPECT_EQ(FALSE, Read(r, iKey == 0 ? r.pcszOtherSection : r.pcszSection, strLines, &rec, &dwError));
            EXPECT_EQ(591u, dwError);
            EXPECT_STREQ(iKey == 0 ? "" : "a.tgz", Name(r, rec));
            EXPECT_EQ(iKey >= 2 ? 5u : 0u, rec.XedaSvPkInfo.dwFileLength);
            EXPECT_EQ(Error(iKey == 0 ? r.pcszLabel : r.pcszTailLabel, kFailures[iKey]), LastTrace());
            EXPECT_FALSE(HasTrace(Info(r.pcszTailLabel, "Exit")));
        }
        XEDA_UPGRADE_INFO rec{};
        DWORD dwError = 0;
        EXPECT_EQ(FALSE, r.read("/tmp/no-such-manifest.ini", "file_64", &rec, &dwError));
        EXPECT_EQ(591u, dwError);
        EXPECT_EQ(Error(r.pcszLabel, "failed"), LastTrace());
        dwError = 7;
        EXPECT_EQ(FALSE, r.read(kManifest, "file_64", nullptr, &dwError));
        EXPECT_EQ(590u, dwError);
        EXPECT_EQ(Error(r.pcszInvalidLabel, "Invalid Parameters."), LastTrace());
        EXPECT_EQ(FALSE, Read(r, r.pcszSection, "file_64=a.tgz\n", &rec, nullptr));
        EXPECT_EQ(Error(r.pcszLabel, "pdwErrorCode is NULL."), LastTrace());
        EXPECT_STREQ("", Name(r, rec));
    }
}
} // namespace
