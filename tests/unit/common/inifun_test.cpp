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

// ---- Trim, GetSectionName, CompareKey

TEST(Trim, RemovesWhitespaceAtBothEnds)
{
    const struct
    {
        const char* pcszInput;
        const char* pcszExpected;
    } kCases[] = {
        {"  a b  ", "a b"},  {"\t\r\n\v\f x\r\n", "x"}, {"abc", "abc"},
        {"", ""},            {" \t\r\n ", ""},          {"\xE9t\xE9 ", "\xE9t\xE9"},
    };
    for (const auto& c : kCases)
    {
        char szBuffer[64];
        std::strcpy(szBuffer, c.pcszInput);
        const char* pcszResult = Trim(szBuffer);
        ASSERT_NE(pcszResult, nullptr);
        EXPECT_STREQ(pcszResult, c.pcszExpected) << '"' << c.pcszInput << '"';
        EXPECT_TRUE(pcszResult >= szBuffer && pcszResult <= szBuffer + std::strlen(c.pcszInput));
    }
}

TEST(Trim, OverwritesLeadingWhitespaceAndTakesNull)
{
    char szBuffer[] = "  x ";
    EXPECT_EQ(Trim(szBuffer), szBuffer + 2);
    EXPECT_EQ(szBuffer[0], '\0');
    EXPECT_EQ(szBuffer[1], '\0');
    EXPECT_EQ(Trim(nullptr), nullptr);
}

TEST(GetSectionName, ReturnsTheTrimmedNameBetweenTheBrackets)
{
    const struct
    {
        const char* pcszLine;
        const char* pcszExpected; // null: no name
    } kCases[] = {
        {"[abc]", "abc"}, {"[ a b ]", "a b"}, {"[abc] ; trailing", "abc"}, {"[a]b]", "a"},
        {"[]", ""},       {"[abc", nullptr},  {"[", nullptr},              {"", nullptr},
    };
    for (const auto& c : kCases)
    {
        char szBuffer[64];
        std::strcpy(szBuffer, c.pcszLine);
        const char* pcszName = GetSectionName(szBuffer);
        if (c.pcszExpected == nullptr)
            EXPECT_EQ(pcszName, nullptr) << c.pcszLine;
        else
            EXPECT_STREQ(pcszName, c.pcszExpected) << c.pcszLine;
    }
    EXPECT_EQ(GetSectionName(nullptr), nullptr);
}

TEST(CompareKey, MatchesTheKeyBeforeTheFirstEqualsIgnoringCase)
{
    const struct
    {
        const char* pcszLine;
        const char* pcszKey;
        int iExpected;
    } kCases[] = {
        {"key=v", "key", 0},   {"KEY = v", "key", 0}, {"key\t=v", "key", 0}, {"key", "key", 0},
        {"Key", "kEY", 0},     {"=v", "", 0},         {"key v", "key", -1},  {" key=v", "key", -1},
        {"keyx=v", "key", -1}, {"ke=y", "key", -1},   {"", "key", -1},       {"key=v=w", "key", 0},
    };
    for (const auto& c : kCases)
    {
        char szBuffer[64];
        std::strcpy(szBuffer, c.pcszLine);
        EXPECT_EQ(CompareKey(szBuffer, c.pcszKey), c.iExpected) << c.pcszLine;
    }
    char szLine[] = "key=v";
    EXPECT_EQ(CompareKey(nullptr, "key"), -1);
    EXPECT_EQ(CompareKey(szLine, nullptr), -1);
}

// ---- GetPrivateProfileString

struct StringCase
{
    const char* pcszName;
    std::string strContent;
    const char* pcszSection;
    const char* pcszKey;
    std::string strValue;
    DWORD dwResult;
};

void PrintTo(const StringCase& c, std::ostream* pos)
{
    *pos << c.pcszName;
}

const std::string kLongValue(300, 'a');
const std::string kPieceFiller = "x=" + std::string(253, 'b'); // exactly 255 characters

