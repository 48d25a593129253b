// The agent's closed event-log library acevtlog.so (a stand-in of ours is
// built in agentlibs/acevtlog). C linkage, so the real library can take its place.
#pragma once

#include "typedef.h"

extern "C"
{
// Name of the running program, as the event log prints it.
extern char g_szAppName__[];

// Appends one line to the agent's event log. The message is data: it is never
// used as a format.
void WriteToLogExA(DWORD dwLevel, const char* pcszAppName, const char* pcszFunctionName,
                   const char* pcszSourceFile, unsigned int uiLine, const char* pcszMessage);
}
