// The installer's driver: command line, choice of the update flow, exit.
#pragma once

// The whole of main(): routes one request to one update flow and returns the
// process exit status, which is 0 on every path. Kept apart from main() so
// the tests link it.
int XedabldnMain(int argc, char* argv[]);
