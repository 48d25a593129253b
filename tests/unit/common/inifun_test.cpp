// The INI readers and their line helpers, quirks included: the string reader
// works on raw lines and matches sections by substring, the integer and
// section readers trim lines, skip comments and match whole names.
#include "inifun.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "netfixtures.h"

namespace
{
const std::string kDir = "/usr/lib/Zelvano/ClientAgent/";
const std::string kIni = kDir + "inifun_test.ini";
const std::string kMissing = kDir + "no-such.ini";
using Entries = std::map<std::string, std::string>;

class IniFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("SANDBOX_DIR"), nullptr) << "run through tests/sandbox.sh (ctest does)";
        std::error_code error;
        std::filesystem::create_directories(kDir, error);
        ASSERT_FALSE(error) << error.message();
    }
    void TearDown() override { std::remove(kIni.c_str()); }

    static void Write(const std::string& strContent) { ASSERT_TRUE(netfx::WriteFile(kIni, strContent)); }
};

// Each helper works in place on a copy of the line. CompareKey's result is
// given as "0" or "-1"; null: the helper returns null.
TEST(LineHelpers, TrimSectionNameAndKeyComparison)
{
    enum Helper { T, S, K };
    const struct { Helper helper; const char* pcszLine; const char* pcszExpected; const char* pcszKey = nullptr; } kCases[] = {
        {T, "  a b  ", "a b"}, {T, "\t\r\n\v\f x\r\n", "x"}, {T, "", ""}, {T, " \t\r\n ", ""},
        {S, "[ a b ]", "a b"}, {S, "[abc] ; trailing", "abc"}, {S, "[a]b]", "a"}, {S, "[]", ""}, {S, "[abc", nullptr},
        {S, "", nullptr}, {K, "KEY = v", "0", "key"}, {K, "key\t=v", "0", "key"}, {K, "key", "0", "key"},
        {K, "key=v=w", "0", "key"}, {K, "key v", "-1", "key"}, {K, " key=v", "-1", "key"}, {K, "keyx=v", "-1", "key"},
        {K, "ke=y", "-1", "key"},
    };
    for (const auto& c : kCases)
    {
        char szBuffer[64];
        std::strcpy(szBuffer, c.pcszLine);
        const char* pcszResult = c.helper == T   ? Trim(szBuffer)
                                 : c.helper == S ? GetSectionName(szBuffer)
                                                 : (CompareKey(szBuffer, c.pcszKey) == 0 ? "0" : "-1");
        EXPECT_STREQ(pcszResult, c.pcszExpected) << c.helper << " \"" << c.pcszLine << '"';
        EXPECT_TRUE(c.helper != T || (pcszResult >= szBuffer && pcszResult <= szBuffer + std::strlen(c.pcszLine)));
    }
    char szBuffer[] = "  x ";
    EXPECT_EQ(Trim(szBuffer), szBuffer + 2);
    EXPECT_EQ(szBuffer[0], '\0') << "leading whitespace is overwritten";
    EXPECT_EQ(Trim(nullptr), nullptr);
    EXPECT_EQ(GetSectionName(nullptr), nullptr);
    EXPECT_EQ(CompareKey(nullptr, "key"), -1);
}

