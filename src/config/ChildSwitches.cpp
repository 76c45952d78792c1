#include "config/ChildSwitches.h"

#include "config/Nocase.h"
#include "errors/Errors.h"
#include "errors/Text.h"

#include <windows.h>

#include <shellapi.h>

#include <iostream>
#include <memory>
#include <vector>

namespace {

// Tested in this order; only the first refusal is reported.
const wchar_t* const RefusedSwitches[] = {L"-Profiles", L"/Profiles", L"-Undo",    L"/Undo", L"-UndoAll",
                                          L"/UndoAll",  L"-Cleanup",  L"/Cleanup", L"-?",    L"/?"};

struct LocalFreer {
    void operator()(wchar_t** arguments) const noexcept { ::LocalFree(arguments); }
};

// As the child's runtime splits its command line: quotes removed, backslash rules.
std::vector<std::wstring> SplitChildArguments(const std::wstring& korvelCmdLine)
{
    // The splitter reads its first argument by the rules for a program name; the child's name stands there.
    const std::wstring commandLine = L"KorvelEngine.exe " + korvelCmdLine;
    int count = 0;
    const std::unique_ptr<wchar_t*, LocalFreer> arguments(::CommandLineToArgvW(commandLine.c_str(), &count));
    Errors::CheckTrue(arguments != nullptr);
    return std::vector<std::wstring>(arguments.get() + 1, arguments.get() + count);
}

// The tool's own switches follow the extra command line; a quote it leaves open would take them into its last
// argument, and the child would never see its profiles.
bool EndsOutsideQuotes(const std::wstring& korvelCmdLine)
{
    const std::wstring following = L"-Profiles";
    return SplitChildArguments(korvelCmdLine + L" " + following).back() == following;
}

} // namespace

bool CheckChildSwitches(const std::wstring& korvelCmdLine)
{
    const std::vector<std::wstring> arguments = SplitChildArguments(korvelCmdLine);
    for (const wchar_t* refused : RefusedSwitches) {
        for (const std::wstring& argument : arguments) {
            if (Util::ToNocase(argument) == refused) {
                std::cout << "Error: Cannot use parameters '" << ToNarrow(refused) << "' in KorvelCmdLine\n";
                return false;
            }
        }
    }
    if (!EndsOutsideQuotes(korvelCmdLine)) {
        std::cout << "Error: The quotes in KorvelCmdLine do not close\n";
        return false;
    }
    return true;
}
