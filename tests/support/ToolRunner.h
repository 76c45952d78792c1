#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

struct RunOptions {
    std::wstring WorkingDirectory;                                 // empty: the test's own
    std::vector<std::pair<std::wstring, std::wstring>> Environment; // added to, or replacing, the test's own
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

// "A=B" pairs for a double's steering, in WINEDLLOVERRIDES form for a native DLL beside the exe.
std::pair<std::wstring, std::wstring> NativeDll(const std::wstring& dllNames);

} // namespace TestSupport
