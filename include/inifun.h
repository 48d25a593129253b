// INI profile access with the Windows function names the agent's code uses.
#pragma once

#include <map>
#include <string>

#include "typedef.h"

// Line helpers; each modifies the buffer it is given.
char* Trim(char* pszString);
char* GetSectionName(char* pszString);
int CompareKey(char* pszReadString, const char* pcszKeyName);

// Reads a key of the first section whose header contains pcszSectionName;
// the section ends at the next header. Returns the value's length, or 0 with
// pcszDefault copied (nothing is copied when the file cannot be opened).
// Values and the default are cut to fit ciSizeOfValue; pass at least 256.
DWORD GetPrivateProfileString(const char* pcszSectionName, const char* pcszKey,
                              const char* pcszDefault, char* pszValue, int ciSizeOfValue,
                              const char* pcszFilePath);
// Codes through pdwError: 0 found, 102 file not opened, 201 key without a
// value, 202 key not in the section, 203 empty key name, 204 section not
// found, 205 empty section name.
int GetPrivateProfileInt(const char* pcszSectionName, const char* pcszKeyName, int iDefaultValue,
                         const char* pcszINIFileName, DWORD* pdwError);
// Rewrites the file through "/usr/lib/Zelvano/ClientAgent/temp/temp.ini",
// which must be on the same file system as the file written.
BOOL WritePrivateProfileString(const char* pcszAppName, const char* pcszKeyName,
                               const char* pcszString, const char* pcszFileName);
int ReadIniFileSectionIntoMap(const char* pcszSectionName,
                              std::map<std::string, std::string>& mapSectionEntries,
                              const char* pcszINIFileName);
