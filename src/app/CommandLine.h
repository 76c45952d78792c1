#pragma once

#include <string>

struct CommandLineOptions {
    std::wstring IniPath;   // the first argument exactly as typed
    std::wstring Password;  // the second argument in encrypt mode
    bool IsValid = false;
    bool IsEncryptMode = false;
};

// One argument: normal mode on that configuration file; two: encrypt mode. Prints why a command line is unusable.
CommandLineOptions ParseCommandLine(int argc, const wchar_t* const argv[]);

// False only when the path certainly names nothing; a file that exists but cannot be opened counts as existing.
bool FileExists(const std::wstring& path);
