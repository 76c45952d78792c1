#pragma once

#include "config/Nocase.h"

#include <optional>
#include <string>
#include <vector>

// One profile-string file, addressed by its full path. Every operation goes to the platform: nothing is
// cached and no handle is kept open.
class IniFile {
public:
    // Makes sure the file can be opened for reading, or for writing when readOnly is false; a missing file
    // is created empty in both modes. Raises Errors::CWin32Error when it can be neither opened nor created.
    IniFile(const std::wstring& path, bool readOnly);

    // Adds one entry per "key=value" line; keys and values are trimmed, the first of two equal keys wins.
    // The map is not cleared first. Raises "E_INI_BUFFER_TOO_SMALL" for a section of 65,534 characters or more
    // (NULs included), which the platform cannot hand over whole.
    void ReadSection(const std::wstring& section, NocaseKeyMap& out) const;
    // Appends every non-empty line of the section, unchanged and in file order.
    void ReadSectionLines(const std::wstring& section, std::vector<std::wstring>& out) const;
    // The key's value as the file on disk holds it, past the platform's cache; nothing when the key is absent.
    std::optional<std::wstring> ReadStoredValue(const std::wstring& section, const std::wstring& key) const;
    // Whether the section, with the key set to value, could still be read whole.
    bool CanHold(const std::wstring& section, const std::wstring& key, const std::wstring& value) const;
    // Replaces or adds the key, or removes it for no value; the platform adds a missing section and leaves all
    // other lines alone.
    void WriteString(const std::wstring& section, const std::wstring& key,
                     const std::optional<std::wstring>& value) const;

    const std::wstring& Path() const noexcept { return path; }

private:
    std::vector<std::wstring> ReadLines(const std::wstring& section) const;

    const std::wstring path;
};
