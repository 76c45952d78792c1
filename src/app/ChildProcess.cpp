#include "app/ChildProcess.h"

#include "config/Nocase.h"
#include "config/ProgramPaths.h"
#include "errors/Errors.h"
#include "errors/Handle.h"
#include "errors/Text.h"

#include <windows.h>

#include <algorithm>
#include <initializer_list>
#include <iostream>
#include <vector>

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool IsSwitchStart(wchar_t c)
{
    return c == L'-' || c == L'/';
}

// Where tokens begin outside double quotes: the only places where a switch stands. A "-" inside a path
// or inside a quoted value begins no switch.
std::vector<size_t> TokenStarts(const std::wstring& cmd)
{
    std::vector<size_t> starts;
    bool quoted = false;
    for (size_t i = 0; i < cmd.size(); ++i) {
        if (!quoted && !IsBlank(cmd[i]) && (i == 0 || IsBlank(cmd[i - 1]))) {
            starts.push_back(i);
        }
        if (cmd[i] == L'"') {
            quoted = !quoted;
        }
    }
    return starts;
}

// The marker as a whole token at `at`: "-Logfile" is another switch than "-Log".
bool IsTokenNoCase(const std::wstring& text, size_t at, const std::wstring& marker)
{
    const size_t end = at + marker.size();
    return text.size() >= end && Util::nocase_traits::compare(text.data() + at, marker.data(), marker.size()) == 0 &&
           (end == text.size() || IsBlank(text[end]) || IsBlank(marker.back()));
}

// The text after the first of the markers that stands as a token, up to the next token that is a switch.
std::wstring ExtractArgument(const std::wstring& cmd, std::initializer_list<const wchar_t*> markers)
{
    const std::vector<size_t> starts = TokenStarts(cmd);
    for (const std::wstring marker : markers) {
        const auto found = std::find_if(starts.begin(), starts.end(),
                                        [&](size_t at) { return IsTokenNoCase(cmd, at, marker); });
        if (found != starts.end()) {
            const size_t begin = *found + marker.size();
            const auto next = std::find_if(found + 1, starts.end(),
                                           [&](size_t at) { return at >= begin && IsSwitchStart(cmd[at]); });
            return cmd.substr(begin, (next == starts.end() ? cmd.size() : *next) - begin);
        }
    }
    return std::wstring();
}

struct ChildProcess {
    Util::CHandle process;
    Util::CHandle thread; // closed first
};

ChildProcess StartChild(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    Errors::CheckTrue(::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                       &startup, &created));
    return {Util::CHandle(created.hProcess), Util::CHandle(created.hThread)};
}

DWORD WaitForExitCode(const ChildProcess& child)
{
    Errors::CheckTrue(::WaitForSingleObject(child.process.Get(), INFINITE) == WAIT_OBJECT_0);
    DWORD exitCode = 0;
    Errors::CheckTrue(::GetExitCodeProcess(child.process.Get(), &exitCode));
    return exitCode;
}

} // namespace

std::wstring ChildExecutablePath()
{
    return GetProgramDirectory() + L"\\KorvelEngine.exe";
}

std::wstring QuotedChildExecutablePath()
{
    return L"\"" + ChildExecutablePath() + L"\"";
}

std::wstring BuildProfileList(const MailboxList& mailboxes)
{
    std::wstring list;
    for (const MailboxEntry& entry : mailboxes) {
        if (!entry.ProfileName.empty() && !entry.Failed) {
            list += L" \"" + entry.ProfileName + L"\"";
        }
    }
    return list;
}

std::wstring BuildChildCommandLine(const SwitchSettings& settings, const std::wstring& profileList)
{
    std::wstring commandLine = QuotedChildExecutablePath() + L" ";
    if (!settings.KorvelCmdLine.empty()) {
        commandLine += settings.KorvelCmdLine + L" ";
    }
    return commandLine + L"-Profiles " + profileList;
}

std::wstring ExtractIniArgument(const std::wstring& korvelCmdLine)
{
    return ExtractArgument(korvelCmdLine, {L"-ini", L"/ini "});
}

std::wstring ExtractLogArgument(const std::wstring& korvelCmdLine)
{
    return ExtractArgument(korvelCmdLine, {L"-Log"});
}

std::wstring InsertLogSuffix(const std::wstring& name, const std::wstring& suffix)
{
    if (name.empty()) {
        return name;
    }
    // The blanks that stood before the next switch are no part of the path.
    const std::wstring path = name.substr(0, name.find_last_not_of(L" \t") + 1);
    const size_t fileName = path.find_last_of(L"\\/") + 1; // 0 without a directory part
    const size_t dot = path.rfind(L'.');
    size_t at = path.size();
    if (dot != std::wstring::npos && dot >= fileName) {
        at = dot;
    } else if (!path.empty() && (path.back() == L'"' || path.back() == L'\'')) {
        at = path.size() - 1;
    }
    return name.substr(0, at) + suffix + name.substr(at);
}

std::wstring BuildCleanupCommandLine(const SwitchSettings& settings)
{
    std::wstring commandLine = QuotedChildExecutablePath() + L" -Cleanup -Silent";
    const std::wstring ini = ExtractIniArgument(settings.KorvelCmdLine);
    if (!ini.empty()) {
        commandLine += L" -ini " + ini;
    }
    const std::wstring log = ExtractLogArgument(settings.KorvelCmdLine);
    if (!log.empty()) {
        commandLine += L" -Log " + InsertLogSuffix(log, L"_Cleanup");
    }
    return commandLine;
}

std::optional<int> RunChildProcess(const std::wstring& commandLine)
{
    try {
        const std::string shown = ToNarrow(commandLine);
        std::cout << "Info: Start Korvel with the command line " << shown << ".\n";
        const ChildProcess child = StartChild(commandLine);
        return static_cast<int>(WaitForExitCode(child));
    } catch (const Errors::CError&) {
        return std::nullopt;
    }
}