const StringCase kStringCases[] = {
    {"spaced_equals", "[S]\nkey = value\n", "S", "key", "value", 5},
    {"bare_equals", "[S]\nkey=value\n", "S", "key", "value", 5},
    {"blank_after_equals_is_kept", "[S]\nkey= value\n", "S", "key", " value", 6},
    {"blank_before_bare_equals_never_matches", "[S]\nkey =value\n", "S", "key", "DEF", 0},
    {"empty_value", "[S]\nkey=\n", "S", "key", "", 0},
    {"crlf_line_gives_no_cr", "[S]\r\nkey=value\r\n", "S", "key", "value", 5},
    {"trailing_blanks_are_kept", "[S]\nkey=value  \n", "S", "key", "value  ", 7},
    {"no_final_newline", "[S]\nkey=value", "S", "key", "value", 5},
    {"key_ignores_case", "[S]\nKEY=value\n", "S", "key", "value", 5},
    {"section_matches_as_substring", "[service_pack_linux_64]\nkey=v\n", "service_pack_linux", "key", "v", 1},
    {"section_substring_anywhere", "[x_service_pack_linux_old]\nkey=v\n", "service_pack_linux", "key", "v", 1},
    {"section_is_case_sensitive", "[SERVICE_PACK_LINUX]\nkey=v\n", "service_pack_linux", "key", "DEF", 0},
    {"spaced_separator_comes_first", "[S]\nkey = a=b\n", "S", "key", "a=b", 3},
    {"spaced_separator_is_not_retried_bare", "[S]\nkey=a = b\n", "S", "key", "DEF", 0},
    {"indented_key_never_matches", "[S]\n  key=value\n", "S", "key", "DEF", 0},
    {"comments_are_not_recognised", "[S]\nkey=v ; note\n", "S", "key", "v ; note", 8},
    {"line_without_equals_is_passed_over", "[S]\nkey\nkey=v\n", "S", "key", "v", 1},
    {"first_match_wins", "[S]\nkey=1\nkey=2\n", "S", "key", "1", 1},
    {"key_before_the_section_is_not_taken", "[T]\nkey=t\n[S]\nkey=s\n", "S", "key", "s", 1},
    {"key_missing_from_its_section_is_not_taken_later", "[S]\nother=1\n[T]\nkey=v\n", "S", "key", "DEF", 0},
    {"not_taken_from_a_later_matching_section", "[S]\nother=1\n[S_old]\nkey=v\n", "S", "key", "DEF", 0},
    {"header_line_is_a_candidate", "[S]key=v\n", "S", "[S]key", "v", 1},
    {"missing_section", "[T]\nkey=v\n", "S", "key", "DEF", 0},
    {"empty_file", "", "S", "key", "DEF", 0},
    {"long_line_gives_its_first_piece", "[S]\nkey=" + kLongValue + "\n", "S", "key", kLongValue.substr(0, 251), 251},
    {"rest_of_long_line_is_a_line_of_its_own", "[S]\n" + kPieceFiller + "key=tail\n", "S", "key", "tail", 4},
};

class ProfileString : public IniFile, public ::testing::WithParamInterface<StringCase>
{
};

TEST_P(ProfileString, ReadsValueOrDefault)
{
    const StringCase& c = GetParam();
    Write(c.strContent);
    char szValue[1024];
    std::memset(szValue, 'X', sizeof(szValue));
    EXPECT_EQ(GetPrivateProfileString(c.pcszSection, c.pcszKey, "DEF", szValue, sizeof(szValue), kIni.c_str()),
              c.dwResult);
    EXPECT_EQ(std::string(szValue), c.strValue);
}

INSTANTIATE_TEST_SUITE_P(Lines, ProfileString, ::testing::ValuesIn(kStringCases),
                         [](const ::testing::TestParamInfo<StringCase>& info) { return info.param.pcszName; });

TEST_F(IniFile, StringReaderLeavesTheBufferAloneWithoutAFile)
{
    char szValue[260] = "untouched";
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szValue, sizeof(szValue), kMissing.c_str()), 0u);
    EXPECT_STREQ(szValue, "untouched");
}

TEST_F(IniFile, StringReaderLeavesTheBufferAloneOnNullArguments)
{
    Write("[S]\nkey=v\n");
    char szValue[260] = "untouched";
    const char* pcszFile = kIni.c_str();
    EXPECT_EQ(GetPrivateProfileString(nullptr, "key", "DEF", szValue, 260, pcszFile), 0u);
    EXPECT_EQ(GetPrivateProfileString("S", nullptr, "DEF", szValue, 260, pcszFile), 0u);
    EXPECT_EQ(GetPrivateProfileString("S", "key", nullptr, szValue, 260, pcszFile), 0u);
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szValue, 260, nullptr), 0u);
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", nullptr, 260, pcszFile), 0u);
    EXPECT_STREQ(szValue, "untouched");
}

TEST_F(IniFile, StringReaderClearsTheWholeBufferBehindAValue)
{
    Write("[S]\nkey=v\n");
    char szValue[300];
    std::memset(szValue, 'X', sizeof(szValue));
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szValue, 260, kIni.c_str()), 1u);
    EXPECT_EQ(szValue[0], 'v');
    for (int i = 1; i < 260; ++i)
        ASSERT_EQ(szValue[i], '\0') << i;
    EXPECT_EQ(szValue[260], 'X') << "nothing beyond the size given is touched";
}

