#include "directory/DirSearch.h"

#include "directory/CallLimit.h"
#include "errors/Text.h"

namespace Adsi {

namespace {

// Every search pages, so that a directory of any size answers within its server's limits.
constexpr DWORD pageSize = 500;
// Asked of the provider too, for one that honours it; the limit that holds is the tool's own (CallLimit).
constexpr DWORD searchTimeoutSeconds = 60;
// The accounts are in the naming context searched or in the global catalogue. A domain's naming context refers
// to its configuration and application partitions, and a chased reference costs a bind and round trips, or the
// whole search where the referred server refuses the bind.
constexpr DWORD referralChasing = ADS_CHASE_REFERRALS_NEVER;

std::wstring ScopeName(DWORD scope)
{
    switch (scope) {
    case ADS_SCOPE_BASE:
        return L"ADS_SCOPE_BASE";
    case ADS_SCOPE_ONELEVEL:
        return L"ADS_SCOPE_ONELEVEL";
    case ADS_SCOPE_SUBTREE:
        return L"ADS_SCOPE_SUBTREE";
    default:
        return std::to_wstring(scope);
    }
}

std::wstring JoinNames(const std::vector<std::wstring>& names)
{
    std::wstring joined;
    for (const std::wstring& name : names) {
        joined += (joined.empty() ? L"" : L";") + name;
    }
    return joined;
}

ADS_SEARCHPREF_INFO IntegerPreference(ADS_SEARCHPREF_ENUM preference, DWORD value)
{
    ADS_SEARCHPREF_INFO info = {};
    info.dwSearchPref = preference;
    info.vValue.dwType = ADSTYPE_INTEGER;
    info.vValue.Integer = value;
    return info;
}

// The provider signals the end of a page like the end of the search; only its extended error tells them
// apart. A provider that cannot report an extended error has recorded none.
bool ServerHasMoreRows()
{
    DWORD error = 0;
    wchar_t errorText[2] = {};
    wchar_t providerName[2] = {};
    return SUCCEEDED(::ADsGetLastError(&error, errorText, 2, providerName, 2)) && error == ERROR_MORE_DATA;
}

// The values of one column, returned to the search that filled them.
class CSearchColumn {
public:
    CSearchColumn(const TAdsiPtr<IDirectorySearch>& search, ADS_SEARCH_HANDLE handle, const std::wstring& name)
    {
        CheckAdsiExact(search->GetColumn(handle, const_cast<LPWSTR>(name.c_str()), &column));
        owner = search;
    }
    ~CSearchColumn()
    {
        if (owner) {
            owner->FreeColumn(&column);
        }
    }
    CSearchColumn(const CSearchColumn&) = delete;
    CSearchColumn& operator=(const CSearchColumn&) = delete;

