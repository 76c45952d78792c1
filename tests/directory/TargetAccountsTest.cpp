// Target account resolution against slapd, through the activeds double (simple binds on Wine's provider).
#include "DirectoryTesting.h"

#include "directory/TargetAccounts.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace DirectoryTesting;

struct Resolution {
    NocaseKeyMap Targets;
    std::string Output;
    RaisedError Error;
};

class ResolveTargetAccountsTest : public DoubleTest {
protected:
    static Resolution Resolve(const SwitchSettings& settings, const std::vector<std::wstring>& lines)
    {
        Resolution resolution;
        CapturedOutput output;
        resolution.Error = Raised([&] { resolution.Targets = ResolveTargetAccounts(settings, lines); });
        resolution.Output = output.Text();
        return resolution;
    }

    static std::string ConnectLine(const std::wstring& instance)
    {
        return "Info: Connect to the Active Directory server '" + Narrow(Server(instance)) + "' using LDAP.\n";
    }

    static std::string NoTargetLine(const std::wstring& line)
    {
        return "Warning: Cannot find UserDNTrg for UserDNSrc = " + Narrow(line) + "\n";
    }

    static std::string Bind(const std::wstring& path, const char* interfaceName, const char* result = "0x00000000")
    {
        return "ADsOpenObject path=" + Narrow(path) +
               " user=CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com password=Migrate-2024! flags=1 "
               "interface=" +
               interfaceName + " result=" + result + "\n";
    }

    // One search for the lines given, as they stand in its filter.
    static std::string Search(std::initializer_list<std::string> escapedLines)
    {
        std::string terms;
        for (const std::string& line : escapedLines) {
            terms += Term(line);
        }
        return "SetSearchPreference scope=2 pagesize=500 timeout=60\n"
               "ExecuteSearch filter=(&(objectClass=user)(|" +
               terms + ")) attributes=legacyExchangeDN;proxyAddresses\n";
    }

    static std::string Term(const std::string& escapedLine) { return "(legacyExchangeDN=" + escapedLine + ")"; }

    // A modern line as it stands in a filter.
    static std::string Escaped(const std::string& name)
    {
        return "/o=Fabrikam/ou=Exchange Administrative Group \\28FYDIBOHF23SPDLT\\29/cn=Recipients/cn=" + name;
    }

    static NocaseKeyMap Map(std::initializer_list<std::pair<std::wstring, std::wstring>> pairs)
    {
        NocaseKeyMap map;
        for (const auto& pair : pairs) {
            map.emplace(Util::ToNocase(pair.first), pair.second);
        }
        return map;
    }
};

TEST_F(ResolveTargetAccountsTest, BindsTheRootThenTheNamingContextOfAServerThatIsNoCatalogue)
{
    for (const wchar_t* instance : {Instance::Dc, Instance::GcJunk}) {
        Steer("");
        TestSupport::WriteBytes(steeringDirectory / L"calls.txt", "");
        const Resolution resolution = Resolve(Settings(instance), {Source(L"room.oslo")});
        EXPECT_EQ("", resolution.Error.Kind);
        EXPECT_EQ(ConnectLine(instance), resolution.Output);
        EXPECT_EQ(Map({{Source(L"room.oslo"), Target(L"room.oslo")}}), resolution.Targets);
        const std::wstring server = Server(instance);
        EXPECT_EQ(Bind(L"LDAP://" + server + L"/RootDSE", "IADs") +
                      Bind(L"LDAP://" + server + L"/DC=fabrikam,DC=com", "IDirectoryObject") +
                      Search({Escaped("room.oslo")}),
                  Calls());
    }
}

