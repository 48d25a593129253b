// WritePrivateProfileString: the exact bytes it leaves, and that a failure
// never costs the file being written. The writer goes through the fixed
// temporary file, which the sandbox's /usr/lib overlay lets us create.
#include "inifun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "netfixtures.h"

namespace
{
namespace fs = std::filesystem;

const std::string kDir = "/usr/lib/Zelvano/ClientAgent/";
const std::string kTempDir = kDir + "temp";
const std::string kTemp = kTempDir + "/temp.ini";
const std::string kIni = kDir + "inifun_write_test.ini";

using netfx::ReadFile;
using netfx::WriteFile;

bool Exists(const std::string& strPath)
{
    return access(strPath.c_str(), F_OK) == 0;
}

class IniWriter : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("SANDBOX_DIR"), nullptr) << "run through tests/sandbox.sh (ctest does)";
        std::error_code error;
        fs::create_directories(kTempDir, error);
        ASSERT_FALSE(error) << error.message();
        fs::remove(kTemp, error);
        fs::remove(kIni, error);
    }
    void TearDown() override
    {
        std::error_code error;
        fs::remove(kIni, error);
        fs::remove(kTemp, error);
    }
};

struct WriteCase
{
    const char* pcszName;
    std::optional<std::string> strBefore; // nullopt: the file does not exist
    const char* pcszSection;
    std::string strAfter;
};

void PrintTo(const WriteCase& c, std::ostream* pos)
{
    *pos << c.pcszName;
}

// Every case writes key "k" with value "v".
const WriteCase kWriteCases[] = {
    {"new_file", std::nullopt, "S", "[S]\nk=v\n"},
    {"replaces_the_key", "[S]\na=1\nk=old\nb=2\n", "S", "[S]\na=1\nk=v\nb=2\n"},
    {"replaces_the_key_ignoring_case", "[S]\nK=old\n", "S", "[S]\nk=v\n"},
    {"new_key_ends_its_section", "[S]\na=1\n[T]\nb=2\n", "S", "[S]\na=1\n\nk=v\n[T]\nb=2\n"},
    {"new_key_in_the_last_section", "[S]\na=1\n", "S", "[S]\na=1\n\nk=v\n"},
    {"missing_section_is_appended", "[T]\nb=2\n", "S", "[T]\nb=2\n\n[S]\nk=v\n"},
    {"spaced_key_is_not_replaced", "[S]\nk = 1\n[T]\n", "S", "[S]\nk = 1\n\nk=v\n[T]\n"},
    {"section_matches_as_substring", "[S_64]\nk=1\n", "S", "[S_64]\nk=v\n"},
    {"only_the_first_key_is_replaced", "[S]\nk=1\nk=2\n", "S", "[S]\nk=v\nk=2\n"},
    {"key_of_another_section_is_left", "[T]\nk=1\n[S]\na=1\n", "S", "[T]\nk=1\n[S]\na=1\n\nk=v\n"},
    {"rest_is_copied_once_done", "[S]\nk=1\n[S]\nk=2\n", "S", "[S]\nk=v\n[S]\nk=2\n"},
    {"replaced_crlf_line_ends_in_lf", "[S]\r\nk=1\r\nb=2\r\n", "S", "[S]\r\nk=v\nb=2\r\n"},
    {"empty_file", "", "S", "\n[S]\nk=v\n"},
    {"last_line_without_newline", "[S]\na=1", "S", "[S]\na=1\nk=v\n"},
    {"section_after_line_without_newline", "[T]\nb=2", "S", "[T]\nb=2\n[S]\nk=v\n"},
    {"comments_are_copied", "; head\n[S]\n# note\nk=1\n", "S", "; head\n[S]\n# note\nk=v\n"},
};

class WriteProfile : public IniWriter, public ::testing::WithParamInterface<WriteCase>
{
};

TEST_P(WriteProfile, LeavesExactlyTheseBytes)
{
    const WriteCase& c = GetParam();
    if (c.strBefore)
    {
        ASSERT_TRUE(WriteFile(kIni, *c.strBefore));
    }
    EXPECT_EQ(WritePrivateProfileString(c.pcszSection, "k", "v", kIni.c_str()), TRUE);
    EXPECT_EQ(ReadFile(kIni), c.strAfter);
    EXPECT_FALSE(Exists(kTemp)) << "the temporary file is renamed into place";
}

INSTANTIATE_TEST_SUITE_P(Files, WriteProfile, ::testing::ValuesIn(kWriteCases),
                         [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.pcszName; });

TEST_F(IniWriter, WrittenValueReadsBack)
{
    ASSERT_EQ(WritePrivateProfileString("SSL", "SSL_VERIFY_CERT", "1", kIni.c_str()), TRUE);
    ASSERT_EQ(WritePrivateProfileString("SSL", "SSL_CERT_STORE_PATH", "/etc/ssl/x.crt", kIni.c_str()), TRUE);
    ASSERT_EQ(WritePrivateProfileString("SSL", "SSL_VERIFY_CERT", "0", kIni.c_str()), TRUE);
    char szValue[1024];
    EXPECT_EQ(GetPrivateProfileString("SSL", "SSL_VERIFY_CERT", "", szValue, sizeof(szValue), kIni.c_str()), 1u);
    EXPECT_STREQ(szValue, "0");
    EXPECT_EQ(GetPrivateProfileString("SSL", "SSL_CERT_STORE_PATH", "", szValue, sizeof(szValue), kIni.c_str()),
              14u);
    EXPECT_STREQ(szValue, "/etc/ssl/x.crt");
}