    const ADS_SEARCH_COLUMN* operator->() const noexcept { return &column; }

private:
    TAdsiPtr<IDirectorySearch> owner;
    ADS_SEARCH_COLUMN column{};
};

std::wstring Text(const wchar_t* value)
{
    return value == nullptr ? std::wstring() : std::wstring(value);
}

} // namespace

CDirSearch::CDirSearch(const CDirObject& base, const std::wstring& filter, const std::vector<std::wstring>& attributes,
                       DWORD scope)
{
    try {
        TAdsiPtr<IDirectorySearch> directorySearch;
        if (base.Get()->QueryInterface(IID_IDirectorySearch, directorySearch.Put()) != S_OK) {
            Errors::ThrowNick(L"KQACOMMON_ERR_ICOMCONV", L"IDirectoryObject", L"IDirectorySearch");
        }
        Execute(CDirSearchParams{directorySearch, filter, scope, pageSize, attributes});
    } catch (const Errors::CError& error) {
        Close();
        Errors::ThrowNickNested(L"ERR_COMMON_DIRSEARCH_CONSTRUCT_3", {filter}, error);
    }
}

CDirSearch::~CDirSearch()
{
    Close();
}

void CDirSearch::Execute(const CDirSearchParams& params)
{
    try {
        Close();
        search = params.Search;
        SetPreferences(params);
        ExecuteSearch(params);
    } catch (const Errors::CError& error) {
        Errors::ThrowNickNested(L"ERR_COMMON_DIRSEARCH_NINIT", {ScopeName(params.Scope), JoinNames(params.Attributes)},
                                error);
    }
}

void CDirSearch::SetPreferences(const CDirSearchParams& params) const
{
    ADS_SEARCHPREF_INFO preferences[] = {IntegerPreference(ADS_SEARCHPREF_SEARCH_SCOPE, params.Scope),
                                         IntegerPreference(ADS_SEARCHPREF_PAGESIZE, params.PageSize),
                                         IntegerPreference(ADS_SEARCHPREF_TIMEOUT, searchTimeoutSeconds),
                                         IntegerPreference(ADS_SEARCHPREF_CHASE_REFERRALS, referralChasing)};
    const HRESULT hr = search->SetSearchPreference(preferences, sizeof preferences / sizeof preferences[0]);
    if (hr != S_OK) {
        Errors::ThrowNickNested(L"ERR_COMMON_DIRSEARCH_SET_PAGE_SIZE", Errors::CAdsiError(hr));
    }
}

void CDirSearch::ExecuteSearch(const CDirSearchParams& params)
{
    std::vector<LPWSTR> names;
    for (const std::wstring& attribute : params.Attributes) {
        names.push_back(const_cast<LPWSTR>(attribute.c_str()));
    }
    const DWORD count = names.empty() ? 0xFFFFFFFF : static_cast<DWORD>(names.size());
    const CProviderCall call;
    const HRESULT hr = search->ExecuteSearch(const_cast<LPWSTR>(params.Filter.c_str()),
                                             names.empty() ? nullptr : names.data(), count, &handle);
    if (hr != S_OK) {
        Errors::ThrowNickNested(L"ERR_COMMON_DIRSEARCH_EXEC_FAIL", {params.Filter}, Errors::CAdsiError(hr));
    }
}

bool CDirSearch::Next()
{
    try {
        return hasFirstRow ? NextRow() : FirstRow();
    } catch (const Errors::CError& error) {
        Errors::ThrowNickNested(L"ERR_COMMON_DIRSEARCH_ENUM_NEXT", error);
    }
}

// A row that cannot be fetched (past a server's size limit, over a lost connection) keeps its result as the
// cause, so that the error tells why.
bool CDirSearch::FirstRow()
{
    const CProviderCall call;
    const HRESULT hr = search->GetFirstRow(handle);
    if (hr == S_ADS_NOMORE_ROWS) {
        return false;
    }
    if (hr != S_OK) {
        Errors::ThrowNickNested(L"ERR_COMMON_DIRSEARCH_GET_FIRST_ROW", Errors::CAdsiError(hr));
    }
    hasFirstRow = true;
    return true;
}

bool CDirSearch::NextRow() const
{
    for (;;) {
        const CProviderCall call;
        const HRESULT hr = search->GetNextRow(handle);
        if (hr == S_OK) {
            return true;
        }
        if (hr != S_ADS_NOMORE_ROWS) {
            Errors::ThrowNickNested(L"ERR_COMMON_DIRSEARCH_GET_NEXT_ROW", Errors::CAdsiError(hr));
        }
        if (!ServerHasMoreRows()) {
            return false;
        }
    }
}

std::vector<std::wstring> CDirSearch::GetColumnStrings(const std::wstring& attribute) const
{
    try {
        const CSearchColumn column(search, handle, attribute);
        std::vector<std::wstring> values;
        values.reserve(column->dwNumValues);
        for (DWORD i = 0; i < column->dwNumValues; ++i) {
            values.push_back(AdsValueToString(column->pADsValues[i]));
        }
        return values;
    } catch (const Errors::CError& error) {
        Errors::ThrowNickNested(L"ERR_COMMON_ADVAL_GET_VAL", {attribute}, error);
    }
}

void CDirSearch::Close() noexcept
{
    if (handle != nullptr && search) {
        search->CloseSearchHandle(handle);
    }
    handle = nullptr;
    search.Reset();
    hasFirstRow = false;
}

std::wstring AdsValueToString(const ADSVALUE& value)
{
    switch (value.dwType) {
    case ADSTYPE_DN_STRING:
        return Text(value.DNString);
    case ADSTYPE_CASE_EXACT_STRING:
        return Text(value.CaseExactString);
    case ADSTYPE_CASE_IGNORE_STRING:
        return Text(value.CaseIgnoreString);
    case ADSTYPE_PRINTABLE_STRING:
        return Text(value.PrintableString);
    default:
        Errors::ThrowNick(L"ERR_COMMON_ADVAL_NONSTRING_VAL", AdsTypeName(value.dwType));
    }
}

std::wstring AdsTypeName(int type)
{
    static const wchar_t* const names[] = {
        L"ADSTYPE_INVALID",         L"ADSTYPE_DN_STRING",      L"ADSTYPE_CASE_EXACT_STRING",
        L"ADSTYPE_CASE_IGNORE_STRING", L"ADSTYPE_PRINTABLE_STRING", L"ADSTYPE_NUMERIC_STRING",
        L"ADSTYPE_BOOLEAN",         L"ADSTYPE_INTEGER",        L"ADSTYPE_OCTET_STRING",
        L"ADSTYPE_UTC_TIME",        L"ADSTYPE_LARGE_INTEGER",  L"ADSTYPE_PROV_SPECIFIC",
        L"ADSTYPE_OBJECT_CLASS",    L"ADSTYPE_CASEIGNORE_LIST", L"ADSTYPE_OCTET_LIST",
        L"ADSTYPE_PATH",            L"ADSTYPE_POSTALADDRESS",  L"ADSTYPE_TIMESTAMP",
        L"ADSTYPE_BACKLINK",        L"ADSTYPE_TYPEDNAME",      L"ADSTYPE_HOLD",
        L"ADSTYPE_NETADDRESS",      L"ADSTYPE_REPLICAPOINTER", L"ADSTYPE_FAXNUMBER",
        L"ADSTYPE_EMAIL",           L"ADSTYPE_NT_SECURITY_DESCRIPTOR", L"ADSTYPE_UNKNOWN",
        L"ADSTYPE_DN_WITH_BINARY",  L"ADSTYPE_DN_WITH_STRING",
    };
    if (type < 0 || type >= static_cast<int>(sizeof names / sizeof names[0])) {
        return ToWideString(type);
    }
    return names[type];
}

std::wstring EscapeFilterValue(const std::wstring& value)
{
    std::wstring escaped;
    escaped.reserve(value.size());
    for (const wchar_t c : value) {
        switch (c) {
        case L'*':
            escaped += L"\\2a";
            break;
        case L'(':
            escaped += L"\\28";
            break;
        case L')':
            escaped += L"\\29";
            break;
        case L'\\':
            escaped += L"\\5c";
            break;
        case L'\0':
            escaped += L"\\00";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace Adsi
