#include "config/IniFile.h"

#include "errors/Errors.h"
#include "errors/Handle.h"
#include "errors/Text.h"

#include <windows.h>

#include <algorithm>

namespace {

constexpr DWORD FirstBufferSize = 256;
constexpr DWORD LargestBufferSize = 65536;

// The section as the platform returns it: lines, each ended by a NUL, the last followed by a second NUL.
std::vector<wchar_t> ReadSectionBuffer(const std::wstring& section, const std::wstring& path)
{
    for (DWORD size = FirstBufferSize;; size *= 2) {
        std::vector<wchar_t> buffer(size);
        const DWORD length = ::GetPrivateProfileSectionW(section.c_str(), buffer.data(), size, path.c_str());
        // size - 2 is the platform's sign that the section was cut to fit.
        if (length != size - 2) {
            buffer.resize(length);
            return buffer;
        }
        if (size == LargestBufferSize) {
            Errors::ThrowNick(L"E_INI_BUFFER_TOO_SMALL");
        }
    }
}

// A line without "=" is a key of its own with an empty value; a line with an empty key is dropped.
void AddEntry(const std::wstring& line, NocaseKeyMap& out)
{
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) {
        out.emplace(Util::ToNocase(line), std::wstring());
        return;
    }
    const std::wstring key = Util::Trim(line.substr(0, equals));
    if (!key.empty()) {
        out.emplace(Util::ToNocase(key), Util::Trim(line.substr(equals + 1)));
    }
}

} // namespace

IniFile::IniFile(const std::wstring& filePath, bool readOnly) : path(filePath)
{
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_WRITE;
    const DWORD share = readOnly ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const Util::CHandle file(
        ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Errors::CheckTrue(file.IsValid());
}

std::vector<std::wstring> IniFile::ReadLines(const std::wstring& section) const
{
    const std::vector<wchar_t> buffer = ReadSectionBuffer(section, path);
    std::vector<std::wstring> lines;
    for (auto begin = buffer.begin(); begin != buffer.end();) {
        const auto end = std::find(begin, buffer.end(), L'\0');
        if (end == begin) {
            break; // an empty string ends the section
        }
        lines.emplace_back(begin, end);
        begin = end == buffer.end() ? end : end + 1;
    }
    return lines;
}

void IniFile::ReadSection(const std::wstring& section, NocaseKeyMap& out) const
{
    for (const std::wstring& line : ReadLines(section)) {
        AddEntry(line, out);
    }
}

void IniFile::ReadSectionLines(const std::wstring& section, std::vector<std::wstring>& out) const
{
    const std::vector<std::wstring> lines = ReadLines(section);
    out.insert(out.end(), lines.begin(), lines.end());
}

std::optional<std::wstring> IniFile::ReadStoredValue(const std::wstring& section, const std::wstring& key) const
{
    // Null section, key and value flush the platform's cached copy of the file; the call answers FALSE after a
    // flush, so its result says nothing.
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
    NocaseKeyMap keys;
    ReadSection(section, keys);
    const auto found = keys.find(Util::ToNocase(key));
    return found == keys.end() ? std::nullopt : std::optional<std::wstring>(found->second);
}

bool IniFile::CanHold(const std::wstring& section, const std::wstring& key, const std::wstring& value) const
{
    // Each line with its NUL; the platform replaces the key's first line.
    size_t size = key.size() + 1 + value.size() + 1;
    bool replaced = false;
    for (const std::wstring& line : ReadLines(section)) {
        NocaseKeyMap entry;
        AddEntry(line, entry);
        if (!replaced && entry.count(Util::ToNocase(key)) != 0) {
            replaced = true;
        } else {
            size += line.size() + 1;
        }
    }
    return size < LargestBufferSize - 2;
}

void IniFile::WriteString(const std::wstring& section, const std::wstring& key,
                          const std::optional<std::wstring>& value) const
{
    Errors::CheckTrue(::WritePrivateProfileStringW(section.c_str(), key.c_str(), value ? value->c_str() : nullptr,
                                                   path.c_str()));
}
