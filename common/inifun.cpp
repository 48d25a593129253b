#include "inifun.h"

#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cguard.h"
#include "handles.h"
#include "process.h"

// Serialises the writers of this process: they all share one temporary file.
CCriticalSectionGuard g_Guard;

namespace
{
// Every file written goes through this one temporary file, which is renamed
// over the target: it must live on the same file system as the files written.
constexpr char kszTempIniPath[] = "/usr/lib/Zelvano/ClientAgent/temp/temp.ini";

// The string reader and the writer read pieces of at most 255 characters and
// format each output line in 256 bytes; the integer and section readers read
// pieces of at most 1023 characters. A longer physical line is handled as
// several lines.
constexpr int kShortLineBuffer = 256;
constexpr int kLongLinePiece = 1023;
constexpr int kLongLineBuffer = kLongLinePiece + 2;
// Section and key names are cut to 256 characters before use.
constexpr std::size_t kNameBuffer = 257;
// Limits of one section-map entry: the whole line, its key and its value.
constexpr std::size_t kEntryBuffer = 260;
constexpr std::size_t kEntryKeyBuffer = 64;
constexpr std::size_t kEntryValueBuffer = 128;

// Codes of GetPrivateProfileInt.
enum : DWORD
{
    INI_INT_FOUND = 0,
    INI_INT_CANNOT_OPEN = 102,
    INI_INT_NO_VALUE = 201,
    INI_INT_KEY_NOT_FOUND = 202,
    INI_INT_EMPTY_KEY_NAME = 203,
    INI_INT_SECTION_NOT_FOUND = 204,
    INI_INT_EMPTY_SECTION_NAME = 205,
};

// Closes a file that was written; false when buffered data could not be
// flushed, i.e. the file on disk is short. A UniqueFile closes the files
// that were only read, and the copy abandoned on a failure path.
bool CloseWritten(FILE* fp)
{
    return std::fclose(fp) == 0;
}

bool IsHeader(const char* pcszLine)
{
    return pcszLine[0] == '[';
}

bool IsComment(const char* pcszLine)
{
    return pcszLine[0] == '#' || pcszLine[0] == ';';
}

// Copies at most nSize - 1 characters and always terminates.
void CopyCut(char* pszDest, std::size_t nSize, const char* pcszSource)
{
    const std::size_t nLength = strnlen(pcszSource, nSize - 1);
    std::memmove(pszDest, pcszSource, nLength);
    pszDest[nLength] = '\0';
}

template <std::size_t N>
void CopyCut(char (&szDest)[N], const char* pcszSource)
{
    CopyCut(szDest, N, pcszSource);
}

// ---- readers that trim lines, skip comments and match whole section names

// The next piece of the file, trimmed, that is not a comment; null at the end.
char* NextTrimmedLine(FILE* fp, char (&szLine)[kLongLineBuffer])
{
    while (std::fgets(szLine, kLongLinePiece + 1, fp) != nullptr)
    {
        char* pszLine = Trim(szLine);
        if (!IsComment(pszLine))
            return pszLine;
    }
    return nullptr;
}

// Reads up to and including the header whose trimmed name equals
// pcszSection ignoring case; false when the file ends first.
bool SeekSection(FILE* fp, const char* pcszSection)
{
    char szLine[kLongLineBuffer];
    while (char* pszLine = NextTrimmedLine(fp, szLine))
    {
        if (!IsHeader(pszLine))
            continue;
        const char* pcszName = GetSectionName(pszLine);
        if (pcszName != nullptr && strcasecmp(pcszName, pcszSection) == 0)
            return true;
    }
    return false;
}

// atoi without its undefined behaviour on overflow: out-of-range values
// saturate.
int ToInt(const char* pcszValue)
{
    const long lValue = std::strtol(pcszValue, nullptr, 10);
    if (lValue > INT_MAX)
        return INT_MAX;
    if (lValue < INT_MIN)
        return INT_MIN;
    return static_cast<int>(lValue);
}

// Looks for pcszKey in the section whose header was just read.
DWORD ReadIntValue(FILE* fp, const char* pcszKey, int& iValue)
{
    char szLine[kLongLineBuffer];
    while (char* pszLine = NextTrimmedLine(fp, szLine))
    {
        if (IsHeader(pszLine))
            return INI_INT_KEY_NOT_FOUND;
        char szKeyPart[kLongLineBuffer];
        CopyCut(szKeyPart, pszLine);
        if (CompareKey(szKeyPart, pcszKey) != 0)
            continue;
        char* pszEquals = std::strchr(pszLine, '=');
        if (pszEquals == nullptr)
            return INI_INT_NO_VALUE;
        const char* pcszValue = Trim(pszEquals + 1);
        if (*pcszValue == '\0')
            return INI_INT_NO_VALUE;
        iValue = ToInt(pcszValue);
        return INI_INT_FOUND;
    }
    return INI_INT_KEY_NOT_FOUND;
}

// Splits one section line at '=' runs and adds key and value to the map;
// a line without both parts adds nothing, and an existing key keeps its value.
void AddSectionEntry(const char* pcszLine, std::map<std::string, std::string>& mapEntries)
{
    char szEntry[kEntryBuffer];
    CopyCut(szEntry, pcszLine);
    char* pszState = nullptr;
    char* pszKeyPart = strtok_r(szEntry, "=", &pszState);
    if (pszKeyPart == nullptr)
        return;
    char szKey[kEntryKeyBuffer];
    CopyCut(szKey, Trim(pszKeyPart));
    const char* pcszValuePart = strtok_r(nullptr, "=", &pszState);
    if (pcszValuePart == nullptr)
        return;
    // Only the one blank that usually follows '=' is dropped.
    if (std::isspace(static_cast<unsigned char>(*pcszValuePart)))
        ++pcszValuePart;
    char szValue[kEntryValueBuffer];
    CopyCut(szValue, pcszValuePart);
    mapEntries.emplace(szKey, szValue);
}

// ---- the string reader: raw lines, substring section match

// Splits a line at the first " = " or, when there is none, at the first '='.
bool SplitRawEntry(char* pszLine, const char*& pcszKey, char*& pszValue)
{
    if (char* pszSep = std::strstr(pszLine, " = "))
    {
        *pszSep = '\0';
        pszValue = pszSep + 3;
    }
    else if (char* pszEquals = std::strchr(pszLine, '='))
    {
        *pszEquals = '\0';
        pszValue = pszEquals + 1;
    }
    else
        return false;
    pcszKey = pszLine;
    return true;
}

void CutAtLast(char* pszText, char ch)
{
    if (char* pszFound = std::strrchr(pszText, ch))
        *pszFound = '\0';
}

// Copies as much of pcszText as the caller's buffer holds with its
// terminator; returns the number of characters stored.
DWORD StoreValue(char* pszValue, int ciSizeOfValue, const char* pcszText)
{
    if (ciSizeOfValue <= 0)
        return 0;
    CopyCut(pszValue, static_cast<std::size_t>(ciSizeOfValue), pcszText);
    return static_cast<DWORD>(std::strlen(pszValue));
}

// ---- the writer

struct IniEntry
{
    const char* pcszSection;
    const char* pcszKey;
    const char* pcszValue;
};

// Output lines are formatted in 256 bytes; a line that does not fit fails
// the write instead of being cut.
bool FormatLine(char (&szLine)[kShortLineBuffer], const char* pcszFormat, ...)
    __attribute__((format(printf, 2, 3)));
bool FormatLine(char (&szLine)[kShortLineBuffer], const char* pcszFormat, ...)
{
    va_list args;
    va_start(args, pcszFormat);
    const int iLength = std::vsnprintf(szLine, sizeof(szLine), pcszFormat, args);
    va_end(args);
    return iLength >= 0 && iLength < kShortLineBuffer;
}

bool WriteText(FILE* fp, const char* pcszText)
{
    return std::fputs(pcszText, fp) != EOF;
}

// A key line added to a file starts with a line break of its own: the line
// before it may lack one (the last line of a file), and otherwise an empty
// line sets the new key apart.
bool WriteKeyLine(FILE* fp, const IniEntry& entry, bool bAdded)
{
    char szLine[kShortLineBuffer];
    return FormatLine(szLine, bAdded ? "\n%s=%s\n" : "%s=%s\n", entry.pcszKey, entry.pcszValue) &&
           WriteText(fp, szLine);
}

void RunSync()
{
    // sync only hurries the data to disk; the outcome of the write itself is
    // already decided, so its result is deliberately not used.
    (void)RunShell("sync");
}

BOOL CreateIniFile(const IniEntry& entry, const char* pcszFileName)
{
    char szContent[kShortLineBuffer];
    if (!FormatLine(szContent, "[%s]\n%s=%s\n", entry.pcszSection, entry.pcszKey, entry.pcszValue))
        return FALSE;
    FILE* fp = std::fopen(pcszFileName, "w+");
    if (fp == nullptr)
        return FALSE;
    const bool bWritten = WriteText(fp, szContent);
    const bool bClosed = CloseWritten(fp);
    RunSync();
    return bWritten && bClosed ? TRUE : FALSE;
}

bool KeyBeforeEquals(const char* pcszLine, const char* pcszKey)
{
    const char* pcszEquals = std::strchr(pcszLine, '=');
    if (pcszEquals == nullptr)
        return false;
    char szKeyPart[kShortLineBuffer];
    CopyCut(szKeyPart, pcszLine);
    szKeyPart[pcszEquals - pcszLine] = '\0';
    return strcasecmp(szKeyPart, pcszKey) == 0;
}

struct MergeState
{
    bool bInSection = false;
    bool bDone = false;
};

// Copies one line into the temporary file: a new key goes in before the
// header that ends its section, and the first line of the section holding
// the key is replaced.
bool CopyMergedLine(FILE* fpTemp, const char* pcszLine, const IniEntry& entry, MergeState& state)
{
    if (IsHeader(pcszLine) && !state.bDone)
    {
        if (state.bInSection)
        {
            if (!WriteKeyLine(fpTemp, entry, true))
                return false;
            state.bDone = true;
        }
        state.bInSection = std::strstr(pcszLine, entry.pcszSection) != nullptr;
    }
    if (state.bInSection && !state.bDone && KeyBeforeEquals(pcszLine, entry.pcszKey))
    {
        state.bDone = true;
        return WriteKeyLine(fpTemp, entry, false);
    }
    return WriteText(fpTemp, pcszLine);
}

bool AppendMissingEntry(FILE* fpTemp, const IniEntry& entry, const MergeState& state)
{
    if (state.bDone)
        return true;
    if (!state.bInSection)
    {
        char szHeader[kShortLineBuffer];
        if (!FormatLine(szHeader, "\n[%s]", entry.pcszSection) || !WriteText(fpTemp, szHeader))
            return false;
    }
    return WriteKeyLine(fpTemp, entry, true);
}

// Writes the updated copy of the file into the temporary file. False on any
// read or write failure, so that a short copy never replaces the original.
bool WriteUpdatedCopy(const IniEntry& entry, const char* pcszFileName)
{
    UniqueFile fpSource(std::fopen(pcszFileName, "r"));
    if (!fpSource)
        return false;
    UniqueFile fpTemp(std::fopen(kszTempIniPath, "w+"));
    if (!fpTemp)
        return false;
    MergeState state;
    char szLine[kShortLineBuffer];
    while (std::fgets(szLine, sizeof(szLine), fpSource.get()) != nullptr)
    {
        if (!CopyMergedLine(fpTemp.get(), szLine, entry, state))
            return false;
    }
    if (std::ferror(fpSource.get()) || !AppendMissingEntry(fpTemp.get(), entry, state))
        return false;
    return CloseWritten(fpTemp.release());
}

BOOL UpdateIniFile(const IniEntry& entry, const char* pcszFileName)
{
    if (!WriteUpdatedCopy(entry, pcszFileName))
    {
        RunSync();
        return FALSE;
    }
    // The copy reaches the disk before it takes the original's place. The
    // rename replaces the file in one step: when it fails (another file
    // system, say) the original stays as it was.
    RunSync();
    const bool bReplaced = std::rename(kszTempIniPath, pcszFileName) == 0;
    RunSync();
    return bReplaced ? TRUE : FALSE;
}
} // namespace

