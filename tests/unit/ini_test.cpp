// INI access, quirks included: the string reader and the writer work on raw
// lines of 255 characters and match sections by substring; the integer and
// section readers trim lines, skip comments and match whole names.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "inifun.h"
#include "testkit.h"

namespace
{
const std::string kIni = "/usr/lib/Zelvano/ClientAgent/test.ini",
                  kTemp = "/usr/lib/Zelvano/ClientAgent/temp/temp.ini";

// Each reader on a file of this text, its outcome as one string.
std::string ReadString(const std::string& text) // key "key" of "S", default "DEF": "result value"
{
    char szValue[1024];
    memset(szValue, 'X', sizeof(szValue));
    EXPECT_TRUE(tk::Write(kIni, text));
    const DWORD dwResult =
        GetPrivateProfileString("S", "key", "DEF", szValue, sizeof(szValue), kIni.c_str());
    return std::to_string(dwResult) + " " + szValue;
}
std::string ReadInt(
    const std::string& text) // "type" of "DATA_FOR_UPGRADE", default 7: "value code"
{
    DWORD dwCode = 999;
    EXPECT_TRUE(tk::Write(kIni, text));
    const int iValue = GetPrivateProfileInt("DATA_FOR_UPGRADE", "type", 7, kIni.c_str(), &dwCode);
    return std::to_string(iValue) + " " + std::to_string(dwCode);
}
std::string ReadMap(const std::string& text) // section "S": "key=value;" each
{
    std::map<std::string, std::string> entries;
    EXPECT_TRUE(tk::Write(kIni, text));
    std::string result =
        std::to_string(ReadIniFileSectionIntoMap("S", entries, kIni.c_str())) + " ";
    for (const auto& [key, value] : entries)
        result += key + "=" + value + ";";
    return result;
}

TEST(Ini, Readers)
{
    const std::string a300(300, 'a'), b253(253, 'b');
    // clang-format off
    const std::pair<std::string, std::string> strings[] = {
        {"[S]\nkey = value\n", "5 value"}, {"[S]\nKEY=value\n", "5 value"}, {"[S]\nkey= v\n", "2  v"},
        {"[S]\nkey =v\n", "0 DEF"}, {"[S]\nkey=\n", "0 "}, {"[S]\r\nkey=v  \r\n", "3 v  "},
        {"[x_S_old]\nkey=v\n", "1 v"}, {"[s]\nkey=v\n", "0 DEF"}, {"[S]\nkey = a=b\n", "3 a=b"},
        {"[S]\nkey=a = b\n", "0 DEF"}, {"[S]\n key=v\n", "0 DEF"}, {"[S]\nkey=v ;c\n", "4 v ;c"},
        {"[T]\nkey=t\n[S]\nkey\nkey=s\n", "1 s"}, {"[S]\nk=1\n[T]\nkey=v\n", "0 DEF"},
        {"[S]\nkey=" + a300, "251 " + a300.substr(49)}, {"[S]\nx=" + b253 + "key=tail\n", "4 tail"}};
    const std::pair<std::string, std::string> ints[] = {
        {"[DATA_FOR_UPGRADE]\ntype = 2\n", "2 0"}, {"\v [ data_for_upgrade ] ;c\r\n \f TYPE \t= -7 \v\r\n", "-7 0"},
        {"[DATA_FOR_UPGRADE]\ntype=\n", "7 201"}, {"[DATA_FOR_UPGRADE]\ntype\n", "7 201"},
        {"[DATA_FOR_UPGRADE]\ntype=abc\n", "0 0"}, {"[DATA_FOR_UPGRADE]\n; type=2\n# type=1\n", "7 202"},
        {"[DATA_FOR_UPGRADE]\ntyped=5\n[X]\ntype=1\n", "7 202"}, {"[X]\ntype=1\n[DATA_FOR_UPGRADE]\ntype=2", "2 0"},
        {"[DATA_FOR_UPGRADE_64]\ntype=1\n", "7 204"}, {"; [DATA_FOR_UPGRADE]\ntype=1\n", "7 204"},
        {"[DATA_FOR_UPGRADE]x]\ntype=2\n", "2 0"}, {"[DATA_FOR_UPGRADE\ntype=2\n", "7 204"}};
    const std::pair<std::string, std::string> maps[] = {
        {"[S]\na==b\n=x\nnovalue\n", "0 a=b;"}, {"[S]\na = b=c\na=2\nA=3\n", "0 A=3;a=b;"},
        {"  [ s ] \r\n; c=1\n\n  k =  v \r\n[T]\nt=1\n", "0 k= v;"}, {"[S_64]\nk=v\n", "0 "},
        {"[S]\n" + std::string(70, 'k') + "=" + a300, "0 " + std::string(63, 'k') + "=" + a300.substr(173) + ";"}};
    // clang-format on
    for (const auto& [text, expected] : strings)
        EXPECT_EQ(expected, ReadString(text)) << text;
    for (const auto& [text, expected] : ints)
        EXPECT_EQ(expected, ReadInt(text)) << text;
    for (const auto& [text, expected] : maps)
        EXPECT_EQ(expected, ReadMap(text)) << text;
    // Cut to the size given and never written past; no file: left as it was.
    char szValue[8] = "XXXXXXX";
    ASSERT_TRUE(tk::Write(kIni, "[S]\nkey=value\n"));
    EXPECT_EQ(3u, GetPrivateProfileString("S", "key", "DEF", szValue, 4, kIni.c_str()));
    EXPECT_EQ(0u, GetPrivateProfileString("S", "key", "DEF", szValue, 4, "/no/such.ini"));
    EXPECT_EQ(std::string("val\0XXX", 8), std::string(szValue, 8));
    DWORD dwCode = 0; // the names are checked before the file
    EXPECT_EQ(7, GetPrivateProfileInt("", "type", 7, "/no/such.ini", &dwCode));
    EXPECT_EQ(205u, dwCode);
    EXPECT_EQ(7, GetPrivateProfileInt("S", "type", 7, "/no/such.ini", &dwCode));
    EXPECT_EQ(102u, dwCode);
    std::map<std::string, std::string> entries;
    EXPECT_EQ(-1, ReadIniFileSectionIntoMap("S", entries, "/no/such.ini"));
    EXPECT_EQ(-1, ReadIniFileSectionIntoMap(" \t", entries, kIni.c_str()));
    char szLine[] = "  x "; // trimmed in place: the leading blanks are overwritten
    EXPECT_EQ(Trim(szLine), szLine + 2);
    EXPECT_EQ(szLine[0], '\0');
}

// Key "k", value "v", section "S"; no file before when the row says so.
TEST(Ini, WriterLeavesExactlyTheseBytes)
{
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "[S]\nk=v\n"}, {"[S]\na=1\nK=old\nb=2\n", "[S]\na=1\nk=v\nb=2\n"},
        {"[S]\na=1\n[T]\n", "[S]\na=1\n\nk=v\n[T]\n"}, {"[T]\nb=2\n", "[T]\nb=2\n\n[S]\nk=v\n"},
        {"[S]\nk = 1\n", "[S]\nk = 1\n\nk=v\n"}, {"[x_S_old]\nk=1\n", "[x_S_old]\nk=v\n"},
        {"[T]\nk=1\n[S]\nk=2\nk=3\n[S]\nk=4\n", "[T]\nk=1\n[S]\nk=v\nk=3\n[S]\nk=4\n"},
        {"[S]\r\nk=1\r\n", "[S]\r\nk=v\n"}, {"[T]\nb=2", "[T]\nb=2\n[S]\nk=v\n"}};
    // clang-format on
    ASSERT_TRUE(tk::Write(kTemp, "")); // its directory
    for (const auto& [before, after] : cases)
    {
        tk::Remove(kIni);
        tk::Remove(kTemp);
        ASSERT_TRUE(!before || tk::Write(kIni, before));
        EXPECT_EQ(TRUE, WritePrivateProfileString("S", "k", "v", kIni.c_str())) << after;
        EXPECT_EQ(after, tk::Read(kIni));
        EXPECT_FALSE(tk::Exists(kTemp)) << after;
    }
    EXPECT_EQ(TRUE,
              WritePrivateProfileString("S", "k", std::string(248, 'v').c_str(), kIni.c_str()));
}

