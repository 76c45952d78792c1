// Runs the child the way a normal run of the tool does, from wherever this program is copied to:
//   child_run_probe.exe KORVELCMDLINE [PROFILE...]
// builds both command lines from the product's code, runs the main one and, if that started, the clean-up
// one, and ends with the main run's result (-1 when it could not be started).
#include "app/ChildProcess.h"
#include "errors/Console.h"

#include <iostream>

int wmain(int argc, wchar_t* argv[])
{
    const Util::CLineFlushedConsole console(std::cout);
    SwitchSettings settings;
    settings.KorvelCmdLine = argc > 1 ? argv[1] : L"";
    MailboxList mailboxes;
    for (int i = 2; i < argc; ++i) {
        mailboxes.push_back({argv[i], L"", L""});
    }
    const std::optional<int> result = RunChildProcess(BuildChildCommandLine(settings, BuildProfileList(mailboxes)));
    if (!result) {
        return -1;
    }
    RunChildProcess(BuildCleanupCommandLine(settings));
    return *result;
}
