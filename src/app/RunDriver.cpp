#include "app/RunDriver.h"

#include "app/ChildProcess.h"
#include "app/CommandLine.h"
#include "app/EncryptMode.h"
#include "config/Configuration.h"
#include "env/OutlookCheck.h"
#include "errors/Console.h"
#include "errors/Errors.h"
#include "errors/Text.h"
#include "mapi/MapiInit.h"
#include "mapi/MapiProfile.h"
#include "mapi/ProfileLoops.h"

#include <cstdint>
#include <iostream>
#include <optional>

namespace {

// The result of a pass that left no profile behind for the child.
constexpr int noProfilesExitCode = 64;
constexpr int childNotRunExitCode = 128;
// What CreateProcessW takes, without the terminating null.
constexpr size_t longestChildCommandLine = 32766;

// Two's complement addition without the undefined behaviour of a signed overflow.
int AddWrapping(int a, int b)
{
    const std::uint32_t sum = static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b);
    return sum <= INT32_MAX ? static_cast<int>(sum) : -static_cast<int>(~sum) - 1;
}

int Completed(int exitCode)
{
    std::cout << "Completed with exitCode = " << ToNarrow(ToWideString(exitCode)) << "\n";
    return exitCode;
}

// Every profile name is as long as a fresh one, so the child's command line is known before any profile is made.
bool CheckChildCommandLineLength(const SwitchSettings& settings, MailboxList planned)
{
    const std::wstring name = Mapi::MakeProfileName();
    for (MailboxEntry& entry : planned) {
        entry.ProfileName = name;
    }
    const size_t length = BuildChildCommandLine(settings, BuildProfileList(planned)).size();
    if (length <= longestChildCommandLine) {
        return true;
    }
    std::cout << "Error: Too many mailboxes for one run: the command line of KorvelEngine.exe would be "
              << ToNarrow(ToWideString(static_cast<int>(length)))
              << " characters, more than 32766. Split the \"Mailboxes\" section over several runs.\n";
    return false;
}

// The child's exit code when it ran; otherwise the run's exit code for why it did not.
struct ChildPhase {
    int exitCode;
    bool childRan;
};

// Runs the child over the profiles and once more for clean-up.
ChildPhase RunChild(const SwitchSettings& settings, const MailboxList& mailboxes)
{
    const std::wstring profileList = BuildProfileList(mailboxes);
    if (profileList.empty()) {
        std::cout << "No profiles to update were found!\n";
        return {noProfilesExitCode, false};
    }
    const std::optional<int> childResult = RunChildProcess(BuildChildCommandLine(settings, profileList));
    if (!childResult) {
        std::cout << "Error: Korvel start failed\n";
        return {childNotRunExitCode, false};
    }
    std::cout << "ExitCode of Korvel = " << ToNarrow(ToWideString(*childResult)) << "\n";

    const std::optional<int> cleanupResult = RunChildProcess(BuildCleanupCommandLine(settings));
    if (!cleanupResult) {
        std::cout << "Error: Korvel -Cleanup work failed\n";
    } else {
        std::cout << "ExitCode of Korvel -Cleanup = " << ToNarrow(ToWideString(*cleanupResult)) << "\n";
    }
    return {*childResult, true};
}

// The mailbox pass with MAPI held for its whole length; nothing when MAPI cannot be started for it.
std::optional<int> RunMailboxPass(MailboxList& mailboxes, const SwitchSettings& settings)
{
    try {
        const Mapi::CMapiInit mapi(Mapi::MailboxPassFlags);
        return CreateProfiles(mailboxes, settings);
    } catch (const Errors::CError&) {
        std::cout << "Error: Cannot load MAPIInitialize \n";
        return std::nullopt;
    }
}

enum class Cleanup { AllRemoved, SomeLeft, NotStarted };

// The clean-up pass under a second MAPI session. When MAPI cannot be started for it, the profiles of the run
// stay on the machine and the line says so.
Cleanup RunCleanupPass(MailboxList& mailboxes)
{
    try {
        const Mapi::CMapiInit mapi(MAPI_NT_SERVICE);
        return DeleteProfiles(mailboxes) ? Cleanup::AllRemoved : Cleanup::SomeLeft;
    } catch (const Errors::CError& error) {
        std::cout << "Error: Cannot load MAPIInitialize to remove the profiles. Error = " << HexCode(error.GetCode())
                  << "\n";
        return Cleanup::NotStarted;
    }
}

// Everything a normal run does once its configuration is known to be usable.
int RunMailboxesAndChild(const SwitchSettings& settings, MailboxList& mailboxes)
{
    const Util::CInterruptionWatch interruptions;
    std::optional<int> passResult;
    bool interrupted = false;
    ChildPhase child{0, false};
    try {
        passResult = RunMailboxPass(mailboxes, settings);
        if (!passResult) {
            return 0;
        }
        // The pass began no mailbox after the interruption; a child that gets no complete list must not start.
        interrupted = Util::InterruptionRequested();
        if (!interrupted) {
            child = RunChild(settings, mailboxes);
        }
    } catch (...) {
        // Whatever stops the run before its clean-up pass (out of memory in the mailbox pass), the profiles
        // made so far must not stay behind.
        RunCleanupPass(mailboxes);
        throw;
    }

    const Cleanup cleanup = RunCleanupPass(mailboxes);
    if (cleanup == Cleanup::NotStarted) {
        // The profiles stay on the machine: the run must not report itself completed.
        return unexpectedErrorExitCode;
    }
    if (interrupted) {
        if (cleanup == Cleanup::AllRemoved) {
            std::cout << "Error: The run was interrupted; the profiles it made were removed.\n";
        }
        return unexpectedErrorExitCode;
    }
    if (!child.childRan) {
        return Completed(child.exitCode);
    }
    const bool mailboxFailed = *passResult != 0 || cleanup == Cleanup::SomeLeft;
    return Completed(AddWrapping(child.exitCode, mailboxFailed ? SomeMailboxFailed : 0));
}

int RunNormalMode(const std::wstring& iniName)
{
    if (IsOutlook2010x64Installed()) {
        std::cout << "Error: Cannot support the architecture of Outlook 2010 x64\n";
        return 0;
    }

    SwitchSettings settings;
    MailboxList mailboxes;
    if (LoadConfiguration(iniName, settings, mailboxes) == LoadOutcome::ChildSwitchRefused) {
        std::cout << "Invalid command line!\n";
        return Completed(childNotRunExitCode);
    }
    if (!CheckChildCommandLineLength(settings, mailboxes)) {
        return Completed(childNotRunExitCode);
    }
    return RunMailboxesAndChild(settings, mailboxes);
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
