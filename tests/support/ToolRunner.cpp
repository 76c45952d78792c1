#include "support/ToolRunner.h"

#include "support/TestFiles.h"

#include "errors/Errors.h"
#include "errors/Handle.h"

#include <map>

namespace TestSupport {

namespace {

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
};

std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& changes)
{
    std::map<std::wstring, std::wstring, NoCaseLess> variables;
    wchar_t* const strings = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring line = entry;
        const size_t equals = line.find(L'=', 1);
        if (equals != std::wstring::npos) {
            variables[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    ::FreeEnvironmentStringsW(strings);
    for (const auto& change : changes) {
        variables[change.first] = change.second;
    }
    std::wstring block;
    for (const auto& variable : variables) {
        block += variable.first + L"=" + variable.second;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

} // namespace

std::wstring QuoteArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

ToolRun RunProgram(const std::wstring& exe, const std::vector<std::wstring>& arguments, const RunOptions& options)
{
    TempDir outputDir(L"stdout");
    const std::wstring outputPath = outputDir / L"stdout.txt";

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    ToolRun run;
    {
        Util::CHandle output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inheritable, CREATE_ALWAYS, 0, nullptr));
        Errors::CheckTrue(output.IsValid());
        Util::CHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                          OPEN_EXISTING, 0, nullptr));
        Errors::CheckTrue(input.IsValid());

        std::wstring commandLine = QuoteArgument(exe);
        for (const std::wstring& argument : arguments) {
            commandLine += L" " + QuoteArgument(argument);
        }
        std::wstring environment = EnvironmentBlock(options.Environment);

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.Get();
        startup.hStdOutput = output.Get();
        startup.hStdError = output.Get();
        PROCESS_INFORMATION process{};
        Errors::CheckTrue(::CreateProcessW(
            exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
            CREATE_UNICODE_ENVIRONMENT | (options.OwnConsole ? CREATE_NEW_CONSOLE : 0), environment.data(),
            options.WorkingDirectory.empty() ? nullptr : options.WorkingDirectory.c_str(), &startup, &process));
        Util::CHandle processHandle(process.hProcess);
        Util::CHandle threadHandle(process.hThread);
        if (options.WhileRunning) {
            options.WhileRunning(process.dwProcessId, outputPath);
        }
        ::WaitForSingleObject(processHandle.Get(), INFINITE);
        Errors::CheckTrue(::GetExitCodeProcess(processHandle.Get(), &run.ExitCode));
    }
    run.Output = ReadBytes(outputPath);
    return run;
}

} // namespace TestSupport
