// The directory phase of whole runs: which objects the tool binds, what it asks, which target it takes from the
// rows, and how each failure of the directory stops the load. Every run leaves nothing behind.
#include "e2e/WholeRun.h"

namespace {

using namespace E2e;

// Expected texts name the server as "@".
const std::string connect = "Info: Connect to the Active Directory server '@' using LDAP.\r\n";
const std::string stopped = connect + "Error:  Cannot get information from @\r\n";
const std::string notCatalogue = connect + "Warning: Server '@' is not a Global Catalogue\r\n";
const std::string account = "CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com";
const std::string asAccount = " user=" + account + " password=Migrate-2024! flags=513 interface=";
const std::string rootBind = "ADsOpenObject path=LDAP://@/RootDSE" + asAccount + "IADs result=0x00000000\n";
const std::string contextBinds =
    rootBind + "ADsOpenObject path=LDAP://@/DC=fabrikam,DC=com" + asAccount + "IDirectoryObject result=0x00000000\n";
const std::string catalogueBinds =
    rootBind + "ADsOpenObject path=GC://@" + asAccount + "IDirectorySearch result=0x00000000\n";
// A line of the fixture's source organisation as a filter holds it, but for the name and the closing parenthesis.
const std::string term =
    "(legacyExchangeDN=/o=Fabrikam/ou=Exchange Administrative Group \\28FYDIBOHF23SPDLT\\29/cn=Recipients/cn=";

struct Case {
    std::string what;
    std::string server;
    std::vector<std::wstring> lines; // the names of source accounts
    std::string steering;
    std::string printed;                    // the transcript before the mailbox pass
    std::vector<std::wstring> targets = {}; // the names given a mailbox, found a target and made a profile
    std::string calls = {};                 // in the activeds double's record
    size_t searches = 0;                    // how many the run asked for, when given
    std::string held = "references=0 searches=0 columns=0\n"; // directory objects alive at the run's end
};

std::string Server(const wchar_t* instance = L"dc")
{
    return ToNarrow(DirectoryServer(instance));
}

std::string WithServer(std::string text, const std::string& server)
{
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + server.size())) {
        text.replace(at, 1, server);
    }
    return text;
}