// A caller's buffer is never written past its size, whatever the value.
TEST_F(IniFile, StringReaderNeverOverrunsASmallBuffer)
{
    Write("[S]\nkey=value\n");
    char szValue[4];
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szValue, sizeof(szValue), kIni.c_str()), 3u);
    EXPECT_STREQ(szValue, "val");
    EXPECT_EQ(GetPrivateProfileString("S", "other", "DEFAULT", szValue, sizeof(szValue), kIni.c_str()), 0u);
    EXPECT_STREQ(szValue, "DEF");
}

// ---- GetPrivateProfileInt

struct IntCase
{
    const char* pcszName;
    const char* pcszContent;
    int iExpected;
    DWORD dwCode;
};

void PrintTo(const IntCase& c, std::ostream* pos)
{
    *pos << c.pcszName;
}

// Section "DATA_FOR_UPGRADE", key "type", default 7.
const IntCase kIntCases[] = {
    {"spaced_equals", "[DATA_FOR_UPGRADE]\ntype = 2\n", 2, 0},
    {"bare_equals", "[DATA_FOR_UPGRADE]\ntype=1\n", 1, 0},
    {"trimmed_line_and_value", "[DATA_FOR_UPGRADE]\n  TYPE  =  -7  \n", -7, 0},
    {"crlf", "[DATA_FOR_UPGRADE]\r\ntype=2\r\n", 2, 0},
    {"empty_value", "[DATA_FOR_UPGRADE]\ntype=\n", 7, 201},
    {"blank_value", "[DATA_FOR_UPGRADE]\ntype=   \n", 7, 201},
    {"no_equals", "[DATA_FOR_UPGRADE]\ntype\n", 7, 201},
    {"not_a_number", "[DATA_FOR_UPGRADE]\ntype=abc\n", 0, 0},
    {"number_then_text", "[DATA_FOR_UPGRADE]\ntype=12abc\n", 12, 0},
    {"out_of_range_saturates", "[DATA_FOR_UPGRADE]\ntype=99999999999\n", INT_MAX, 0},
    {"semicolon_comment", "[DATA_FOR_UPGRADE]\n; type=2\n", 7, 202},
    {"hash_comment", "[DATA_FOR_UPGRADE]\n# type=2\n", 7, 202},
    {"comment_then_key", "[DATA_FOR_UPGRADE]\n; type=2\ntype=3\n", 3, 0},
    {"longer_key", "[DATA_FOR_UPGRADE]\ntyped=5\n", 7, 202},
    {"empty_lines_skipped", "[DATA_FOR_UPGRADE]\n\n\ntype=1\n", 1, 0},
    {"key_only_in_a_later_section", "[DATA_FOR_UPGRADE]\nother=1\n[X]\ntype=1\n", 7, 202},
    {"key_only_in_an_earlier_section", "[X]\ntype=1\n[DATA_FOR_UPGRADE]\ntype=2\n", 2, 0},
    {"blank_padded_header", "[ DATA_FOR_UPGRADE ]\ntype=2\n", 2, 0},
    {"lower_case_header", "[data_for_upgrade]\ntype=2\n", 2, 0},
    {"indented_header_with_trailing_text", "  [DATA_FOR_UPGRADE] ; c\n  type=1\n", 1, 0},
    {"longer_header_is_another_section", "[DATA_FOR_UPGRADE_64]\ntype=1\n", 7, 204},
    {"header_without_bracket_is_skipped", "[DATA_FOR_UPGRADE\ntype=1\n", 7, 204},
    {"commented_header", "; [DATA_FOR_UPGRADE]\ntype=1\n", 7, 204},
    {"no_section", "type=1\n", 7, 204},
    {"empty_file", "", 7, 204},
};

class ProfileInt : public IniFile, public ::testing::WithParamInterface<IntCase>
{
};

TEST_P(ProfileInt, ReadsValueAndCode)
{
    const IntCase& c = GetParam();
    Write(c.pcszContent);
    DWORD dwError = 999;
    EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 7, kIni.c_str(), &dwError), c.iExpected);
    EXPECT_EQ(dwError, c.dwCode);
}

INSTANTIATE_TEST_SUITE_P(Lines, ProfileInt, ::testing::ValuesIn(kIntCases),
                         [](const ::testing::TestParamInfo<IntCase>& info) { return info.param.pcszName; });

TEST_F(IniFile, IntReaderCodesForBadNamesAndMissingFile)
{
    Write("[DATA_FOR_UPGRADE]\ntype=2\n");
    const struct
    {
        const char* pcszSection;
        const char* pcszKey;
        std::string strFile;
        DWORD dwCode;
    } kCases[] = {
        {"DATA_FOR_UPGRADE", "type", kMissing, 102},
        {"", "type", kMissing, 205}, // the names are checked before the file
        {"", "", kIni, 205},
        {"DATA_FOR_UPGRADE", "", kMissing, 203},
    };
    for (const auto& c : kCases)
    {
        DWORD dwError = 999;
        EXPECT_EQ(GetPrivateProfileInt(c.pcszSection, c.pcszKey, 7, c.strFile.c_str(), &dwError), 7);
        EXPECT_EQ(dwError, c.dwCode) << '"' << c.pcszSection << "\" \"" << c.pcszKey << '"';
    }
}

