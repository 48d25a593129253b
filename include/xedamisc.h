// The agent's closed library xedamisc.so (a stand-in of ours is built in
// agentlibs/xedamisc). C linkage, so the real library can take its place.
#pragma once

#include "typedef.h"

extern "C"
{
// Stores the agent's configuration directory, terminated and ending in '/',
// in pszBuffer (uiSize bytes) and returns TRUE; returns FALSE and leaves the
// buffer unused when the directory is not available or does not fit.
BOOLEAN GetClientAgentConfigDir(char* pszBuffer, unsigned int uiSize);
}
