#include "mapi/MapiFolder.h"
#include "mapi/MapiInit.h"
#include "mapi/MapiSession.h"
#include "mapi/MapiValues.h"

#include "MapiWorld.h"

#include <memory>

namespace {

using namespace MapiTesting;
using namespace MapiDouble;

constexpr wchar_t SwitchSubject[] = L"{7CA3B6A0-2E51-4C4B-9A2E-6B1D0F3C2A11}";

// Alice's Inbox, opened as the switch message opens it, with MAPI running around it.
struct CInbox {
    CInbox()
    {
        session.Logon(L"alice-profile", MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION);
        session.SetStoreOpenFlags(MAPI_BEST_ACCESS);
        folder = Mapi::OpenReceiveFolder(session.GetDefaultStore(), MAPI_MODIFY);
    }

    Mapi::CMapiInit guard{MAPI_NT_SERVICE};
    Mapi::CMapiSession session;
    Mapi::TMapiPtr<IMAPIFolder> folder;
};

class MapiFolderTest : public MapiTest {
protected:
    void AddAliceMessages(const std::vector<Message>& messages)
    {
        std::vector<Mailbox> mailboxes = world.State().LoadMailboxes();
        mailboxes[0].Messages = messages;
        world.State().SaveMailboxes(mailboxes);
    }

    std::vector<std::wstring> AliceSubjects() const
    {
        std::vector<std::wstring> subjects;
        for (const Message& message : world.Messages(AliceDn)) {
            subjects.push_back(SubjectOf(message));
        }
        return subjects;
    }

    void OpenInbox() { inbox = std::make_unique<CInbox>(); }

    void FindSwitchMessages(Mapi::CMapiEntryList& found)
    {
        Mapi::FindMessagesBySubject(inbox->folder, SwitchSubject, MAPI_ASSOCIATED, found);
    }

    void TearDown() override
    {
        inbox.reset();
        MapiTest::TearDown();
    }

