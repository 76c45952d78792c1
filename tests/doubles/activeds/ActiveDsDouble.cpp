// Stands in for activeds.dll, which Wine provides only in part: binds go through Wine's own LDAP provider as
// simple binds, "GC://server" (which Wine lacks) is served as Windows serves it, and everything handed out is
// counted and can fail on demand. See Steering.h for the steering and record files.
#include "Steering.h"

#include <windows.h>
#include <ole2.h>
#include <activeds.h>

#include <string>

namespace {

// Wine's LDAP provider, "LDAP:".
const CLSID CLSID_LDAPNamespace = {0x228d9a82, 0xc302, 0x11cf, {0x9a, 0xa4, 0x00, 0xaa, 0x00, 0x4a, 0x56, 0x91}};

class CBstr {
public:
    explicit CBstr(const wchar_t* text) : value(text == nullptr ? nullptr : SysAllocString(text)) {}
    ~CBstr() { SysFreeString(value); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR Get() const { return value; }

private:
    BSTR value;
};

std::wstring Text(const wchar_t* text)
{
    return text == nullptr ? L"(null)" : text;
}

std::wstring InterfaceName(REFIID riid)
{
    return IsEqualIID(riid, IID_IADs)              ? L"IADs"
           : IsEqualIID(riid, IID_IDirectoryObject) ? L"IDirectoryObject"
           : IsEqualIID(riid, IID_IDirectorySearch) ? L"IDirectorySearch"
                                                    : L"other";
}

bool StartsWithNocase(const wchar_t* text, const wchar_t* prefix)
{
    return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

// A simple bind through Wine's provider, whatever the flags asked for.
HRESULT OpenLdap(const std::wstring& path, LPCWSTR user, LPCWSTR password, DWORD flags, IDispatch** object)
{
    IADsOpenDSObject* opener = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_LDAPNamespace, nullptr, CLSCTX_INPROC_SERVER, IID_IADsOpenDSObject,
                                  reinterpret_cast<void**>(&opener));
    if (hr != S_OK) {
        return hr;
    }
    const CBstr bstrPath(path.c_str());
    const CBstr bstrUser(user);
    const CBstr bstrPassword(password);
    hr = opener->OpenDSObject(bstrPath.Get(), bstrUser.Get(), bstrPassword.Get(),
                              static_cast<LONG>(flags & ~ADS_SECURE_AUTHENTICATION), object);
    opener->Release();
    return hr;
}

// "GC://server", as Windows' provider serves it: the root of the server's global catalogue on its port 3268,
// whose searches cover every domain of the forest.
HRESULT OpenGlobalCatalog(const std::wstring& path, LPCWSTR user, LPCWSTR password, DWORD flags,
                          IDispatch** object)
{
    const std::wstring rest = path.substr(5);
    return OpenLdap(L"LDAP://" + rest.substr(0, rest.find(L'/')) + L":3268", user, password, flags, object);
}

HRESULT Open(LPCWSTR path, LPCWSTR user, LPCWSTR password, DWORD flags, REFIID riid, void** object)
{
    const HRESULT steered = AdsiDouble::SteeredResult(AdsiDouble::Call::ADsOpenObject);
    if (steered != S_OK) {
        return steered;
    }
    const bool isGlobalCatalog = StartsWithNocase(path, L"GC://");
    if (!isGlobalCatalog && !StartsWithNocase(path, L"LDAP:")) {
        return E_FAIL; // no such provider, as Wine answers
    }
    IDispatch* inner = nullptr;
    const HRESULT hr = isGlobalCatalog ? OpenGlobalCatalog(path, user, password, flags, &inner)
                                       : OpenLdap(path, user, password, flags, &inner);
    if (hr != S_OK) {
        return hr;
    }
    return AdsiDouble::WrapDirectoryObject(inner, isGlobalCatalog, riid, object);
}

} // namespace

extern "C" {

__declspec(dllexport) int BriskletDoubleMarker()
{
    return 1;
}

HRESULT WINAPI ADsOpenObject(LPCWSTR path, LPCWSTR user, LPCWSTR password, DWORD flags, REFIID riid, void** object)
{
    if (path == nullptr || object == nullptr) {
        return E_INVALIDARG;
    }
    *object = nullptr;
    const HRESULT hr = Open(path, user, password, flags, riid, object);
    AdsiDouble::Record(L"ADsOpenObject path=" + Text(path) + L" user=" + Text(user) + L" password=" +
                       Text(password) + L" flags=" + std::to_wstring(flags) + L" interface=" + InterfaceName(riid) +
                       L" result=" + AdsiDouble::Hex(hr));
    return hr;
}

// Wine's is a stub; the double reports only the extended error of a steered page break.
HRESULT WINAPI ADsGetLastError(LPDWORD error, LPWSTR errorText, DWORD errorLength, LPWSTR providerName,
                               DWORD providerLength)
{
    DWORD pending = 0;
    if (!AdsiDouble::TakePendingError(&pending)) {
        return E_NOTIMPL;
    }
    *error = pending;
    if (errorText != nullptr && errorLength != 0) {
        errorText[0] = L'\0';
    }
    if (providerName != nullptr && providerLength != 0) {
        providerName[0] = L'\0';
    }
    return S_OK;
}

// Wine's LDAP provider imports the two below and frees their results with the C runtime it uses (ucrtbase).
LPWSTR WINAPI AllocADsStr(LPCWSTR text)
{
    using MallocFunction = void*(__cdecl*)(size_t);
    static const auto ucrtMalloc =
        reinterpret_cast<MallocFunction>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"ucrtbase.dll"), "malloc")));
    if (text == nullptr || ucrtMalloc == nullptr) {
        return nullptr;
    }
    const size_t size = (wcslen(text) + 1) * sizeof(wchar_t);
    void* const copy = ucrtMalloc(size);
    if (copy != nullptr) {
        memcpy(copy, text, size);
    }
    return static_cast<LPWSTR>(copy);
}

HRESULT WINAPI ADsBuildVarArrayStr(LPWSTR* texts, DWORD count, VARIANT* result)
{
    if (result == nullptr) {
        return E_ADS_BAD_PARAMETER;
    }
    SAFEARRAY* const array = SafeArrayCreateVector(VT_VARIANT, 0, count);
    if (array == nullptr) {
        return E_OUTOFMEMORY;
    }
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
        VARIANT item;
        VariantInit(&item);
        item.vt = VT_BSTR;
        item.bstrVal = SysAllocString(texts[i]);
        const HRESULT hr = item.bstrVal == nullptr ? E_OUTOFMEMORY : SafeArrayPutElement(array, &i, &item);
        VariantClear(&item);
        if (hr != S_OK) {
            SafeArrayDestroy(array);
            return hr;
        }
    }
    VariantInit(result);
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = array;
    return S_OK;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH) {
        AdsiDouble::WriteOutstanding();
    }
    return TRUE;
}

} // extern "C"
