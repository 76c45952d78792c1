// MapiDoubleDump [directory]: prints the MAPI double's state (profiles, mailboxes with their messages, and what
// each MAPIUninitialize found left behind) for tests and people. Without an argument it reads the directory
// the double's own variable names.

#include "State.h"
#include "StateText.h"

#include <windows.h>

#include <cstdio>
#include <string>

using namespace MapiDouble;

namespace {

void Print(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

void PrintProperties(const Properties& properties, const std::string& indent)
{
    for (const Property& property : properties) {
        Print(indent + PropertyKey(property.Tag) + "=" + FormatValue(property));
    }
}

void PrintProfiles(const CStateDirectory& state)
{
    const std::vector<Profile> profiles = state.LoadProfiles();
    Print("profiles: " + std::to_string(profiles.size()));
    for (const Profile& profile : profiles) {
        Print("  profile " + EscapeBytes(profile.Name));
        for (const Service& service : profile.Services) {
            Print("    service " + EscapeBytes(service.Name) + " display=" + EscapeBytes(service.DisplayName) +
                  " uid=" + HexBytes(service.Uid));
            PrintProperties(service.Props, "      ");
        }
    }
}

void PrintMailboxes(const CStateDirectory& state)
{
    const std::vector<Mailbox> mailboxes = state.LoadMailboxes();
    Print("mailboxes: " + std::to_string(mailboxes.size()));
    for (const Mailbox& mailbox : mailboxes) {
        std::wstring stores;
        for (const std::wstring& store : mailbox.Stores) {
            stores += (stores.empty() ? L"" : L",") + store;
        }
        Print("  mailbox " + EscapeWide(mailbox.Dn) + " server=" + EscapeWide(mailbox.Server) +
              " stores=" + EscapeWide(stores) + " default=" + EscapeWide(mailbox.DefaultStore));
        for (const Message& message : mailbox.Messages) {
            Print("    message " + std::to_string(message.Id) + (message.Associated ? " associated" : " normal"));
            PrintProperties(message.Props, "      ");
        }
    }
}

void PrintAccounting(const CStateDirectory& state)
{
    const std::vector<Accounting> records = state.LoadAccounting();
    Print("uninitializations: " + std::to_string(records.size()));
    for (const Accounting& record : records) {
        Print("  left objects=" + std::to_string(record.Objects) + " buffers=" + std::to_string(record.Buffers) +
              " misuses=" + std::to_string(record.Misuses));
        for (const std::string& detail : record.Details) {
            Print("    " + detail);
        }
    }
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    const CStateDirectory state = argc > 1 ? CStateDirectory(argv[1]) : CStateDirectory::FromEnvironment();
    if (!state.IsSet() || GetFileAttributesW(state.Path().c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fputs("usage: MapiDoubleDump [state directory]\n", stderr);
        return 1;
    }
    PrintProfiles(state);
    PrintMailboxes(state);
    PrintAccounting(state);
    return 0;
}