    std::unique_ptr<CInbox> inbox;
};

Message NormalMessage(const std::wstring& subject)
{
    Message message = AssociatedMessage(subject);
    message.Associated = false;
    return message;
}

Message WithoutSubject()
{
    Message message = AssociatedMessage(L"");
    message.Props.clear();
    return message;
}

TEST_F(MapiFolderTest, TheReceiveFolderOfTheDefaultClassIsOpenedAsAFolder)
{
    OpenInbox();

    EXPECT_EQ(std::vector<std::string>{"IMsgStore::GetReceiveFolder class=(null) flags=0x00000000 -> 0x00000000"},
              world.CallsTo("IMsgStore::GetReceiveFolder"));
    EXPECT_EQ(std::vector<std::string>{"IMsgStore::OpenEntry entry=F flags=0x00000001 -> 0x00000000"},
              world.CallsTo("IMsgStore::OpenEntry"));
}

TEST_F(MapiFolderTest, AReceiveFolderThatCannotBeOpenedRaisesWithTheStoresExtendedError)
{
    world.AddFault(MakeFault(L"IMsgStore::OpenEntry", MAPI_E_NO_ACCESS, L"Access to the Inbox was denied."));

    const RaisedError raised = MapiErrorOf([&] { OpenInbox(); });

    EXPECT_EQ(MAPI_E_NO_ACCESS, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x80070005., Description: MAPI_E_NO_ACCESS., Extended: Access to the Inbox was denied.",
              raised.Message);
}

TEST_F(MapiFolderTest, AReceiveFolderThatCannotBeNamedRaisesTheResultAlone)
{
    world.AddFault(MakeFault(L"IMsgStore::GetReceiveFolder", MAPI_E_NOT_FOUND, L"Not carried without a source."));

    const RaisedError raised = MapiErrorOf([&] { OpenInbox(); });

    EXPECT_EQ(MAPI_E_NOT_FOUND, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x8004010f., Description: MAPI_E_NOT_FOUND.", raised.Message);
}

TEST_F(MapiFolderTest, EveryHiddenMessageWithTheSubjectInAnyCaseIsFound)
{
    AddAliceMessages({AssociatedMessage(SwitchSubject), AssociatedMessage(L"{7ca3b6a0-2e51-4c4b-9a2e-6b1d0f3c2a11}"),
                      AssociatedMessage(std::wstring(SwitchSubject) + L" "), NormalMessage(SwitchSubject),
                      WithoutSubject(), AssociatedMessage(L"Other")});
    OpenInbox();

    Mapi::CMapiEntryList found;
    FindSwitchMessages(found);
    ASSERT_EQ(2u, found.Count());
    Mapi::DeleteMessages(inbox->folder, found);

    EXPECT_EQ((std::vector<std::wstring>{std::wstring(SwitchSubject) + L" ", SwitchSubject, L"(none)", L"Other"}),
              AliceSubjects());
    EXPECT_EQ(std::vector<std::string>{"IMAPIFolder::DeleteMessages ids=1,2 flags=0x00000000 -> 0x00000000"},
              world.CallsTo("IMAPIFolder::DeleteMessages"));
    EXPECT_EQ("HrQueryAllRows columns=0x0fff0102,0x0037001f restriction=(null) sorts=0 max=0 -> 0x00000000",
              world.CallsTo("HrQueryAllRows").back());
}

TEST_F(MapiFolderTest, AMessageWithoutSubjectNeverMatches)
{
    AddAliceMessages({WithoutSubject(), AssociatedMessage(L"")});
    OpenInbox();

    Mapi::CMapiEntryList found;
    Mapi::FindMessagesBySubject(inbox->folder, L"", MAPI_ASSOCIATED, found);

    EXPECT_EQ(1u, found.Count()) << "only the message whose subject is the empty text";
}

TEST_F(MapiFolderTest, AContentsTableThatCannotBeReadYieldsNothingAndRaisesNothing)
{
    AddAliceMessages({AssociatedMessage(SwitchSubject)});
    // The store table is read first: the contents table's query is the second of each kind.
    for (const wchar_t* call : {L"IMAPIFolder::GetContentsTable", L"HrQueryAllRows", L"IMAPITable::QueryRows"}) {
        Fault fault = MakeFault(call, MAPI_E_CALL_FAILED, L"The table is unreadable.");
        fault.Use = std::wstring(call) == L"IMAPIFolder::GetContentsTable" ? 1 : 2;
        world.State().SaveFaults({fault});
        world.State().SaveUses({});
        OpenInbox();

        Mapi::CMapiEntryList found;
        FindSwitchMessages(found);
        EXPECT_EQ(0u, found.Count()) << call;
        inbox.reset();
    }
}

TEST_F(MapiFolderTest, AHiddenMessageIsCreatedSavedEmptyAndKeptOpenForItsProperties)
{
    OpenInbox();

    Mapi::TMapiPtr<IMessage> message = Mapi::CreateMessage(inbox->folder, MAPI_ASSOCIATED);
    ASSERT_EQ(1u, world.Messages(AliceDn).size());
    EXPECT_TRUE(world.Messages(AliceDn)[0].Associated);
    EXPECT_TRUE(world.Messages(AliceDn)[0].Props.empty());

    Mapi::SetStringProp(message.get(), PR_SUBJECT_W, SwitchSubject);
    Mapi::SetStringProp(message.get(), PR_BODY_W, L"[ZPH 5.0]\nTargetServer=TGT\u00e9X\nTargetMailboxDN=");
    ASSERT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));

    const std::vector<Message> messages = world.Messages(AliceDn);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(SwitchSubject, SubjectOf(messages[0]));
    const Property* body = FindProperty(messages[0].Props, PR_BODY_W);
    ASSERT_NE(nullptr, body);
    EXPECT_EQ(L"[ZPH 5.0]\nTargetServer=TGT\u00e9X\nTargetMailboxDN=", body->Text);
    EXPECT_EQ("IMessage::SaveChanges flags=0x00000002 new -> 0x00000000",
              world.CallsTo("IMessage::SaveChanges").front());
}

