#include "directory/TargetAccounts.h"

#include "directory/DirSearch.h"
#include "directory/NocasePrefix.h"
#include "errors/Errors.h"
#include "errors/Text.h"

#include <iostream>
#include <map>
#include <set>
#include <utility>

namespace {

const std::wstring x500Prefix = L"X500:";

bool IsGlobalCatalog(const Adsi::CAdsObject& root, const SwitchSettings& settings)
{
    try {
        return Util::ToNocase(root.GetString(L"isGlobalCatalogReady")) == Util::ToNocase(L"TRUE");
    } catch (const Errors::CError&) {
        std::cout << "Warning: Server '" << ToNarrow(settings.DCName) << "' is not a Global Catalogue\n";
        return false;
    }
}

Adsi::CDirObject ConnectGlobalCatalog(const SwitchSettings& settings)
{
    const Adsi::TAdsiPtr<IDirectorySearch> catalog =
        Adsi::BindGlobalCatalog(settings.DCName, settings.DCAccount, settings.DCPassword);
    Adsi::TAdsiPtr<IDirectoryObject> object;
    const HRESULT hr = catalog->QueryInterface(IID_IDirectoryObject, object.Put());
    if (hr != S_OK) {
        std::cout << "Error: Cannot convert IDirectorySearch to IDirectoryObject. Error = " << HexCode(hr) << "\n";
        throw Errors::CAdsiError(E_FAIL);
    }
    return Adsi::CDirObject(std::move(object));
}

Adsi::CDirObject ConnectNamingContext(const Adsi::CAdsObject& root, const SwitchSettings& settings)
{
    const std::wstring namingContext = root.GetString(L"defaultNamingContext");
    return Adsi::OpenDirObject(L"LDAP://" + settings.DCName + L"/" + namingContext, settings.DCAccount,
                               settings.DCPassword);
}

// An account without any proxy address (a disabled user, a contact) simply has no X500 address; every other
// failure to read the column still ends the lookup.
std::vector<std::wstring> ProxyAddresses(const Adsi::CDirSearch& search)
{
    try {
        return search.GetColumnStrings(L"proxyAddresses");
    } catch (const Errors::CError& error) {
        if (error.GetCode() != E_ADS_COLUMN_NOT_SET) {
            throw;
        }
        return {};
    }
}

// Of an account's X500 addresses the last one wins; empty when it has none.
std::wstring X500Target(const std::vector<std::wstring>& addresses)
{
    std::wstring target;
    for (const std::wstring& address : addresses) {
        if (Adsi::HasPrefixNocase(address, x500Prefix)) {
            target = address.substr(x500Prefix.size());
        }
    }
    return target;
}

// Every round trip to a domain controller across a WAN costs milliseconds, so the lines are looked up many to
// a search. A batch of 250 values comes back in one page of 500 rows even when every value is held by two
// accounts (Active Directory pages at most 1,000 rows). 32,000 characters of filter, at most 96 KB in UTF-8,
// stay well within the request sizes servers take from a client (slapd: 256 KB before a bind, 4 MB after;
// Active Directory: 10 MB); a single longer value is still searched, alone.
constexpr size_t batchValues = 250;
constexpr size_t batchFilterChars = 32000;

// The directory compares legacyExchangeDN without regard to case, and so do the lines and rows here: by the
// upper-case form of each value, made once. Comparing the texts case-blind instead costs the platform
// microseconds for each comparison of these long, alike names, and a batch makes thousands.
std::wstring CaseKey(const std::wstring& value)
{
    std::wstring key(value.size(), L'\0');
    if (!value.empty()) {
        Errors::CheckNonZero(::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, value.data(),
                                            static_cast<int>(value.size()), &key[0], static_cast<int>(key.size())));
    }
    return key;
}

// The values one search asks for, each written once however many lines name it, as case keys.
struct CBatch {
    std::wstring Terms;
    std::set<std::wstring> Values;
};

// Each value searched for, by case key, with its target; empty when no account gives one.
using FoundTargets = std::map<std::wstring, std::wstring>;

