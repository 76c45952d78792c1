#include "MapiWorld.h"

#include <mapix.h>

#include <algorithm>

namespace MapiTesting {

using namespace MapiDouble;

const wchar_t SourceServer[] = L"SRCEX01";
const wchar_t AliceDn[] =
    L"/o=First Organization/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn=alice";
const char AliceProfile[] = "alice-profile";

namespace {

std::string Ansi(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &ansi[0], size, nullptr, nullptr);
    return ansi;
}

size_t CountLines(const std::vector<std::string>& lines, const std::string& ending)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.size() >= ending.size() && line.compare(line.size() - ending.size(), ending.size(), ending) == 0;
    }));
}

} // namespace

CMapiWorld::CMapiWorld() : state(directory.Path())
{
    SetEnvironmentVariableW(StateVariable, directory.Path().c_str());
}

CMapiWorld::~CMapiWorld()
{
    SetEnvironmentVariableW(StateVariable, nullptr);
}

void CMapiWorld::AddMailbox(const Mailbox& mailbox)
{
    std::vector<Mailbox> mailboxes = state.LoadMailboxes();
    mailboxes.push_back(mailbox);
    state.SaveMailboxes(mailboxes);
}

void CMapiWorld::AddProfile(const std::string& name, const std::wstring& server, const std::wstring& dn)
{
    std::vector<Profile> profiles = state.LoadProfiles();
    Service exchange{"MSEMS", "Microsoft Exchange Server", std::string(16, '\x5A'), {}};
    exchange.Props.push_back(BytesProperty(0x6608001E, Ansi(server)));
    exchange.Props.push_back(BytesProperty(0x6607001E, Ansi(dn)));
    profiles.push_back(Profile{name, {exchange}});
    state.SaveProfiles(profiles);
}

void CMapiWorld::AddFault(const Fault& fault)
{
    std::vector<Fault> faults = state.LoadFaults();
    faults.push_back(fault);
    state.SaveFaults(faults);
}

std::vector<Message> CMapiWorld::Messages(const std::wstring& dn) const
{
    for (const Mailbox& mailbox : state.LoadMailboxes()) {
        if (mailbox.Dn == dn) {
            return mailbox.Messages;
        }
    }
    return {};
}

std::vector<std::string> CMapiWorld::CallsTo(const std::string& call) const
{
    std::vector<std::string> lines;
    const std::string calls = state.LoadCalls();
    size_t start = 0;
    while (start < calls.size()) {
        const size_t end = calls.find('\n', start);
        const std::string line = calls.substr(start, end - start);
        if (line.compare(0, call.size() + 1, call + " ") == 0) {
            lines.push_back(line);
        }
        start = end == std::string::npos ? calls.size() : end + 1;
    }
    return lines;
}

Mailbox MakeMailbox(const std::wstring& server, const std::wstring& dn)
{
    Mailbox mailbox;
    mailbox.Server = server;
    mailbox.Dn = dn;
    mailbox.Name = dn.substr(dn.find_last_of(L'=') + 1);
    return mailbox;
}

Message AssociatedMessage(const std::wstring& subject, const std::wstring& body)
{
    Message message;
    message.Associated = true;
    message.Props.push_back(UnicodeProperty(PR_SUBJECT_W, subject));
    if (!body.empty()) {
        message.Props.push_back(UnicodeProperty(PR_BODY_W, body));
    }
    return message;
}

Fault MakeFault(const std::wstring& call, HRESULT result, const std::wstring& text)
{
    Fault fault;
    fault.Call = call;
    fault.Result = result;
    fault.Text = text;
    return fault;
}

std::wstring SubjectOf(const Message& message)
{
    const Property* subject = FindProperty(message.Props, PR_SUBJECT_W);
    return subject == nullptr ? L"(none)" : subject->Text;
}

MapiTest::MapiTest()
{
    world.AddMailbox(MakeMailbox(SourceServer, AliceDn));
    world.AddProfile(AliceProfile, SourceServer, AliceDn);
}

void MapiTest::TearDown()
{
    const std::vector<std::string> starts = world.CallsTo("MAPIInitialize");
    EXPECT_EQ(CountLines(starts, "-> 0x00000000"), world.CallsTo("MAPIUninitialize").size())
        << "every MAPIInitialize that succeeded is ended by one MAPIUninitialize";
    for (const Accounting& record : world.State().LoadAccounting()) {
        std::string details;
        for (const std::string& detail : record.Details) {
            details += detail + "\n";
        }
        EXPECT_EQ(0u, record.Objects) << details;
        EXPECT_EQ(0u, record.Buffers) << details;
        EXPECT_EQ(0u, record.Misuses) << details;
    }
}

} // namespace MapiTesting