// A write that fails leaves the file as it was: the temporary file cannot be
// written (/dev/full; a small file fails only at its flush), an output line
// passes its 256 bytes, the rename crosses file systems (/tmp).
TEST(Ini, WriterFailuresKeepTheFile)
{
    const std::string small = "[S]\nk=1\n", large = small + std::string(10000, ';') + "\n";
    // clang-format off
    const std::tuple<std::string, std::string, std::string, bool> cases[] = {
        {kIni, small, "v", true}, {kIni, large, "v", true},
        {kIni, small, std::string(260, 'v'), false}, {"/tmp/other.ini", small, "v", false}};
    // clang-format on
    for (const auto& [file, before, value, bFullTemp] : cases)
    {
        ASSERT_TRUE(tk::Write(file, before));
        tk::Remove(kTemp);
        if (bFullTemp)
            std::filesystem::create_symlink("/dev/full", kTemp);
        EXPECT_EQ(FALSE, WritePrivateProfileString("S", "k", value.c_str(), file.c_str())) << file;
        EXPECT_EQ(before, tk::Read(file));
    }
    EXPECT_EQ(FALSE, WritePrivateProfileString("S", "k", "v", "/usr/lib/Zelvano/no-dir/x.ini"));
    tk::Remove(kIni);
    auto writer = [](char thread) { // two threads lose no key
        for (int i = 0; i < 15; ++i)
            WritePrivateProfileString("S", (thread + std::to_string(i)).c_str(), "x", kIni.c_str());
    };
    std::thread first(writer, 'a'), second(writer, 'b');
    first.join();
    second.join();
    std::map<std::string, std::string> entries;
    ASSERT_EQ(0, ReadIniFileSectionIntoMap("S", entries, kIni.c_str()));
    EXPECT_EQ(30u, entries.size());
}
} // namespace
