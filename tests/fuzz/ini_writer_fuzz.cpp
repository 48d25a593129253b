// The INI writer over a fuzzed file, with a fuzzed section, key and value
// inside the writer's limits; when it reports success, the string reader
// finds the value under the key. Lines that already hold the key are left
// out of the file: the reader would take the first of them.
#include <strings.h>

#include <cstring>
#include <filesystem>

#include "fuzz.h"
#include "inifun.h"

namespace
{
const char kFile[] = "/tmp/fuzz_writer.ini";

// Printable characters (blanks included), none of `refused`, at most 80.
std::string Printable(const std::string& text, const char* pcszRefused)
{
    std::string out;
    for (char c : text)
        if (c >= ' ' && c < 127 && std::strchr(pcszRefused, c) == nullptr && out.size() < 80)
            out += c;
    return out;
}

// The reader splits a line at its first " = ", so a value must not hold one.
std::string Value(std::string text)
{
    for (size_t i = 1; i < text.size(); ++i)
        if (text[i] == '=' && text[i - 1] == ' ')
            text[i] = '-';
    return text;
}

std::string WithoutKey(const std::string& file, const std::string& key)
{
    std::string kept, line;
    for (size_t at = 0; at < file.size(); at += line.size())
    {
        const size_t nEnd = file.find('\n', at);
        line = file.substr(at, nEnd == std::string::npos ? nEnd : nEnd - at + 1);
        if (strcasestr(line.c_str(), key.c_str()) == nullptr)
            kept += line;
    }
    return kept;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const bool bDirectory =
        std::filesystem::create_directories("/usr/lib/Zelvano/ClientAgent/temp") || true;
    fuzz::Input input(pData, nSize);
    const std::string section = Printable(input.Text(), "[]");
    const std::string key = Printable(input.Text(), "=[] ");
    const std::string value = Value(Printable(input.Text(), ""));
    if (!bDirectory || section.empty() || key.empty())
        return 0;
    FUZZ_CHECK(fuzz::WriteFile(kFile, WithoutKey(input.Rest(), key)));
    if (!WritePrivateProfileString(section.c_str(), key.c_str(), value.c_str(), kFile))
        return 0;
    char szRead[300];
    GetPrivateProfileString(section.c_str(), key.c_str(), "", szRead, sizeof(szRead), kFile);
    FUZZ_CHECK(value == szRead);
    return 0;
}
