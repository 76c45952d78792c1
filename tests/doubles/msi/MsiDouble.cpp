// Stands in for Windows Installer: answers the qualified-component query as the steering file says and
// records what it was asked. Steered through the directory named by BRISKLET_MSI_DOUBLE:
//   answer.txt  the result to return, in decimal (absent: ERROR_UNKNOWN_COMPONENT)
//   calls.txt   one line per call, appended
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring SteeringDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"BRISKLET_MSI_DOUBLE", buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(buffer, length);
}

UINT SteeredAnswer(const std::wstring& directory)
{
    UINT answer = ERROR_UNKNOWN_COMPONENT;
    if (FILE* file = _wfopen((directory + L"\\answer.txt").c_str(), L"r")) {
        if (std::fscanf(file, "%u", &answer) != 1) {
            answer = ERROR_UNKNOWN_COMPONENT;
        }
        std::fclose(file);
    }
    return answer;
}

void Record(const std::wstring& directory, const std::wstring& line)
{
    if (FILE* file = _wfopen((directory + L"\\calls.txt").c_str(), L"ab")) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], size, nullptr, nullptr);
        std::fputs(utf8.c_str(), file);
        std::fclose(file);
    }
}

} // namespace

extern "C" __declspec(dllexport) int BriskletDoubleMarker()
{
    return 1;
}

extern "C" UINT WINAPI MsiProvideQualifiedComponentW(LPCWSTR category, LPCWSTR qualifier, DWORD installMode,
                                                      LPWSTR pathBuffer, LPDWORD pathLength)
{
    const std::wstring directory = SteeringDirectory();
    if (directory.empty()) {
        return ERROR_UNKNOWN_COMPONENT;
    }
    Record(directory, std::wstring(L"category=") + (category ? category : L"(null)") + L" qualifier=" +
                          (qualifier ? qualifier : L"(null)") + L" mode=" + std::to_wstring(static_cast<int>(installMode)) +
                          L" path=" + (pathBuffer ? L"set" : L"null") + L" length=" + (pathLength ? L"set" : L"null") +
                          L"\n");
    return SteeredAnswer(directory);
}
