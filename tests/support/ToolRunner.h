#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

struct RunOptions {
    std::wstring WorkingDirectory;                                 // empty: the test's own
    // Added to, or replacing, the test's own; how doubles find their steering. (Wine takes DLL overrides only
    // from the environment it was started with: a double DLL is chosen by copying it beside the exe.)
    std::vector<std::pair<std::wstring, std::wstring>> Environment;
};

struct ToolRun {
    DWORD ExitCode = 0;      // the whole 32-bit value, as a Windows parent sees it
    std::string Output;      // standard output exactly as a redirected file holds it
};

// Starts a program with its standard output redirected to a file, waits for it and reads the file back.
ToolRun RunProgram(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                   const RunOptions& options = {});

// Quotes one argument so that the C runtime of the child reads it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

} // namespace TestSupport