// Key "key", default "DEF", in a buffer of 1024 filled with 'X'.
TEST_F(IniFile, StringReaderTakesRawLinesAndSubstringSections)
{
    const std::string kLongValue(300, 'a');
    const struct { std::string strContent; const char* pcszSection; std::string strValue; DWORD dwResult; } kCases[] = {
        {"[S]\nkey = value\n", "S", "value", 5},
        {"[S]\nKEY=value\n", "S", "value", 5},
        {"[S]\nkey= value\n", "S", " value", 6},
        {"[S]\nkey =value\n", "S", "DEF", 0},
        {"[S]\nkey=\n", "S", "", 0},
        {"[S]\r\nkey=value\r\n", "S", "value", 5},
        {"[S]\nkey=value  \n", "S", "value  ", 7},
        {"[service_pack_linux_64]\nkey=v\n", "service_pack_linux", "v", 1},
        {"[x_service_pack_linux_old]\nkey=v\n", "service_pack_linux", "v", 1},
        {"[SERVICE_PACK_LINUX]\nkey=v\n", "service_pack_linux", "DEF", 0},
        {"[S]\nkey = a=b\n", "S", "a=b", 3},         // the spaced separator comes first
        {"[S]\nkey=a = b\n", "S", "DEF", 0},         // and is not retried bare
        {"[S]\n  key=value\n", "S", "DEF", 0},
        {"[S]\nkey=v ; note\n", "S", "v ; note", 8}, // no comments
        {"[S]\nkey\nkey=1\nkey=2\n", "S", "1", 1},
        {"[T]\nkey=t\n[S]\nkey=s\n", "S", "s", 1},
        {"[S]\nother=1\n[T]\nkey=v\n", "S", "DEF", 0}, // the section ends at the next header
        {"[T]\nkey=v\n", "S", "DEF", 0},
        {"[S]\nkey=" + kLongValue + "\n", "S", kLongValue.substr(0, 251), 251}, // lines are read 255 at a time
        {"[S]\nx=" + std::string(253, 'b') + "key=tail\n", "S", "tail", 4},
    };
    for (const auto& c : kCases)
    {
        Write(c.strContent);
        char szValue[1024];
        std::memset(szValue, 'X', sizeof(szValue));
        EXPECT_EQ(GetPrivateProfileString(c.pcszSection, "key", "DEF", szValue, sizeof(szValue), kIni.c_str()),
                  c.dwResult) << c.strContent;
        EXPECT_EQ(std::string(szValue), c.strValue) << c.strContent;
    }
}

// The size given is cleared behind a value and never written past; without
// a file or with a bad argument the buffer is left alone.
TEST_F(IniFile, StringReaderKeepsToTheBufferSize)
{
    Write("[S]\nkey=value\n");
    char szValue[300];
    std::memset(szValue, 'X', sizeof(szValue));
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szValue, 260, kIni.c_str()), 5u);
    EXPECT_EQ(std::string(szValue, 5), "value");
    EXPECT_EQ(std::string(szValue + 5, 255), std::string(255, '\0'));
    EXPECT_EQ(szValue[260], 'X');
    char szSmall[4];
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szSmall, sizeof(szSmall), kIni.c_str()), 3u);
    EXPECT_STREQ(szSmall, "val");
    EXPECT_EQ(GetPrivateProfileString("S", "other", "DEFAULT", szSmall, sizeof(szSmall), kIni.c_str()), 0u);
    EXPECT_STREQ(szSmall, "DEF");
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szSmall, 4, kMissing.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileString(nullptr, "key", "DEF", szSmall, 4, kIni.c_str()), 0u);
    EXPECT_STREQ(szSmall, "DEF");
}

// Section "DATA_FOR_UPGRADE", key "type", default 7.
TEST_F(IniFile, IntReaderValuesAndCodes)
{
    const struct { const char* pcszContent; int iExpected; DWORD dwCode; } kCases[] = {
        {"[DATA_FOR_UPGRADE]\ntype = 2\n", 2, 0},
        {"[DATA_FOR_UPGRADE]\r\n  TYPE  =  -7  \r\n", -7, 0},
        {"[DATA_FOR_UPGRADE]\ntype=\n", 7, 201},
        {"[DATA_FOR_UPGRADE]\ntype\n", 7, 201},
        {"[DATA_FOR_UPGRADE]\ntype=abc\n", 0, 0},
        {"[DATA_FOR_UPGRADE]\ntype=99999999999\n", INT_MAX, 0},
        {"[DATA_FOR_UPGRADE]\n; type=2\n", 7, 202},
        {"[DATA_FOR_UPGRADE]\n# type=2\n\ntype=3\n", 3, 0},
        {"[DATA_FOR_UPGRADE]\ntyped=5\n", 7, 202},
        {"[DATA_FOR_UPGRADE]\nother=1\n[X]\ntype=1\n", 7, 202},
        {"[X]\ntype=1\n[DATA_FOR_UPGRADE]\ntype=2\n", 2, 0},
        {"[ DATA_FOR_UPGRADE ]\ntype=2\n", 2, 0},
        {"  [data_for_upgrade] ; c\n  type=1\n", 1, 0},
        {"[DATA_FOR_UPGRADE_64]\ntype=1\n", 7, 204},
        {"; [DATA_FOR_UPGRADE]\ntype=1\n", 7, 204},
    };
    for (const auto& c : kCases)
    {
        Write(c.pcszContent);
        DWORD dwError = 999;
        EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 7, kIni.c_str(), &dwError), c.iExpected)
            << c.pcszContent;
        EXPECT_EQ(dwError, c.dwCode) << c.pcszContent;
    }
}

