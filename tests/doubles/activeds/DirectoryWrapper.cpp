#include "Steering.h"

#include <set>
#include <string>

namespace AdsiDouble {

namespace {

// Reads go to Wine's object; what the tool never calls answers E_NOTIMPL.
class CDirectoryWrapper final : public IADs, public IDirectoryObject, public IDirectorySearch {
public:
    CDirectoryWrapper(IDispatch* inner, bool isGlobalCatalog) : globalCatalog(isGlobalCatalog)
    {
        inner->QueryInterface(IID_IADs, reinterpret_cast<void**>(&ads));
        inner->QueryInterface(IID_IDirectorySearch, reinterpret_cast<void**>(&directorySearch));
        inner->Release();
        Count(Held::References, 1);
    }

    // IUnknown
    HRESULT WINAPI QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IADs)) {
            *object = static_cast<IADs*>(this);
        } else if (IsEqualIID(riid, IID_IDirectoryObject)) {
            const HRESULT answer = globalCatalog ? DirectoryObjectAnswer() : S_OK;
            if (answer != S_OK) {
                return answer;
            }
            *object = static_cast<IDirectoryObject*>(this);
        } else if (IsEqualIID(riid, IID_IDirectorySearch) && directorySearch != nullptr) {
            *object = static_cast<IDirectorySearch*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override
    {
        Count(Held::References, 1);
        return static_cast<ULONG>(InterlockedIncrement(&references));
    }
    ULONG WINAPI Release() override
    {
        Count(Held::References, -1);
        const LONG left = InterlockedDecrement(&references);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IDispatch
    HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // IADs
    HRESULT WINAPI get_Name(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Class(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_GUID(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_ADsPath(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Parent(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Schema(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetInfo() override { return E_NOTIMPL; }
    HRESULT WINAPI SetInfo() override { return E_NOTIMPL; }
    HRESULT WINAPI Get(BSTR name, VARIANT* value) override
    {
        std::wstring flag;
        const bool steered = lstrcmpiW(name, L"isGlobalCatalogReady") == 0 && SteeredGlobalCatalogFlag(&flag);
        if (steered && flag == L"-") {
            return E_ADS_PROPERTY_NOT_FOUND;
        }
        const HRESULT hr = steered ? S_OK : ads->Get(name, value);
        if (steered) {
            VariantInit(value);
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(flag.c_str());
        }
        if (SUCCEEDED(hr) && AnswersBooleans() && value->vt == VT_BSTR) {
            const bool isTrue = lstrcmpiW(value->bstrVal, L"TRUE") == 0;
            if (isTrue || lstrcmpiW(value->bstrVal, L"FALSE") == 0) {
                VariantClear(value);
                value->vt = VT_BOOL;
                value->boolVal = isTrue ? VARIANT_TRUE : VARIANT_FALSE;
            }
        }
        return hr;
    }
    HRESULT WINAPI Put(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetEx(BSTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI PutEx(__LONG32, BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetInfoEx(VARIANT, __LONG32) override { return E_NOTIMPL; }

    // IDirectoryObject: the tool only goes through it to IDirectorySearch.
    HRESULT WINAPI GetObjectInformation(PADS_OBJECT_INFO*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetObjectAttributes(LPWSTR*, DWORD, PADS_ATTR_INFO*, DWORD*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetObjectAttributes(PADS_ATTR_INFO, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT WINAPI CreateDSObject(LPWSTR, PADS_ATTR_INFO, DWORD, IDispatch**) override { return E_NOTIMPL; }
    HRESULT WINAPI DeleteDSObject(LPWSTR) override { return E_NOTIMPL; }

    // IDirectorySearch
    HRESULT WINAPI SetSearchPreference(PADS_SEARCHPREF_INFO preferences, DWORD count) override
    {
        std::wstring line = L"SetSearchPreference";
        for (DWORD i = 0; i < count; ++i) {
            line += L" " + PreferenceName(preferences[i].dwSearchPref) + L"=" +
                    std::to_wstring(preferences[i].vValue.Integer);
        }
        Record(line);
        const HRESULT steered = SteeredResult(Call::SetSearchPreference);
        return steered != S_OK ? steered : directorySearch->SetSearchPreference(preferences, count);
    }
    HRESULT WINAPI ExecuteSearch(LPWSTR filter, LPWSTR* names, DWORD count, PADS_SEARCH_HANDLE handle) override
    {
        std::wstring line = L"ExecuteSearch filter=" + std::wstring(filter) + L" attributes=";
        for (DWORD i = 0; names != nullptr && count != 0xFFFFFFFF && i < count; ++i) {
            line += (i == 0 ? L"" : L";") + std::wstring(names[i]);
        }
        Record(line);
        const HRESULT steered = SteeredResult(Call::ExecuteSearch);
        const HRESULT hr = steered != S_OK ? steered : directorySearch->ExecuteSearch(filter, names, count, handle);
        if (hr == S_OK) {
            openSearches.insert(*handle);
            Count(Held::Searches, 1);
        }
        return hr;
    }
    HRESULT WINAPI AbandonSearch(ADS_SEARCH_HANDLE) override { return E_NOTIMPL; }
    HRESULT WINAPI GetFirstRow(ADS_SEARCH_HANDLE handle) override
    {
        const HRESULT steered = SteeredResult(Call::GetFirstRow);
        return steered != S_OK ? steered : directorySearch->GetFirstRow(handle);
    }
    HRESULT WINAPI GetNextRow(ADS_SEARCH_HANDLE handle) override
    {
        const HRESULT steered = SteeredResult(Call::GetNextRow);
        if (steered != S_OK) {
            return steered;
        }
        return IsPageBreak() ? S_ADS_NOMORE_ROWS : directorySearch->GetNextRow(handle);
    }
    HRESULT WINAPI GetPreviousRow(ADS_SEARCH_HANDLE) override { return E_NOTIMPL; }
    HRESULT WINAPI GetNextColumnName(ADS_SEARCH_HANDLE, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column) override
    {
        const HRESULT steered = SteeredResult(Call::GetColumn);
        const HRESULT hr = steered != S_OK ? steered : directorySearch->GetColumn(handle, name, column);
        if (hr == S_OK) {
            Count(Held::Columns, 1);
            const int type = SteeredValueType();
            for (DWORD i = 0; type >= 0 && i < column->dwNumValues; ++i) {
                column->pADsValues[i].dwType = static_cast<ADSTYPE>(type);
            }
        }
        return hr;
    }
    HRESULT WINAPI FreeColumn(PADS_SEARCH_COLUMN column) override
    {
        const HRESULT hr = directorySearch->FreeColumn(column);
        if (hr == S_OK) {
            Count(Held::Columns, -1);
        }
        return hr;
    }
    HRESULT WINAPI CloseSearchHandle(ADS_SEARCH_HANDLE handle) override
    {
        if (openSearches.erase(handle) != 0) {
            Count(Held::Searches, -1);
        }
        return directorySearch->CloseSearchHandle(handle);
    }

private:
    ~CDirectoryWrapper()
    {
        ads->Release();
        if (directorySearch != nullptr) {
            directorySearch->Release();
        }
    }

    static std::wstring PreferenceName(DWORD preference)
    {
        switch (preference) {
        case ADS_SEARCHPREF_SEARCH_SCOPE:
            return L"scope";
        case ADS_SEARCHPREF_PAGESIZE:
            return L"pagesize";
        case ADS_SEARCHPREF_TIMEOUT:
            return L"timeout";
        case ADS_SEARCHPREF_CHASE_REFERRALS:
            return L"referrals";
        default:
            return std::to_wstring(preference);
        }
    }

    LONG references = 1;
    const bool globalCatalog;
    IADs* ads = nullptr;
    IDirectorySearch* directorySearch = nullptr;
    std::set<ADS_SEARCH_HANDLE> openSearches;
};

} // namespace

HRESULT WrapDirectoryObject(IDispatch* inner, bool isGlobalCatalog, REFIID interfaceId, void** object)
{
    CDirectoryWrapper* const wrapper = new CDirectoryWrapper(inner, isGlobalCatalog);
    const HRESULT hr = static_cast<IADs*>(wrapper)->QueryInterface(interfaceId, object);
    static_cast<IADs*>(wrapper)->Release();
    return hr;
}

} // namespace AdsiDouble
