// Stands in for Windows Installer's qualified-component query, which no Outlook here can answer. Only the
// category and qualifier of Outlook 2010 x64 get the answer that answer.txt (in the directory named by
// BRISKLET_MSI_DOUBLE) gives in decimal; another qualifier is ERROR_INDEX_ABSENT and another category, or no
// steering, ERROR_UNKNOWN_COMPONENT, as the function's reference page lists them.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

extern "C" __declspec(dllexport) int BriskletDoubleMarker()
{
    return 1;
}

extern "C" UINT WINAPI MsiProvideQualifiedComponentW(LPCWSTR category, LPCWSTR qualifier, DWORD, LPWSTR, LPDWORD)
{
    wchar_t directory[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"BRISKLET_MSI_DOUBLE", directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || category == nullptr ||
        _wcsicmp(category, L"{1E77DE88-BCAB-4C37-B9E5-073AF52DFD7A}") != 0) {
        return ERROR_UNKNOWN_COMPONENT;
    }
    if (qualifier == nullptr || _wcsicmp(qualifier, L"outlook.x64.exe") != 0) {
        return ERROR_INDEX_ABSENT;
    }
    UINT answer = ERROR_UNKNOWN_COMPONENT;
    if (FILE* file = _wfopen((std::wstring(directory) + L"\\answer.txt").c_str(), L"r")) {
        if (std::fscanf(file, "%u", &answer) != 1) {
            answer = ERROR_UNKNOWN_COMPONENT;
        }
        std::fclose(file);
    }
    return answer;
}
