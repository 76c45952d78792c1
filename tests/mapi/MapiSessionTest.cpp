#include "mapi/MapiInit.h"
#include "mapi/MapiSession.h"
#include "errors/Text.h"

#include "MapiWorld.h"

namespace {

using namespace MapiTesting;
using namespace MapiDouble;

constexpr ULONG SwitchLogonFlags =
    MAPI_UNICODE | MAPI_NO_MAIL | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION | MAPI_EXTENDED;
constexpr wchar_t Alice[] = L"alice-profile";

void SetAliceStores(const CMapiWorld& world, std::vector<std::wstring> stores, const std::wstring& defaultStore)
{
    std::vector<Mailbox> mailboxes = world.State().LoadMailboxes();
    mailboxes[0].Stores = std::move(stores);
    mailboxes[0].DefaultStore = defaultStore;
    world.State().SaveMailboxes(mailboxes);
}

TEST_F(MapiTest, EachGuardStartsAndEndsMapiOnce)
{
    { Mapi::CMapiInit first(MAPI_NT_SERVICE); }
    { Mapi::CMapiInit second(MAPI_NT_SERVICE); }

    EXPECT_EQ("MAPIInitialize version=0 flags=0x00010000 -> 0x00000000\n"
              "MAPIUninitialize -> 0x00000000\n"
              "MAPIInitialize version=0 flags=0x00010000 -> 0x00000000\n"
              "MAPIUninitialize -> 0x00000000\n",
              world.State().LoadCalls());
}

TEST_F(MapiTest, AGuardWhoseStartFailsRaisesAndNeverEndsMapi)
{
    world.AddFault(MakeFault(L"MAPIInitialize", MAPI_E_NOT_INITIALIZED, L"never shown: there is no object"));

    const RaisedError raised = MapiErrorOf([] { Mapi::CMapiInit guard(MAPI_NT_SERVICE); });

    EXPECT_EQ(MAPI_E_NOT_INITIALIZED, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x80040605., Description: MAPI_E_NOT_INITIALIZED.", raised.Message);
    EXPECT_TRUE(world.CallsTo("MAPIUninitialize").empty());
}

TEST_F(MapiTest, LogonWithAnEmptyProfileNamePassesNoName)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::CMapiSession session;

    EXPECT_EQ(MAPI_E_LOGON_FAILED, MapiErrorOf([&] { session.Logon(L"", SwitchLogonFlags); }).Code);
    EXPECT_EQ(std::vector<std::string>{"MAPILogonEx profile=(null) password=(null) flags=0x80008032 -> 0x80040111"},
              world.CallsTo("MAPILogonEx"));
}

TEST_F(MapiTest, LogonKeepsProfileAndFlagsAndClosingLogsOff)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    {
        Mapi::CMapiSession session;
        session.Logon(Alice, SwitchLogonFlags);
        EXPECT_EQ(Alice, session.ProfileName());
        EXPECT_EQ(SwitchLogonFlags, session.LogonFlags());
        // A second logon ends the first session before it starts the next.
        session.Logon(Alice, SwitchLogonFlags);
    }
    EXPECT_EQ(2u, world.CallsTo("MAPILogonEx").size());
    EXPECT_EQ(std::vector<std::string>(2, "IMAPISession::Logoff flags=0x00000000 reserved=0x00000000 -> 0x00000000"),
              world.CallsTo("IMAPISession::Logoff"));
}

