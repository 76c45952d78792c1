#pragma once

// The world's objects as MAPI callers meet them: entry identifiers, the profile-to-mailbox resolution of the
// Exchange service, and the objects that make up a logged-on mailbox.

#include "Double.h"

namespace MapiDouble {

// What an entry identifier of the double names: a store as the store table gives it ('W') or as the store
// gives itself ('S'), the Inbox ('F'), or a message ('M', Part is its id); Part of a store is its kind.
struct EntryRef {
    char Type = 0;
    std::wstring Part;
    std::wstring Dn;
};
std::string MakeEntryId(char type, const std::wstring& part, const std::wstring& dn);
bool ParseEntryId(ULONG size, const void* entryId, EntryRef& ref);

const Mailbox* FindMailbox(const std::vector<Mailbox>& mailboxes, const std::wstring& dn);
const Profile* FindProfile(const std::vector<Profile>& profiles, const std::string& name);
const Service* ExchangeService(const Profile& profile);
// The mailbox the profile's Exchange service is pointed at; empty when it has none.
std::wstring ProfileMailbox(const std::string& profileName);

// The mailbox that the Exchange service's two unresolved settings name, as the service resolves them against
// the server: the server must answer (else MAPI_E_NETWORK_ERROR) and exactly one of its mailboxes must match
// the name: its legacyExchangeDN, the start of its name, or after "=" its whole name (else MAIL_E_NAMENOTFOUND
// or MAPI_E_AMBIGUOUS_RECIP). Without both settings: MAPI_E_UNCONFIGURED.
constexpr HRESULT MailNameNotFound = static_cast<HRESULT>(0x81002746);
HRESULT ResolveExchangeMailbox(const Property* server, const Property* name, std::wstring& dn);

// A profile with a session open in this process is deleted only when its last session ends.
bool ProfileInUse(const std::string& profileName);
void DeleteWhenUnused(const std::string& profileName);

constexpr ULONG PrProfileUnresolvedName = 0x6607001E;
constexpr ULONG PrProfileUnresolvedServer = 0x6608001E;
constexpr ULONG PrStoreOffline = 0x6632000B;
constexpr char ExchangeServiceName[] = "MSEMS";

IProfAdmin* NewProfAdmin();
IMsgServiceAdmin* NewServiceAdmin(const std::string& profileName);
HRESULT LogonToProfile(ULONG_PTR uiParam, LPTSTR profileName, LPTSTR password, ULONG flags, LPMAPISESSION* session);
// The store the store table lists as `kind` for the mailbox; `writable` as opened.
IMsgStore* NewStore(const std::wstring& dn, const std::wstring& kind, bool writable);
// The store's properties, as its row in the store table shows them.
Properties StoreProperties(const Mailbox& mailbox, const std::wstring& kind, bool asTableRow);

} // namespace MapiDouble