TEST_F(IniFile, IntReaderCodesForNamesAndMissingFile)
{
    Write("[DATA_FOR_UPGRADE]\ntype=2\n");
    const struct { const char* pcszSection; const char* pcszKey; std::string strFile; int iExpected; DWORD dwCode; } kCases[] = {
        {"DATA_FOR_UPGRADE", "type", kMissing, 7, 102},
        {"", "type", kMissing, 7, 205}, // the names are checked before the file
        {"DATA_FOR_UPGRADE", "", kMissing, 7, 203},
        {"  data_for_upgrade ", "\tTYPE ", kIni, 2, 0}, // names are trimmed
    };
    for (const auto& c : kCases)
    {
        DWORD dwError = 999;
        EXPECT_EQ(GetPrivateProfileInt(c.pcszSection, c.pcszKey, 7, c.strFile.c_str(), &dwError), c.iExpected);
        EXPECT_EQ(dwError, c.dwCode) << '"' << c.pcszSection << "\" \"" << c.pcszKey << '"';
    }
    DWORD dwError = 999;
    EXPECT_EQ(GetPrivateProfileInt(nullptr, "type", 7, kIni.c_str(), &dwError), -1);
    EXPECT_EQ(dwError, 999u) << "a null argument stores no code";
}

TEST_F(IniFile, SectionMapAddsTheSectionsEntries)
{
    const struct { std::string strContent; Entries expected; } kCases[] = {
        {"[S]\na==b\n", {{"a", "b"}}},
        {"[S]\na = b=c\n", {{"a", "b"}}},
        {"[S]\n=x\n", {}},
        {"[S]\na=1\na=2\nA=3\n", {{"a", "1"}, {"A", "3"}}},
        {"[S]\nk =  v\n", {{"k", " v"}}}, // only one blank is dropped
        {"[S]\nnovalue\n; c=1\n  # d=2\n\nk=v\n[T]\nt=1\n", {{"k", "v"}}},
        {"  [ s ]  \r\n  k = v  \r\n", {{"k", "v"}}},
        {"[S_64]\nk=v\n", {}},
        {"[S]\n" + std::string(70, 'k') + "=" + std::string(200, 'v') + "\n", {{std::string(63, 'k'), std::string(127, 'v')}}},
    };
    for (const auto& c : kCases)
    {
        Write(c.strContent);
        Entries entries;
        EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, kIni.c_str()), 0) << c.strContent;
        EXPECT_EQ(entries, c.expected) << c.strContent;
    }
}

TEST_F(IniFile, SectionMapKeepsWhatTheMapHeldAndFailsWithoutFileOrName)
{
    Write("[S]\na=new\nb=1\n");
    Entries entries = {{"a", "old"}, {"z", "keep"}};
    EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, kIni.c_str()), 0);
    const Entries expected = {{"a", "old"}, {"b", "1"}, {"z", "keep"}};
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, kMissing.c_str()), -1);
    EXPECT_EQ(ReadIniFileSectionIntoMap(nullptr, entries, kIni.c_str()), -1);
    EXPECT_EQ(ReadIniFileSectionIntoMap(" \t ", entries, kIni.c_str()), -1);
    EXPECT_EQ(entries, expected);
}
} // namespace