char* GetSectionName(char* pszString)
{
    if (pszString == nullptr || *pszString == '\0')
        return nullptr;
    *pszString = '\0';
    char* pszClose = std::strchr(pszString + 1, ']');
    if (pszClose == nullptr)
        return nullptr;
    *pszClose = '\0';
    return Trim(pszString + 1);
}

int CompareKey(char* pszReadString, const char* pcszKeyName)
{
    if (pszReadString == nullptr || pcszKeyName == nullptr)
        return -1;
    if (char* pszEnd = std::strchr(pszReadString, '='))
    {
        *pszEnd = '\0';
        while (pszEnd > pszReadString && std::isspace(static_cast<unsigned char>(pszEnd[-1])))
            *--pszEnd = '\0';
    }
    return strcasecmp(pszReadString, pcszKeyName) == 0 ? 0 : -1;
}

DWORD GetPrivateProfileString(const char* pcszSectionName, const char* pcszKey,
                              const char* pcszDefault, char* pszValue, int ciSizeOfValue,
                              const char* pcszFilePath)
{
    if (pcszSectionName == nullptr || pcszKey == nullptr || pszValue == nullptr ||
        pcszFilePath == nullptr || pcszDefault == nullptr)
        return 0;
    UniqueFile fp(std::fopen(pcszFilePath, "r"));
    if (!fp)
        return 0;
    bool bInSection = false;
    char szLine[kShortLineBuffer];
    while (std::fgets(szLine, sizeof(szLine), fp.get()) != nullptr)
    {
        if (IsHeader(szLine))
        {
            // The section ends at the next header: a key missing from it is
            // never taken from a later section.
            if (bInSection)
                break;
            bInSection = std::strstr(szLine, pcszSectionName) != nullptr;
        }
        if (!bInSection)
            continue;
        if (ciSizeOfValue > 0)
            std::memset(pszValue, 0, static_cast<std::size_t>(ciSizeOfValue));
        const char* pcszLineKey = nullptr;
        char* pszLineValue = nullptr;
        if (!SplitRawEntry(szLine, pcszLineKey, pszLineValue) ||
            strcasecmp(pcszLineKey, pcszKey) != 0)
            continue;
        CutAtLast(pszLineValue, '\n');
        CutAtLast(pszLineValue, '\r');
        return StoreValue(pszValue, ciSizeOfValue, pszLineValue);
    }
    StoreValue(pszValue, ciSizeOfValue, pcszDefault);
    return 0;
}

