// The directory phase of whole runs: what the tool binds and asks, the target it takes from the rows, and how each
// failure stops the load. The fixture's DCs are bound through Wine's own provider; through the activeds double only
// where a run steers ADSI or binds a global catalogue, which Wine lacks.
#include "e2e/WholeRun.h"

#include <regex>
#include <set>
#include <sstream>

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
    std::vector<std::wstring> targets = {}; // the names given a mailbox, found a target and made a profile, in order
    std::string calls = {};                 // in the activeds double's record
};

std::string WithServer(const std::string& text, const std::string& server)
{
    return std::regex_replace(text, std::regex("@"), server); // no server name holds a '$'
}

// The searches a run over `lines` asks the activeds double: each value once, in its first spelling, 250 a search.
std::string Searches(const std::vector<std::wstring>& lines)
{
    const std::string start = "ExecuteSearch filter=(&(objectClass=user)(|";
    const std::string end = ")) attributes=legacyExchangeDN;proxyAddresses\n";
    const std::string dn = "(legacyExchangeDN=/o=Fabrikam/ou=Exchange Administrative Group \\28FYDIBOHF23SPDLT\\29";
    std::string searches;
    std::set<std::wstring> seen;
    for (const std::wstring& line : lines) {
        std::wstring key = line;
        if (seen.insert(::CharUpperW(&key[0])).second) {
            searches += seen.size() % 250 != 1 ? "" : (searches.empty() ? "" : end) + start;
            searches += dn + "/cn=Recipients/cn=" + ToNarrow(line) + ")";
        }
    }
    return searches.empty() ? "" : searches + end;
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
        ::DeleteFileW((tool / L"activeds.dll").c_str());
        if (viaDouble) {
            TestSupport::CopyInto(TestSupport::DoublesDirectory() + L"\\activeds.dll", tool.Path());
        }
        Write({Configuration().Settings, Sources(test.lines), DirectoryKeys(test.server),
               Configuration().SwitchMessage});
        SeedMailboxes(Sources(test.targets));
        TestSupport::WriteBytes(adsi / L"steering.txt", test.steering);
        EXPECT_EQ(test.targets.empty() ? 64u : 0u, Run().ExitCode);
        std::string expected = WithServer(test.printed, test.server) + (test.targets.empty() ? noProfiles : pass);
        std::string profiles;
        for (size_t index = 0; index < test.targets.size(); ++index) {
            expected += Created(static_cast<int>(index + 1), test.targets[index]);
            profiles += " \"{profile-" + std::to_string(index + 1) + "}\"";
        }
        expected += test.targets.empty() ? "" : ChildRuns(profiles) + Completed(0);
        const std::string calls = TestSupport::ReadBytes(adsi / L"calls.txt");
        EXPECT_NE(std::string::npos, calls.find(WithServer(test.calls, test.server))) << calls;
        std::istringstream record(calls);
        std::string searches;
        for (std::string line; std::getline(record, line);) {
            searches += line.rfind("ExecuteSearch ", 0) == 0 ? line + "\n" : "";
        }
        // A run the directory stops asks only the first of them.
        const std::string asked = viaDouble ? Searches(test.lines) : "";
        EXPECT_EQ(test.targets.empty() ? asked.substr(0, searches.size()) : asked, searches);
        ExpectWorld(expected);
    }
};

TEST_F(DirectoryFaults, BindsWhatTheRootNamesAndTakesEachLinesTargetOrWarns)
{
    const std::vector<std::wstring> oslo = {L"room.oslo"};
    const std::vector<std::wstring> two = {L"beamer.pool", L"room.oslo"};
    const std::vector<std::wstring> bulk = Bulk(1, 600);
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
        // The last X500 address, its prefix in any case (beamer.pool's older one is first); room.tromso's is
        // stored with a trailing blank, which the server's matching ignores; accounts in two OUs.
        {"targets", dc, {L"beamer.pool", L"room.tromso", L"j\u00fcrgen.m\u00fcller"}, "", connect,
         {L"beamer.pool", L"j\u00fcrgen.m\u00fcller", L"room.tromso"}},
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
        // 601 values take three paged searches (a time limit, no referrals), a line equal to the first but for case
        // none; rows after a page the server ends inside the first (ERROR_MORE_DATA pending) still count.
        {"601 values", dc, bulkLines, "more-data 100\n", connect + NoTarget(L"nobody"), bulk,
         "SetSearchPreference scope=2 pagesize=500 timeout=60 referrals=0\nExecuteSearch "},
        // The same lines from a server that answers the binds and the first search, and then nothing: a minute.
        {"silent after one search", ToNarrow(DirectoryServer(L"stall")), bulkLines, "", stopped},
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
                                      std::string(), ToNarrow(DirectoryServer(L"silent"))}) {
        const ULONGLONG started = ::GetTickCount64();
        RunCase({server, server, two, "", stopped});
        EXPECT_EQ(server.rfind(dc + ":", 0) == 0, ::GetTickCount64() - started >= 60000) << "its minute";
    }
}

} // namespace
