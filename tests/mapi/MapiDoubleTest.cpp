// The MAPI32 double answers as the MAPI subsystem does where the tool and its tests lean on it.

#include "mapi/MapiInit.h"
#include "mapi/MapiMemory.h"
#include "mapi/MapiPtr.h"

#include "MapiWorld.h"
#include "support/ToolRunner.h"

#include <mapiutil.h>

namespace {

using namespace MapiTesting;
using namespace MapiDouble;

HRESULT Logon(const char* profile, Mapi::TMapiPtr<IMAPISession>& session)
{
    return ::MAPILogonEx(0, Ansi(profile), nullptr,
                         MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION | MAPI_NO_MAIL | MAPI_EXTENDED, session.Out());
}

TEST(MapiDouble, IsTheMapi32ThisProgramLoaded)
{
    const HMODULE mapi = GetModuleHandleW(L"MAPI32.dll");
    ASSERT_NE(nullptr, mapi);
    EXPECT_NE(nullptr, GetProcAddress(mapi, "BriskletDoubleMarker"));
}

TEST_F(MapiTest, ProfilesLastAcrossMapiSessionsAndProcesses)
{
    {
        Mapi::CMapiInit guard(MAPI_NT_SERVICE);
        EXPECT_EQ(S_OK, ProfileAdmin()->CreateProfile(Ansi("Kept \xE9t\xE9"), nullptr, 0, 0));
    }
    {
        Mapi::CMapiInit guard(MAPI_NT_SERVICE);
        Mapi::TMapiPtr<IMsgServiceAdmin> services;
        EXPECT_EQ(S_OK, ProfileAdmin()->AdminServices(Ansi("KEPT \xC9T\xC9"), Ansi(""), 0, 0, services.Out()));
    }

    const TestSupport::ToolRun dump =
        TestSupport::RunProgram(TestSupport::DoublesDirectory() + L"\\MapiDoubleDump.exe", {world.State().Path()});

    EXPECT_EQ(0u, dump.ExitCode);
    EXPECT_NE(std::string::npos, dump.Output.find("  profile Kept \\xE9t\\xE9\r\n")) << dump.Output;
    EXPECT_NE(std::string::npos, dump.Output.find("uninitializations: 2\r\n")) << dump.Output;
}

TEST_F(MapiTest, ProfileAdministrationAnswersAsMapiDoes)
{
    Mapi::TMapiPtr<IProfAdmin> early;
    EXPECT_EQ(MAPI_E_NOT_INITIALIZED, ::MAPIAdminProfiles(0, early.Out()));

    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    const Mapi::TMapiPtr<IProfAdmin> admin = ProfileAdmin();
    Mapi::TMapiPtr<IMsgServiceAdmin> services;
    EXPECT_EQ(MAPI_E_NO_ACCESS, admin->CreateProfile(Ansi("ALICE-PROFILE"), nullptr, 0, 0));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, admin->CreateProfile(Ansi(""), nullptr, 0, 0));
    EXPECT_EQ(MAPI_E_NOT_FOUND, admin->DeleteProfile(Ansi("missing"), 0));
    EXPECT_EQ(MAPI_E_UNKNOWN_FLAGS, admin->CreateProfile(Ansi("wide"), nullptr, 0, MAPI_UNICODE));
    EXPECT_EQ(MAPI_E_UNKNOWN_FLAGS, admin->DeleteProfile(Ansi("alice-profile"), MAPI_UNICODE));
    EXPECT_EQ(MAPI_E_LOGON_FAILED, admin->AdminServices(Ansi("missing"), nullptr, 0, 0, services.Out()));
    EXPECT_EQ(S_OK, admin->AdminServices(Ansi("alice-profile"), nullptr, 0, 0, services.Out()));
    EXPECT_EQ(MAPI_E_NOT_FOUND, services->CreateMsgService(Ansi("MSPST MS"), Ansi("Personal Folders"), 0, 0));
    EXPECT_EQ(MAPI_E_NO_ACCESS, services->CreateMsgService(Ansi("MSEMS"), Ansi("Microsoft Exchange Server"), 0, 0))
        << "the Exchange service is single-copy";