TEST_F(IniFile, IntReaderTrimsTheNamesItIsGiven)
{
    Write("[DATA_FOR_UPGRADE]\ntype=2\n");
    DWORD dwError = 999;
    EXPECT_EQ(GetPrivateProfileInt("  data_for_upgrade ", "\tTYPE ", 7, kIni.c_str(), &dwError), 2);
    EXPECT_EQ(dwError, 0u);
}

TEST_F(IniFile, IntReaderRefusesNullArgumentsWithoutACode)
{
    Write("[DATA_FOR_UPGRADE]\ntype=2\n");
    DWORD dwError = 999;
    const char* pcszFile = kIni.c_str();
    EXPECT_EQ(GetPrivateProfileInt(nullptr, "type", 7, pcszFile, &dwError), -1);
    EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", nullptr, 7, pcszFile, &dwError), -1);
    EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 7, nullptr, &dwError), -1);
    EXPECT_EQ(dwError, 999u);
    EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 7, pcszFile, nullptr), -1);
}

// ---- ReadIniFileSectionIntoMap

using Entries = std::map<std::string, std::string>;

struct MapCase
{
    const char* pcszName;
    std::string strContent;
    Entries expected;
};

void PrintTo(const MapCase& c, std::ostream* pos)
{
    *pos << c.pcszName;
}

const MapCase kMapCases[] = {
    {"double_equals_is_one_separator", "[S]\na==b\n", {{"a", "b"}}},
    {"text_after_a_second_equals_is_dropped", "[S]\na = b=c\n", {{"a", "b"}}},
    {"leading_equals_leaves_no_value", "[S]\n=x\n", {}},
    {"first_value_is_kept", "[S]\na=1\na=2\n", {{"a", "1"}}},
    {"keys_are_case_sensitive", "[S]\nA=1\na=2\n", {{"A", "1"}, {"a", "2"}}},
    {"only_one_blank_is_dropped", "[S]\nk =  v\n", {{"k", " v"}}},
    {"line_without_equals_is_skipped", "[S]\nnovalue\nk=v\n", {{"k", "v"}}},
    {"comments_and_empty_lines_skipped", "[S]\n; c=1\n  # d=2\n\nk=v\n", {{"k", "v"}}},
    {"next_header_ends_the_section", "[S]\nk=v\n[T]\nt=1\n", {{"k", "v"}}},
    {"crlf_and_blanks_trimmed", "  [S]  \r\n  k = v  \r\n", {{"k", "v"}}},
    {"section_name_trimmed_and_case_blind", "[ s ]\nk=v\n", {{"k", "v"}}},
    {"longer_section_is_another_one", "[S_64]\nk=v\n", {}},
    {"missing_section", "[T]\nk=v\n", {}},
    {"key_cut_at_63_value_at_127",
     "[S]\n" + std::string(70, 'k') + "=" + std::string(200, 'v') + "\n",
     {{std::string(63, 'k'), std::string(127, 'v')}}},
};

class SectionMap : public IniFile, public ::testing::WithParamInterface<MapCase>
{
};

TEST_P(SectionMap, AddsTheSectionsEntries)
{
    const MapCase& c = GetParam();
    Write(c.strContent);
    Entries entries;
    EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, kIni.c_str()), 0);
    EXPECT_EQ(entries, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, SectionMap, ::testing::ValuesIn(kMapCases),
                         [](const ::testing::TestParamInfo<MapCase>& info) { return info.param.pcszName; });

TEST_F(IniFile, SectionMapKeepsWhatTheMapAlreadyHeld)
{
    Write("[S]\na=new\nb=1\n");
    Entries entries = {{"a", "old"}, {"z", "keep"}};
    EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, kIni.c_str()), 0);
    EXPECT_EQ(entries, (Entries{{"a", "old"}, {"b", "1"}, {"z", "keep"}}));
}

TEST_F(IniFile, SectionMapFailsWithoutFileOrName)
{
    Write("[S]\nk=v\n");
    Entries entries;
    EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, kMissing.c_str()), -1);
    EXPECT_EQ(ReadIniFileSectionIntoMap(nullptr, entries, kIni.c_str()), -1);
    EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, nullptr), -1);
    EXPECT_EQ(ReadIniFileSectionIntoMap("", entries, kIni.c_str()), -1);
    EXPECT_EQ(ReadIniFileSectionIntoMap(" \t ", entries, kIni.c_str()), -1);
    EXPECT_TRUE(entries.empty());
}
} // namespace
