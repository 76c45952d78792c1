#pragma once

// Returned when the run stopped on an error none of its phases can carry on from, for instance MAPI failing to
// start for the removal of the profiles, or when it was interrupted (Ctrl+C, Ctrl+Break, the console closed)
// during the mailbox pass. A script must treat the run as failed and read its "Error: " line.
constexpr int unexpectedErrorExitCode = 16;

// The whole run: parses the command line, runs the chosen mode and returns the process exit code.
int RunBrisklet(int argc, const wchar_t* const argv[]);
