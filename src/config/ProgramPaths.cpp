#include "config/ProgramPaths.h"

#include "errors/Errors.h"

#include <vector>

namespace {

// Grows the buffer until the whole module path fits: a cut path would point at the wrong directory.
std::wstring ModulePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = Errors::CheckNonZero(
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool IsAbsolute(const std::wstring& name)
{
    const bool driveRooted = name.size() >= 3 && name[1] == L':' && (name[2] == L'\\' || name[2] == L'/');
    const bool rooted = !name.empty() && (name[0] == L'\\' || name[0] == L'/'); // also UNC "\\server\share"
    return driveRooted || rooted;
}

} // namespace

std::wstring GetProgramDirectory()
{
    const std::wstring path = ModulePath();
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring ResolveConfigurationPath(const std::wstring& name)
{
    return IsAbsolute(name) ? name : GetProgramDirectory() + L"\\" + name;
}
