#include "mapi/MapiSession.h"

#include "errors/Errors.h"
#include "mapi/MapiMemory.h"

#include <mapiutil.h>

#include <cstring>

namespace Mapi {

namespace {

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

bool IsExchangeMailbox(const SRow& row)
{
    return StoreKindFromProvider(FindColumn(row, PR_MDB_PROVIDER)) == StoreKindExchangePrivate;
}

bool IsDefaultStore(const SRow& row)
{
    const SPropValue* isDefault = FindColumn(row, PR_DEFAULT_STORE);
    return isDefault != nullptr && isDefault->Value.b != 0;
}

// The entry identifier of the first row of the first kind that has one: the Exchange mailbox, then the
// default store.
const SPropValue* MailboxStoreEntryId(const SRowSet& rows)
{
    for (bool (*wanted)(const SRow&) : {IsExchangeMailbox, IsDefaultStore}) {
        for (ULONG index = 0; index < rows.cRows; ++index) {
            const SPropValue* entryId = FindColumn(rows.aRow[index], PR_ENTRYID);
            if (entryId != nullptr && wanted(rows.aRow[index])) {
                return entryId;
            }
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
    session->Logoff(0, 0, 0);
    session.Reset();
}

TMapiPtr<IMsgStore> CMapiSession::OpenMailboxStore()
{
    Errors::CheckMapiTrue(NoSource, static_cast<bool>(session), MAPI_E_NOT_INITIALIZED);
    TMapiPtr<IMAPITable> table;
    Errors::CheckMapi(session.get(), session->GetMsgStoresTable(0, table.Out()));
    SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_MDB_PROVIDER, PR_DEFAULT_STORE}};
    CMapiSRowSet rows;
    Errors::CheckMapi(NoSource, ::HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                                 nullptr, 0, rows.Out()));
    const SPropValue* entryId = MailboxStoreEntryId(*rows.get());
    Errors::CheckMapiTrue(NoSource, entryId != nullptr, MAPI_E_NOT_FOUND);
    // An unattended run must never wait for a logon dialog, nor start the mail spooler.
    constexpr ULONG openFlags = MDB_NO_DIALOG | MDB_NO_MAIL | MAPI_BEST_ACCESS;
    const LPENTRYID storeId = reinterpret_cast<LPENTRYID>(entryId->Value.bin.lpb);
    TMapiPtr<IMsgStore> store;
    Errors::CheckMapi(session.get(),
                      session->OpenMsgStore(0, entryId->Value.bin.cb, storeId, nullptr, openFlags, store.Out()));
    return store;
}

} // namespace Mapi
