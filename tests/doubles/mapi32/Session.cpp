// MAPILogonEx and IMAPISession. A profile's Exchange service resolves through its two unresolved settings to
// a mailbox of the world; the session then lists and opens that mailbox's stores.

#include "Double.h"

#include <algorithm>
#include <map>
#include <set>

namespace MapiDouble {

namespace {

std::map<std::string, ULONG>& OpenSessions()
{
    static std::map<std::string, ULONG> sessions;
    return sessions;
}

std::set<std::string>& ProfilesToDelete()
{
    static std::set<std::string> profiles;
    return profiles;
}

void SessionEnded(const std::string& profileName)
{
    if (--OpenSessions()[profileName] != 0 || ProfilesToDelete().erase(profileName) == 0) {
        return;
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    if (const Profile* profile = FindProfile(state.Profiles(), profileName)) {
        state.RemoveProfile(static_cast<size_t>(profile - state.Profiles().data()));
    }
}

// The provider UIDs real stores of these kinds carry in PR_MDB_PROVIDER.
const std::string PrivateProvider("\x54\x94\xA1\xC0\x29\x7F\x10\x1B\xA5\x87\x08\x00\x2B\x2A\x25\x17", 16);
const std::string PstProvider("\x4E\x49\x54\x41\xF9\xBF\xB8\x01\x00\xAA\x00\x37\xD9\x6E\x00\x00", 16);

class CSession final : public TObject<IMAPISession> {
public:
    CSession(const std::string& profile, const std::wstring& dn)
        : TObject("IMAPISession", dn, {&IID_IMAPISession}), profileName(profile)
    {
        ++OpenSessions()[profileName];
    }
    ~CSession() override
    {
        if (!loggedOff) {
            SessionEnded(profileName);
        }
    }

    // Logging off a session that opened a store disconnects from the server.
    bool ReachesServer(const std::string& method) const override
    {
        return method == "Logoff" ? storeOpened : CObjectBase::ReachesServer(method);
    }

    STDMETHODIMP GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override;
    STDMETHODIMP OpenMsgStore(ULONG_PTR uiParam, ULONG size, LPENTRYID entryId, LPCIID iid, ULONG flags,
                              LPMDB* store) override;
    UNSUPPORTED(OpenAddressBook, ULONG_PTR, LPCIID, ULONG, LPADRBOOK*)
    UNSUPPORTED(OpenProfileSection, LPMAPIUID, LPCIID, ULONG, LPPROFSECT*)
    UNSUPPORTED(GetStatusTable, ULONG, LPMAPITABLE*)
    UNSUPPORTED(OpenEntry, ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*)
    UNSUPPORTED(CompareEntryIDs, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*)
    UNSUPPORTED(Advise, ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*)
    UNSUPPORTED(Unadvise, ULONG)
    UNSUPPORTED(MessageOptions, ULONG_PTR, ULONG, LPTSTR, LPMESSAGE)
    UNSUPPORTED(QueryDefaultMessageOpt, LPTSTR, ULONG, ULONG*, LPSPropValue*)
    UNSUPPORTED(EnumAdrTypes, ULONG, ULONG*, LPTSTR**)
    UNSUPPORTED(QueryIdentity, ULONG*, LPENTRYID*)
    STDMETHODIMP Logoff(ULONG_PTR uiParam, ULONG flags, ULONG reserved) override;
    UNSUPPORTED(SetDefaultStore, ULONG, ULONG, LPENTRYID)
    UNSUPPORTED(AdminServices, ULONG, LPSERVICEADMIN*)
    UNSUPPORTED(ShowForm, ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG, ULONG, LPSTR)
    UNSUPPORTED(PrepareForm, LPCIID, LPMESSAGE, ULONG*)

private:
    std::string profileName;
    bool loggedOff = false;
    bool storeOpened = false;
};

STDMETHODIMP CSession::GetMsgStoresTable(ULONG, LPMAPITABLE* table)
{
    CCall call(this, "GetMsgStoresTable");
    if (table == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *table = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if (loggedOff) {
        return call.End(MAPI_E_END_OF_SESSION);
    }
    std::vector<Properties> rows;
    if (const Mailbox* mailbox = FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), MailboxDn())) {
        for (const std::wstring& kind : mailbox->Stores) {
            rows.push_back({BytesProperty(PR_ENTRYID, MakeEntryId('S', kind, mailbox->Dn)),
                            NumberProperty(PR_DEFAULT_STORE, kind == mailbox->DefaultStore),
                            BytesProperty(PR_MDB_PROVIDER, kind == L"private" ? PrivateProvider : PstProvider)});
        }
    }
    *table = NewTable(MailboxDn(), rows, {PR_ENTRYID, PR_DEFAULT_STORE, PR_MDB_PROVIDER});
    return call.End();
}

STDMETHODIMP CSession::OpenMsgStore(ULONG_PTR, ULONG size, LPENTRYID entryId, LPCIID, ULONG flags, LPMDB* store)
{
    CCall call(this, "OpenMsgStore");
    if (store == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *store = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if (loggedOff) {
        return call.End(MAPI_E_END_OF_SESSION);
    }
    if ((flags & MDB_NO_DIALOG) == 0) {
        NoteMisuse("OpenMsgStore without MDB_NO_DIALOG: the store provider may prompt");
    }
    EntryRef ref;
    const Mailbox* mailbox = ParseEntryId(size, entryId, ref) && ref.Type == 'S' && SameTextNoCase(ref.Dn, MailboxDn())
                                 ? FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), ref.Dn)
                                 : nullptr;
    if (mailbox == nullptr ||
        std::find(mailbox->Stores.begin(), mailbox->Stores.end(), ref.Part) == mailbox->Stores.end()) {
        return call.End(MAPI_E_INVALID_ENTRYID, L"The entry identifier names no store of this session.");
    }
    *store = NewStore(mailbox->Dn, ref.Part, (flags & (MDB_WRITE | MAPI_BEST_ACCESS)) != 0);
    storeOpened = true;
    return call.End();
}

STDMETHODIMP CSession::Logoff(ULONG_PTR, ULONG, ULONG)
{
    CCall call(this, "Logoff");
    if (call.Refused()) {
        return call.End();
    }
    if (!loggedOff) {
        loggedOff = true;
        SessionEnded(profileName);
    }
    return call.End();
}

} // namespace