size_t Occurrences(const std::string& text, const std::string& piece, size_t from = 0, size_t to = std::string::npos)
{
    size_t count = 0;
    for (size_t at = text.find(piece, from); at < to; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

std::string NoTarget(const std::wstring& name, const std::string& why = "Cannot find UserDNTrg for")
{
    return "Warning: " + why + " UserDNSrc = " + ToNarrow(Source(name)) + "\r\n";
}

// slapd, bound simply through the activeds double, which can fail on demand and serves "GC://".
class DirectoryFaults : public WholeRun {
protected:
    void SetUp() override
    {
        WholeRun::SetUp();
        TestSupport::CopyInto(TestSupport::DoublesDirectory() + L"\\activeds.dll", tool.Path());
    }

    void RunCase(const Case& test)
    {
        SCOPED_TRACE(test.what);
        StartAfresh();
        Configuration configuration;
        configuration.Mailboxes = Sources(test.lines);
        configuration.Directory = DirectoryKeys(test.server, servicePassword, account);
        Write(configuration);
        SeedMailboxes(Sources(test.targets));
        TestSupport::WriteBytes(adsi / L"steering.txt", test.steering);
        EXPECT_EQ(test.targets.empty() ? 64u : 0u, Run().ExitCode);
        const std::string transcript = Transcript();
        const size_t pass = transcript.find("Info: Create profiles");
        EXPECT_EQ(WithServer(test.printed, test.server), transcript.substr(0, pass));
        EXPECT_EQ(test.targets.size(), Occurrences(transcript, "TargetMailboxDN="));
        for (const std::wstring& target : test.targets) {
            EXPECT_NE(std::string::npos, transcript.find("TargetMailboxDN=" + ToNarrow(Target(target)) + "\r\n"));
        }
        const std::string calls = TestSupport::ReadBytes(adsi / L"calls.txt");
        EXPECT_NE(std::string::npos, calls.find(WithServer(test.calls, test.server))) << calls;
        EXPECT_TRUE(test.searches == 0 || test.searches == Occurrences(calls, "ExecuteSearch"));
        EXPECT_EQ(test.held, TestSupport::ReadBytes(adsi / L"outstanding.txt"));
        ::DeleteFileW((adsi / L"outstanding.txt").c_str()); // compared whole just now
        ExpectNothingLeftBehind();
    }
};

TEST_F(DirectoryFaults, BindsWhatTheRootNamesAndTakesEachLinesTargetOrWarns)
{
    const std::vector<std::wstring> oslo = {L"room.oslo"};
    const std::vector<std::wstring> two = {L"room.oslo", L"beamer.pool"};
    std::vector<std::wstring> bulk;
    for (int i = 1; i <= 600; ++i) {
        bulk.push_back(L"bulk" + std::to_wstring(10000 + i).substr(1));
    }
    std::vector<std::wstring> bulkLines = bulk;
    bulkLines.insert(bulkLines.end(), {L"nobody", L"BULK0001"});
    const Case cases[] = {
        {"FALSE", Server(), oslo, "", connect, oslo, contextBinds},
        {"neither TRUE nor FALSE", Server(L"gcjunk"), oslo, "", connect, oslo, contextBinds},
        {"no flag", Server(L"nogc"), oslo, "", notCatalogue, oslo, contextBinds},
        // Wine's provider answers a boolean for an attribute of Boolean syntax: not the text "TRUE".
        {"a boolean flag", Server(L"gc"), oslo, "boolean-get\n", notCatalogue, oslo, contextBinds},
        {"TRUE", Server(L"gc"), oslo, "", connect, oslo, catalogueBinds},
        {"true", Server(L"gclower"), oslo, "", connect, oslo, catalogueBinds},
        {"a catalogue refusing IDirectoryObject", Server(L"gc"), oslo, "refuse-directory-object 0x80004002\n",
         connect + "Error: Cannot convert IDirectorySearch to IDirectoryObject. Error = 80004002\r\n" +
             "Error:  Cannot get information from @\r\n",
         {}, catalogueBinds},
        // The last X500 address: beamer.pool has an older one first; room.tromso's value is stored with a trailing
        // blank, which the server's matching ignores.
        {"targets", Server(), {L"beamer.pool", L"room.tromso", L"room.oslo"}, "", connect,
         {L"beamer.pool", L"room.tromso", L"room.oslo"},
         "ExecuteSearch filter=(&(objectClass=user)(|" + term + "beamer.pool)" + term + "room.tromso)" + term +
             "room.oslo))) attributes=legacyExchangeDN;proxyAddresses\n"},
        // An empty X500 address, none, no proxyAddresses at all, no account, one held by a restored copy too, one
        // holding a line feed.
        {"lines without a target", Server(),
         {L"helpdesk", L"journal.archive", L"f.employee", L"zo\u00eb.\u0436", L"room.bergen", L"room.split"}, "",
         connect + NoTarget(L"helpdesk") + NoTarget(L"journal.archive") + NoTarget(L"f.employee") +
             NoTarget(L"zo\u00eb.\u0436") + NoTarget(L"room.bergen", "Several accounts carry") +
             NoTarget(L"room.split", "Control character in UserDNTrg for")},
        // The second column read is room.oslo's proxyAddresses: an unset column is an account without addresses.
        {"column not set", Server(), two, "fail GetColumn 2 0x80005010\n", connect + NoTarget(L"room.oslo"),
         {L"beamer.pool"}},
        {"every text type", Server(), two, "value-type 1 1\nvalue-type 2 2\nvalue-type 3 4\nvalue-type 4 3\n",
         connect, two},
        // 601 distinct values take three paged searches with a time limit and no referral chasing, a line equal to
        // the first but for case none; the rows after a page the server ends inside the first (ERROR_MORE_DATA
        // pending) still count.
        {"601 values", Server(), bulkLines, "more-data 100\n", connect + NoTarget(L"nobody"), bulk,
         "SetSearchPreference scope=2 pagesize=500 timeout=60 referrals=0\nExecuteSearch ", 3},
        // The same lines from a server that answers the binds and the first search, and then nothing: a minute.
        // The lookup left at its limit holds its connection to the end.
        {"silent after one search", Server(L"stall"), bulkLines, "", stopped, {}, {}, 2,
         "references=4 searches=0 columns=0\n"},
    };
    for (const Case& test : cases) {
        RunCase(test);
    }
}

// Each call refused at its first use and, where a run makes more, at its last, as a real server refuses it; then
// servers that are not there: nothing listens on port 1 here, the name cannot be resolved, none is given.
TEST_F(DirectoryFaults, EachDirectoryFailureStopsTheLoad)
{
    const std::vector<std::wstring> two = {L"room.oslo", L"beamer.pool"};
    for (const char* steering :
         {"fail ADsOpenObject 1 0x8007052e\n", "fail ADsOpenObject 2 0x8007052e\n",
          "fail SetSearchPreference 1 0x80005008\n", "fail ExecuteSearch 1 0x8007203e\n",
          "fail GetFirstRow 1 0x800705b4\n", "fail GetNextRow 1 0x800705b4\n", "fail GetColumn 1 0x8007000e\n",
          "fail GetColumn 4 0x8007000e\n", "value-type 4 8\n"}) {
        RunCase({steering, Server(), two, steering, stopped});
    }
    for (const std::string& server : {std::string("127.0.0.1:1"), std::string("dc01.nowhere.invalid"),
                                      std::string(), Server(L"silent")}) {
        RunCase({server, server, two, "", stopped});
    }
}

} // namespace
