// MapiDoubleDump [directory]: prints what the MAPI double's state files hold (profiles, mailboxes with their
// messages, and what each MAPIUninitialize found left behind) for people. Without an argument it reads the
// directory the double's own variable names.

#include "State.h"

#include <cstdio>

int wmain(int argc, wchar_t* argv[])
{
    const std::wstring directory = argc > 1 ? argv[1] : MapiDouble::CStateDirectory::FromEnvironment().Path();
    if (directory.empty() || GetFileAttributesW(directory.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fputs("usage: MapiDoubleDump [state directory]\n", stderr);
        return 1;
    }
    for (const wchar_t* name : {L"profiles.txt", L"mailboxes.txt", L"accounting.txt"}) {
        std::printf("== %ls\n", name);
        if (FILE* file = _wfopen((directory + L"\\" + name).c_str(), L"rb")) {
            char chunk[4096];
            for (size_t read; (read = std::fread(chunk, 1, sizeof chunk, file)) != 0;) {
                std::fwrite(chunk, 1, read, stdout);
            }
            std::fclose(file);
        }
    }
    return 0;
}