bool ProfileInUse(const std::string& profileName)
{
    const auto found = OpenSessions().find(profileName);
    return found != OpenSessions().end() && found->second != 0;
}

void DeleteWhenUnused(const std::string& profileName)
{
    ProfilesToDelete().insert(profileName);
}

HRESULT LogonToProfile(LPTSTR name, ULONG flags, LPMAPISESSION* session)
{
    bool present = false;
    const std::string profileName = AnsiArgument(name, flags, &present);
    CCall call(nullptr, "MAPILogonEx", ProfileMailbox(profileName));
    if (session == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *session = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if ((flags & MAPI_EXTENDED) == 0) {
        NoteMisuse("MAPILogonEx without MAPI_EXTENDED");
    }
    NoteUiFlags("MAPILogonEx", flags, MAPI_LOGON_UI | MAPI_DIALOG);
    const Profile* profile =
        present ? FindProfile(CStateDirectory::FromEnvironment().Profiles(), profileName) : nullptr;
    if (profile == nullptr) {
        return call.End(MAPI_E_LOGON_FAILED);
    }
    std::wstring dn;
    const HRESULT resolved = !profile->HasService ? S_OK : ResolveExchangeMailbox(profile->Settings, dn);
    if (FAILED(resolved)) {
        // Settings the service could not resolve now fail the logon itself.
        return call.End(resolved == MAPI_E_NETWORK_ERROR || resolved == MAPI_E_UNCONFIGURED ? resolved
                                                                                            : MAPI_E_LOGON_FAILED);
    }
    *session = new CSession(profile->Name, dn);
    return call.End();
}

} // namespace MapiDouble
