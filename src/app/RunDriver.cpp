#include "app/RunDriver.h"

#include "app/CommandLine.h"
#include "app/EncryptMode.h"
#include "env/OutlookCheck.h"

#include <iostream>

namespace {

int RunNormalMode(const CommandLineOptions&)
{
    if (IsOutlook2010x64Installed()) {
        std::cout << "Error: Cannot support the architecture of Outlook 2010 x64\n";
        return 0;
    }
    return 0;
}

} // namespace

int RunBrisklet(int argc, const wchar_t* const argv[])
{
    const CommandLineOptions options = ParseCommandLine(argc, argv);
    if (!options.IsValid) {
        return 0;
    }
    return options.IsEncryptMode ? RunEncryptMode(options.IniPath, options.Password) : RunNormalMode(options);
}