TEST_F(MapiTest, OnlyTheExchangeMailboxIsOpenedElseTheDefaultStoreAndNeverWithADialog)
{
    const std::string server = " @server " + ToNarrow(AliceDn);
    const struct {
        std::vector<std::wstring> stores;
        const wchar_t* defaultStore;
        std::string opened;
    } cases[] = {
        {{L"unavailable", L"public", L"private"}, L"public", "private"},
        {{L"public", L"pst"}, L"pst", "pst"},
    };
    size_t opened = 0;
    for (const auto& each : cases) {
        SetAliceStores(world, each.stores, each.defaultStore);
        Mapi::CMapiInit guard(MAPI_NT_SERVICE);
        Mapi::CMapiSession session;
        session.Logon(Alice, SwitchLogonFlags);

        EXPECT_TRUE(session.OpenMailboxStore());

        EXPECT_EQ("HrQueryAllRows columns=0x0fff0102,0x34140102,0x3400000b restriction=(null) sorts=0 max=0 -> "
                  "0x00000000",
                  world.CallsTo("HrQueryAllRows").back());
        EXPECT_EQ("IMAPISession::OpenMsgStore store=" + each.opened + " flags=0x00000091 -> 0x00000000" + server,
                  world.CallsTo("IMAPISession::OpenMsgStore").back());
        EXPECT_EQ(++opened, world.CallsTo("IMAPISession::OpenMsgStore").size()) << "one store, and only one";
    }
}

TEST_F(MapiTest, NoMailboxAndNoStoreMarkedDefaultGivesNotFound)
{
    SetAliceStores(world, {L"public", L"pst"}, L"none");
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::CMapiSession session;
    session.Logon(Alice, SwitchLogonFlags);

    const RaisedError raised = MapiErrorOf([&] { session.OpenMailboxStore(); });

    EXPECT_EQ(MAPI_E_NOT_FOUND, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x8004010f., Description: MAPI_E_NOT_FOUND.", raised.Message);
    EXPECT_TRUE(world.CallsTo("IMAPISession::OpenMsgStore").empty());
}

TEST_F(MapiTest, AMailboxThatCannotBeOpenedRaisesItsOwnError)
{
    world.AddFault(MakeFault(L"IMAPISession::OpenMsgStore", MAPI_E_LOGON_FAILED, L"The mailbox refused the logon."));
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::CMapiSession session;
    session.Logon(Alice, SwitchLogonFlags);

    const RaisedError raised = MapiErrorOf([&] { session.OpenMailboxStore(); });

    EXPECT_EQ(MAPI_E_LOGON_FAILED, raised.Code);
    EXPECT_EQ(L"MAPI result: 0x80040111., Description: MAPI_E_LOGON_FAILED., Extended: The mailbox refused the logon.",
              raised.Message);
}

SPropValue Provider(std::vector<BYTE>& bytes)
{
    SPropValue value{};
    value.ulPropTag = PR_MDB_PROVIDER;
    value.Value.bin.cb = static_cast<ULONG>(bytes.size());
    value.Value.bin.lpb = bytes.data();
    return value;
}

TEST(StoreKindFromProvider, TellsTheKnownProvidersApartAndCallsTheRestOther)
{
    const std::vector<std::pair<std::vector<BYTE>, ULONG>> known = {
        {{0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B, 0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17}, 1},
        {{0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE, 0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2}, 2},
        {{0x4E, 0x49, 0x54, 0x41, 0xF9, 0xBF, 0xB8, 0x01, 0x00, 0xAA, 0x00, 0x37, 0xD9, 0x6E, 0x00, 0x00}, 4},
        {{0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11, 0xCD, 0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}, 8},
        {{0xA0, 0x01, 0xBD, 0xC6, 0x9B, 0x9C, 0x49, 0x5D, 0x88, 0x78, 0x55, 0x9E, 0x1C, 0xCE, 0xBE, 0xE0}, 16},
        {std::vector<BYTE>(16, 0), 32},
        {{0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B, 0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25}, 32},
    };
    for (auto provider : known) {
        const SPropValue value = Provider(provider.first);
        EXPECT_EQ(provider.second, Mapi::StoreKindFromProvider(&value)) << provider.first.size() << " bytes";
    }
    SPropValue missing{};
    missing.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(PR_MDB_PROVIDER));
    missing.Value.err = MAPI_E_NOT_FOUND;
    EXPECT_EQ(Mapi::StoreKindOther, Mapi::StoreKindFromProvider(&missing));
    EXPECT_EQ(Mapi::StoreKindOther, Mapi::StoreKindFromProvider(nullptr));
}

} // namespace
