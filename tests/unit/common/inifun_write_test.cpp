// WritePrivateProfileString: the exact bytes it leaves, and that a failure
// never costs the file being written. The writer goes through the fixed
// temporary file, which the sandbox's /usr/lib overlay lets us create.
#include "inifun.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

bool Exists(const std::string& strPath) { return access(strPath.c_str(), F_OK) == 0; }

BOOL WriteKv(const std::string& strFile, const char* pcszValue = "v")
{
    return WritePrivateProfileString("S", "k", pcszValue, strFile.c_str());
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
    }
    void TearDown() override
    {
        std::error_code error;
        fs::remove(kIni, error);
        fs::remove(kTemp, error);
    }
};

// Every case writes key "k" with value "v" into section "S"; nullopt: the
// file does not exist.
TEST_F(IniWriter, LeavesExactlyTheseBytes)
{
    const struct { std::optional<std::string> strBefore; std::string strAfter; } kCases[] = {
        {std::nullopt, "[S]\nk=v\n"},
        {"[S]\na=1\nK=old\nb=2\n", "[S]\na=1\nk=v\nb=2\n"},
        {"[S]\na=1\n[T]\nb=2\n", "[S]\na=1\n\nk=v\n[T]\nb=2\n"},
        {"[S]\na=1\n", "[S]\na=1\n\nk=v\n"},
        {"[T]\nb=2\n", "[T]\nb=2\n\n[S]\nk=v\n"},
        {"[S]\nk = 1\n[T]\n", "[S]\nk = 1\n\nk=v\n[T]\n"}, // the key text is "k "
        {"[S_64]\nk=1\n", "[S_64]\nk=v\n"},
        {"[x_S_old]\nk=1\n", "[x_S_old]\nk=v\n"},
        {"[S]\nk=1\nk=2\n[S]\nk=3\n", "[S]\nk=v\nk=2\n[S]\nk=3\n"},
        {"[T]\nk=1\n[S]\na=1\n", "[T]\nk=1\n[S]\na=1\n\nk=v\n"},
        {"[S]\r\nk=1\r\nb=2\r\n", "[S]\r\nk=v\nb=2\r\n"},
        {"", "\n[S]\nk=v\n"},
        {"[S]\na=1", "[S]\na=1\nk=v\n"},
        {"[T]\nb=2", "[T]\nb=2\n[S]\nk=v\n"},
    };
    for (const auto& c : kCases)
    {
        std::error_code error;
        fs::remove(kIni, error);
        ASSERT_TRUE(!c.strBefore || WriteFile(kIni, *c.strBefore));
        EXPECT_EQ(WriteKv(kIni), TRUE) << c.strAfter;
        EXPECT_EQ(ReadFile(kIni), c.strAfter);
        EXPECT_FALSE(Exists(kTemp)) << c.strAfter << ": the temporary file is renamed into place";
    }
}

TEST_F(IniWriter, WhatCannotBeWrittenLeavesTheFileSystemAsItWas)
{
    EXPECT_EQ(WritePrivateProfileString(nullptr, "k", "v", kIni.c_str()), FALSE);
    EXPECT_EQ(WriteKv(kDir + "no-dir/x.ini"), FALSE);
    EXPECT_FALSE(Exists(kDir + "no-dir"));
    const std::string strDir = kDir + "a-directory.ini";
    fs::create_directories(strDir);
    EXPECT_EQ(WriteKv(strDir), FALSE);
    EXPECT_TRUE(fs::is_directory(strDir));
    fs::remove(strDir);
    // Only an existing file is rewritten through the temporary directory.
    fs::remove_all(kTempDir);
    EXPECT_EQ(WriteKv(kIni), TRUE);
    EXPECT_EQ(WriteKv(kIni, "2"), FALSE);
    EXPECT_EQ(ReadFile(kIni), "[S]\nk=v\n");
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
        EXPECT_EQ(WriteKv(kIni), FALSE) << nPadding;
        ASSERT_FALSE(fs::is_symlink(kIni)) << nPadding; // reading /dev/full renamed into place would never end
        EXPECT_EQ(ReadFile(kIni), strBefore) << nPadding;
    }
}

// An output line is formatted in 256 bytes: one that would not fit fails the
// write instead of being cut or overrunning.
TEST_F(IniWriter, LineTooLongForItsBufferFailsAndKeepsTheFile)
{
    const std::string strLongValue(260, 'v'), strFits(250 - 2, 'v'); // section, key and value: 250 characters
    ASSERT_TRUE(WriteFile(kIni, "[S]\nk=1\n"));
    EXPECT_EQ(WriteKv(kIni, strLongValue.c_str()), FALSE);
    EXPECT_EQ(ReadFile(kIni), "[S]\nk=1\n");
    const std::string strNew = kDir + "new.ini";
    EXPECT_EQ(WriteKv(strNew, strLongValue.c_str()), FALSE);
    EXPECT_FALSE(Exists(strNew));
    EXPECT_EQ(WriteKv(strNew, strFits.c_str()), TRUE);
    EXPECT_EQ(ReadFile(strNew), "[S]\nk=" + strFits + "\n");
    fs::remove(strNew);
}

// /tmp is another file system than the temporary file's, so the final rename
// fails; the update is then still in the temporary file.
TEST_F(IniWriter, FailedRenameReportsFailureAndKeepsTheUpdateInTheTemporaryFile)
{
    const std::string strOther = "/tmp/other.ini";
    ASSERT_TRUE(WriteFile(strOther, "[S]\nk=1\n"));
    EXPECT_EQ(WriteKv(strOther), FALSE);
    EXPECT_EQ(ReadFile(kTemp), "[S]\nk=v\n");
}

TEST_F(IniWriter, WritersOnTwoThreadsLoseNoKey)
{
    auto writer = [](char chThread) {
        for (int i = 0; i < 15; ++i)
            WritePrivateProfileString("S", (chThread + std::to_string(i)).c_str(), "x", kIni.c_str());
    };
    std::thread first(writer, 'a'), second(writer, 'b');
    first.join();
    second.join();
    for (const char chThread : {'a', 'b'})
        for (int i = 0; i < 15; ++i)
        {
            char szValue[260] = "";
            const std::string strKey = chThread + std::to_string(i);
            EXPECT_EQ(GetPrivateProfileString("S", strKey.c_str(), "-", szValue, sizeof(szValue), kIni.c_str()), 1u)
                << strKey;
        }
}
} // namespace