    Mapi::TMapiMemory<MAPIERROR> error;
    ASSERT_EQ(S_OK, admin->GetLastError(MAPI_E_LOGON_FAILED, MAPI_UNICODE, error.Out()));
    ASSERT_NE(nullptr, error.get());
    EXPECT_STREQ(L"The profile missing does not exist.", reinterpret_cast<const wchar_t*>(error->lpszError));
    ASSERT_EQ(S_OK, admin->GetLastError(MAPI_E_NOT_FOUND, MAPI_UNICODE, error.Out()));
    EXPECT_EQ(nullptr, error.get()) << "only the last error is told";
}

TEST_F(MapiTest, TheServiceTableAnswersAPropertyRestrictionOnTheServiceName)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::TMapiPtr<IMsgServiceAdmin> services;
    ASSERT_EQ(S_OK, ProfileAdmin()->AdminServices(Ansi("alice-profile"), nullptr, 0, 0, services.Out()));
    Mapi::TMapiPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, services->GetMsgServiceTable(0, table.Out()));

    SizedSPropTagArray(1, columns) = {1, {PR_SERVICE_UID}};
    for (const char* name : {"MSEMS", "msems", "MSPST MS"}) {
        SPropValue wanted{};
        wanted.ulPropTag = PR_SERVICE_NAME_A;
        wanted.Value.lpszA = const_cast<char*>(name);
        SRestriction restriction{};
        restriction.rt = RES_PROPERTY;
        restriction.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_SERVICE_NAME_A, &wanted};
        Mapi::CMapiSRowSet rows;
        ASSERT_EQ(S_OK, ::HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), &restriction,
                                         nullptr, 0, rows.Out()));

        const bool exchange = std::string(name) == "MSEMS";
        ASSERT_EQ(exchange ? 1u : 0u, rows->cRows) << name << ": names compare with their case";
        if (exchange) {
            EXPECT_EQ(static_cast<ULONG>(PR_SERVICE_UID), rows->aRow[0].lpProps[0].ulPropTag);
            EXPECT_EQ(16u, rows->aRow[0].lpProps[0].Value.bin.cb);
        }
    }
}

TEST_F(MapiTest, LogonResolvesTheExchangeSettingsToAMailboxOfTheWorld)
{
    world.AddProfile("unknown-server", L"ELSEWHERE", AliceDn);
    world.AddProfile("unknown-mailbox", L"srcex01", L"/o=First Organization/cn=nobody");
    std::vector<Profile> profiles = world.State().LoadProfiles();
    const Service unconfigured{"MSEMS", "Microsoft Exchange Server", std::string(16, 'U'), {}};
    profiles.push_back(Profile{"unconfigured", {unconfigured}});
    profiles.push_back(Profile{"empty", {}});
    world.State().SaveProfiles(profiles);
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::TMapiPtr<IMAPISession> session;

    EXPECT_EQ(MAPI_E_NETWORK_ERROR, Logon("unknown-server", session));
    EXPECT_EQ(MAPI_E_LOGON_FAILED, Logon("unknown-mailbox", session));
    EXPECT_EQ(MAPI_E_UNCONFIGURED, Logon("unconfigured", session));
    EXPECT_EQ(MAPI_E_LOGON_FAILED, Logon("no-such-profile", session));
    EXPECT_EQ(S_OK, Logon("empty", session)) << "a profile without services logs on, to no stores";
    EXPECT_EQ(S_OK, Logon("ALICE-PROFILE", session));

    EXPECT_EQ(S_OK, ProfileAdmin()->DeleteProfile(Ansi("alice-profile"), 0));
    EXPECT_EQ(5u, world.State().LoadProfiles().size()) << "a profile in use goes when its last session ends";
    session->Logoff(0, 0, 0);
    EXPECT_EQ(4u, world.State().LoadProfiles().size());
}

