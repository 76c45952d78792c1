#include "support/TestSupport.h"

#include "config/ProgramPaths.h"
#include "errors/Errors.h"
#include "errors/Handle.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace TestSupport {

namespace fs = std::filesystem;

TempDir::TempDir(const std::wstring& nameHint)
{
    static int made = 0;
    path = (fs::temp_directory_path() / (nameHint + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                         std::to_wstring(++made))).wstring();
    Empty();
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void TempDir::Empty() const
{
    fs::remove_all(path);
    fs::create_directory(path);
}

std::wstring DoublesDirectory()
{
    return fs::path(GetProgramDirectory()).replace_filename(L"doubles").wstring();
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream(fs::path(path), std::ios::binary) << bytes;
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream file(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void CopyInto(const std::wstring& source, const std::wstring& directory)
{
    fs::copy_file(source, fs::path(directory) / fs::path(source).filename(), fs::copy_options::skip_existing);
}

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
    return quoted.append(backslashes * 2, L'\\') + L"\"";
}

ToolRun RunProgram(const std::wstring& exe, const std::vector<std::wstring>& arguments, const RunOptions& options)
{
    const TempDir outputDir(L"stdout");
    const std::wstring outputPath = outputDir / L"stdout.txt";
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    ToolRun run;
    {
        const Util::CHandle output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 &inheritable, CREATE_ALWAYS, 0, nullptr));
        Errors::CheckTrue(output.IsValid());
        std::wstring commandLine = QuoteArgument(exe);
        for (const std::wstring& argument : arguments) {
            commandLine += L" " + QuoteArgument(argument);
        }
        // The child inherits the test's environment: the test process itself never reads these variables.
        for (const auto& variable : options.Environment) {
            Errors::CheckTrue(::SetEnvironmentVariableW(variable.first.c_str(), variable.second.c_str()));
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.Get();
        startup.hStdError = output.Get();
        PROCESS_INFORMATION process{};
        Errors::CheckTrue(::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                           options.OwnConsole ? CREATE_NEW_CONSOLE : 0, nullptr, nullptr, &startup,
                                           &process));
        const Util::CHandle processHandle(process.hProcess);
        const Util::CHandle threadHandle(process.hThread);
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
