// The directory phase of whole runs: which objects the tool binds, what it asks, which target it takes from the
// rows, and how each failure of the directory stops the load. Every run leaves nothing behind. The fixture's DCs
// are bound through Wine's own provider; through the activeds double only where a run steers ADSI or binds a
// global catalogue, which Wine lacks.
#include "e2e/WholeRun.h"

#include <algorithm>
#include <set>

namespace {

using namespace E2e;

// Expected texts name the server as "@".
const std::string connect = "Info: Connect to the Active Directory server '@' using LDAP.\r\n";
const std::string stopped = connect + "Error:  Cannot get information from @\r\n";
const std::string notCatalogue = connect + "Warning: Server '@' is not a Global Catalogue\r\n";
const std::string asAccount = " user=FABRIKAM\\svc-brisklet password=Migrate-2024! flags=513 interface=";
const std::string rootBind = "ADsOpenObject path=LDAP://@/RootDSE" + asAccount + "IADs result=0x00000000\n";
const std::string contextBinds =
    rootBind + "ADsOpenObject path=LDAP://@/DC=fabrikam,DC=com" + asAccount + "IDirectoryObject result=0x00000000\n";
const std::string catalogueBinds =
    rootBind + "ADsOpenObject path=GC://@" + asAccount + "IDirectorySearch result=0x00000000\n";
// The fixture's DC that is no global catalogue, and the one that is.
const std::string dc = domainController;
const std::string gc = "127.0.0.2";

struct Case {
    std::string what;
    std::string server;
    std::vector<std::wstring> lines; // the names of source accounts
    std::string steering;
    std::string printed;                    // the transcript before the mailbox pass
    std::vector<std::wstring> targets = {}; // the names given a mailbox, found a target and made a profile
    std::string calls = {};                 // in the activeds double's record
};

std::string Server(const wchar_t* instance)
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

// The searches a run over `lines` asks through the activeds double: each value once, in its first line's spelling,
// 250 to a search.
std::string Searches(const std::vector<std::wstring>& lines)
{
    std::vector<std::wstring> batches;
    std::set<std::wstring> seen;
    for (const std::wstring& line : lines) {
        std::wstring key = line;
        std::transform(key.begin(), key.end(), key.begin(), ::towupper);
        if (seen.insert(key).second) {
            std::wstring term = L"(legacyExchangeDN=";
            for (const wchar_t c : Source(line)) {
                term += c == L'(' ? L"\\28" : c == L')' ? L"\\29" : std::wstring(1, c);
            }
            batches.resize((seen.size() + 249) / 250);
            batches.back() += term + L")";
        }
    }
    std::string searches;
    for (const std::wstring& terms : batches) {
        searches += "ExecuteSearch filter=(&(objectClass=user)(|" + ToNarrow(terms) +
                    ")) attributes=legacyExchangeDN;proxyAddresses\n";
    }
    return searches;
}

std::string NoTarget(const std::wstring& name, const std::string& why = "Cannot find UserDNTrg for")
{
    return "Warning: " + why + " UserDNSrc = " + ToNarrow(Source(name)) + "\r\n";
}

class DirectoryFaults : public WholeRun {
protected:
    void RunCase(const Case& test)
    {
        SCOPED_TRACE(test.what);
        StartAfresh();
        const bool viaDouble = !test.steering.empty() || test.server == gc;
        if (viaDouble) {
            TestSupport::CopyInto(TestSupport::DoublesDirectory() + L"\\activeds.dll", tool.Path());
        } else {
            ::DeleteFileW((tool / L"activeds.dll").c_str());
        }
        Configuration configuration;
        configuration.Mailboxes = Sources(test.lines);
        configuration.Directory = DirectoryKeys(test.server);
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
        if (viaDouble) {
            std::string searches;
            for (size_t at = calls.find("ExecuteSearch "); at != std::string::npos;
                 at = calls.find("ExecuteSearch ", at + 1)) {
                searches += calls.substr(at, calls.find('\n', at) + 1 - at);
            }
            const std::string expected = Searches(test.lines);
            // A run the directory stops asks the first of them.
            EXPECT_EQ(test.targets.empty() ? expected.substr(0, searches.size()) : expected, searches);
        }
        const std::string held = TestSupport::ReadBytes(adsi / L"outstanding.txt");
        EXPECT_EQ(viaDouble ? "references=0 searches=0 columns=0\n" : "", held);
        EXPECT_TRUE(MapiState().LoadProfiles().empty()) << "a profile of the run was left behind";
        ExpectWorld(transcript);
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
        {"FALSE", dc, oslo, "", connect, oslo},
        {"neither TRUE nor FALSE", dc, oslo, "gc-flag yes, since Tuesday\n", connect, oslo, contextBinds},
        {"no flag", dc, oslo, "gc-flag -\n", notCatalogue, oslo, contextBinds},
        // Wine's provider answers a boolean for an attribute of Boolean syntax: not the text "TRUE".
        {"a boolean flag", gc, oslo, "boolean-get\n", notCatalogue, oslo, contextBinds},
        {"TRUE", gc, oslo, "", connect, oslo, catalogueBinds},
        {"true", gc, oslo, "gc-flag true\n", connect, oslo, catalogueBinds},
        {"a catalogue refusing IDirectoryObject", gc, oslo, "refuse-directory-object 0x80004002\n",
         connect + "Error: Cannot convert IDirectorySearch to IDirectoryObject. Error = 80004002\r\n" +
             "Error:  Cannot get information from @\r\n",
         {}, catalogueBinds},
        // The last X500 address: beamer.pool has an older one first; room.tromso's value is stored with a trailing
        // blank, which the server's matching ignores; accounts in two OUs.
        {"targets", dc, {L"beamer.pool", L"room.tromso", L"j\u00fcrgen.m\u00fcller"}, "", connect,
         {L"beamer.pool", L"room.tromso", L"j\u00fcrgen.m\u00fcller"}},
        // An empty X500 address, none, no proxyAddresses at all, no account, one held by a restored copy too, one
        // holding a line feed.
        {"lines without a target", dc,
         {L"helpdesk", L"journal.archive", L"f.employee", L"zo\u00eb.\u0436", L"room.bergen", L"room.split"}, "",
         connect + NoTarget(L"helpdesk") + NoTarget(L"journal.archive") + NoTarget(L"f.employee") +
             NoTarget(L"zo\u00eb.\u0436") + NoTarget(L"room.bergen", "Several accounts carry") +
             NoTarget(L"room.split", "Control character in UserDNTrg for")},
        // The second column read is the proxyAddresses of the one row: an unset column is an account without them.
        {"column not set", dc, oslo, "fail GetColumn 2 0x80005010\n", connect + NoTarget(L"room.oslo")},
        {"every text type", dc, two, "value-type 1 1\nvalue-type 2 2\nvalue-type 3 4\nvalue-type 4 3\n", connect,
         two},
        // 601 distinct values take three paged searches with a time limit and no referral chasing, a line equal to
        // the first but for case none; the rows after a page the server ends inside the first (ERROR_MORE_DATA
        // pending) still count.
        {"601 values", dc, bulkLines, "more-data 100\n", connect + NoTarget(L"nobody"), bulk,
         "SetSearchPreference scope=2 pagesize=500 timeout=60 referrals=0\nExecuteSearch "},
        // The same lines from a server that answers the binds and the first search, and then nothing: a minute.
        {"silent after one search", Server(L"stall"), bulkLines, "", stopped},
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
        RunCase({steering, dc, two, steering, stopped});
    }
    for (const std::string& server : {std::string("127.0.0.1:1"), std::string("dc01.nowhere.invalid"),
                                      std::string(), Server(L"silent")}) {
        RunCase({server, server, two, "", stopped});
    }
}

} // namespace
