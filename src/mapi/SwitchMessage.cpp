#include "mapi/SwitchMessage.h"

#include "errors/Errors.h"
#include "errors/Text.h"
#include "mapi/MapiFolder.h"
#include "mapi/MapiSession.h"
#include "mapi/MapiValues.h"

#include <iostream>

const wchar_t SwitchMessageSubject[] = L"{0E85BD11-6D96-48dd-B20A-DF8108F272D7}";

namespace {

std::wstring Line(const wchar_t* key, const std::wstring& value)
{
    return L"\n" + std::wstring(key) + L"=" + value;
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
        session.Logon(entry.ProfileName, MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION);
        session.SetStoreOpenFlags(MAPI_BEST_ACCESS);
        const Mapi::TMapiPtr<IMsgStore> store = session.GetDefaultStore();
        const Mapi::TMapiPtr<IMAPIFolder> inbox = Mapi::OpenReceiveFolder(store, MAPI_MODIFY);
        Mapi::CMapiEntryList existing;
        Mapi::FindMessagesBySubject(inbox, SwitchMessageSubject, MAPI_ASSOCIATED, existing);
        const bool recreating = recreate == L"1";
        if (existing.Count() != 0 && !recreating) {
            return;
        }
        std::cout << (recreating ? "Info: Switch message is recreated for profile "
                                 : "Info: Switch message is created for profile ")
                  << ToNarrow(entry.ProfileName) << "\n";
        if (existing.Count() != 0) {
            Mapi::DeleteMessages(inbox, existing);
        }
        const Mapi::TMapiPtr<IMessage> message = Mapi::CreateMessage(inbox, MAPI_ASSOCIATED);
        // The folder itself has nothing of its own to keep; whether its save succeeds changes nothing.
        static_cast<void>(inbox->SaveChanges(KEEP_OPEN_READWRITE));
        Mapi::SetStringProp(message.get(), PR_SUBJECT_W, SwitchMessageSubject);
        Mapi::SetStringProp(message.get(), PR_BODY_W, body);
        // Until this save succeeds the message holds neither subject nor body.
        Errors::CheckMapi(message.get(), message->SaveChanges(KEEP_OPEN_READWRITE));
        std::cout << "Info: Switch message content for profile " << ToNarrow(entry.ProfileName) << " is \n"
                  << ToNarrow(body) << "\n";
    } catch (const Errors::CError& error) {
        std::cout << "Error: Cannot create Switch message. Error = " << HexCode(error.GetCode()) << "\n";
        throw;
    }
}
