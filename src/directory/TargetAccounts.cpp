#include "directory/TargetAccounts.h"

#include "directory/CallLimit.h"
#include "directory/DirSearch.h"
#include "directory/NocasePrefix.h"
#include "errors/Errors.h"
#include "errors/Text.h"

#include <iostream>
#include <map>
#include <memory>
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

// The directory matches legacyExchangeDN by its rule for strings, letter case and insignificant blanks (at
// either end, more than one in a row) aside, and so are the lines and rows here: by a key made once for each
// value, its blanks folded and its letters in upper case. Comparing the texts case-blind instead costs the
// platform microseconds for each comparison of these long, alike names, and a batch makes thousands.
std::wstring MatchKey(const std::wstring& value)
{
    std::wstring folded;
    for (const wchar_t c : value) {
        if (c != L' ' || (!folded.empty() && folded.back() != L' ')) {
            folded += c;
        }
    }
    if (!folded.empty() && folded.back() == L' ') {
        folded.pop_back();
    }
    std::wstring key(folded.size(), L'\0');
    if (!folded.empty()) {
        Errors::CheckNonZero(::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, folded.data(),
                                            static_cast<int>(folded.size()), &key[0], static_cast<int>(key.size())));
    }
    return key;
}

// The values one search asks for, each written once however many lines name it, as match keys.
struct CBatch {
    std::wstring Terms;
    std::set<std::wstring> Values;
};

// Each value searched for, by match key, with the target of every account that carries it, in row order.
using FoundTargets = std::map<std::wstring, std::vector<std::wstring>>;

// Lines equal but for case name one value (`keys` holds each line's match key), searched for once in the
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

// Adds to `found` every value of the batch with the targets of the accounts that carry it, none for a value no
// account carries. A row comes back to its value by legacyExchangeDN.
void SearchBatch(const Adsi::CDirObject& connection, const CBatch& batch, FoundTargets& found)
{
    for (const std::wstring& value : batch.Values) {
        found[value];
    }
    Adsi::CDirSearch search(connection, L"(&(objectClass=user)(|" + batch.Terms + L"))",
                            {L"legacyExchangeDN", L"proxyAddresses"}, ADS_SCOPE_SUBTREE);
    while (search.Next()) {
        for (const std::wstring& value : search.GetColumnStrings(L"legacyExchangeDN")) {
            const std::wstring key = MatchKey(value);
            if (batch.Values.count(key) != 0) {
                found[key].push_back(X500Target(ProxyAddresses(search)));
            }
        }
    }
}

// A switch message holds one setting a line: a target with a line break would add settings of its own.
bool HasControlCharacter(const std::wstring& text)
{
    for (const wchar_t c : text) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            return true;
        }
    }
    return false;
}

// The line's target, or empty after a warning why it has none. Of several accounts carrying the line none is
// taken: the server returns them in an order of its own, which another server or a restore changes.
std::wstring TargetOf(const std::wstring& line, const std::vector<std::wstring>& accounts)
{
    const char* problem = accounts.size() > 1                    ? "Several accounts carry UserDNSrc = "
                          : accounts.empty() || accounts[0].empty() ? "Cannot find UserDNTrg for UserDNSrc = "
                          : HasControlCharacter(accounts[0])         ? "Control character in UserDNTrg for UserDNSrc = "
                                                                     : nullptr;
    if (problem == nullptr) {
        return accounts[0];
    }
    std::cout << "Warning: " << problem << ToNarrow(line) << "\n";
    return std::wstring();
}

// Takes the lines from `next` on whose values have been searched for, in line order; returns the first line
// whose value is still to be searched for.
size_t TakeResults(size_t next, const std::vector<std::wstring>& lines, const std::vector<std::wstring>& keys,
                   const FoundTargets& found, NocaseKeyMap& targets)
{
    for (; next != lines.size(); ++next) {
        const auto result = found.find(keys[next]);
        if (result == found.end()) {
            break;
        }
        const std::wstring target = TargetOf(lines[next], result->second);
        if (!target.empty()) {
            targets.emplace(Util::ToNocase(lines[next]), target);
        }
    }
    return next;
}

NocaseKeyMap LookUpTargets(const SwitchSettings& settings, const std::vector<std::wstring>& lines)
{
    const Adsi::CDirObject connection = ConnectDirectory(settings);
    std::vector<std::wstring> keys;
    keys.reserve(lines.size());
    for (const std::wstring& line : lines) {
        keys.push_back(MatchKey(line));
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

} // namespace

// The lookup owns copies of what it reads and the result it writes, since a lookup past its time limit is left
// running to the end of the process.
NocaseKeyMap ResolveTargetAccounts(const SwitchSettings& settings, const std::vector<std::wstring>& lines)
{
    const auto targets = std::make_shared<NocaseKeyMap>();
    Adsi::RunWithCallLimit([settings, lines, targets] { *targets = LookUpTargets(settings, lines); });
    return *targets;
}

Adsi::CDirObject ConnectDirectory(const SwitchSettings& settings)
{
    std::cout << "Info: Connect to the Active Directory server '" << ToNarrow(settings.DCName) << "' using LDAP.\n";
    const Adsi::CAdsObject root =
        Adsi::OpenAdsObject(L"LDAP://" + settings.DCName + L"/RootDSE", settings.DCAccount, settings.DCPassword);
    return IsGlobalCatalog(root, settings) ? ConnectGlobalCatalog(settings) : ConnectNamingContext(root, settings);
}
