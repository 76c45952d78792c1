// The mailbox pass and the clean-up pass against the MAPI double, read back from the double's state.

#include "mapi/MailboxProfile.h"
#include "mapi/MapiInit.h"
#include "mapi/MapiProfile.h"
#include "mapi/ProfileLoops.h"
#include "mapi/SwitchMessage.h"

#include "MapiWorld.h"

#include <algorithm>
#include <cwctype>

namespace {

using namespace MapiTesting;
using namespace MapiDouble;

const wchar_t BobDn[] = L"/o=First Organization/cn=b\u00f6b";
const wchar_t CarolDn[] = L"/o=First Organization/cn=carol";
const char PassStarts[] = "Info: Create profiles and check the switch message. \n";

std::string Narrow(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

MailboxEntry Entry(const std::wstring& dn)
{
    return MailboxEntry{L"", dn, L"/o=Target/ou=Site/cn=Recipients/cn=" + dn.substr(dn.find_last_of(L'=') + 1)};
}

SwitchSettings V5Settings()
{
    SwitchSettings settings;
    settings.SrcExchServer = SourceServer;
    settings.TargetServer = L"TGTEX01";
    settings.MBMatchKeyTag = L"X500";
    settings.PFMatchKeyTag = L"X500";
    settings.Version = L"v5";
    settings.IsMAPIEncryptionRequired = L"1";
    settings.DomainName = L"TARGET";
    settings.DomainControllers = L"DC01";
    settings.ExchangeServers = L"TGTEX01";
    return settings;
}

class MailboxPassTest : public MapiTest {
protected:
    MailboxPassTest()
    {
        world.AddMailbox(MakeMailbox(SourceServer, BobDn));
        world.AddMailbox(MakeMailbox(SourceServer, CarolDn));
    }

    // As the run driver brackets each pass.
    int MailboxPass(MailboxList& mailboxes)
    {
        Mapi::CMapiInit guard(MAPI_NT_SERVICE);
        return CreateProfiles(mailboxes, settings);
    }
    void CleanUpPass(MailboxList& mailboxes)
    {
        Mapi::CMapiInit guard(MAPI_NT_SERVICE);
        DeleteProfiles(mailboxes);
    }

    void SetMessages(const std::wstring& dn, const std::vector<Message>& messages)
    {
        std::vector<Mailbox> mailboxes = world.State().LoadMailboxes();
        for (Mailbox& mailbox : mailboxes) {
            if (mailbox.Dn == dn) {
                mailbox.Messages = messages;
            }
        }
        world.State().SaveMailboxes(mailboxes);
    }

    // The names of the profiles the state holds now.
    std::vector<std::string> ProfileNames() const
    {
        std::vector<std::string> names;
        for (const Profile& profile : world.State().LoadProfiles()) {
            names.push_back(profile.Name);
        }
        return names;
    }

    // The names the tool asked the double to create profiles by, in order.
    std::vector<std::string> CreatedProfiles() const
    {
        std::vector<std::string> names;
        for (const std::string& call : world.CallsTo("IProfAdmin::CreateProfile")) {
            const size_t start = call.find("name=") + 5;
            names.push_back(call.substr(start, call.find(" password=") - start));
        }
        return names;
    }

    std::string Created(const std::wstring& profile, const std::wstring& body) const
    {
        return "Info: Switch message is created for profile " + Narrow(profile) + "\n" + Content(profile, body);
    }
    std::string Content(const std::wstring& profile, const std::wstring& body) const
    {
        return "Info: Switch message content for profile " + Narrow(profile) + " is \n" + Narrow(body) + "\n";
    }

    SwitchSettings settings = V5Settings();
    CConsoleCapture console;
};

bool IsProfileName(const std::wstring& name)
{
    if (name.size() != 38 || name.front() != L'{' || name.back() != L'}') {
        return false;
    }
    for (size_t index = 1; index < 37; ++index) {
        const bool dash = index == 9 || index == 14 || index == 19 || index == 24;
        const bool hexDigit = std::iswdigit(name[index]) || (name[index] >= L'a' && name[index] <= L'f');
        if (dash ? name[index] != L'-' : !hexDigit) {
            return false;
        }
    }
    return true;
}

TEST(MakeProfileName, GivesAFreshLowerCaseGuidInBraces)
{
    const std::wstring first = Mapi::MakeProfileName();
    const std::wstring second = Mapi::MakeProfileName();

    EXPECT_TRUE(IsProfileName(first)) << first;
    EXPECT_TRUE(IsProfileName(second)) << second;
    EXPECT_NE(first, second);
}

TEST_F(MailboxPassTest, EveryMailboxGetsItsOwnProfileServiceAndOneSwitchMessage)
{
    MailboxList mailboxes{Entry(AliceDn), Entry(BobDn)};

    EXPECT_EQ(0, MailboxPass(mailboxes));

    const std::wstring aliceBody = BuildSwitchMessageBody(mailboxes[0], settings);
    const std::wstring bobBody = BuildSwitchMessageBody(mailboxes[1], settings);
    EXPECT_EQ(PassStarts + Created(mailboxes[0].ProfileName, aliceBody) + Created(mailboxes[1].ProfileName, bobBody),
              console.Text());
    EXPECT_NE(mailboxes[0].ProfileName, mailboxes[1].ProfileName);
    for (const MailboxEntry& entry : mailboxes) {
        EXPECT_TRUE(IsProfileName(entry.ProfileName)) << entry.ProfileName;
        std::vector<Profile> profiles = world.State().LoadProfiles();
        const auto profile = std::find_if(profiles.begin(), profiles.end(),
                                          [&](const Profile& made) { return made.Name == Narrow(entry.ProfileName); });
        ASSERT_NE(profiles.end(), profile);
        ASSERT_EQ(1u, profile->Services.size());
        const Service& exchange = profile->Services[0];
        EXPECT_EQ("MSEMS", exchange.Name);
        EXPECT_EQ("Microsoft Exchange Server", exchange.DisplayName);
        ASSERT_EQ(2u, exchange.Props.size());
        EXPECT_EQ(0x6608001Eu, exchange.Props[0].Tag);
        EXPECT_EQ("SRCEX01", exchange.Props[0].Bytes);
        EXPECT_EQ(0x6607001Eu, exchange.Props[1].Tag);
        EXPECT_EQ(Narrow(entry.UserDNSrc), exchange.Props[1].Bytes);

        const std::vector<Message> messages = world.Messages(entry.UserDNSrc);
        ASSERT_EQ(1u, messages.size());
        EXPECT_TRUE(messages[0].Associated);
        ASSERT_EQ(2u, messages[0].Props.size()) << "nothing but the subject and the body";
        EXPECT_EQ(SwitchMessageSubject, SubjectOf(messages[0]));
        EXPECT_EQ(static_cast<ULONG>(PR_BODY_W), messages[0].Props[1].Tag);
        EXPECT_EQ(BuildSwitchMessageBody(entry, settings), messages[0].Props[1].Text);
    }
    EXPECT_EQ("/o=First Organization/cn=b\xF6"
              "b",
              world.State().LoadProfiles()[2].Services[0].Props[1].Bytes)
        << "the source mailbox goes to the service in the ANSI code page";
}

TEST_F(MailboxPassTest, AnExistingMessageIsKeptUnlessRecreateIsExactlyOne)
{
    const Message existing = AssociatedMessage(L"{0e85bd11-6d96-48dd-b20a-df8108f272d7}", L"old body");
    SetMessages(AliceDn, {existing});

    for (const wchar_t* recreate : {L"", L"0", L"yes", L"01", L" 1", L"1 "}) {
        settings.RecreateSwitchMsg = recreate;
        MailboxList mailboxes{Entry(AliceDn)};
        const std::string before = console.Text();

        EXPECT_EQ(0, MailboxPass(mailboxes)) << recreate;
        CleanUpPass(mailboxes);

        EXPECT_EQ(PassStarts, console.Text().substr(before.size())) << recreate;
        const std::vector<Message> messages = world.Messages(AliceDn);
        ASSERT_EQ(1u, messages.size());
        EXPECT_EQ(1u, messages[0].Id);
        EXPECT_EQ(L"old body", FindProperty(messages[0].Props, PR_BODY_W)->Text);
    }
    EXPECT_TRUE(world.CallsTo("IMAPIFolder::DeleteMessages").empty());
    EXPECT_TRUE(world.CallsTo("IMAPIFolder::CreateMessage").empty());
}

TEST_F(MailboxPassTest, RecreateReplacesEveryCopyWithOneNewMessage)
{
    SetMessages(AliceDn, {AssociatedMessage(SwitchMessageSubject, L"first"), AssociatedMessage(L"Other", L"kept"),
                          AssociatedMessage(L"{0E85BD11-6D96-48DD-B20A-DF8108F272D7}", L"second")});
    settings.RecreateSwitchMsg = L"1";
    MailboxList mailboxes{Entry(AliceDn)};

    EXPECT_EQ(0, MailboxPass(mailboxes));

    const std::wstring body = BuildSwitchMessageBody(mailboxes[0], settings);
    EXPECT_EQ(PassStarts + ("Info: Switch message is recreated for profile " + Narrow(mailboxes[0].ProfileName) +
                            "\n") +
                  Content(mailboxes[0].ProfileName, body),
              console.Text());
    const std::vector<Message> messages = world.Messages(AliceDn);
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(L"Other", SubjectOf(messages[0]));
    EXPECT_EQ(4u, messages[1].Id);
    EXPECT_EQ(SwitchMessageSubject, SubjectOf(messages[1]));
    EXPECT_EQ(body, FindProperty(messages[1].Props, PR_BODY_W)->Text);
    EXPECT_EQ(std::vector<std::string>{"IMAPIFolder::DeleteMessages ids=1,3 flags=0x00000000 -> 0x00000000 @server " +
                                       Narrow(AliceDn)},
              world.CallsTo("IMAPIFolder::DeleteMessages"))
        << "the earlier copies go once the new message is saved";
}

TEST_F(MailboxPassTest, RecreateSaysRecreatedEvenWhenThereWasNone)
{
    settings.RecreateSwitchMsg = L"1";
    settings.Version = L"v7";
    MailboxList mailboxes{Entry(AliceDn)};

    EXPECT_EQ(0, MailboxPass(mailboxes));

    EXPECT_EQ(PassStarts + ("Info: Switch message is recreated for profile " + Narrow(mailboxes[0].ProfileName) +
                            "\n") +
                  Content(mailboxes[0].ProfileName, L""),
              console.Text());
    const std::vector<Message> messages = world.Messages(AliceDn);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(L"", FindProperty(messages[0].Props, PR_BODY_W)->Text) << "an unknown version writes an empty body";
}

TEST_F(MailboxPassTest, AServiceThatCannotResolveItsServerOrMailboxCostsTheMailboxItsProfile)
{
    world.AddMailbox(MakeMailbox(SourceServer, L"/o=First Organization/cn=alicia"));
    const struct {
        const wchar_t* server;
        const wchar_t* mailbox;
        const char* code;
    } cases[] = {
        {L"NOSUCHSERVER", AliceDn, "80040115"},                        // MAPI_E_NETWORK_ERROR
        {SourceServer, L"/o=First Organization/cn=nobody", "81002746"}, // MAIL_E_NAMENOTFOUND
        {SourceServer, L"ali", "80040700"},                            // MAPI_E_AMBIGUOUS_RECIP
    };
    for (const auto& each : cases) {
        settings.SrcExchServer = each.server;
        MailboxList mailboxes{Entry(each.mailbox)};
        const std::string before = console.Text();

        EXPECT_EQ(32, MailboxPass(mailboxes));

        EXPECT_EQ(std::string(PassStarts) + "Error: Cannot create service MSEMS. Error = " + each.code + "\n" +
                      "Error: Cannot create a profile for mailbox = " + Narrow(each.mailbox) + "\n",
                  console.Text().substr(before.size()));
        EXPECT_EQ(L"", mailboxes[0].ProfileName);
    }
    EXPECT_EQ(std::vector<std::string>{AliceProfile}, ProfileNames());
    EXPECT_TRUE(world.CallsTo("MAPILogonEx").empty());
    EXPECT_TRUE(world.Messages(AliceDn).empty());
}

TEST_F(MailboxPassTest, ALogonThatFailsCostsTheMailboxItsProfile)
{
    world.AddFault(MakeFault(L"MAPILogonEx", MAPI_E_LOGON_FAILED));
    MailboxList mailboxes{Entry(AliceDn)};

    EXPECT_EQ(32, MailboxPass(mailboxes));

    EXPECT_EQ(std::string(PassStarts) + "Error: Cannot create Switch message. Error = 80040111\n" +
                  "Error: Cannot create a profile for mailbox = " + Narrow(AliceDn) + "\n",
              console.Text());
    EXPECT_EQ(L"", mailboxes[0].ProfileName);
    EXPECT_EQ(std::vector<std::string>{AliceProfile}, ProfileNames());
}

TEST_F(MailboxPassTest, OldMessagesThatCannotAllBeDeletedLeaveTheMailboxAsItWas)
{
    SetMessages(AliceDn, {AssociatedMessage(SwitchMessageSubject, L"old")});
    Fault fault = MakeFault(L"IMAPIFolder::DeleteMessages", MAPI_W_PARTIAL_COMPLETION, L"One stayed.");
    fault.Use = 1;
    world.AddFault(fault);
    settings.RecreateSwitchMsg = L"1";
    MailboxList mailboxes{Entry(AliceDn)};

    EXPECT_EQ(32, MailboxPass(mailboxes));

    ASSERT_EQ(1u, CreatedProfiles().size());
    EXPECT_EQ(std::string(PassStarts) + "Info: Switch message is recreated for profile " + CreatedProfiles()[0] +
                  "\nError: Cannot create Switch message. Error = 00040680\n" +
                  "Error: Cannot create a profile for mailbox = " + Narrow(AliceDn) + "\n",
              console.Text());
    EXPECT_EQ(std::vector<std::string>{AliceProfile}, ProfileNames());
    const std::vector<Message> messages = world.Messages(AliceDn);
    ASSERT_EQ(1u, messages.size()) << "the new message is taken back rather than left as a second copy";
    EXPECT_EQ(L"old", FindProperty(messages[0].Props, PR_BODY_W)->Text);
}

TEST_F(MailboxPassTest, AFinalSaveThatFailsFailsTheMailboxAndLeavesNoPartialMessage)
{
    world.AddFault(MakeFault(L"IMessage::SaveChanges", MAPI_E_NOT_ENOUGH_DISK, L"The mailbox is full."));
    MailboxList mailboxes{Entry(AliceDn)};

    EXPECT_EQ(32, MailboxPass(mailboxes));

    ASSERT_EQ(1u, CreatedProfiles().size());
    EXPECT_EQ(std::string(PassStarts) + "Info: Switch message is created for profile " + CreatedProfiles()[0] +
                  "\nError: Cannot create Switch message. Error = 8004010d\n" +
                  "Error: Cannot create a profile for mailbox = " + Narrow(AliceDn) + "\n",
              console.Text());
    EXPECT_EQ(L"", mailboxes[0].ProfileName);
    EXPECT_EQ(std::vector<std::string>{AliceProfile}, ProfileNames());
    EXPECT_TRUE(world.Messages(AliceDn).empty());
}

TEST_F(MailboxPassTest, AProfileThatWasNeverMadeIsReportedUndeletableAndKeepsItsName)
{
    world.AddFault(MakeFault(L"IProfAdmin::CreateProfile", MAPI_E_NO_ACCESS));
    MailboxList mailboxes{Entry(AliceDn)};

    EXPECT_EQ(32, MailboxPass(mailboxes));

    EXPECT_EQ(std::string(PassStarts) + "Error: Cannot delete a profile for mailbox = " + Narrow(AliceDn) + "\n" +
                  "Error: Cannot create a profile for mailbox = " + Narrow(AliceDn) + "\n",
              console.Text());
    ASSERT_EQ(1u, CreatedProfiles().size());
    EXPECT_EQ(CreatedProfiles()[0], Narrow(mailboxes[0].ProfileName));
    EXPECT_EQ(std::vector<std::string>{AliceProfile}, ProfileNames());
}

TEST_F(MailboxPassTest, OnlyTheMailboxThatFailedIsLeftOutOfThree)
{
    Fault fault = MakeFault(L"IMsgServiceAdmin::ConfigureMsgService", MAPI_E_NETWORK_ERROR);
    fault.Mailbox = BobDn;
    world.AddFault(fault);
    MailboxList mailboxes{Entry(AliceDn), Entry(BobDn), Entry(CarolDn)};

    EXPECT_EQ(32, MailboxPass(mailboxes));

    EXPECT_EQ(3u, CreatedProfiles().size());
    EXPECT_EQ(L"", mailboxes[1].ProfileName);
    EXPECT_TRUE(world.Messages(BobDn).empty());
    EXPECT_EQ((std::vector<std::string>{AliceProfile, Narrow(mailboxes[0].ProfileName),
                                        Narrow(mailboxes[2].ProfileName)}),
              ProfileNames());
    EXPECT_EQ(1u, world.Messages(AliceDn).size());
    EXPECT_EQ(1u, world.Messages(CarolDn).size());
}

TEST_F(MailboxPassTest, WhenEveryMailboxFailsTheResultIsStill32)
{
    world.AddFault(MakeFault(L"MAPILogonEx", MAPI_E_LOGON_FAILED));
    MailboxList mailboxes{Entry(AliceDn), Entry(BobDn), Entry(CarolDn)};

    EXPECT_EQ(32, MailboxPass(mailboxes));
}

TEST_F(MailboxPassTest, AnEmptyListOnlyAnnouncesThePass)
{
    MailboxList mailboxes;

    EXPECT_EQ(0, MailboxPass(mailboxes));

    EXPECT_EQ(PassStarts, console.Text());
    EXPECT_TRUE(world.CallsTo("MAPIAdminProfiles").empty());
}

TEST_F(MailboxPassTest, TheCleanUpPassLeavesNoProfileOfTheRunBehind)
{
    MailboxList mailboxes{Entry(AliceDn), Entry(BobDn)};
    ASSERT_EQ(0, MailboxPass(mailboxes));
    const std::string afterPass = console.Text();

    CleanUpPass(mailboxes);

    EXPECT_EQ(afterPass, console.Text());
    EXPECT_EQ(L"", mailboxes[0].ProfileName);
    EXPECT_EQ(L"", mailboxes[1].ProfileName);
    EXPECT_EQ(std::vector<std::string>{AliceProfile}, ProfileNames());
    EXPECT_EQ(1u, world.Messages(AliceDn).size()) << "the switch message stays for the child utility's users";
}

TEST_F(MailboxPassTest, AProfileThatCannotBeDeletedAtCleanUpKeepsItsNameAndTheRestGoOn)
{
    MailboxList mailboxes{Entry(AliceDn), Entry(BobDn)};
    ASSERT_EQ(0, MailboxPass(mailboxes));
    Fault fault = MakeFault(L"IProfAdmin::DeleteProfile", MAPI_E_NO_ACCESS);
    fault.Use = 1;
    world.AddFault(fault);
    const std::string afterPass = console.Text();
    const std::wstring aliceName = mailboxes[0].ProfileName;

    CleanUpPass(mailboxes);

    EXPECT_EQ("Error: Cannot delete a profile for mailbox = " + Narrow(AliceDn) + "\n",
              console.Text().substr(afterPass.size()));
    EXPECT_EQ(aliceName, mailboxes[0].ProfileName);
    EXPECT_EQ(L"", mailboxes[1].ProfileName);
    EXPECT_EQ((std::vector<std::string>{AliceProfile, Narrow(aliceName)}), ProfileNames());
}

TEST_F(MailboxPassTest, ACleanUpPassOverEntriesWithoutProfilesMakesNoMapiCall)
{
    MailboxList mailboxes{Entry(AliceDn), Entry(BobDn)};

    CleanUpPass(mailboxes);

    EXPECT_EQ("", console.Text());
    EXPECT_EQ(std::vector<std::string>{}, world.CallsTo("MAPIAdminProfiles"));
}

} // namespace
