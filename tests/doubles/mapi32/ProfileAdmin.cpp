// IProfAdmin and IMsgServiceAdmin over the profiles of the state directory. Profile names are ANSI text and
// compare without regard to case, as the registry keys of real profiles do.

#include "World.h"

#include "StateText.h"

namespace MapiDouble {

namespace {

constexpr size_t MaxProfileName = 64;

std::string NewServiceUid()
{
    GUID guid{};
    CoCreateGuid(&guid);
    return std::string(reinterpret_cast<const char*>(&guid), sizeof guid);
}

class CProfAdmin final : public TObject<IProfAdmin> {
public:
    CProfAdmin() : TObject("IProfAdmin", L"", {&IID_IProfAdmin}) {}

    STDMETHODIMP GetProfileTable(ULONG flags, LPMAPITABLE* table) override;
    STDMETHODIMP CreateProfile(LPTSTR name, LPTSTR password, ULONG_PTR uiParam, ULONG flags) override;
    STDMETHODIMP DeleteProfile(LPTSTR name, ULONG flags) override;
    STDMETHODIMP ChangeProfilePassword(LPTSTR, LPTSTR, LPTSTR, ULONG) override
    {
        return Unsupported("ChangeProfilePassword");
    }
    STDMETHODIMP CopyProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override { return Unsupported("CopyProfile"); }
    STDMETHODIMP RenameProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override
    {
        return Unsupported("RenameProfile");
    }
    STDMETHODIMP SetDefaultProfile(LPTSTR, ULONG) override { return Unsupported("SetDefaultProfile"); }
    STDMETHODIMP AdminServices(LPTSTR name, LPTSTR password, ULONG_PTR uiParam, ULONG flags,
                               LPSERVICEADMIN* serviceAdmin) override;
};

STDMETHODIMP CProfAdmin::GetProfileTable(ULONG flags, LPMAPITABLE* table)
{
    CCall call(this, "GetProfileTable", "flags=" + Hex(flags));
    if (table == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *table = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    std::vector<Properties> rows;
    for (const Profile& profile : CStateDirectory::FromEnvironment().Profiles()) {
        rows.push_back({BytesProperty(PR_DISPLAY_NAME_A, profile.Name), NumberProperty(PR_DEFAULT_PROFILE, 0)});
    }
    const ULONG nameColumn = (flags & MAPI_UNICODE) != 0 ? PR_DISPLAY_NAME_W : PR_DISPLAY_NAME_A;
    *table = NewTable(MailboxDn(), rows, {nameColumn, PR_DEFAULT_PROFILE});
    return call.End();
}

STDMETHODIMP CProfAdmin::CreateProfile(LPTSTR name, LPTSTR password, ULONG_PTR, ULONG flags)
{
    bool present = false;
    const std::string profileName = AnsiArgument(name, flags, &present);
    CCall call(this, "CreateProfile",
               "name=" + QuoteAnsi(name, flags) + " password=" + QuoteAnsi(password, flags) + " flags=" + Hex(flags),
               ProfileMailbox(profileName));
    if (call.Refused()) {
        return call.End();
    }
    // Profile names are ANSI only: MAPI_UNICODE is as unknown here as any flag the reference does not list.
    if ((flags & ~(MAPI_DEFAULT_SERVICES | MAPI_DIALOG)) != 0) {
        return call.End(MAPI_E_UNKNOWN_FLAGS);
    }
    if (!present || profileName.empty() || profileName.size() > MaxProfileName) {
        return call.End(MAPI_E_INVALID_PARAMETER, L"The profile name is missing or too long.");
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    if (FindProfile(state.Profiles(), profileName) != nullptr) {
        return call.End(MAPI_E_NO_ACCESS, L"A profile named " + FromAnsi(profileName) + L" already exists.");
    }
    state.AddProfile(Profile{profileName, {}});
    return call.End();
}

STDMETHODIMP CProfAdmin::DeleteProfile(LPTSTR name, ULONG flags)
{
    const std::string profileName = AnsiArgument(name, flags);
    CCall call(this, "DeleteProfile", "name=" + QuoteAnsi(name, flags) + " flags=" + Hex(flags),
               ProfileMailbox(profileName));
    if (call.Refused()) {
        return call.End();
    }
    if (flags != 0) {
        return call.End(MAPI_E_UNKNOWN_FLAGS); // reserved, must be zero
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Profile* profile = FindProfile(state.Profiles(), profileName);
    if (profile == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, L"The profile " + FromAnsi(profileName) + L" does not exist.");
    }
    if (ProfileInUse(profile->Name)) {
        DeleteWhenUnused(profile->Name);
    } else {
        state.RemoveProfile(profile - state.Profiles().data());
    }
    return call.End();
}

STDMETHODIMP CProfAdmin::AdminServices(LPTSTR name, LPTSTR password, ULONG_PTR, ULONG flags,
                                       LPSERVICEADMIN* serviceAdmin)
{
    const std::string profileName = AnsiArgument(name, flags);
    CCall call(this, "AdminServices",
               "name=" + QuoteAnsi(name, flags) + " password=" + QuoteAnsi(password, flags) + " flags=" + Hex(flags),
               ProfileMailbox(profileName));
    if (serviceAdmin == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *serviceAdmin = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    const Profile* profile = FindProfile(CStateDirectory::FromEnvironment().Profiles(), profileName);
    if (profile == nullptr) {
        return call.End(MAPI_E_LOGON_FAILED, L"The profile " + FromAnsi(profileName) + L" does not exist.");
    }
    *serviceAdmin = NewServiceAdmin(profile->Name);
    return call.End();
}

class CServiceAdmin final : public TObject<IMsgServiceAdmin> {
public:
    explicit CServiceAdmin(const std::string& profile)
        : TObject("IMsgServiceAdmin", ProfileMailbox(profile), {&IID_IMsgServiceAdmin}), profileName(profile)
    {
    }

    STDMETHODIMP GetMsgServiceTable(ULONG flags, LPMAPITABLE* table) override;
    STDMETHODIMP CreateMsgService(LPTSTR service, LPTSTR displayName, ULONG_PTR uiParam, ULONG flags) override;
    STDMETHODIMP DeleteMsgService(LPMAPIUID uid) override;
    STDMETHODIMP CopyMsgService(LPMAPIUID, LPTSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR, ULONG) override
    {
        return Unsupported("CopyMsgService");
    }
    STDMETHODIMP RenameMsgService(LPMAPIUID, ULONG, LPTSTR) override { return Unsupported("RenameMsgService"); }
    STDMETHODIMP ConfigureMsgService(LPMAPIUID uid, ULONG_PTR uiParam, ULONG flags, ULONG count,
                                     LPSPropValue values) override;
    STDMETHODIMP OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) override
    {
        return Unsupported("OpenProfileSection");
    }
    STDMETHODIMP MsgServiceTransportOrder(ULONG, LPMAPIUID, ULONG) override
    {
        return Unsupported("MsgServiceTransportOrder");
    }
    STDMETHODIMP AdminProviders(LPMAPIUID, ULONG, LPPROVIDERADMIN*) override { return Unsupported("AdminProviders"); }
    STDMETHODIMP SetPrimaryIdentity(LPMAPIUID, ULONG) override { return Unsupported("SetPrimaryIdentity"); }
    STDMETHODIMP GetProviderTable(ULONG, LPMAPITABLE*) override { return Unsupported("GetProviderTable"); }

private:
    // The profile as it stands in the state now; null once it has been deleted.
    const Profile* CurrentProfile(const CStateDirectory& state) const
    {
        return FindProfile(state.Profiles(), profileName);
    }
    static const Service* FindService(const Profile& profile, const MAPIUID* uid);

    std::string profileName;
};

const Service* CServiceAdmin::FindService(const Profile& profile, const MAPIUID* uid)
{
    for (const Service& service : profile.Services) {
        if (uid != nullptr && service.Uid == std::string(reinterpret_cast<const char*>(uid->ab), sizeof uid->ab)) {
            return &service;
        }
    }
    return nullptr;
}

std::string DescribeUid(const MAPIUID* uid)
{
    return uid == nullptr ? "(null)" : HexBytes(std::string(reinterpret_cast<const char*>(uid->ab), sizeof uid->ab));
}

STDMETHODIMP CServiceAdmin::GetMsgServiceTable(ULONG flags, LPMAPITABLE* table)
{
    CCall call(this, "GetMsgServiceTable", "flags=" + Hex(flags));
    if (table == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *table = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    const Profile* profile = CurrentProfile(CStateDirectory::FromEnvironment());
    if (profile == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, L"The profile " + FromAnsi(profileName) + L" no longer exists.");
    }
    std::vector<Properties> rows;
    for (const Service& service : profile->Services) {
        rows.push_back({BytesProperty(PR_SERVICE_UID, service.Uid), BytesProperty(PR_SERVICE_NAME_A, service.Name),
                        BytesProperty(PR_DISPLAY_NAME_A, service.DisplayName),
                        NumberProperty(PR_RESOURCE_FLAGS, SERVICE_SINGLE_COPY | SERVICE_PRIMARY_IDENTITY),
                        BytesProperty(PR_INSTANCE_KEY, service.Uid)});
    }
    const bool unicode = (flags & MAPI_UNICODE) != 0;
    *table = NewTable(MailboxDn(), rows,
                      {PR_SERVICE_UID, unicode ? PR_SERVICE_NAME_W : PR_SERVICE_NAME_A,
                       unicode ? PR_DISPLAY_NAME_W : PR_DISPLAY_NAME_A, PR_RESOURCE_FLAGS, PR_INSTANCE_KEY});
    return call.End();
}

STDMETHODIMP CServiceAdmin::CreateMsgService(LPTSTR service, LPTSTR displayName, ULONG_PTR, ULONG flags)
{
    CCall call(this, "CreateMsgService",
               "service=" + QuoteAnsi(service, flags) + " display=" + QuoteAnsi(displayName, flags) +
                   " flags=" + Hex(flags));
    if (call.Refused()) {
        return call.End();
    }
    const std::string serviceName = AnsiArgument(service, flags);
    if (!SameTextNoCase(FromAnsi(serviceName), FromAnsi(ExchangeServiceName))) {
        return call.End(MAPI_E_NOT_FOUND, L"The service " + FromAnsi(serviceName) + L" is not in MAPISVC.INF.");
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Profile* profile = CurrentProfile(state);
    if (profile == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, L"The profile " + FromAnsi(profileName) + L" no longer exists.");
    }
    if (ExchangeService(*profile) != nullptr) {
        return call.End(MAPI_E_NO_ACCESS, L"The profile already holds this single-copy service.");
    }
    const Service added{serviceName, AnsiArgument(displayName, flags), NewServiceUid(), {}};
    state.ChangeProfile(profile - state.Profiles().data(),
                        [&](Profile& changed) { changed.Services.push_back(added); });
    return call.End();
}

STDMETHODIMP CServiceAdmin::DeleteMsgService(LPMAPIUID uid)
{
    CCall call(this, "DeleteMsgService", "uid=" + DescribeUid(uid));
    if (call.Refused()) {
        return call.End();
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Profile* profile = CurrentProfile(state);
    const Service* service = profile == nullptr ? nullptr : FindService(*profile, uid);
    if (service == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, L"No such service in the profile.");
    }
    const auto serviceIndex = service - profile->Services.data();
    state.ChangeProfile(profile - state.Profiles().data(), [&](Profile& changed) {
        changed.Services.erase(changed.Services.begin() + serviceIndex);
    });
    return call.End();
}

STDMETHODIMP CServiceAdmin::ConfigureMsgService(LPMAPIUID uid, ULONG_PTR, ULONG flags, ULONG count,
                                                LPSPropValue values)
{
    std::string described;
    Properties settings;
    for (ULONG index = 0; values != nullptr && index < count; ++index) {
        Property setting;
        if (TakeValue(values[index], setting)) {
            settings.push_back(setting);
        }
        described += " " + PropertyKey(values[index].ulPropTag) + "=" + FormatValue(setting);
    }
    const Property* name = FindProperty(settings, PrProfileUnresolvedName);
    CCall call(this, "ConfigureMsgService", "uid=" + DescribeUid(uid) + " flags=" + Hex(flags) +
                                                " count=" + std::to_string(count) + described,
               name == nullptr ? MailboxDn() : FromAnsi(name->Bytes));
    if (call.Refused()) {
        return call.End();
    }
    if (count != 0 && values == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Profile* profile = CurrentProfile(state);
    const Service* service = profile == nullptr ? nullptr : FindService(*profile, uid);
    if (service == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, L"No such service in the profile.");
    }
    Properties configured = service->Props;
    for (const Property& setting : settings) {
        SetProperty(configured, setting);
    }
    std::wstring dn;
    const Property* server = FindProperty(configured, PrProfileUnresolvedServer);
    const Property* mailbox = FindProperty(configured, PrProfileUnresolvedName);
    // The Exchange service resolves its server and mailbox as soon as it has both, without a dialog here.
    const HRESULT resolved =
        server == nullptr || mailbox == nullptr ? S_OK : ResolveExchangeMailbox(server, mailbox, dn);
    if (FAILED(resolved)) {
        return call.End(resolved, L"The Exchange server or mailbox could not be resolved.");
    }
    const auto serviceIndex = service - profile->Services.data();
    state.ChangeProfile(profile - state.Profiles().data(),
                        [&](Profile& changed) { changed.Services[serviceIndex].Props = configured; });
    return call.End();
}

} // namespace

IProfAdmin* NewProfAdmin()
{
    return new CProfAdmin();
}

IMsgServiceAdmin* NewServiceAdmin(const std::string& profileName)
{
    return new CServiceAdmin(profileName);
}

} // namespace MapiDouble
