#include "support/TestSupport.h"

#include "config/ProgramPaths.h"
#include "errors/Errors.h"
#include "errors/Handle.h"

namespace TestSupport {

TempDir::TempDir(const std::wstring& nameHint)
{
    wchar_t base[MAX_PATH + 1] = {};
    Errors::CheckNonZero(::GetTempPathW(MAX_PATH + 1, base));
    GUID guid{};
    Errors::CheckWin32Hr(::CoCreateGuid(&guid));
    wchar_t unique[40] = {};
    ::StringFromGUID2(guid, unique, 40);
    path = std::wstring(base) + nameHint + L"-" + std::wstring(unique).substr(1, 8);
    Errors::CheckTrue(::CreateDirectoryW(path.c_str(), nullptr));
}

TempDir::~TempDir()
{
    RemoveTree(path);
}

std::wstring DoublesDirectory()
{
    const std::wstring bin = GetProgramDirectory();
    return bin.substr(0, bin.find_last_of(L'\\')) + L"\\doubles";
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    Util::CHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Errors::CheckTrue(file.IsValid());
    DWORD written = 0;
    Errors::CheckTrue(::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string ReadBytes(const std::wstring& path)
{
    Util::CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (file.IsValid() && ::ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read != 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CopyInto(const std::wstring& source, const std::wstring& directory)
{
    const std::wstring name = source.substr(source.find_last_of(L"\\/") + 1);
    Errors::CheckTrue(::CopyFileW(source.c_str(), (directory + L"\\" + name).c_str(), FALSE));
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring child = path + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(child);
        } else {
            ::DeleteFileW(child.c_str());
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
    }
    ::RemoveDirectoryW(path.c_str());
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
        // The child inherits the test's environment: the test process itself never reads these variables.
        for (const auto& variable : options.Environment) {
            Errors::CheckTrue(::SetEnvironmentVariableW(variable.first.c_str(), variable.second.c_str()));
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.Get();
        startup.hStdOutput = output.Get();
        startup.hStdError = output.Get();
        PROCESS_INFORMATION process{};
        Errors::CheckTrue(::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                           options.OwnConsole ? CREATE_NEW_CONSOLE : 0, nullptr,
                                           options.WorkingDirectory.empty() ? nullptr : options.WorkingDirectory.c_str(),
                                           &startup, &process));
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
