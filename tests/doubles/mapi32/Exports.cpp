// The functions MAPI32.dll exports to the program under test, and the marker that tells a test the double
// was loaded rather than the system's MAPI32.

#include "Double.h"

#include <mapiutil.h>

using namespace MapiDouble;

namespace {

std::wstring MailboxOf(IUnknown* object)
{
    const CObjectBase* owner = dynamic_cast<CObjectBase*>(object);
    return owner == nullptr ? std::wstring() : owner->MailboxDn();
}

} // namespace

extern "C" __declspec(dllexport) int BriskletDoubleMarker()
{
    return 1;
}

STDAPI MAPIInitialize(LPVOID init)
{
    CCall call(nullptr, "MAPIInitialize", L"");
    if (!CStateDirectory::FromEnvironment().IsSet()) {
        return MAPI_E_NOT_INITIALIZED; // nowhere to keep a world
    }
    if (call.Refused()) {
        return call.End();
    }
    const MAPIINIT_0* settings = static_cast<const MAPIINIT_0*>(init);
    if (settings != nullptr && settings->ulVersion != MAPI_INIT_VERSION) {
        return call.End(MAPI_E_VERSION);
    }
    ThreadStartsMapi(settings == nullptr ? 0 : settings->ulFlags);
    return call.End();
}

STDAPI_(void) MAPIUninitialize()
{
    CCall call(nullptr, "MAPIUninitialize", L"");
    if (!ThreadEndsMapi()) {
        NoteMisuse("MAPIUninitialize without MAPIInitialize on its thread");
    }
    if (Initializations() == 0) {
        CStateDirectory::FromEnvironment().AppendAccounting(TakeAccounting());
    }
    call.End();
}

STDAPI MAPIAdminProfiles(ULONG, LPPROFADMIN* admin)
{
    CCall call(nullptr, "MAPIAdminProfiles", L"");
    if (admin == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *admin = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    *admin = NewProfAdmin();
    return call.End();
}

STDAPI MAPILogonEx(ULONG_PTR, LPTSTR profileName, LPTSTR, ULONG flags, LPMAPISESSION* session)
{
    return LogonToProfile(profileName, flags, session);
}

// The memory functions are steered like every other call but, being so many, recorded only when refused.
STDAPI_(SCODE) MAPIAllocateBuffer(ULONG size, LPVOID* buffer)
{
    CCall call(nullptr, "MAPIAllocateBuffer", L"");
    if (call.Refused()) {
        if (buffer != nullptr) {
            *buffer = nullptr;
        }
        return call.End();
    }
    return AllocateBlock(size, buffer);
}

STDAPI_(SCODE) MAPIAllocateMore(ULONG size, LPVOID parent, LPVOID* buffer)
{
    CCall call(nullptr, "MAPIAllocateMore", L"");
    if (call.Refused()) {
        if (buffer != nullptr) {
            *buffer = nullptr;
        }
        return call.End();
    }
    return AllocateMoreBlock(size, parent, buffer);
}

STDAPI_(ULONG) MAPIFreeBuffer(LPVOID buffer)
{
    return static_cast<ULONG>(FreeBlock(buffer));
}

STDAPI_(void) FreeProws(LPSRowSet rows)
{
    if (rows == nullptr) {
        return;
    }
    for (ULONG index = 0; index < rows->cRows; ++index) {
        FreeBlock(rows->aRow[index].lpProps);
    }
    FreeBlock(rows);
}

STDAPI HrQueryAllRows(LPMAPITABLE table, LPSPropTagArray columns, LPSRestriction restriction, LPSSortOrderSet order,
                      LONG maximum, LPSRowSet* rows)
{
    CCall call(nullptr, "HrQueryAllRows", MailboxOf(table));
    if (table == nullptr || rows == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *rows = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    HRESULT result = columns == nullptr ? S_OK : table->SetColumns(columns, TBL_BATCH);
    if (SUCCEEDED(result) && restriction != nullptr) {
        result = table->Restrict(restriction, TBL_BATCH);
    }
    if (SUCCEEDED(result) && order != nullptr) {
        result = table->SortTable(order, TBL_BATCH);
    }
    if (SUCCEEDED(result)) {
        result = table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
    }
    ULONG count = 0;
    if (SUCCEEDED(result)) {
        result = table->GetRowCount(0, &count);
    }
    if (SUCCEEDED(result) && maximum > 0 && count > static_cast<ULONG>(maximum)) {
        result = MAPI_E_TABLE_TOO_BIG;
    }
    if (SUCCEEDED(result)) {
        result = table->QueryRows(static_cast<LONG>(count), 0, rows);
    }
    return call.End(FAILED(result) ? result : S_OK);
}

STDAPI HrGetOneProp(LPMAPIPROP object, ULONG tag, LPSPropValue* value)
{
    CCall call(nullptr, "HrGetOneProp", MailboxOf(object));
    if (object == nullptr || value == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *value = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    SizedSPropTagArray(1, wanted) = {1, {tag}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    const HRESULT result = object->GetProps(reinterpret_cast<LPSPropTagArray>(&wanted), 0, &count, &values);
    if (FAILED(result)) {
        return call.End(result);
    }
    if (PROP_TYPE(values[0].ulPropTag) == PT_ERROR) {
        const HRESULT missing = values[0].Value.err;
        FreeBlock(values);
        return call.End(missing);
    }
    *value = values;
    return call.End();
}