int GetPrivateProfileInt(const char* pcszSectionName, const char* pcszKeyName, int iDefaultValue,
                         const char* pcszINIFileName, DWORD* pdwError)
{
    if (pcszSectionName == nullptr || pcszKeyName == nullptr || pcszINIFileName == nullptr ||
        pdwError == nullptr)
        return -1;
    *pdwError = INI_INT_FOUND;
    char szSection[kNameBuffer];
    CopyCut(szSection, pcszSectionName);
    if (szSection[0] == '\0')
    {
        *pdwError = INI_INT_EMPTY_SECTION_NAME;
        return iDefaultValue;
    }
    char szKey[kNameBuffer];
    CopyCut(szKey, pcszKeyName);
    if (szKey[0] == '\0')
    {
        *pdwError = INI_INT_EMPTY_KEY_NAME;
        return iDefaultValue;
    }
    UniqueFile fp(std::fopen(pcszINIFileName, "r"));
    if (!fp)
    {
        *pdwError = INI_INT_CANNOT_OPEN;
        return iDefaultValue;
    }
    if (!SeekSection(fp.get(), Trim(szSection)))
    {
        *pdwError = INI_INT_SECTION_NOT_FOUND;
        return iDefaultValue;
    }
    int iValue = 0;
    *pdwError = ReadIntValue(fp.get(), Trim(szKey), iValue);
    return *pdwError == INI_INT_FOUND ? iValue : iDefaultValue;
}

