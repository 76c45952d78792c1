#include "directory/DirectoryObjects.h"

#include "directory/CallLimit.h"
#include "directory/NocasePrefix.h"

namespace Adsi {

namespace {

const wchar_t globalCatalogPrefix[] = L"GC://";
const wchar_t ldapPrefix[] = L"LDAP://";

// Every bind authenticates as the configured account with the domain's own (Kerberos or NTLM) protocol, and
// every path names its server, which ADSI then binds without first looking for a domain of that name.
template <class TInterface>
TAdsiPtr<TInterface> OpenObject(const std::wstring& path, const std::wstring& user, const std::wstring& password,
                                REFIID interfaceId)
{
    TAdsiPtr<TInterface> object;
    const CProviderCall call;
    CheckAdsiExact(::ADsOpenObject(path.c_str(), user.c_str(), password.c_str(),
                                   ADS_SECURE_AUTHENTICATION | ADS_SERVER_BIND, interfaceId, object.Put()));
    return object;
}

class CBstr {
public:
    explicit CBstr(const std::wstring& text)
        : value(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (value == nullptr) {
            throw Errors::CAdsiError(E_OUTOFMEMORY);
        }
    }
    ~CBstr() { ::SysFreeString(value); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const noexcept { return value; }

private:
    BSTR value;
};

class CVariant {
public:
    CVariant() noexcept { ::VariantInit(&value); }
    ~CVariant() { ::VariantClear(&value); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    VARIANT* Put() noexcept { return &value; }
    const VARIANT& Get() const noexcept { return value; }

private:
    VARIANT value;
};

} // namespace

std::wstring CAdsObject::GetString(const std::wstring& name) const
{
    const CBstr attributeName(name);
    CVariant value;
    Errors::CheckAdsi(object->Get(attributeName.Get(), value.Put()));
    if (value.Get().vt != VT_BSTR) {
        throw Errors::CAdsiError(E_ADS_CANT_CONVERT_DATATYPE);
    }
    const BSTR text = value.Get().bstrVal;
    return text == nullptr ? std::wstring() : std::wstring(text, ::SysStringLen(text));
}

std::wstring NormalizeAdsPath(const std::wstring& path)
{
    if (HasPrefixNocase(path, globalCatalogPrefix) || HasPrefixNocase(path, ldapPrefix)) {
        return path;
    }
    return ldapPrefix + path;
}

CAdsObject OpenAdsObject(const std::wstring& path, const std::wstring& user, const std::wstring& password)
{
    return CAdsObject(OpenObject<IADs>(path, user, password, IID_IADs));
}

CDirObject OpenDirObject(const std::wstring& path, const std::wstring& user, const std::wstring& password)
{
    try {
        return CDirObject(OpenObject<IDirectoryObject>(NormalizeAdsPath(path), user, password, IID_IDirectoryObject));
    } catch (const Errors::CError& error) {
        Errors::ThrowNickNested(L"ERR_COMMON_ADSI_OPEN_DIROBJ", {path}, error);
    }
}

TAdsiPtr<IDirectorySearch> BindGlobalCatalog(const std::wstring& server, const std::wstring& user,
                                             const std::wstring& password)
{
    try {
        return OpenObject<IDirectorySearch>(globalCatalogPrefix + server, user, password, IID_IDirectorySearch);
    } catch (const Errors::CError& error) {
        Errors::ThrowNickNested(L"EXCH_ERR_GC_NOT_AVAILABLE", error);
    }
}

} // namespace Adsi
