#include "app/RunDriver.h"

#include "app/ChildProcess.h"
#include "app/CommandLine.h"
#include "app/EncryptMode.h"
#include "config/Configuration.h"
#include "env/OutlookCheck.h"
#include "errors/Errors.h"
#include "errors/Text.h"
#include "mapi/MapiInit.h"
#include "mapi/ProfileLoops.h"

#include <cstdint>
#include <iostream>
#include <optional>

namespace {

// The result of a pass that left no profile behind for the child.
constexpr int noProfilesExitCode = 64;
constexpr int childNotRunExitCode = 128;

// Two's complement addition without the undefined behaviour of a signed overflow.
int AddWrapping(int a, int b)
{
    const std::uint32_t sum = static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b);
    return sum <= INT32_MAX ? static_cast<int>(sum) : -static_cast<int>(~sum) - 1;
}

// Runs the child over the profiles and once more for clean-up; returns the run's exit code.
int RunChild(const SwitchSettings& settings, const MailboxList& mailboxes, int passResult)
{
    const std::wstring profileList = BuildProfileList(mailboxes);
    if (profileList.empty()) {
        std::cout << "No profiles to update were found!\n";
        return noProfilesExitCode;
    }
    const std::wstring commandLine = BuildChildCommandLine(settings, profileList);
    if (commandLine.empty()) {
        std::cout << "Invalid command line!\n";
        return childNotRunExitCode;
    }
    const int childResult = RunChildProcess(commandLine);
    if (childResult == -1) {
        std::cout << "Error: Korvel start failed\n";
        return childNotRunExitCode;
    }
    std::cout << "ExitCode of Korvel = " << ToNarrow(ToWideString(childResult)) << "\n";

    const int cleanupResult = RunChildProcess(BuildCleanupCommandLine(settings));
    if (cleanupResult == -1) {
        std::cout << "Error: Korvel -Cleanup work failed\n";
    } else {
        std::cout << "ExitCode of Korvel -Cleanup = " << ToNarrow(ToWideString(cleanupResult)) << "\n";
    }
    return AddWrapping(passResult, childResult);
}

// The mailbox pass under a MAPI session of its own; nothing when MAPI cannot be started for it.
std::optional<int> RunMailboxPass(MailboxList& mailboxes, const SwitchSettings& settings)
{
    try {
        const Mapi::CMapiInit mapi(MAPI_NT_SERVICE);
        return CreateProfiles(mailboxes, settings);
    } catch (const Errors::CError&) {
        std::cout << "Error: Cannot load MAPIInitialize \n";
        return std::nullopt;
    }
}

// The clean-up pass under a second MAPI session; false when MAPI cannot be started for it, so that the
// profiles of the run stay on the machine (the line says so).
bool RunCleanupPass(MailboxList& mailboxes)
{
    try {
        const Mapi::CMapiInit mapi(MAPI_NT_SERVICE);
        DeleteProfiles(mailboxes);
        return true;
    } catch (const Errors::CError& error) {
        std::cout << "Error: Cannot load MAPIInitialize to remove the profiles. Error = " << HexCode(error.GetCode())
                  << "\n";
        return false;
    }
}

int RunNormalMode(const std::wstring& iniName)
{
    if (IsOutlook2010x64Installed()) {
        std::cout << "Error: Cannot support the architecture of Outlook 2010 x64\n";
        return 0;
    }

    SwitchSettings settings;
    MailboxList mailboxes;
    LoadConfiguration(iniName, settings, mailboxes);

    int exitCode = 0;
    try {
        const std::optional<int> passResult = RunMailboxPass(mailboxes, settings);
        if (!passResult) {
            return 0;
        }
        exitCode = RunChild(settings, mailboxes, *passResult);
    } catch (...) {
        // Whatever stops the run before its clean-up pass (out of memory in the mailbox pass), the profiles
        // made so far must not stay behind.
        RunCleanupPass(mailboxes);
        throw;
    }

    if (!RunCleanupPass(mailboxes)) {
        // The profiles stay on the machine: the run must not report itself completed.
        return unexpectedErrorExitCode;
    }
    std::cout << "Completed with exitCode = " << ToNarrow(ToWideString(exitCode)) << "\n";
    return exitCode;
}

} // namespace

int RunBrisklet(int argc, const wchar_t* const argv[])
{
    const CommandLineOptions options = ParseCommandLine(argc, argv);
    if (!options.IsValid) {
        return 0;
    }
    return options.IsEncryptMode ? RunEncryptMode(options.IniPath, options.Password) : RunNormalMode(options.IniPath);
}
