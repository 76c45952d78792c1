#pragma once

#include "config/Settings.h"

#include <optional>
#include <string>

// KorvelEngine.exe beside the tool; the child is never searched for on the path.
std::wstring ChildExecutablePath();
// The same between double quotes, so that a tool directory with blanks still names one program.
std::wstring QuotedChildExecutablePath();

// A blank and the quoted name of every entry that has a profile and did not fail, in list order; empty when none.
std::wstring BuildProfileList(const MailboxList& mailboxes);
// The main run: quoted child, the configured extra command line, then "-Profiles" and the list.
std::wstring BuildChildCommandLine(const SwitchSettings& settings, const std::wstring& profileList);
// The clean-up run: "-Cleanup -Silent" with the configured "-ini" value and a "-Log" value of its own.
std::wstring BuildCleanupCommandLine(const SwitchSettings& settings);

// The value after "-ini" (or "/ini ") and after "-Log", with the blanks and quotes around it, up to the next
// switch outside double quotes; empty when the switch is absent.
std::wstring ExtractIniArgument(const std::wstring& korvelCmdLine);
std::wstring ExtractLogArgument(const std::wstring& korvelCmdLine);
// Puts the suffix into the file name part of a log path: before its extension, or else inside the closing
// quote, or at the end.
std::wstring InsertLogSuffix(const std::wstring& name, const std::wstring& suffix);

// Starts the command line as a child sharing the console, waits for it without a time limit and returns its
// exit code (-1 included); nothing when it cannot be started or its exit code cannot be had.
std::optional<int> RunChildProcess(const std::wstring& commandLine);
