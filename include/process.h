// Child processes, always waited for: a program started directly, and a
// command run through the shell.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Runs pcszProgram (a full path) with argv in a child process and waits for
// it. fnInChild, when given, runs in the child first (the caller's trace of
// the child, say). Returns the wait status, or -1 when the child could not be
// created or waited for; a child that cannot start the program exits with 127.
int RunChildAndWait(const char* pcszProgram, char* const argv[],
                    const std::function<void()>& fnInChild = {});

// The same with the argument vector as strings, the program's full path first.
int RunProgram(const std::vector<std::string>& args, const std::function<void()>& fnInChild = {});

// Runs the command through /bin/sh and waits for it; the status as system()
// gives it.
int RunShell(const char* pcszCommand);