TEST_F(MapiFolderTest, AFolderOpenedForReadingRefusesNewMessagesWithItsExtendedError)
{
    OpenInbox();
    inbox->folder = Mapi::OpenReceiveFolder(inbox->session.GetDefaultStore(), 0);

    const RaisedError raised = MapiErrorOf([&] { Mapi::CreateMessage(inbox->folder, MAPI_ASSOCIATED); });

    EXPECT_EQ(MAPI_E_NO_ACCESS, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x80070005., Description: MAPI_E_NO_ACCESS., Extended: The folder is open for reading "
              L"only.",
              raised.Message);
    EXPECT_TRUE(world.Messages(AliceDn).empty());
}

TEST_F(MapiFolderTest, ANewMessageThatCannotBeSavedIsReleasedWithTheError)
{
    world.AddFault(MakeFault(L"IMessage::SaveChanges", MAPI_E_NOT_ENOUGH_DISK, L"The mailbox is full."));
    OpenInbox();

    const RaisedError raised = MapiErrorOf([&] { Mapi::CreateMessage(inbox->folder, MAPI_ASSOCIATED); });

    EXPECT_EQ(MAPI_E_NOT_ENOUGH_DISK, raised.Code);
    EXPECT_NE(std::wstring::npos, raised.Message.find(L", Extended: The mailbox is full."));
    EXPECT_TRUE(world.Messages(AliceDn).empty());
}

TEST_F(MapiFolderTest, AStringPropertyThatIsRefusedRaisesWithTheMessagesExtendedError)
{
    world.AddFault(MakeFault(L"IMessage::SetProps", MAPI_E_TOO_BIG, L"The body is too large."));
    OpenInbox();
    Mapi::TMapiPtr<IMessage> message = Mapi::CreateMessage(inbox->folder, MAPI_ASSOCIATED);

    const RaisedError raised = MapiErrorOf([&] { Mapi::SetStringProp(message.get(), PR_BODY_W, L"body"); });

    EXPECT_EQ(MAPI_E_TOO_BIG, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x80040305., Description: MAPI_E_TOO_BIG., Extended: The body is too large.",
              raised.Message);
}

TEST_F(MapiFolderTest, APartialDeleteRaisesWithTheFoldersExtendedError)
{
    AddAliceMessages({AssociatedMessage(SwitchSubject), AssociatedMessage(SwitchSubject)});
    world.AddFault(MakeFault(L"IMAPIFolder::DeleteMessages", MAPI_W_PARTIAL_COMPLETION, L"One message stayed."));
    OpenInbox();
    Mapi::CMapiEntryList found;
    FindSwitchMessages(found);

    const RaisedError raised = MapiErrorOf([&] { Mapi::DeleteMessages(inbox->folder, found); });

    EXPECT_EQ(MAPI_W_PARTIAL_COMPLETION, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x00040680., Description: MAPI_W_PARTIAL_COMPLETION., Extended: One message stayed.",
              raised.Message);
}

TEST_F(MapiFolderTest, DeletingMessagesThatAreAlreadyGoneRaisesThePartialCompletion)
{
    AddAliceMessages({AssociatedMessage(SwitchSubject), AssociatedMessage(L"Other")});
    OpenInbox();
    Mapi::CMapiEntryList found;
    FindSwitchMessages(found);
    Mapi::DeleteMessages(inbox->folder, found);

    EXPECT_EQ(MAPI_W_PARTIAL_COMPLETION, MapiErrorOf([&] { Mapi::DeleteMessages(inbox->folder, found); }).Code);
    EXPECT_EQ(std::vector<std::wstring>{L"Other"}, AliceSubjects());
}

} // namespace
