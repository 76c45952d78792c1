// DirectoryProbe SERVER BASE ACCOUNT PASSWORD LINES
//
// The bare baseline of the tool's directory phase: binds BASE on SERVER once, as the tool binds its naming
// context (ADsOpenObject, secure authentication, IDirectoryObject), then for every line of the file LINES (one
// legacyExchangeDN a line, ASCII or UTF-8) makes the ADSI calls the tool makes for a mailbox line, and nothing
// else: IDirectorySearch from the bound object, the scope and page size, the search with the same filter and
// attribute, the first row, its proxyAddresses, and the handle closed. Prints
//   bind <start> <end>
//   searches <start> <end> lines=<n> found=<accounts with an X500 address>
// with times in seconds since 1970 (microseconds), the clock RunTimeline.exe stamps lines with. Fails (exit code 1)
// unless the activeds double beside it was loaded, so that the baseline pays what the tool pays.
#include "directory/DirSearch.h"

#include <windows.h>
#include <ole2.h>
#include <activeds.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

extern "C" WINBASEAPI VOID WINAPI GetSystemTimePreciseAsFileTime(LPFILETIME time);

namespace {

constexpr DWORD pageSize = 500;

struct CFailure {
    const char* Call;
    HRESULT Result;
};

void Check(HRESULT hr, const char* call)
{
    if (hr != S_OK) {
        throw CFailure{call, hr};
    }
}

template <class TInterface>
class TComPtr {
public:
    TComPtr() = default;
    ~TComPtr()
    {
        if (pointer != nullptr) {
            pointer->Release();
        }
    }
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;

    TInterface* Get() const { return pointer; }
    TInterface* operator->() const { return pointer; }
    void** Put() { return reinterpret_cast<void**>(&pointer); }

private:
    TInterface* pointer = nullptr;
};

class CSearch {
public:
    CSearch(IDirectorySearch* search, const std::wstring& filter, LPWSTR attribute) : search(search)
    {
        Check(search->ExecuteSearch(const_cast<LPWSTR>(filter.c_str()), &attribute, 1, &handle), "ExecuteSearch");
    }
    ~CSearch() { search->CloseSearchHandle(handle); }
    CSearch(const CSearch&) = delete;
    CSearch& operator=(const CSearch&) = delete;

    ADS_SEARCH_HANDLE Handle() const { return handle; }

private:
    IDirectorySearch* search;
    ADS_SEARCH_HANDLE handle = nullptr;
};

unsigned long long Now()
{
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000ULL) / 10;
}

void PrintSpan(const char* what, unsigned long long start, unsigned long long end, const std::string& rest = "")
{
    std::printf("%s %llu.%06llu %llu.%06llu%s\n", what, start / 1000000, start % 1000000, end / 1000000,
                end % 1000000, rest.c_str());
}

std::vector<std::wstring> ReadLines(const wchar_t* path)
{
    std::ifstream file(path);
    std::vector<std::wstring> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            std::wstring wide(line.size(), L'\0');
            const int length = ::MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0],
                                                     static_cast<int>(wide.size()));
            wide.resize(static_cast<size_t>(length));
            lines.push_back(wide);
        }
    }
    return lines;
}

void SetPreferences(IDirectorySearch* search)
{
    ADS_SEARCHPREF_INFO preferences[2] = {};
    preferences[0].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
    preferences[0].vValue.dwType = ADSTYPE_INTEGER;
    preferences[0].vValue.Integer = ADS_SCOPE_SUBTREE;
    preferences[1].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
    preferences[1].vValue.dwType = ADSTYPE_INTEGER;
    preferences[1].vValue.Integer = pageSize;
    Check(search->SetSearchPreference(preferences, 2), "SetSearchPreference");
}

// True when the first matching account has an X500 proxy address.
bool FindTarget(IDirectoryObject* object, const std::wstring& line)
{
    TComPtr<IDirectorySearch> search;
    Check(object->QueryInterface(IID_IDirectorySearch, search.Put()), "QueryInterface");
    SetPreferences(search.Get());
    wchar_t proxyAddresses[] = L"proxyAddresses";
    const CSearch rows(search.Get(), L"(&(objectClass=user)(legacyExchangeDN=" + Adsi::EscapeFilterValue(line) + L"))",
                       proxyAddresses);
    const HRESULT first = search->GetFirstRow(rows.Handle());
    if (first == S_ADS_NOMORE_ROWS) {
        return false;
    }
    Check(first, "GetFirstRow");
    ADS_SEARCH_COLUMN column{};
    const HRESULT got = search->GetColumn(rows.Handle(), proxyAddresses, &column);
    if (got == E_ADS_COLUMN_NOT_SET) {
        return false;
    }
    Check(got, "GetColumn");
    bool found = false;
    for (DWORD i = 0; i < column.dwNumValues; ++i) {
        const LPWSTR value = column.pADsValues[i].CaseIgnoreString;
        found = found || (value != nullptr && _wcsnicmp(value, L"X500:", 5) == 0);
    }
    search->FreeColumn(&column);
    return found;
}

int Probe(const std::wstring& server, const std::wstring& base, const wchar_t* account, const wchar_t* password,
          const std::vector<std::wstring>& lines)
{
    const unsigned long long bindStart = Now();
    TComPtr<IDirectoryObject> object;
    Check(::ADsOpenObject((L"LDAP://" + server + L"/" + base).c_str(), account, password, ADS_SECURE_AUTHENTICATION,
                          IID_IDirectoryObject, object.Put()),
          "ADsOpenObject");
    const unsigned long long searchStart = Now();
    size_t found = 0;
    for (const std::wstring& line : lines) {
        found += FindTarget(object.Get(), line) ? 1 : 0;
    }
    const unsigned long long searchEnd = Now();
    PrintSpan("bind", bindStart, searchStart);
    PrintSpan("searches", searchStart, searchEnd,
              " lines=" + std::to_string(lines.size()) + " found=" + std::to_string(found));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    if (argc != 6) {
        std::fputs("usage: DirectoryProbe SERVER BASE ACCOUNT PASSWORD LINES\n", stderr);
        return 2;
    }
    if (::GetProcAddress(::GetModuleHandleW(L"activeds.dll"), "BriskletDoubleMarker") == nullptr) {
        std::fputs("DirectoryProbe: the activeds double is not loaded; copy it beside the probe\n", stderr);
        return 1;
    }
    const std::vector<std::wstring> lines = ReadLines(argv[5]);
    // ADSI answers in whatever apartment this thread is in; the tool does the same.
    ::CoInitialize(nullptr);
    try {
        return Probe(argv[1], argv[2], argv[3], argv[4], lines);
    } catch (const CFailure& failure) {
        std::fprintf(stderr, "DirectoryProbe: %s failed: 0x%08lx\n", failure.Call,
                     static_cast<unsigned long>(failure.Result));
        return 1;
    }
}