TEST_F(ResolveTargetAccountsTest, WarnsWhenTheRootDoesNotSayWhetherItIsACatalogue)
{
    const Resolution resolution = Resolve(Settings(Instance::NoGc), {Source(L"room.oslo")});
    EXPECT_EQ(ConnectLine(Instance::NoGc) + "Warning: Server '" + Narrow(Server(Instance::NoGc)) +
                  "' is not a Global Catalogue\n",
              resolution.Output);
    EXPECT_EQ(Map({{Source(L"room.oslo"), Target(L"room.oslo")}}), resolution.Targets);
    EXPECT_NE(std::string::npos,
              Calls().find(Bind(L"LDAP://" + Server(Instance::NoGc) + L"/DC=fabrikam,DC=com", "IDirectoryObject")));
}

TEST_F(ResolveTargetAccountsTest, SearchesTheGlobalCatalogueWhenTheRootSaysTrueInAnyCase)
{
    for (const wchar_t* instance : {Instance::Gc, Instance::GcLower}) {
        TestSupport::WriteBytes(steeringDirectory / L"calls.txt", "");
        const Resolution resolution = Resolve(Settings(instance), {Source(L"room.oslo")});
        EXPECT_EQ("", resolution.Error.Kind);
        EXPECT_EQ(ConnectLine(instance), resolution.Output);
        EXPECT_EQ(Map({{Source(L"room.oslo"), Target(L"room.oslo")}}), resolution.Targets);
        const std::wstring server = Server(instance);
        EXPECT_EQ(Bind(L"LDAP://" + server + L"/RootDSE", "IADs") + Bind(L"GC://" + server, "IDirectorySearch") +
                      Search({Escaped("room.oslo")}),
                  Calls());
    }
}

TEST_F(ResolveTargetAccountsTest, CatalogueThatGivesNoDirectoryObjectEndsTheRun)
{
    Steer("refuse-directory-object 0x80004002\n");
    const Resolution resolution = Resolve(Settings(Instance::Gc), {Source(L"room.oslo")});
    EXPECT_EQ(ConnectLine(Instance::Gc) +
                  "Error: Cannot convert IDirectorySearch to IDirectoryObject. Error = 80004002\n",
              resolution.Output);
    EXPECT_EQ("adsi", resolution.Error.Kind);
    EXPECT_EQ(E_FAIL, resolution.Error.Code);
    EXPECT_EQ(std::string::npos, Calls().find("ExecuteSearch"));
}

TEST_F(ResolveTargetAccountsTest, TakesTheLastX500AddressOfTheFirstMatchingAccount)
{
    const Resolution resolution =
        Resolve(Settings(Instance::Dc), {Source(L"room.oslo"), Source(L"beamer.pool"), Source(L"room.bergen")});
    EXPECT_EQ(ConnectLine(Instance::Dc), resolution.Output);
    EXPECT_EQ(Map({{Source(L"room.oslo"), Target(L"room.oslo")},
                   {Source(L"beamer.pool"), Target(L"beamer.pool")},
                   {Source(L"room.bergen"), Target(L"room.bergen")}}),
              resolution.Targets);
}

// An account without proxyAddresses (a leaver) is one more line without a target, not the end of the run.
TEST_F(ResolveTargetAccountsTest, WarnsAboutEachLineWithoutTargetAndGoesOn)
{
    const std::vector<std::wstring> lines = {Source(L"helpdesk"), Source(L"journal.archive"),
                                             Source(L"f.employee"), Source(L"nobody"),
                                             L"/o=Fabrikam/ou=First Administrative Group/cn=Recipients/cn=pmorgan"};
    const Resolution resolution = Resolve(Settings(Instance::Dc), lines);
    EXPECT_EQ("", resolution.Error.Kind);
    EXPECT_EQ(ConnectLine(Instance::Dc) + NoTargetLine(lines[0]) + NoTargetLine(lines[1]) + NoTargetLine(lines[2]) +
                  NoTargetLine(lines[3]),
              resolution.Output);
    EXPECT_EQ(Map({{lines[4], Target(L"pmorgan")}}), resolution.Targets);
    // A line without the characters that need escaping stands in the filter as it is.
    EXPECT_NE(std::string::npos, Calls().find(Term("/o=Fabrikam/ou=First Administrative Group/cn=Recipients/cn=pmorgan")));
}

