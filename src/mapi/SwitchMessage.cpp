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

// A new switch message, whole when it is saved: a message saved before its subject is set is one no later run
// can find. Released once saved, since a store may refuse to delete a message its caller holds open read/write.
void SaveSwitchMessage(const Mapi::TMapiPtr<IMAPIFolder>& inbox, const std::wstring& body)
{
    const Mapi::TMapiPtr<IMessage> message = Mapi::CreateMessage(inbox, MAPI_ASSOCIATED);
    Mapi::SetStringProps(message.get(), {{PR_SUBJECT_W, SwitchMessageSubject}, {PR_BODY_W, body}});
    Errors::CheckMapiExact(message.get(), message->SaveChanges(0));
}

// A save or delete that did not answer S_OK may have done all, some or none of its work, so the Inbox is read
// again: true once it holds the new message alone, false once it holds what it held before. A message is saved
// once, whole, so any switch message that was not there before is the new one. While every earlier copy is
// there the new one is taken out again; once one has gone, the rest go. A mailbox brought to neither is failed.
bool Settled(const Mapi::TMapiPtr<IMAPIFolder>& inbox, const Mapi::CMapiEntryList& earlier)
{
    constexpr int repairs = 2;
    try {
        for (int repair = 0;; ++repair) {
            Mapi::CMapiEntryList current;
            Mapi::FindMessagesBySubject(inbox, SwitchMessageSubject, MAPI_ASSOCIATED, current);
            Mapi::CMapiEntryList fresh;
            Mapi::CMapiEntryList kept;
            for (const Mapi::CMapiBuffer& entryId : current.EntryIds()) {
                (earlier.Holds(entryId) ? kept : fresh).Add(entryId);
            }
            if (fresh.Count() == 1 && kept.Count() == 0) {
                return true;
            }
            const bool allKept = kept.Count() == earlier.Count();
            if (repair == repairs || (allKept ? fresh.Count() == 0 : fresh.Count() != 1)) {
                return false;
            }
            try {
                Mapi::DeleteMessages(inbox, allKept ? fresh : kept);
            } catch (const Errors::CError&) {
                // The next reading tells what it did.
            }
        }
    } catch (const Errors::CError&) {
        // What the mailbox holds is not known: it has failed.
        return false;
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
        try {
            SaveSwitchMessage(inbox, body);
            if (earlier.Count() != 0) {
                Mapi::DeleteMessages(inbox, earlier);
            }
        } catch (const Errors::CError&) {
            if (!Settled(inbox, earlier)) {
                throw;
            }
        }
        std::cout << "Info: Switch message content for profile " << ToNarrow(entry.ProfileName) << " is \n"
                  << ToNarrow(body) << "\n";
    } catch (const Errors::CError& error) {
        std::cout << "Error: Cannot create Switch message. Error = " << HexCode(error.GetCode()) << "\n";
        throw;
    }
}
