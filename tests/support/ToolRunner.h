#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

struct RunOptions {
    std::wstring WorkingDirectory;                                 // empty: the test's own
    // Added to, or replacing, the test's own; how doubles find their steering. (Wine takes DLL overrides only
    // from the environment it was started with: a double DLL is chosen by copying it beside the exe.)
    std::vector<std::pair<std::wstring, std::wstring>> Environment;
    // In a console of its own, so that the test can send it console events.
    bool OwnConsole = false;
    // Called once the program has started, before it is waited for: its process id and its output file.
    std::function<void(DWORD processId, const std::wstring& outputPath)> WhileRunning;
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
