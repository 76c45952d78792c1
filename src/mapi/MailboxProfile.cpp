#include "mapi/MailboxProfile.h"

#include "errors/Errors.h"
#include "errors/Text.h"
#include "mapi/MapiBuffer.h"
#include "mapi/MapiMemory.h"
#include "mapi/MapiProfile.h"
#include "mapi/MapiValues.h"
#include "mapi/SwitchMessage.h"

#include <mapiutil.h>

#include <iostream>

namespace {

constexpr char ExchangeService[] = "MSEMS";
constexpr char ExchangeDisplayName[] = "Microsoft Exchange Server";
constexpr ULONG PrProfileUnresolvedName = PROP_TAG(PT_STRING8, 0x6607);
constexpr ULONG PrProfileUnresolvedServer = PROP_TAG(PT_STRING8, 0x6608);

// The UID of the profile's Exchange service, from the first row of the service table that names it.
Mapi::CMapiBuffer ExchangeServiceUid(const Mapi::TMapiPtr<IMsgServiceAdmin>& services)
{
    Mapi::TMapiPtr<IMAPITable> table;
    Errors::CheckMapi(Mapi::NoSource, services->GetMsgServiceTable(0, table.Out()));
    SizedSPropTagArray(1, columnTags) = {1, {PR_SERVICE_UID}};
    SPropValue serviceName{};
    serviceName.ulPropTag = PR_SERVICE_NAME_A;
    serviceName.Value.lpszA = const_cast<char*>(ExchangeService);
    SRestriction isExchange{};
    isExchange.rt = RES_PROPERTY;
    isExchange.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_SERVICE_NAME_A, &serviceName};
    Mapi::CMapiSRowSet rows;
    Errors::CheckMapi(Mapi::NoSource, ::HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columnTags),
                                                       &isExchange, nullptr, 0, rows.Out()));
    Errors::CheckMapiTrue(Mapi::NoSource, rows->cRows != 0, MAPI_E_NOT_FOUND);
    Mapi::CMapiBuffer uid(rows->aRow[0].lpProps[0]);
    // ConfigureMsgService reads a whole MAPIUID from it.
    Errors::CheckMapiTrue(Mapi::NoSource, uid.Size() == sizeof(MAPIUID), MAPI_E_CORRUPT_DATA);
    return uid;
}

} // namespace

bool CreateMailboxProfile(MailboxEntry& entry, const SwitchSettings& settings)
{
    try {
        const Mapi::TMapiPtr<IProfAdmin> admin = Mapi::OpenProfileAdmin();
        entry.ProfileName = Mapi::MakeProfileName();
        Mapi::CreateProfile(admin, entry.ProfileName);
        ConfigureExchangeService(entry, settings);
        WriteSwitchMessage(entry, BuildSwitchMessageBody(entry, settings), settings.RecreateSwitchMsg);
        return true;
    } catch (const Errors::CError&) {
        DeleteMailboxProfile(entry);
        ReportFailedMailbox(entry);
        return false;
    }
}

void ReportFailedMailbox(MailboxEntry& entry)
{
    entry.Failed = true;
    std::cout << "Error: Cannot create a profile for mailbox = " << ToNarrow(entry.UserDNSrc) << "\n";
}

void ConfigureExchangeService(const MailboxEntry& entry, const SwitchSettings& settings)
{
    try {
        const Mapi::TMapiPtr<IProfAdmin> admin = Mapi::OpenProfileAdmin();
        const std::string profileName = ToExactNarrow(entry.ProfileName);
        Mapi::TMapiPtr<IMsgServiceAdmin> services;
        Errors::CheckMapi(Mapi::NoSource, admin->AdminServices(Mapi::AnsiText(profileName), Mapi::AnsiText(""), 0, 0,
                                                               services.Out()));
        Errors::CheckMapi(Mapi::NoSource, services->CreateMsgService(Mapi::AnsiText(ExchangeService),
                                                                     Mapi::AnsiText(ExchangeDisplayName), 0, 0));
        Mapi::TMapiMemory<SPropValue> values;
        SPropValue* const value = values.Allocate(2);
        Mapi::SetPropValueA(value[0], value, PrProfileUnresolvedServer, ToExactNarrow(settings.SrcExchServer));
        Mapi::SetPropValueA(value[1], value, PrProfileUnresolvedName, ToExactNarrow(entry.UserDNSrc));
        const Mapi::CMapiBuffer uid = ExchangeServiceUid(services);
        Errors::CheckMapi(Mapi::NoSource,
                          services->ConfigureMsgService(reinterpret_cast<LPMAPIUID>(const_cast<BYTE*>(uid.Data())), 0,
                                                        0, 2, value));
    } catch (const Errors::CError& error) {
        std::cout << "Error: Cannot create service MSEMS. Error = " << HexCode(error.GetCode()) << "\n";
        throw;
    }
}

void DeleteMailboxProfile(MailboxEntry& entry)
{
    if (entry.ProfileName.empty()) {
        return;
    }
    try {
        const Mapi::TMapiPtr<IProfAdmin> admin = Mapi::OpenProfileAdmin();
        Mapi::DeleteProfile(admin, entry.ProfileName);
        entry.ProfileName.clear();
    } catch (const Errors::CError&) {
        std::cout << "Error: Cannot delete a profile for mailbox = " << ToNarrow(entry.UserDNSrc) << "\n";
    }
}
