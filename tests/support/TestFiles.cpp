#include "support/TestFiles.h"

#include "config/ProgramPaths.h"
#include "errors/Errors.h"
#include "errors/Handle.h"

#include <windows.h>

#include <vector>

namespace TestSupport {

namespace {

std::wstring FullPath(const std::wstring& path)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = Errors::CheckNonZero(
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr));
    return std::wstring(buffer.data(), length);
}

std::wstring FileName(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

} // namespace

TempDir::TempDir(const std::wstring& nameHint)
{
    wchar_t base[MAX_PATH + 1] = {};
    Errors::CheckNonZero(::GetTempPathW(MAX_PATH + 1, base));
    GUID guid{};
    Errors::CheckWin32Hr(::CoCreateGuid(&guid));
    wchar_t unique[40] = {};
    ::StringFromGUID2(guid, unique, 40);
    path = std::wstring(base) + nameHint + L"-" + std::wstring(unique).substr(1, 8);
    MakeDirectories(path);
}

TempDir::~TempDir()
{
    try {
        RemoveTree(path);
    } catch (...) {
    }
}

std::wstring BinDirectory()
{
    return GetProgramDirectory();
}

std::wstring DoublesDirectory()
{
    return FullPath(BinDirectory() + L"\\..\\doubles");
}

std::wstring BriskletExe()
{
    return BinDirectory() + L"\\Brisklet.exe";
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
    Util::CHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                      nullptr));
    Errors::CheckTrue(file.IsValid());
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read != 0) {
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
    Errors::CheckTrue(::CopyFileW(source.c_str(), (directory + L"\\" + FileName(source)).c_str(), FALSE));
}

void MakeDirectories(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    if (separator != std::wstring::npos && separator > 2 && !Exists(path.substr(0, separator))) {
        MakeDirectories(path.substr(0, separator));
    }
    if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        throw Errors::CWin32Error(::GetLastError());
    }
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(path.c_str());
}

} // namespace TestSupport
