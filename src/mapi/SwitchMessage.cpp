#include "mapi/SwitchMessage.h"

#include "errors/Errors.h"
#include "errors/Text.h"
#include "mapi/MapiFolder.h"
#include "mapi/MapiMemory.h"
#include "mapi/MapiSession.h"
#include "mapi/MapiValues.h"

#include <iostream>

const wchar_t SwitchMessageSubject[] = L"{0E85BD11-6D96-48dd-B20A-DF8108F272D7}";

namespace {

std::wstring Line(const wchar_t* key, const std::wstring& value)
{
    return L"\n" + std::wstring(key) + L"=" + value;
}

// A new switch message, whole when it is first saved: a message saved before its subject is set is one no later
// run can find.
Mapi::TMapiPtr<IMessage> SaveSwitchMessage(const Mapi::TMapiPtr<IMAPIFolder>& inbox, const std::wstring& body)
{
    const Mapi::TMapiPtr<IMessage> message = Mapi::CreateMessage(inbox, MAPI_ASSOCIATED);
    Mapi::SetStringProps(message.get(), {{PR_SUBJECT_W, SwitchMessageSubject}, {PR_BODY_W, body}});
    // Kept open so that its entry identifier can still be read should the earlier copies refuse to go.
    Errors::CheckMapi(message.get(), message->SaveChanges(KEEP_OPEN_READONLY));
    return message;
}

// Takes the new message out again, so that the mailbox keeps what it had rather than two switch messages.
void WithdrawSwitchMessage(const Mapi::TMapiPtr<IMAPIFolder>& inbox, const Mapi::TMapiPtr<IMessage>& message)
{
    try {
        Mapi::TMapiMemory<SPropValue> entryId;
        Errors::CheckMapi(message.get(), ::HrGetOneProp(message.get(), PR_ENTRYID, entryId.Out()));
        Mapi::CMapiEntryList withdrawn;
        withdrawn.Add(Mapi::CMapiBuffer(*entryId.get()));
        Mapi::DeleteMessages(inbox, withdrawn);
    } catch (const Errors::CError&) {
        // What MAPI will not take back stays: the mailbox has failed either way.
    }
}

// Removes the earlier copies once the new message is in place; when they do not all go, the new one goes.
void ReplaceEarlierCopies(const Mapi::TMapiPtr<IMAPIFolder>& inbox, const Mapi::TMapiPtr<IMessage>& message,
                          Mapi::CMapiEntryList& earlier)
{
    try {
        Mapi::DeleteMessages(inbox, earlier);
    } catch (const Errors::CError&) {
        WithdrawSwitchMessage(inbox, message);
        throw;
    }
}

} // namespace

std::wstring BuildSwitchMessageBody(const MailboxEntry& entry, const SwitchSettings& settings)
{
    const std::wstring target = L"TargetServer=" + settings.TargetServer + Line(L"TargetMailboxDN", entry.UserDNTrg);
    const std::wstring matchKeys =
        Line(L"MBMatchKeyTag", settings.MBMatchKeyTag) + Line(L"PFMatchKeyTag", settings.PFMatchKeyTag);
    const std::wstring onPremises = Line(L"IsMAPIEncryptionRequired", settings.IsMAPIEncryptionRequired) +
                                    Line(L"DomainName", settings.DomainName) +
                                    Line(L"DomainControllers", settings.DomainControllers) +
                                    Line(L"ExchangeServers", settings.ExchangeServers);
    if (settings.Version == L"v1") {
        return L"[ZPH 1.0]\n" + target;
    }
    if (settings.Version == L"v4") {
        return L"[ZPH 4.0]\n" + target + matchKeys;
    }
    if (settings.Version == L"v5") {
        return L"[ZPH 5.0]\n" + target + matchKeys + onPremises;
    }
    if (settings.Version == L"v6") {
        return L"[ZPH 6.0]\n" + target + Line(L"TargetProxyServer", settings.TargetProxyServer) + matchKeys +
               Line(L"Office365", settings.Office365) + (settings.Office365 == L"0" ? onPremises : std::wstring());
    }
    return std::wstring();
}

void WriteSwitchMessage(const MailboxEntry& entry, const std::wstring& body, const std::wstring& recreate)
{
    try {
        Mapi::CMapiSession session;
        session.Logon(entry.ProfileName,
                      MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION | MAPI_EXTENDED);
        const Mapi::TMapiPtr<IMsgStore> store = session.OpenMailboxStore();
        const Mapi::TMapiPtr<IMAPIFolder> inbox = Mapi::OpenReceiveFolder(store, MAPI_MODIFY);
        Mapi::CMapiEntryList earlier;
        Mapi::FindMessagesBySubject(inbox, SwitchMessageSubject, MAPI_ASSOCIATED, earlier);
        const bool recreating = recreate == L"1";
        if (earlier.Count() != 0 && !recreating) {
            return;
        }
        std::cout << (recreating ? "Info: Switch message is recreated for profile "
                                 : "Info: Switch message is created for profile ")
                  << ToNarrow(entry.ProfileName) << "\n";
        const Mapi::TMapiPtr<IMessage> message = SaveSwitchMessage(inbox, body);
        if (earlier.Count() != 0) {
            ReplaceEarlierCopies(inbox, message, earlier);
        }
        std::cout << "Info: Switch message content for profile " << ToNarrow(entry.ProfileName) << " is \n"
                  << ToNarrow(body) << "\n";
    } catch (const Errors::CError& error) {
        std::cout << "Error: Cannot create Switch message. Error = " << HexCode(error.GetCode()) << "\n";
        throw;
    }
}
