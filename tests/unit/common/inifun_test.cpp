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

// Each helper works in place on a copy of the line. CompareKey's result is
// given as "0" or "-1"; null: the helper returns null.
TEST(LineHelpers, TrimSectionNameAndKeyComparison)
{
    enum Helper { T, S, K };
    const struct
    {
        Helper helper;
        const char* pcszLine;
        const char* pcszExpected;
        const char* pcszKey = nullptr;
    } kCases[] = {
        {T, "  a b  ", "a b"}, {T, "\t\r\n\v\f x\r\n", "x"}, {T, "abc", "abc"}, {T, "", ""},
        {T, " \t\r\n ", ""}, {T, "\xE9t\xE9 ", "\xE9t\xE9"},
        {S, "[abc]", "abc"}, {S, "[ a b ]", "a b"}, {S, "[abc] ; trailing", "abc"}, {S, "[a]b]", "a"},
        {S, "[]", ""}, {S, "[abc", nullptr}, {S, "[", nullptr}, {S, "", nullptr},
        {K, "key=v", "0", "key"}, {K, "KEY = v", "0", "key"}, {K, "key\t=v", "0", "key"},
        {K, "key", "0", "key"}, {K, "Key", "0", "kEY"}, {K, "=v", "0", ""}, {K, "key=v=w", "0", "key"},
        {K, "key v", "-1", "key"}, {K, " key=v", "-1", "key"}, {K, "keyx=v", "-1", "key"},
        {K, "ke=y", "-1", "key"}, {K, "", "-1", "key"},
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
    EXPECT_EQ(CompareKey(szBuffer, nullptr), -1);
}

TEST_F(IniFile, StringReaderTakesRawLinesAndSubstringSections)
{
    const std::string kLongValue(300, 'a');
    const std::string kPieceFiller = "x=" + std::string(253, 'b'); // exactly 255 characters
    const struct
    {
        const char* pcszName;
        std::string strContent;
        const char* pcszSection;
        const char* pcszKey;
        std::string strValue;
        DWORD dwResult;
    } kCases[] = {
        {"spaced_equals", "[S]\nkey = value\n", "S", "key", "value", 5},
        {"bare_equals_ignoring_case", "[S]\nKEY=value\n", "S", "key", "value", 5},
        {"blank_after_equals_is_kept", "[S]\nkey= value\n", "S", "key", " value", 6},
        {"blank_before_bare_equals_never_matches", "[S]\nkey =value\n", "S", "key", "DEF", 0},
        {"empty_value", "[S]\nkey=\n", "S", "key", "", 0},
        {"crlf_line_gives_no_cr", "[S]\r\nkey=value\r\n", "S", "key", "value", 5},
        {"trailing_blanks_are_kept", "[S]\nkey=value  \n", "S", "key", "value  ", 7},
        {"no_final_newline", "[S]\nkey=value", "S", "key", "value", 5},
        {"section_matches_as_prefix", "[service_pack_linux_64]\nkey=v\n", "service_pack_linux", "key", "v", 1},
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
        {"long_line_gives_its_first_piece", "[S]\nkey=" + kLongValue + "\n", "S", "key", kLongValue.substr(0, 251), 251},
        {"rest_of_long_line_is_a_line_of_its_own", "[S]\n" + kPieceFiller + "key=tail\n", "S", "key", "tail", 4},
    };
    for (const auto& c : kCases)
    {
        Write(c.strContent);
        char szValue[1024];
        std::memset(szValue, 'X', sizeof(szValue));
        EXPECT_EQ(GetPrivateProfileString(c.pcszSection, c.pcszKey, "DEF", szValue, sizeof(szValue), kIni.c_str()),
                  c.dwResult)
            << c.pcszName;
        EXPECT_EQ(std::string(szValue), c.strValue) << c.pcszName;
    }
}

TEST_F(IniFile, StringReaderLeavesTheBufferAloneWithoutFileOrArguments)
{
    Write("[S]\nkey=v\n");
    char szValue[260] = "untouched";
    const char* pcszFile = kIni.c_str();
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szValue, 260, kMissing.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileString(nullptr, "key", "DEF", szValue, 260, pcszFile), 0u);
    EXPECT_EQ(GetPrivateProfileString("S", nullptr, "DEF", szValue, 260, pcszFile), 0u);
    EXPECT_EQ(GetPrivateProfileString("S", "key", nullptr, szValue, 260, pcszFile), 0u);
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szValue, 260, nullptr), 0u);
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", nullptr, 260, pcszFile), 0u);
    EXPECT_STREQ(szValue, "untouched");
}

