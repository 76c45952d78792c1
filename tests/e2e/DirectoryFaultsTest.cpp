// The directory phase of whole runs: which objects the tool binds, what it asks, which target it takes from the
// rows, and how each failure of the directory ends the load. Every run leaves nothing behind.
#include "e2e/WholeRun.h"

#include "errors/Text.h"

#include <cwchar>
#include <set>

namespace {

using namespace E2e;

const char account[] = "CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com";

struct Case {
    std::string what;
    std::string server;
    std::vector<std::wstring> lines;
    std::string steering;
    std::string printed;               // the transcript before the mailbox pass
    std::vector<std::wstring> targets = {}; // of the profiles made: none means nothing to do
    std::vector<std::string> calls = {};    // each found in the activeds double's record, in this order
};

std::string Connect(const std::string& server)
{
    return "Info: Connect to the Active Directory server '" + server + "' using LDAP.\r\n";
}

std::string Stopped(const std::string& server, const std::string& before = "")
{
    return Connect(server) + before + "Error:  Cannot get information from " + server + "\r\n";
}

std::string NoTarget(const std::wstring& line)
{
    return "Warning: Cannot find UserDNTrg for UserDNSrc = " + ToNarrow(line) + "\r\n";
}

// A line of the fixture's source organisation as it stands in a filter.
std::string Term(const std::string& name)
{
    return "(legacyExchangeDN=/o=Fabrikam/ou=Exchange Administrative Group \\28FYDIBOHF23SPDLT\\29/cn=Recipients/cn=" +
           name + ")";
}

std::string Bind(const std::string& path, const char* interfaceName)
{
    return "ADsOpenObject path=" + path + " user=" + account + " password=Migrate-2024! flags=1 interface=" +
           interfaceName + " result=0x00000000\n";
}

class DirectoryFaults : public WholeRun {
protected:
    void RunCase(const Case& test)
    {
        SCOPED_TRACE(test.what);
        BeginCase();
        StartAfresh();
        Configuration configuration;
        configuration.Mailboxes = test.lines;
        configuration.Directory = "DCName=" + test.server + "\nDCAccount=" + account + "\nDCPassword=" +
                                  StoredServicePassword() + "\n";
        Write(configuration);
        SeedMailboxes(test.lines);
        SteerDirectory(test.steering);
        EXPECT_EQ(test.targets.empty() ? 64u : 0u, Run().ExitCode);
        const std::string transcript = Transcript();
        const size_t pass = transcript.find("Info: Create profiles");
        EXPECT_EQ(test.printed, transcript.substr(0, pass));
        std::set<std::string> targets;
        std::set<std::string> expectedTargets;
        for (size_t at = transcript.find("TargetMailboxDN="); at != std::string::npos;
             at = transcript.find("TargetMailboxDN=", at + 1)) {
            targets.insert(transcript.substr(at + 16, transcript.find("\r\n", at) - at - 16));
        }
        for (const std::wstring& name : test.targets) {
            expectedTargets.insert(ToNarrow(Target(name)));
        }
        EXPECT_EQ(expectedTargets, targets);
        if (test.targets.empty()) {
            EXPECT_EQ(noProfiles, transcript.substr(pass == std::string::npos ? 0 : pass));
        }
        const std::string calls = TestSupport::ReadBytes(adsi / L"calls.txt");
        size_t at = 0;
        for (const std::string& call : test.calls) {
            at = calls.find(call, at);
            EXPECT_NE(std::string::npos, at) << call << "\nin\n" << calls;
        }
        EXPECT_EQ("references=0 searches=0 columns=0\n", TestSupport::ReadBytes(adsi / L"outstanding.txt"));
        ExpectNothingLeftBehind();
        EndCase();
    }
};

TEST_F(DirectoryFaults, BindsTheCatalogueOnlyWhenTheRootSaysSo)
{
    const std::vector<std::wstring> oslo = {Source(L"room.oslo")};
    auto binds = [](const std::string& server, const std::string& then, const char* interfaceName) {
        return std::vector<std::string>{Bind("LDAP://" + server + "/RootDSE", "IADs"), Bind(then, interfaceName)};
    };
    auto context = [&](const std::string& server) {
        return binds(server, "LDAP://" + server + "/DC=fabrikam,DC=com", "IDirectoryObject");
    };
    auto catalogue = [&](const std::string& server) { return binds(server, "GC://" + server, "IDirectorySearch"); };
    auto notCatalogue = [](const std::string& server) {
        return Connect(server) + "Warning: Server '" + server + "' is not a Global Catalogue\r\n";
    };
    const std::string dc = ToNarrow(DirectoryServer(L"dc"));
    const std::string gc = ToNarrow(DirectoryServer(L"gc"));
    const std::string gcLower = ToNarrow(DirectoryServer(L"gclower"));
    const std::string gcJunk = ToNarrow(DirectoryServer(L"gcjunk"));
    const std::string noGc = ToNarrow(DirectoryServer(L"nogc"));
    const Case cases[] = {
        {"FALSE", dc, oslo, "", Connect(dc), {L"room.oslo"}, context(dc)},
        {"neither TRUE nor FALSE", gcJunk, oslo, "", Connect(gcJunk), {L"room.oslo"}, context(gcJunk)},
        {"no flag", noGc, oslo, "", notCatalogue(noGc), {L"room.oslo"}, context(noGc)},
        // Wine's provider answers a boolean for an attribute of Boolean syntax: not the text "TRUE".
        {"a boolean flag", gc, oslo, "boolean-get\n", notCatalogue(gc), {L"room.oslo"}, context(gc)},
        {"TRUE", gc, oslo, "", Connect(gc), {L"room.oslo"}, catalogue(gc)},
        {"true", gcLower, oslo, "", Connect(gcLower), {L"room.oslo"}, catalogue(gcLower)},
        {"a catalogue refusing IDirectoryObject", gc, oslo, "refuse-directory-object 0x80004002\n",
         Stopped(gc, "Error: Cannot convert IDirectorySearch to IDirectoryObject. Error = 80004002\r\n"), {},
         catalogue(gc)},
    };
    for (const Case& test : cases) {
        RunCase(test);
    }
}

TEST_F(DirectoryFaults, TakesEachLinesTargetFromItsAccountOrWarns)
{
    const std::string dc = ToNarrow(DirectoryServer());
    const std::wstring oldStyle = L"/o=Fabrikam/ou=First Administrative Group/cn=Recipients/cn=pmorgan";
    const std::vector<std::wstring> unresolved = {Source(L"helpdesk"), Source(L"journal.archive"),
                                                  Source(L"f.employee"), Source(L"nobody"),
                                                  Source(L"zo\u00eb.\u0436\u0443\u043a")};
    std::vector<std::wstring> mixed = unresolved;
    mixed.push_back(oldStyle);
    const std::vector<std::wstring> two = {Source(L"room.oslo"), Source(L"beamer.pool")};
    const Case cases[] = {
        // The last X500 address of the first account: beamer.pool has an older one first; room.bergen's value is
        // held by a restored copy too, which the server returns second.
        {"targets", dc, {Source(L"beamer.pool"), Source(L"room.bergen"), Source(L"room.oslo")},
         "", Connected(), {L"beamer.pool", L"room.bergen", L"room.oslo"},
         {"ExecuteSearch filter=(&(objectClass=user)(|" + Term("beamer.pool") + Term("room.bergen") + Term("room.oslo") +
          ")) attributes=legacyExchangeDN;proxyAddresses\n"}},
        {"lines without a target", dc, mixed, "",
         Connected() + NoTarget(unresolved[0]) + NoTarget(unresolved[1]) + NoTarget(unresolved[2]) +
             NoTarget(unresolved[3]) + NoTarget(unresolved[4]),
         {L"pmorgan"}, {"(legacyExchangeDN=" + ToNarrow(oldStyle) + ")"}},
        // The second column read is room.oslo's proxyAddresses: an unset column is an account without addresses.
        {"column not set", dc, two, "fail GetColumn 2 0x80005010\n", Connected() + NoTarget(two[0]),
         {L"beamer.pool"}, {}},
        {"every text type", dc, two, "value-type 1 1\nvalue-type 2 2\nvalue-type 3 4\nvalue-type 4 3\n", Connected(),
         {L"room.oslo", L"beamer.pool"}, {}},
    };
    for (const Case& test : cases) {
        RunCase(test);
    }
}

TEST_F(DirectoryFaults, EachDirectoryFailureStopsTheLoad)
{
    const std::string dc = ToNarrow(DirectoryServer());
    const std::vector<std::wstring> two = {Source(L"room.oslo"), Source(L"beamer.pool")};
    // Each call refused at its first use and, where a run makes more, at its last, as a real server refuses it.
    const Case cases[] = {
        {"root bind refused", dc, two, "fail ADsOpenObject 1 0x8007052e\n", Stopped(dc)},
        {"naming context bind refused", dc, two, "fail ADsOpenObject 2 0x8007052e\n", Stopped(dc)},
        {"preferences refused", dc, two, "fail SetSearchPreference 1 0x80005008\n", Stopped(dc)},
        {"filter refused", dc, two, "fail ExecuteSearch 1 0x8007203e\n", Stopped(dc)},
        {"first row timed out", dc, two, "fail GetFirstRow 1 0x800705b4\n", Stopped(dc)},
        {"next row timed out", dc, two, "fail GetNextRow 1 0x800705b4\n", Stopped(dc)},
        {"first column", dc, two, "fail GetColumn 1 0x8007000e\n", Stopped(dc)},
        {"last column", dc, two, "fail GetColumn 4 0x8007000e\n", Stopped(dc)},
        {"a value that is no text", dc, two, "value-type 4 8\n", Stopped(dc)},
        // Nothing listens on port 1 of this machine; the name cannot be resolved; an empty name counts as given.
        {"no server", "127.0.0.1:1", two, "", Stopped("127.0.0.1:1")},
        {"unknown name", "dc01.nowhere.invalid", two, "", Stopped("dc01.nowhere.invalid")},
        {"empty name", "", two, "", Stopped("")},
    };
    for (const Case& test : cases) {
        RunCase(test);
    }
}

// 601 distinct values take three searches of at most 250; a line equal to the first but for case, two batches
// later, is not searched again and makes no profile. The server ends a page inside the first search (Windows'
// ADSI reports that as the end of the rows with ERROR_MORE_DATA pending): the rows after it still count.
TEST_F(DirectoryFaults, SearchesInBatchesAndTakesEveryRowBackToItsLines)
{
    std::vector<std::wstring> lines;
    for (int i = 1; i <= 600; ++i) {
        wchar_t name[16];
        std::swprintf(name, 16, L"bulk%04d", i);
        lines.push_back(Source(name));
    }
    SeedMailboxes(lines);
    lines.push_back(Source(L"nobody"));
    lines.push_back(Source(L"BULK0001"));
    Configuration configuration;
    configuration.Mailboxes = lines;
    Write(configuration);
    SteerDirectory("more-data 100\n");

    EXPECT_EQ(0u, Run().ExitCode);
    const std::string transcript = Transcript();
    EXPECT_EQ(Connected() + NoTarget(Source(L"nobody")), transcript.substr(0, transcript.find("Info: Create")));
    size_t profiles = 0;
    const std::string child = ChildCommandLines().at(0);
    for (size_t at = child.find("\"{profile-"); at != std::string::npos; at = child.find("\"{profile-", at + 1)) {
        ++profiles;
    }
    EXPECT_EQ(600u, profiles);
    EXPECT_NE(std::string::npos, transcript.find("TargetMailboxDN=" + ToNarrow(Target(L"bulk0600")) + "\r\n"));

    std::vector<size_t> termsPerSearch;
    const std::string calls = TestSupport::ReadBytes(adsi / L"calls.txt");
    const std::string search = "SetSearchPreference scope=2 pagesize=500 timeout=60\nExecuteSearch ";
    for (size_t at = calls.find(search); at != std::string::npos; at = calls.find(search, at + 1)) {
        termsPerSearch.push_back(0);
        for (size_t term = calls.find("(legacyExchangeDN=", at); term < calls.find('\n', at + search.size());
             term = calls.find("(legacyExchangeDN=", term + 1)) {
            ++termsPerSearch.back();
        }
    }
    EXPECT_EQ((std::vector<size_t>{250, 250, 101}), termsPerSearch);
    ExpectNothingLeftBehind();
}

} // namespace
