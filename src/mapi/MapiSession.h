#pragma once

#include "mapi/MapiBuffer.h"
#include "mapi/MapiPtr.h"

#include <mapix.h>

#include <string>
#include <vector>

namespace Mapi {

// Kinds of message store, as bits, told apart by the provider UID in PR_MDB_PROVIDER.
constexpr ULONG StoreKindExchangePrivate = 1;
constexpr ULONG StoreKindExchangeDelegate = 2;
constexpr ULONG StoreKindPersonalFolders = 4;
constexpr ULONG StoreKindExchangePublic = 8;
constexpr ULONG StoreKindFifthProvider = 16;
constexpr ULONG StoreKindOther = 32;

// The kind of store a PR_MDB_PROVIDER value names; a missing value, or one that is not a 16-byte UID, is
// StoreKindOther.
ULONG StoreKindFromProvider(const SPropValue* provider);

// One open message store of a session, as its row in the store table describes it.
struct CMapiStore {
    TMapiPtr<IMsgStore> Store;
    ULONG Kind = StoreKindOther;
    CMapiBuffer EntryId; // the store's own PR_ENTRYID
    CMapiBuffer RecordKey;
    std::wstring DisplayName;
    bool IsDefault = false;
    bool CanBeDefault = false;
    bool Offline = false;
};

// A MAPI session on one profile, with the message stores it can open.
class CMapiSession {
public:
    CMapiSession() = default;
    ~CMapiSession() { Close(); }
    CMapiSession(const CMapiSession&) = delete;
    CMapiSession& operator=(const CMapiSession&) = delete;

    // Logs on to the named profile; an empty name is passed as none. The name is handed over as wide text, so
    // the flags carry MAPI_UNICODE.
    void Logon(const std::wstring& profileName, ULONG flags);
    // Forgets the stores, logs off and releases the session.
    void Close() noexcept;

    // Opens every store of the store table once; a store that cannot be opened is left out.
    void LoadStores();
    // The store the table marks as default; MAPI_E_NOT_FOUND when there is none.
    TMapiPtr<IMsgStore> GetDefaultStore();

    void SetStoreOpenFlags(ULONG flags) noexcept { storeOpenFlags = flags; }
    const std::vector<CMapiStore>& Stores() const noexcept { return stores; }
    const std::wstring& ProfileName() const noexcept { return profileName; }
    ULONG LogonFlags() const noexcept { return logonFlags; }

private:
    CMapiStore OpenStore(const SRow& row) const;

    TMapiPtr<IMAPISession> session;
    std::wstring profileName;
    ULONG logonFlags = 0;
    ULONG storeOpenFlags = MDB_NO_DIALOG | MAPI_BEST_ACCESS | MDB_NO_MAIL;
    std::vector<CMapiStore> stores;
    bool storesLoaded = false;
};

} // namespace Mapi