TEST_F(ResolveTargetAccountsTest, OtherColumnFailuresStillEndTheRun)
{
    Steer("fail GetColumn 2 0x80005008\n");
    Resolution resolution = Resolve(Settings(Instance::Dc), {Source(L"room.oslo"), Source(L"f.employee")});
    EXPECT_EQ("nick", resolution.Error.Kind);
    EXPECT_EQ(static_cast<HRESULT>(0x80005008), resolution.Error.Code);
    EXPECT_EQ(L"ERR_COMMON_ADVAL_GET_VAL\r\nADSI result: 0x80005008., Description: E_ADS_BAD_PARAMETER.",
              resolution.Error.Message);
    EXPECT_EQ(ConnectLine(Instance::Dc), resolution.Output);

    Steer("value-type 1 8\n");
    resolution = Resolve(Settings(Instance::Dc), {Source(L"room.oslo")});
    EXPECT_EQ(L"ERR_COMMON_ADVAL_GET_VAL\r\nERR_COMMON_ADVAL_NONSTRING_VAL", resolution.Error.Message);
}

TEST_F(ResolveTargetAccountsTest, LinesEqualButForCaseKeepTheFirstLinesEntry)
{
    const Resolution resolution =
        Resolve(Settings(Instance::Dc), {Source(L"ROOM.OSLO"), Source(L"room.oslo"), Source(L"Room.Oslo")});
    ASSERT_EQ(1u, resolution.Targets.size());
    EXPECT_EQ(Source(L"ROOM.OSLO"), Util::FromNocase(resolution.Targets.begin()->first));
    EXPECT_EQ(Target(L"room.oslo"), resolution.Targets.begin()->second);
    EXPECT_EQ(ConnectLine(Instance::Dc), resolution.Output);
}

TEST_F(ResolveTargetAccountsTest, WildcardInALineMatchesOnlyItself)
{
    const Resolution resolution =
        Resolve(Settings(Instance::Dc), {Source(L"conf*room"), Source(L"conf*"), Source(L"*")});
    EXPECT_EQ(Map({{Source(L"conf*room"), Target(L"conf-star-room")}}), resolution.Targets);
    EXPECT_EQ(ConnectLine(Instance::Dc) + NoTargetLine(Source(L"conf*")) + NoTargetLine(Source(L"*")),
              resolution.Output);
    EXPECT_EQ(Search({Escaped("conf\\2aroom"), Escaped("conf\\2a"), Escaped("\\2a")}),
              Calls().substr(Calls().find("SetSearchPreference")));
}

TEST_F(ResolveTargetAccountsTest, NonAsciiLinesResolveAndPrintInTheAnsiCodePage)
{
    ASSERT_EQ(1252u, ::GetACP()) << "the tests pin LANG=C.UTF-8, Wine's code page 1252";
    const Resolution resolution =
        Resolve(Settings(Instance::Dc), {Source(L"j\u00fcrgen.m\u00fcller"), Source(L"zo\u00eb.\u0436\u0443\u043a")});
    EXPECT_EQ(Map({{Source(L"j\u00fcrgen.m\u00fcller"), Target(L"j\u00fcrgen.m\u00fcller")}}), resolution.Targets);
    EXPECT_EQ(ConnectLine(Instance::Dc) + "Warning: Cannot find UserDNTrg for UserDNSrc = " +
                  "/o=Fabrikam/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn=zo\xeb.???\n",
              resolution.Output);
}