BOOL WritePrivateProfileString(const char* pcszAppName, const char* pcszKeyName,
                               const char* pcszString, const char* pcszFileName)
{
    if (pcszAppName == nullptr || pcszKeyName == nullptr || pcszString == nullptr ||
        pcszFileName == nullptr)
        return FALSE;
    const IniEntry entry = {pcszAppName, pcszKeyName, pcszString};
    ScopedLock<CCriticalSectionGuard> lock(g_Guard);
    if (access(pcszFileName, F_OK) != 0)
        return CreateIniFile(entry, pcszFileName);
    return UpdateIniFile(entry, pcszFileName);
}

int ReadIniFileSectionIntoMap(const char* pcszSectionName,
                              std::map<std::string, std::string>& mapSectionEntries,
                              const char* pcszINIFileName)
{
    if (pcszSectionName == nullptr || pcszINIFileName == nullptr)
        return -1;
    char szSection[kNameBuffer];
    CopyCut(szSection, pcszSectionName);
    const char* pcszSection = Trim(szSection);
    if (*pcszSection == '\0')
        return -1;
    UniqueFile fp(std::fopen(pcszINIFileName, "r"));
    if (!fp)
        return -1;
    if (!SeekSection(fp.get(), pcszSection))
        return 0;
    char szLine[kLongLineBuffer];
    while (const char* pcszLine = NextTrimmedLine(fp.get(), szLine))
    {
        if (IsHeader(pcszLine))
            break;
        if (*pcszLine != '\0')
            AddSectionEntry(pcszLine, mapSectionEntries);
    }
    return 0;
}