// The size given is cleared behind a value and never written past.
TEST_F(IniFile, StringReaderKeepsToTheBufferSize)
{
    Write("[S]\nkey=value\n");
    char szValue[300];
    std::memset(szValue, 'X', sizeof(szValue));
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szValue, 260, kIni.c_str()), 5u);
    EXPECT_EQ(std::string(szValue, 5), "value");
    for (int i = 5; i < 260; ++i)
        ASSERT_EQ(szValue[i], '\0') << i;
    EXPECT_EQ(szValue[260], 'X');

    char szSmall[4];
    EXPECT_EQ(GetPrivateProfileString("S", "key", "DEF", szSmall, sizeof(szSmall), kIni.c_str()), 3u);
    EXPECT_STREQ(szSmall, "val");
    EXPECT_EQ(GetPrivateProfileString("S", "other", "DEFAULT", szSmall, sizeof(szSmall), kIni.c_str()), 0u);
    EXPECT_STREQ(szSmall, "DEF");
}

// Section "DATA_FOR_UPGRADE", key "type", default 7.
TEST_F(IniFile, IntReaderValuesAndCodes)
{
    const struct
    {
        const char* pcszName;
        const char* pcszContent;
        int iExpected;
        DWORD dwCode;
    } kCases[] = {
        {"spaced_equals", "[DATA_FOR_UPGRADE]\ntype = 2\n", 2, 0},
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
    };
    for (const auto& c : kCases)
    {
        Write(c.pcszContent);
        DWORD dwError = 999;
        EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 7, kIni.c_str(), &dwError), c.iExpected)
            << c.pcszName;
        EXPECT_EQ(dwError, c.dwCode) << c.pcszName;
    }
}

TEST_F(IniFile, IntReaderCodesForNamesAndMissingFile)
{
    Write("[DATA_FOR_UPGRADE]\ntype=2\n");
    const struct
    {
        const char* pcszSection;
        const char* pcszKey;
        std::string strFile;
        int iExpected;
        DWORD dwCode;
    } kCases[] = {
        {"DATA_FOR_UPGRADE", "type", kMissing, 7, 102},
        {"", "type", kMissing, 7, 205}, // the names are checked before the file
        {"", "", kIni, 7, 205},
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
    const char* pcszFile = kIni.c_str();
    EXPECT_EQ(GetPrivateProfileInt(nullptr, "type", 7, pcszFile, &dwError), -1);
    EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", nullptr, 7, pcszFile, &dwError), -1);
    EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 7, nullptr, &dwError), -1);
    EXPECT_EQ(dwError, 999u) << "a null argument stores no code";
    EXPECT_EQ(GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 7, pcszFile, nullptr), -1);
}

using Entries = std::map<std::string, std::string>;

TEST_F(IniFile, SectionMapAddsTheSectionsEntries)
{
    const struct
    {
        const char* pcszName;
        std::string strContent;
        Entries expected;
    } kCases[] = {
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
    for (const auto& c : kCases)
    {
        Write(c.strContent);
        Entries entries;
        EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, kIni.c_str()), 0) << c.pcszName;
        EXPECT_EQ(entries, c.expected) << c.pcszName;
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
    EXPECT_EQ(ReadIniFileSectionIntoMap("S", entries, nullptr), -1);
    EXPECT_EQ(ReadIniFileSectionIntoMap("", entries, kIni.c_str()), -1);
    EXPECT_EQ(ReadIniFileSectionIntoMap(" \t ", entries, kIni.c_str()), -1);
    EXPECT_EQ(entries, expected);
}
} // namespace
