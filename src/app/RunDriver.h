#pragma once

// The whole run: parses the command line, runs the chosen mode and returns the process exit code.
int RunBrisklet(int argc, const wchar_t* const argv[]);
