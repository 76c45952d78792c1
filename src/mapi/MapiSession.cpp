#include "mapi/MapiSession.h"

#include "errors/Errors.h"
#include "errors/Text.h"
#include "mapi/MapiMemory.h"

#include <mapiutil.h>

#include <cstring>

namespace Mapi {

namespace {

constexpr ULONG PrStoreOffline = PROP_TAG(PT_BOOLEAN, 0x6632);

struct ProviderKind {
    BYTE Uid[16];
    ULONG Kind;
};

// The providers of the stores the tool meets, by the UIDs they put in PR_MDB_PROVIDER.
constexpr ProviderKind ProviderKinds[] = {
    {{0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B, 0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17},
     StoreKindExchangePrivate},
    {{0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE, 0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2},
     StoreKindExchangeDelegate},
    {{0x4E, 0x49, 0x54, 0x41, 0xF9, 0xBF, 0xB8, 0x01, 0x00, 0xAA, 0x00, 0x37, 0xD9, 0x6E, 0x00, 0x00},
     StoreKindPersonalFolders},
    {{0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11, 0xCD, 0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A},
     StoreKindExchangePublic},
    {{0xA0, 0x01, 0xBD, 0xC6, 0x9B, 0x9C, 0x49, 0x5D, 0x88, 0x78, 0x55, 0x9E, 0x1C, 0xCE, 0xBE, 0xE0},
     StoreKindFifthProvider},
};

// The row's value for the tag; null when the row has none, or an error in its place.
const SPropValue* FindColumn(const SRow& row, ULONG tag)
{
    for (ULONG index = 0; index < row.cValues; ++index) {
        if (row.lpProps[index].ulPropTag == tag) {
            return &row.lpProps[index];
        }
    }
    return nullptr;
}

} // namespace

ULONG StoreKindFromProvider(const SPropValue* provider)
{
    if (provider == nullptr || PROP_TYPE(provider->ulPropTag) != PT_BINARY ||
        provider->Value.bin.cb != sizeof ProviderKinds[0].Uid) {
        return StoreKindOther;
    }
    for (const ProviderKind& known : ProviderKinds) {
        if (std::memcmp(provider->Value.bin.lpb, known.Uid, sizeof known.Uid) == 0) {
            return known.Kind;
        }
    }
    return StoreKindOther;
}

void CMapiSession::Logon(const std::wstring& name, ULONG flags)
{
    Close();
    LPTSTR profile = name.empty() ? nullptr : reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(name.c_str()));
    Errors::CheckMapi(NoSource, ::MAPILogonEx(0, profile, nullptr, flags, session.Out()));
    profileName = name;
    logonFlags = flags;
}

void CMapiSession::Close() noexcept
{
    if (!session) {
        return;
    }
    stores.clear();
    storesLoaded = false;
    session->Logoff(0, 0, 0);
    session.Reset();
}

void CMapiSession::LoadStores()
{
    if (storesLoaded) {
        return;
    }
    Errors::CheckMapiTrue(NoSource, static_cast<bool>(session), MAPI_E_NOT_INITIALIZED);
    stores.clear();
    TMapiPtr<IMAPITable> table;
    Errors::CheckMapi(session.get(), session->GetMsgStoresTable(0, table.Out()));
    SizedSPropTagArray(6, columns) = {6, {PR_DISPLAY_NAME_A, PR_ENTRYID, PR_MDB_PROVIDER, PR_DEFAULT_STORE,
                                          PR_RECORD_KEY, PR_RESOURCE_FLAGS}};
    CMapiSRowSet rows;
    Errors::CheckMapi(NoSource, ::HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                                 nullptr, 0, rows.Out()));
    for (ULONG index = 0; index < rows->cRows; ++index) {
        try {
            stores.push_back(OpenStore(rows->aRow[index]));
        } catch (const Errors::CError&) {
            // A store that cannot be opened now is not one the tool can work with.
        }
    }
    storesLoaded = true;
}

CMapiStore CMapiSession::OpenStore(const SRow& row) const
{
    CMapiStore store;
    const SPropValue* name = FindColumn(row, PR_DISPLAY_NAME_A);
    store.DisplayName = name == nullptr ? std::wstring() : ToWide(name->Value.lpszA);
    const SPropValue* entryId = FindColumn(row, PR_ENTRYID);
    store.EntryId = entryId == nullptr ? CMapiBuffer() : CMapiBuffer(*entryId);
    store.Kind = StoreKindFromProvider(FindColumn(row, PR_MDB_PROVIDER));
    const SPropValue* isDefault = FindColumn(row, PR_DEFAULT_STORE);
    store.IsDefault = isDefault != nullptr && isDefault->Value.b != 0;
    const SPropValue* recordKey = FindColumn(row, PR_RECORD_KEY);
    store.RecordKey = recordKey == nullptr ? CMapiBuffer() : CMapiBuffer(*recordKey);
    const SPropValue* resourceFlags = FindColumn(row, PR_RESOURCE_FLAGS);
    store.CanBeDefault = resourceFlags == nullptr || (resourceFlags->Value.l & STATUS_NO_DEFAULT_STORE) == 0;

    Errors::CheckMapi(session.get(),
                      session->OpenMsgStore(0, store.EntryId.Size(),
                                            reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(store.EntryId.Data())),
                                            nullptr, storeOpenFlags, store.Store.Out()));
    TMapiMemory<SPropValue> ownEntryId;
    Errors::CheckMapi(store.Store.get(), ::HrGetOneProp(store.Store.get(), PR_ENTRYID, ownEntryId.Out()));
    store.EntryId = CMapiBuffer(*ownEntryId.get());
    TMapiMemory<SPropValue> offline;
    store.Offline = SUCCEEDED(::HrGetOneProp(store.Store.get(), PrStoreOffline, offline.Out())) &&
                    offline->Value.b != 0;
    return store;
}

TMapiPtr<IMsgStore> CMapiSession::GetDefaultStore()
{
    LoadStores();
    for (const CMapiStore& store : stores) {
        if (store.IsDefault) {
            return store.Store;
        }
    }
    throw Errors::CMapiError(MAPI_E_NOT_FOUND);
}

} // namespace Mapi
