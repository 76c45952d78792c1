#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

// A fresh directory under the temporary directory, removed with everything in it at the end of the test.
class TempDir {
public:
    explicit TempDir(const std::wstring& nameHint);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& Path() const { return path; }
    std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }
    void Empty() const; // removes everything in it

private:
    std::wstring path;
};

// Where the platform doubles are built, beside the test programs' bin/.
std::wstring DoublesDirectory();

void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path); // "" for a file that is not there
void CopyInto(const std::wstring& source, const std::wstring& directory); // kept when there: its image may be held

struct RunOptions {
    // Set in the test's own environment for the rest of the test: how the doubles find their steering.
    std::vector<std::pair<std::wstring, std::wstring>> Environment;
    bool OwnConsole = false; // so that the test can send it console events
    // Called once the program has started, before it is waited for: its process id and its output file.
    std::function<void(DWORD processId, const std::wstring& outputPath)> WhileRunning;
};

struct ToolRun {
    DWORD ExitCode = 0; // the whole 32-bit value, as a Windows parent sees it
    std::string Output; // standard output exactly as a redirected file holds it
};

// Starts a program with its standard output redirected to a file, waits for it and reads the file back.
ToolRun RunProgram(const std::wstring& exe, const std::vector<std::wstring>& arguments, const RunOptions& options);

// Quotes one argument so that the C runtime of the child reads it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

} // namespace TestSupport