TEST_F(MapiTest, AFaultFiresOnItsNthUseAndOnlyForItsMailbox)
{
    const std::wstring bobDn = L"/o=First Organization/cn=bob";
    world.AddMailbox(MakeMailbox(SourceServer, bobDn));
    world.AddProfile("bob-profile", SourceServer, bobDn);
    Fault fault = MakeFault(L"IMAPISession::GetMsgStoresTable", MAPI_E_NETWORK_ERROR, L"Bob's server hiccuped.");
    fault.Use = 2;
    fault.Mailbox = bobDn;
    world.AddFault(fault);
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::TMapiPtr<IMAPISession> alice;
    Mapi::TMapiPtr<IMAPISession> bob;
    ASSERT_EQ(S_OK, Logon("alice-profile", alice));
    ASSERT_EQ(S_OK, Logon("bob-profile", bob));
    Mapi::TMapiPtr<IMAPITable> table;

    EXPECT_EQ(S_OK, alice->GetMsgStoresTable(0, table.Out()));
    EXPECT_EQ(S_OK, bob->GetMsgStoresTable(0, table.Out()));
    EXPECT_EQ(S_OK, alice->GetMsgStoresTable(0, table.Out()));
    EXPECT_EQ(MAPI_E_NETWORK_ERROR, bob->GetMsgStoresTable(0, table.Out()));
    EXPECT_EQ(nullptr, table.get());
    EXPECT_EQ(S_OK, bob->GetMsgStoresTable(0, table.Out()));
}

TEST(MapiDouble, MapiUninitializeRecordsWhatWasLeftAlive)
{
    CMapiWorld world;
    world.AddMailbox(MakeMailbox(SourceServer, AliceDn));
    IProfAdmin* leakedAdmin = nullptr;
    void* leakedBuffer = nullptr;
    {
        Mapi::CMapiInit guard(MAPI_NT_SERVICE);
        ASSERT_EQ(S_OK, ::MAPIAdminProfiles(0, &leakedAdmin));
        ASSERT_EQ(S_OK, ::MAPIAllocateBuffer(24, &leakedBuffer));
        ::MAPIFreeBuffer(reinterpret_cast<char*>(leakedBuffer) + 1);
    }
    leakedAdmin->Release();
    ::MAPIFreeBuffer(leakedBuffer);

    const std::vector<Accounting> records = world.State().LoadAccounting();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(1u, records[0].Objects);
    EXPECT_EQ(1u, records[0].Buffers);
    EXPECT_EQ(1u, records[0].Misuses);
    EXPECT_EQ((std::vector<std::string>{"object IProfAdmin references=1 mailbox=", "buffer 24 bytes",
                                        "misuse MAPIFreeBuffer on a block that is not live"}),
              records[0].Details);
}

TEST(MapiDouble, StateTextKeepsEveryCharacterAndShowsTheInvisibleOnes)
{
    CMapiWorld world;
    Mailbox mailbox = MakeMailbox(L"SRV", L"/o=\u00c9cole/cn=z\u00fcrich");
    const std::wstring body = L"line 1\nline 2\r\n\ttabbed \\ back\u0001 \U0001F600 \xD800 end";
    mailbox.Messages.push_back(AssociatedMessage(L"Subject", body));
    world.AddMailbox(mailbox);

    const std::vector<Mailbox> loaded = world.State().LoadMailboxes();

    ASSERT_EQ(1u, loaded.size());
    EXPECT_EQ(mailbox.Dn, loaded[0].Dn);
    ASSERT_EQ(1u, loaded[0].Messages.size());
    EXPECT_EQ(body, FindProperty(loaded[0].Messages[0].Props, PR_BODY_W)->Text);
    const std::string text = TestSupport::ReadBytes(world.State().Path() + L"\\mailboxes.txt");
    EXPECT_NE(std::string::npos,
              text.find("PR_BODY_W=line 1\\nline 2\\r\\n\\ttabbed \\\\ back\\u0001 \xF0\x9F\x98\x80 \\uD800 end\n"))
        << text;
}

} // namespace