// Lines equal but for case name one value (`keys` holds each line's case key), searched for once in the
// spelling of its first line.
std::vector<CBatch> Batches(const std::vector<std::wstring>& lines, const std::vector<std::wstring>& keys)
{
    std::vector<CBatch> batches;
    std::set<std::wstring> seen;
    for (size_t index = 0; index < lines.size(); ++index) {
        const std::wstring& key = keys[index];
        if (!seen.insert(key).second) {
            continue;
        }
        const std::wstring term = L"(legacyExchangeDN=" + Adsi::EscapeFilterValue(lines[index]) + L")";
        if (batches.empty() || batches.back().Values.size() == batchValues ||
            batches.back().Terms.size() + term.size() > batchFilterChars) {
            batches.emplace_back();
        }
        batches.back().Terms += term;
        batches.back().Values.insert(key);
    }
    return batches;
}

// Adds to `found` the target of every value of the batch, empty for a value no account holds. A row comes back
// to its value by legacyExchangeDN; of several accounts with one value the first row counts, the one a search
// for that value alone would give.
void SearchBatch(const Adsi::CDirObject& connection, const CBatch& batch, FoundTargets& found)
{
    std::set<std::wstring> pending = batch.Values;
    Adsi::CDirSearch search(connection, L"(&(objectClass=user)(|" + batch.Terms + L"))",
                            {L"legacyExchangeDN", L"proxyAddresses"}, ADS_SCOPE_SUBTREE);
    while (!pending.empty() && search.Next()) {
        for (const std::wstring& value : search.GetColumnStrings(L"legacyExchangeDN")) {
            std::wstring key = CaseKey(value);
            if (pending.erase(key) != 0) {
                found.emplace(std::move(key), X500Target(ProxyAddresses(search)));
            }
        }
    }
    for (const std::wstring& value : pending) {
        found.emplace(value, std::wstring());
    }
}

// Takes the lines from `next` on whose values have been searched for, in line order, warning about each one
// without a target; returns the first line whose value is still to be searched for.
size_t TakeResults(size_t next, const std::vector<std::wstring>& lines, const std::vector<std::wstring>& keys,
                   const FoundTargets& found, NocaseKeyMap& targets)
{
    for (; next != lines.size(); ++next) {
        const auto result = found.find(keys[next]);
        if (result == found.end()) {
            break;
        }
        if (result->second.empty()) {
            std::cout << "Warning: Cannot find UserDNTrg for UserDNSrc = " << ToNarrow(lines[next]) << "\n";
        } else {
            targets.emplace(Util::ToNocase(lines[next]), result->second);
        }
    }
    return next;
}

} // namespace

NocaseKeyMap ResolveTargetAccounts(const SwitchSettings& settings, const std::vector<std::wstring>& lines)
{
    // ADSI works in whatever apartment this thread is already in, so the result is of no interest.
    ::CoInitialize(nullptr);
    const Adsi::CDirObject connection = ConnectDirectory(settings);
    std::vector<std::wstring> keys;
    keys.reserve(lines.size());
    for (const std::wstring& line : lines) {
        keys.push_back(CaseKey(line));
    }
    FoundTargets found;
    NocaseKeyMap targets;
    size_t next = 0;
    for (const CBatch& batch : Batches(lines, keys)) {
        SearchBatch(connection, batch, found);
        next = TakeResults(next, lines, keys, found, targets);
    }
    return targets;
}

Adsi::CDirObject ConnectDirectory(const SwitchSettings& settings)
{
    std::cout << "Info: Connect to the Active Directory server '" << ToNarrow(settings.DCName) << "' using LDAP.\n";
    const Adsi::CAdsObject root =
        Adsi::OpenAdsObject(L"LDAP://" + settings.DCName + L"/RootDSE", settings.DCAccount, settings.DCPassword);
    return IsGlobalCatalog(root, settings) ? ConnectGlobalCatalog(settings) : ConnectNamingContext(root, settings);
}
