#pragma once

#include <string>

namespace TestSupport {

// A fresh directory under the temporary directory, removed with everything in it at the end of the test.
class TempDir {
public:
    explicit TempDir(const std::wstring& nameHint = L"brisklet");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& Path() const { return path; }
    std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }

private:
    std::wstring path;
};

// Where Brisklet.exe and the test programs are built.
std::wstring BinDirectory();
// Where the platform doubles are built.
std::wstring DoublesDirectory();
std::wstring BriskletExe();

void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
void CopyInto(const std::wstring& source, const std::wstring& directory);
void MakeDirectories(const std::wstring& path);
void RemoveTree(const std::wstring& path);

} // namespace TestSupport
