// INI profile access with the Windows function names the agent's code uses.
#pragma once

#include <map>
#include <string>

#include "typedef.h"

char* Trim(char* pszString);
char* GetSectionName(char* pszString);
int CompareKey(char* pszReadString, const char* pcszKeyName);

DWORD GetPrivateProfileString(const char* pcszSectionName, const char* pcszKey,
                              const char* pcszDefault, char* pszValue, int ciSizeOfValue,
                              const char* pcszFilePath);
int GetPrivateProfileInt(const char* pcszSectionName, const char* pcszKeyName, int iDefaultValue,
                         const char* pcszINIFileName, DWORD* pdwError);
BOOL WritePrivateProfileString(const char* pcszAppName, const char* pcszKeyName,
                               const char* pcszString, const char* pcszFileName);
int ReadIniFileSectionIntoMap(const char* pcszSectionName,
                              std::map<std::string, std::string>& mapSectionEntries,
                              const char* pcszINIFileName);
