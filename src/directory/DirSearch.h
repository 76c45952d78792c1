#pragma once

#include "directory/DirectoryObjects.h"

#include <activeds.h>

#include <string>
#include <vector>

namespace Adsi {

// What one search asks for.
struct CDirSearchParams {
    TAdsiPtr<IDirectorySearch> Search;
    std::wstring Filter;
    DWORD Scope = ADS_SCOPE_SUBTREE;
    DWORD PageSize = 0;
    std::vector<std::wstring> Attributes; // empty: all attributes
};

// One paged search, executed when made; its rows are read forward, one at a time.
class CDirSearch {
public:
    CDirSearch(const CDirObject& base, const std::wstring& filter, const std::vector<std::wstring>& attributes,
               DWORD scope);
    ~CDirSearch();
    CDirSearch(const CDirSearch&) = delete;
    CDirSearch& operator=(const CDirSearch&) = delete;

    // Moves to the next row; false when there is none (more).
    bool Next();
    // Every value of a column of the current row, in the directory's order.
    std::vector<std::wstring> GetColumnStrings(const std::wstring& attribute) const;

private:
    void Execute(const CDirSearchParams& params);
    void SetPreferences(const CDirSearchParams& params) const;
    void ExecuteSearch(const CDirSearchParams& params);
    bool FirstRow();
    bool NextRow() const;
    void Close() noexcept;

    TAdsiPtr<IDirectorySearch> search;
    ADS_SEARCH_HANDLE handle = nullptr;
    bool hasFirstRow = false;
};

// The text of a string value; values of other types raise "ERR_COMMON_ADVAL_NONSTRING_VAL".
std::wstring AdsValueToString(const ADSVALUE& value);
// "ADSTYPE_DN_STRING" for 1 and so on; a number outside the enumeration in decimal.
std::wstring AdsTypeName(int type);
// A value made safe to stand in an LDAP filter (RFC 4515): "*", "(", ")", "\" and NUL as \XX.
std::wstring EscapeFilterValue(const std::wstring& value);

} // namespace Adsi