TEST_F(IniWriter, NullArgumentsFailWithoutCreatingAFile)
{
    const char* pcszFile = kIni.c_str();
    EXPECT_EQ(WritePrivateProfileString(nullptr, "k", "v", pcszFile), FALSE);
    EXPECT_EQ(WritePrivateProfileString("S", nullptr, "v", pcszFile), FALSE);
    EXPECT_EQ(WritePrivateProfileString("S", "k", nullptr, pcszFile), FALSE);
    EXPECT_EQ(WritePrivateProfileString("S", "k", "v", nullptr), FALSE);
    EXPECT_FALSE(Exists(kIni));
}

TEST_F(IniWriter, MissingTemporaryDirectoryFailsAndKeepsTheFile)
{
    ASSERT_TRUE(WriteFile(kIni, "[S]\nk=1\n"));
    fs::remove(kTempDir);
    EXPECT_EQ(WritePrivateProfileString("S", "k", "v", kIni.c_str()), FALSE);
    EXPECT_EQ(ReadFile(kIni), "[S]\nk=1\n");
}

TEST_F(IniWriter, NewFileNeedsNoTemporaryDirectory)
{
    fs::remove(kTempDir);
    EXPECT_EQ(WritePrivateProfileString("S", "k", "v", kIni.c_str()), TRUE);
    EXPECT_EQ(ReadFile(kIni), "[S]\nk=v\n");
}

TEST_F(IniWriter, NewFileInAMissingDirectoryFails)
{
    EXPECT_EQ(WritePrivateProfileString("S", "k", "v", (kDir + "no-dir/x.ini").c_str()), FALSE);
    EXPECT_FALSE(Exists(kDir + "no-dir"));
}

// The temporary file is /dev/full. A small copy fails only when it is
// flushed at close, a large one already while it is written; either way
// the original must not be replaced by what little reached the disk.
TEST_F(IniWriter, TemporaryFileThatCannotBeWrittenKeepsTheFile)
{
    for (const std::size_t nPadding : {0, 10000})
    {
        const std::string strBefore = "[S]\nk=1\n" + std::string(nPadding, ';') + "\n";
        ASSERT_TRUE(WriteFile(kIni, strBefore));
        std::error_code error;
        fs::remove(kTemp, error);
        fs::create_symlink("/dev/full", kTemp);
        EXPECT_EQ(WritePrivateProfileString("S", "k", "v", kIni.c_str()), FALSE) << nPadding;
        // Reading a /dev/full renamed into place would never end.
        ASSERT_FALSE(fs::is_symlink(kIni)) << nPadding;
        EXPECT_EQ(ReadFile(kIni), strBefore) << nPadding;
    }
}

TEST_F(IniWriter, DirectoryInPlaceOfTheFileFailsAndStays)
{
    const std::string strDir = kDir + "a-directory.ini";
    fs::create_directories(strDir);
    EXPECT_EQ(WritePrivateProfileString("S", "k", "v", strDir.c_str()), FALSE);
    EXPECT_TRUE(fs::is_directory(strDir));
    fs::remove(strDir);
}

// An output line is formatted in 256 bytes: one that would not fit fails the
// write instead of being cut or overrunning.
TEST_F(IniWriter, LineTooLongForItsBufferFailsAndKeepsTheFile)
{
    const std::string strLongValue(260, 'v');
    ASSERT_TRUE(WriteFile(kIni, "[S]\nk=1\n"));
    EXPECT_EQ(WritePrivateProfileString("S", "k", strLongValue.c_str(), kIni.c_str()), FALSE);
    EXPECT_EQ(ReadFile(kIni), "[S]\nk=1\n");

    const std::string strNew = kDir + "new.ini";
    EXPECT_EQ(WritePrivateProfileString("S", "k", strLongValue.c_str(), strNew.c_str()), FALSE);
    EXPECT_FALSE(Exists(strNew));

    const std::string strFits(250 - 2, 'v'); // section, key and value: 250 characters
    EXPECT_EQ(WritePrivateProfileString("S", "k", strFits.c_str(), strNew.c_str()), TRUE);
    EXPECT_EQ(ReadFile(strNew), "[S]\nk=" + strFits + "\n");
    fs::remove(strNew);
}

// /tmp is another file system than the temporary file's, so the final rename
// fails; the update is then still in the temporary file.
TEST_F(IniWriter, FailedRenameReportsFailureAndKeepsTheUpdateInTheTemporaryFile)
{
    const std::string strOther = "/tmp/other.ini";
    ASSERT_TRUE(WriteFile(strOther, "[S]\nk=1\n"));
    EXPECT_EQ(WritePrivateProfileString("S", "k", "v", strOther.c_str()), FALSE);
    EXPECT_EQ(ReadFile(kTemp), "[S]\nk=v\n");
    std::remove(strOther.c_str());
}

TEST_F(IniWriter, WritersOnTwoThreadsLoseNoKey)
{
    constexpr int kKeysPerThread = 15;
    auto writer = [](char chThread) {
        for (int i = 0; i < kKeysPerThread; ++i)
        {
            const std::string strKey = std::string(1, chThread) + std::to_string(i);
            WritePrivateProfileString("S", strKey.c_str(), "x", kIni.c_str());
        }
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();

    for (const char chThread : {'a', 'b'})
    {
        for (int i = 0; i < kKeysPerThread; ++i)
        {
            const std::string strKey = std::string(1, chThread) + std::to_string(i);
            char szValue[260] = "";
            EXPECT_EQ(GetPrivateProfileString("S", strKey.c_str(), "missing", szValue, sizeof(szValue),
                                              kIni.c_str()),
                      1u)
                << strKey;
        }
    }
}
} // namespace
