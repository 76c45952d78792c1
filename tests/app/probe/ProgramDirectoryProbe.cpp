#include "config/ProgramPaths.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

// Writes the program directory, and the configuration path resolved for argv[1], as UTF-16 lines.
int wmain(int argc, wchar_t* argv[])
{
    std::wstring text = GetProgramDirectory() + L"\n";
    if (argc > 1) {
        text += ResolveConfigurationPath(argv[1]) + L"\n";
    }
    _setmode(_fileno(stdout), _O_BINARY);
    std::fwrite(text.data(), sizeof(wchar_t), text.size(), stdout);
    return 0;
}
