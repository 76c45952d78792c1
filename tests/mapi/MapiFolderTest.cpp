#include "mapi/MapiFolder.h"
#include "mapi/MapiInit.h"
#include "mapi/MapiSession.h"
#include "mapi/MapiValues.h"

#include "MapiWorld.h"
#include "errors/Text.h"

#include <memory>

namespace {

using namespace MapiTesting;
using namespace MapiDouble;

constexpr wchar_t SwitchSubject[] = L"{7CA3B6A0-2E51-4C4B-9A2E-6B1D0F3C2A11}";
// How the call record marks a call that reached Alice's server.
const std::string AtServer = " @server " + ToNarrow(AliceDn);

// Alice's Inbox, opened as the switch message opens it, with MAPI running around it.
struct CInbox {
    CInbox()
    {
        session.Logon(L"alice-profile",
                      MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION | MAPI_EXTENDED);
        folder = Mapi::OpenReceiveFolder(session.OpenMailboxStore(), MAPI_MODIFY);
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

    EXPECT_EQ(std::vector<std::string>{"IMsgStore::GetReceiveFolder class=(null) flags=0x00000000 -> 0x00000000" +
                                       AtServer},
              world.CallsTo("IMsgStore::GetReceiveFolder"));
    EXPECT_EQ(std::vector<std::string>{"IMsgStore::OpenEntry entry=F flags=0x00000001 -> 0x00000000" + AtServer},
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
    EXPECT_EQ(std::vector<std::string>{"IMAPIFolder::DeleteMessages ids=1,2 flags=0x00000000 -> 0x00000000" +
                                       AtServer},
              world.CallsTo("IMAPIFolder::DeleteMessages"));
    EXPECT_EQ("HrQueryAllRows columns=0x0fff0102,0x0037001f restriction=CONTENT(0x00010000 0x0037001f 0x0037001f=" +
                  ToNarrow(SwitchSubject) + ") sorts=0 max=0 -> 0x00000000",
              world.CallsTo("HrQueryAllRows").back())
        << "the store picks the rows";
}

TEST_F(MapiFolderTest, AContentsTableThatCannotBeReadRaisesRatherThanFindingNothing)
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
        EXPECT_EQ(MAPI_E_CALL_FAILED, MapiErrorOf([&] { FindSwitchMessages(found); }).Code) << call;
        inbox.reset();
    }
}

TEST_F(MapiFolderTest, AHiddenMessageJoinsTheFolderAtItsSaveWithEveryValueWhole)
{
    OpenInbox();
    // Past what one SetProps may carry: the value goes through a stream.
    std::wstring longBody = L"[ZPH 5.0]\nTargetServer=TGT\u00e9X\nTargetMailboxDN=";
    longBody.resize(40000, L'x');

    Mapi::TMapiPtr<IMessage> message = Mapi::CreateMessage(inbox->folder, MAPI_ASSOCIATED);
    EXPECT_TRUE(world.Messages(AliceDn).empty()) << "nothing is in the folder before the save";
    Mapi::SetStringProps(message.get(), {{PR_SUBJECT_W, SwitchSubject}, {PR_BODY_W, longBody}});
    ASSERT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));

    const std::vector<Message> messages = world.Messages(AliceDn);
    ASSERT_EQ(1u, messages.size());
    EXPECT_TRUE(messages[0].Associated);
    EXPECT_EQ(SwitchSubject, SubjectOf(messages[0]));
    const Property* body = FindProperty(messages[0].Props, PR_BODY_W);
    ASSERT_NE(nullptr, body);
    EXPECT_EQ(longBody, body->Text);
}

TEST_F(MapiFolderTest, AFolderOpenedForReadingRefusesNewMessagesWithItsExtendedError)
{
    OpenInbox();
    inbox->folder = Mapi::OpenReceiveFolder(inbox->session.OpenMailboxStore(), 0);

    const RaisedError raised = MapiErrorOf([&] { Mapi::CreateMessage(inbox->folder, MAPI_ASSOCIATED); });

    EXPECT_EQ(MAPI_E_NO_ACCESS, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x80070005., Description: MAPI_E_NO_ACCESS., Extended: The folder is open for reading "
              L"only.",
              raised.Message);
    EXPECT_TRUE(world.Messages(AliceDn).empty());
}

TEST_F(MapiFolderTest, AValueTheStoreTurnsDownInTheProblemArrayRaises)
{
    std::vector<Mailbox> mailboxes = world.State().LoadMailboxes();
    mailboxes[0].ValueLimit = 100;
    world.State().SaveMailboxes(mailboxes);
    OpenInbox();
    Mapi::TMapiPtr<IMessage> message = Mapi::CreateMessage(inbox->folder, MAPI_ASSOCIATED);

    const std::wstring body(60, L'b');

    const RaisedError raised =
        MapiErrorOf([&] { Mapi::SetStringProps(message.get(), {{PR_SUBJECT_W, SwitchSubject}, {PR_BODY_W, body}}); });

    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, raised.Code) << "SetProps answered S_OK and named the body as too large";
    EXPECT_EQ(std::vector<std::string>{"IMessage::SetProps tags=0x0037001f,0x1000001f -> 0x00000000" + AtServer},
              world.CallsTo("IMessage::SetProps"));
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
    EXPECT_EQ(1u, world.Messages(AliceDn).size()) << "a partial completion leaves a message behind";
}

} // namespace
