#include "app/CommandLine.h"

#include "config/ProgramPaths.h"
#include "errors/Handle.h"
#include "errors/Text.h"

#include <windows.h>

#include <iostream>

CommandLineOptions ParseCommandLine(int argc, const wchar_t* const argv[])
{
    CommandLineOptions options;
    if (argc == 2) {
        options.IniPath = argv[1];
        // Checked where the loader will read it, not in the current directory.
        if (FileExists(ResolveConfigurationPath(options.IniPath))) {
            options.IsValid = true;
        } else {
            std::cout << "Error: Cannot find the ini-file '" << ToNarrow(options.IniPath) << "'\n";
        }
    } else if (argc == 3) {
        options.IniPath = argv[1];
        options.Password = argv[2];
        options.IsEncryptMode = true;
        options.IsValid = true;
    } else {
        std::cout << "Error: Invalid command line\n";
    }
    return options;
}

bool FileExists(const std::wstring& path)
{
    const Util::CHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.IsValid()) {
        return true;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}
