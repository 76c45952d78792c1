#include "directory/TargetAccounts.h"

#include "directory/DirSearch.h"
#include "directory/NocasePrefix.h"
#include "errors/Text.h"

#include <iostream>

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

} // namespace

NocaseKeyMap ResolveTargetAccounts(const SwitchSettings& settings, const std::vector<std::wstring>& lines)
{
    // ADSI works in whatever apartment this thread is already in, so the result is of no interest.
    ::CoInitialize(nullptr);
    const Adsi::CDirObject connection = ConnectDirectory(settings);
    NocaseKeyMap targets;
    for (const std::wstring& line : lines) {
        const std::wstring target = FindTargetDn(connection, line);
        if (target.empty()) {
            std::cout << "Warning: Cannot find UserDNTrg for UserDNSrc = " << ToNarrow(line) << "\n";
        } else {
            targets.emplace(Util::ToNocase(line), target);
        }
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

std::wstring FindTargetDn(const Adsi::CDirObject& connection, const std::wstring& line)
{
    const std::wstring filter = L"(&(objectClass=user)(legacyExchangeDN=" + Adsi::EscapeFilterValue(line) + L"))";
    Adsi::CDirSearch search(connection, filter, L"proxyAddresses", ADS_SCOPE_SUBTREE);
    if (!search.Next()) {
        return std::wstring();
    }
    // Only the first matching account counts; of its X500 addresses the last one wins.
    std::wstring target;
    for (const std::wstring& address : ProxyAddresses(search)) {
        if (Adsi::HasPrefixNocase(address, x500Prefix)) {
            target = address.substr(x500Prefix.size());
        }
    }
    return target;
}