TEST_F(ResolveTargetAccountsTest, FailedBindsEndTheRunBeforeAnyLineIsLookedUp)
{
    Resolution resolution = Resolve(Settings(Instance::Dc, L"wrong"), {Source(L"room.oslo")});
    EXPECT_EQ("adsi", resolution.Error.Kind);
    EXPECT_EQ(static_cast<HRESULT>(0x800720a2), resolution.Error.Code);
    EXPECT_EQ(L"ADSI result: 0x800720a2.", resolution.Error.Message);
    EXPECT_EQ(ConnectLine(Instance::Dc), resolution.Output);
    EXPECT_NE(std::string::npos, Calls().find("password=wrong flags=1 interface=IADs result=0x800720a2\n"));
    EXPECT_EQ(std::string::npos, Calls().find("ExecuteSearch"));

    Steer("fail ADsOpenObject 2 0x80005000\n");
    resolution = Resolve(Settings(Instance::Dc), {Source(L"room.oslo")});
    EXPECT_EQ("nick", resolution.Error.Kind);
    EXPECT_EQ(L"ERR_COMMON_ADSI_OPEN_DIROBJ\r\nADSI result: 0x80005000., Description: E_ADS_BAD_PATHNAME.",
              resolution.Error.Message);

    Steer("fail ADsOpenObject 2 0x80005000\n");
    resolution = Resolve(Settings(Instance::Gc), {Source(L"room.oslo")});
    EXPECT_EQ(L"EXCH_ERR_GC_NOT_AVAILABLE\r\nADSI result: 0x80005000., Description: E_ADS_BAD_PATHNAME.",
              resolution.Error.Message);
    EXPECT_EQ(std::string::npos, Calls().find("ExecuteSearch"));
}

TEST_F(ResolveTargetAccountsTest, SearchFailureEndsTheRun)
{
    Steer("fail ExecuteSearch 1 0x80005014\n");
    const Resolution resolution =
        Resolve(Settings(Instance::Dc), {Source(L"room.oslo"), Source(L"beamer.pool"), Source(L"helpdesk")});
    EXPECT_EQ("nick", resolution.Error.Kind);
    EXPECT_EQ(static_cast<HRESULT>(0x80005014), resolution.Error.Code);
    EXPECT_EQ(0u, resolution.Error.Message.find(L"ERR_COMMON_DIRSEARCH_CONSTRUCT_3\r\n"));
    EXPECT_EQ(ConnectLine(Instance::Dc), resolution.Output);
}

// 601 distinct values take three searches of at most 250 values; a value named again after two batches' worth
// of lines, in another case, is not searched again and keeps its first line's entry.
TEST_F(ResolveTargetAccountsTest, SearchesInBatchesAndTakesEveryRowBackToItsLines)
{
    std::vector<std::wstring> lines;
    for (int i = 1; i <= 600; ++i) {
        wchar_t name[16];
        swprintf(name, 16, L"bulk%04d", i);
        lines.push_back(Source(name));
    }
    lines.push_back(Source(L"nobody"));
    lines.push_back(Source(L"BULK0001"));
    const Resolution resolution = Resolve(Settings(Instance::Dc), lines);

    EXPECT_EQ("", resolution.Error.Kind);
    EXPECT_EQ(ConnectLine(Instance::Dc) + NoTargetLine(Source(L"nobody")), resolution.Output);
    ASSERT_EQ(600u, resolution.Targets.size());
    for (const wchar_t* name : {L"bulk0001", L"bulk0250", L"bulk0251", L"bulk0500", L"bulk0501", L"bulk0600"}) {
        EXPECT_EQ(Target(name), resolution.Targets.at(Util::ToNocase(Source(name)))) << Narrow(name);
    }
    EXPECT_EQ(Source(L"bulk0001"), Util::FromNocase(resolution.Targets.find(Util::ToNocase(lines[0]))->first));
    size_t binds = 0;
    std::vector<size_t> termsPerSearch;
    std::istringstream calls(Calls());
    for (std::string call; std::getline(calls, call);) {
        binds += call.rfind("ADsOpenObject ", 0) == 0 ? 1 : 0;
        if (call.rfind("ExecuteSearch ", 0) == 0) {
            termsPerSearch.push_back(0);
            for (size_t at = call.find("(legacyExchangeDN="); at != std::string::npos;
                 at = call.find("(legacyExchangeDN=", at + 1)) {
                ++termsPerSearch.back();
            }
        }
    }
    EXPECT_EQ((std::vector<size_t>{250, 250, 101}), termsPerSearch);
    EXPECT_EQ(2u, binds);
}

} // namespace
