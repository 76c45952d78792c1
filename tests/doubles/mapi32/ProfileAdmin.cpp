// IProfAdmin and IMsgServiceAdmin over the profiles of the state directory. Profile names are ANSI text and
// compare without regard to case, as the registry keys of real profiles do.

#include "Double.h"

namespace MapiDouble {

namespace {

constexpr size_t MaxProfileName = 64;
constexpr char ExchangeServiceName[] = "MSEMS";
// A profile holds one service at most, so one PR_SERVICE_UID serves every profile.
const MAPIUID ServiceUid = {{'B', 'r', 'i', 's', 'k', 'l', 'e', 't', ' ', 'M', 'S', 'E', 'M', 'S', 0, 1}};

class CServiceAdmin final : public TObject<IMsgServiceAdmin> {
public:
    explicit CServiceAdmin(const std::string& profile)
        : TObject("IMsgServiceAdmin", ProfileMailbox(profile), {&IID_IMsgServiceAdmin}), profileName(profile)
    {
    }

    STDMETHODIMP GetMsgServiceTable(ULONG flags, LPMAPITABLE* table) override;
    STDMETHODIMP CreateMsgService(LPTSTR service, LPTSTR displayName, ULONG_PTR uiParam, ULONG flags) override;
    UNSUPPORTED(DeleteMsgService, LPMAPIUID)
    UNSUPPORTED(CopyMsgService, LPMAPIUID, LPTSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR, ULONG)
    UNSUPPORTED(RenameMsgService, LPMAPIUID, ULONG, LPTSTR)
    STDMETHODIMP ConfigureMsgService(LPMAPIUID uid, ULONG_PTR uiParam, ULONG flags, ULONG count,
                                     LPSPropValue values) override;
    UNSUPPORTED(OpenProfileSection, LPMAPIUID, LPCIID, ULONG, LPPROFSECT*)
    UNSUPPORTED(MsgServiceTransportOrder, ULONG, LPMAPIUID, ULONG)
    UNSUPPORTED(AdminProviders, LPMAPIUID, ULONG, LPPROVIDERADMIN*)
    UNSUPPORTED(SetPrimaryIdentity, LPMAPIUID, ULONG)
    UNSUPPORTED(GetProviderTable, ULONG, LPMAPITABLE*)

private:
    std::string profileName;
};

STDMETHODIMP CServiceAdmin::GetMsgServiceTable(ULONG flags, LPMAPITABLE* table)
{
    CCall call(this, "GetMsgServiceTable");
    if (table == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *table = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    const Profile* profile = FindProfile(CStateDirectory::FromEnvironment().Profiles(), profileName);
    if (profile == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, L"The profile no longer exists.");
    }
    std::vector<Properties> rows;
    if (profile->HasService) {
        rows.push_back(
            {BytesProperty(PR_SERVICE_UID, std::string(reinterpret_cast<const char*>(&ServiceUid), sizeof ServiceUid)),
             BytesProperty(PR_SERVICE_NAME_A, ExchangeServiceName),
             BytesProperty(PR_DISPLAY_NAME_A, "Microsoft Exchange Server")});
    }
    const bool unicode = (flags & MAPI_UNICODE) != 0;
    *table = NewTable(MailboxDn(), rows,
                      {PR_SERVICE_UID, unicode ? PR_SERVICE_NAME_W : PR_SERVICE_NAME_A,
                       unicode ? PR_DISPLAY_NAME_W : PR_DISPLAY_NAME_A});
    return call.End();
}

STDMETHODIMP CServiceAdmin::CreateMsgService(LPTSTR service, LPTSTR, ULONG_PTR, ULONG flags)
{
    CCall call(this, "CreateMsgService");
    if (call.Refused()) {
        return call.End();
    }
    NoteUiFlags("CreateMsgService", flags, SERVICE_UI_ALWAYS | SERVICE_UI_ALLOWED);
    const std::string serviceName = AnsiArgument(service, flags);
    if (!SameTextNoCase(FromAnsi(serviceName), FromAnsi(ExchangeServiceName))) {
        return call.End(MAPI_E_NOT_FOUND, L"The service is not in MAPISVC.INF.");
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Profile* profile = FindProfile(state.Profiles(), profileName);
    if (profile == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, L"The profile no longer exists.");
    }
    if (profile->HasService) {
        return call.End(MAPI_E_NO_ACCESS, L"The profile already holds this single-copy service.");
    }
    state.ChangeProfile(static_cast<size_t>(profile - state.Profiles().data()),
                        [](Profile& changed) { changed.HasService = true; });
    return call.End();
}

STDMETHODIMP CServiceAdmin::ConfigureMsgService(LPMAPIUID uid, ULONG_PTR, ULONG flags, ULONG count,
                                                LPSPropValue values)
{
    NoteUiFlags("ConfigureMsgService", flags, SERVICE_UI_ALWAYS | SERVICE_UI_ALLOWED);
    Properties settings;
    for (ULONG index = 0; values != nullptr && index < count; ++index) {
        Property setting;
        if (TakeValue(values[index], setting)) {
            settings.push_back(setting);
        }
    }
    const Property* name = FindProperty(settings, PrProfileUnresolvedName);
    CCall call(this, "ConfigureMsgService", name == nullptr ? MailboxDn() : FromAnsi(name->Bytes));
    if (call.Refused()) {
        return call.End();
    }
    if (count != 0 && values == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Profile* profile = FindProfile(state.Profiles(), profileName);
    if (profile == nullptr || !profile->HasService || uid == nullptr || !IsEqualMAPIUID(uid, &ServiceUid)) {
        return call.End(MAPI_E_NOT_FOUND, L"No such service in the profile.");
    }
    Properties configured = profile->Settings;
    for (const Property& setting : settings) {
        SetProperty(configured, setting);
    }
    // The Exchange service resolves its server and mailbox as soon as it has both, without a dialog here.
    std::wstring dn;
    const HRESULT resolved = FindProperty(configured, PrProfileUnresolvedServer) == nullptr ||
                                     FindProperty(configured, PrProfileUnresolvedName) == nullptr
                                 ? S_OK
                                 : ResolveExchangeMailbox(configured, dn);
    if (FAILED(resolved)) {
        return call.End(resolved, L"The Exchange server or mailbox could not be resolved.");
    }
    state.ChangeProfile(static_cast<size_t>(profile - state.Profiles().data()),
                        [&](Profile& changed) { changed.Settings = configured; });
    return call.End();
}

class CProfAdmin final : public TObject<IProfAdmin> {
public:
    CProfAdmin() : TObject("IProfAdmin", L"", {&IID_IProfAdmin}) { }

    UNSUPPORTED(GetProfileTable, ULONG, LPMAPITABLE*)
    STDMETHODIMP CreateProfile(LPTSTR name, LPTSTR password, ULONG_PTR uiParam, ULONG flags) override;
    STDMETHODIMP DeleteProfile(LPTSTR name, ULONG flags) override;
    UNSUPPORTED(ChangeProfilePassword, LPTSTR, LPTSTR, LPTSTR, ULONG)
    UNSUPPORTED(CopyProfile, LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG)
    UNSUPPORTED(RenameProfile, LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG)
    UNSUPPORTED(SetDefaultProfile, LPTSTR, ULONG)
    STDMETHODIMP AdminServices(LPTSTR name, LPTSTR password, ULONG_PTR uiParam, ULONG flags,
                               LPSERVICEADMIN* serviceAdmin) override;
};

STDMETHODIMP CProfAdmin::CreateProfile(LPTSTR name, LPTSTR, ULONG_PTR, ULONG flags)
{
    bool present = false;
    const std::string profileName = AnsiArgument(name, flags, &present);
    CCall call(this, "CreateProfile", ProfileMailbox(profileName));
    if (call.Refused()) {
        return call.End();
    }
    NoteUiFlags("CreateProfile", flags, MAPI_DIALOG);
    // Profile names are ANSI only: MAPI_UNICODE is as unknown here as any flag the reference does not list.
    if ((flags & ~(MAPI_DEFAULT_SERVICES | MAPI_DIALOG)) != 0) {
        return call.End(MAPI_E_UNKNOWN_FLAGS);
    }
    if (!present || profileName.empty() || profileName.size() > MaxProfileName) {
        return call.End(MAPI_E_INVALID_PARAMETER, L"The profile name is missing or too long.");
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    if (FindProfile(state.Profiles(), profileName) != nullptr) {
        return call.End(MAPI_E_NO_ACCESS, L"A profile of that name already exists.");
    }
    state.AddProfile(Profile{profileName, false, {}});
    return call.End();
}

STDMETHODIMP CProfAdmin::DeleteProfile(LPTSTR name, ULONG flags)
{
    const std::string profileName = AnsiArgument(name, flags);
    CCall call(this, "DeleteProfile", ProfileMailbox(profileName));
    if (call.Refused()) {
        return call.End();
    }
    if (flags != 0) {
        return call.End(MAPI_E_UNKNOWN_FLAGS); // reserved, must be zero
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Profile* profile = FindProfile(state.Profiles(), profileName);
    if (profile == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, L"The profile does not exist.");
    }
    if (ProfileInUse(profile->Name)) {
        DeleteWhenUnused(profile->Name);
    } else {
        state.RemoveProfile(static_cast<size_t>(profile - state.Profiles().data()));
    }
    return call.End();
}

STDMETHODIMP CProfAdmin::AdminServices(LPTSTR name, LPTSTR, ULONG_PTR, ULONG flags, LPSERVICEADMIN* serviceAdmin)
{
    NoteUiFlags("AdminServices", flags, MAPI_DIALOG);
    const std::string profileName = AnsiArgument(name, flags);
    CCall call(this, "AdminServices", ProfileMailbox(profileName));
    if (serviceAdmin == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *serviceAdmin = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    const Profile* profile = FindProfile(CStateDirectory::FromEnvironment().Profiles(), profileName);
    if (profile == nullptr) {
        return call.End(MAPI_E_LOGON_FAILED, L"The profile does not exist.");
    }
    *serviceAdmin = new CServiceAdmin(profile->Name);
    return call.End();
}

} // namespace

IProfAdmin* NewProfAdmin()
{
    return new CProfAdmin();
}

} // namespace MapiDouble
