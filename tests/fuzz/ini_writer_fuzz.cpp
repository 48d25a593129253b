// The INI writer over a fuzzed file, with a fuzzed section, key and value
// inside the writer's limits (printable, 80 characters each; no '=', '[',
// ']' or blank in the key; no '[' or ']' in the section). When it reports
// success, the string reader finds the value under the key. Lines that
// already hold the key are left out of the file, since the reader would take
// the first of them, and the value holds no " = ", at which the reader
// splits a line first.
#include <strings.h>

#include <cstring>

#include "fuzz.h"
#include "inifun.h"

namespace
{
std::string Printable(const std::string& text, const char* pcszRefused)
{
    std::string out;
    for (size_t i = 0; i < text.size() && out.size() < 80; ++i)
        if (text[i] >= ' ' && text[i] < 127 && !std::strchr(pcszRefused, text[i]) &&
            !(text[i] == '=' && i > 0 && text[i - 1] == ' '))
            out += text[i];
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const tk::Strings pieces = fuzz::Pieces(pData, nSize, 4);
    const std::string section = Printable(pieces[0], "[]"), key = Printable(pieces[1], "=[] "),
                      value = Printable(pieces[2], "");
    if (section.empty() || key.empty())
        return 0;
    std::string file;
    for (const std::string& line : tk::Lines(pieces[3]))
        if (strcasestr(line.c_str(), key.c_str()) == nullptr)
            file += line + "\n";
    const char kFile[] = "/tmp/fuzz_writer.ini";
    // The second write makes the writer's folder for its temporary file.
    FUZZ_CHECK(tk::Write(kFile, file) && tk::Write("/usr/lib/Zelvano/ClientAgent/temp/x", ""));
    if (!WritePrivateProfileString(section.c_str(), key.c_str(), value.c_str(), kFile))
        return 0;
    char szRead[300];
    GetPrivateProfileString(section.c_str(), key.c_str(), "", szRead, sizeof(szRead), kFile);
    FUZZ_CHECK(value == szRead);
    return 0;
}
