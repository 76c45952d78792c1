#pragma once

#include "mapi/MapiPtr.h"

#include <mapix.h>

#include <string>

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

// A MAPI session on one profile.
class CMapiSession {
public:
    CMapiSession() = default;
    ~CMapiSession() { Close(); }
    CMapiSession(const CMapiSession&) = delete;
    CMapiSession& operator=(const CMapiSession&) = delete;

    // Logs on to the named profile; an empty name is passed as none. The name is handed over as wide text, so
    // the flags carry MAPI_UNICODE.
    void Logon(const std::wstring& profileName, ULONG flags);
    // Logs off and releases the session.
    void Close() noexcept;

    // Opens the one store the tool writes to: the Exchange mailbox of the profile, else the store the table
    // marks as default; MAPI_E_NOT_FOUND when there is neither. Every other store would cost a server
    // connection of its own, so none is opened. The store's own failure to open is raised as it is.
    TMapiPtr<IMsgStore> OpenMailboxStore();

    const std::wstring& ProfileName() const noexcept { return profileName; }
    ULONG LogonFlags() const noexcept { return logonFlags; }

private:
    TMapiPtr<IMAPISession> session;
    std::wstring profileName;
    ULONG logonFlags = 0;
};

} // namespace Mapi
