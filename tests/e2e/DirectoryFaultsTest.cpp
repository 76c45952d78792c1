// The directory failing under a whole run: a server that is not there, a bind refused, every search call of the
// run refused at its first use and at its last. The load stops with its line, the run ends
// with nothing to do, and every directory object is given back.
#include "e2e/WholeRun.h"

#include "errors/Text.h"

#include <set>

namespace {

using namespace E2e;

class DirectoryFaults : public WholeRun {
protected:
    void SetUp() override
    {
        WholeRun::SetUp();
        Write(TwoMailboxes());
    }


    static Configuration TwoMailboxes(const std::string& directory = "")
    {
        Configuration configuration;
        configuration.Mailboxes = {Source(L"room.oslo"), Source(L"reception")};
        configuration.Directory = directory;
        return configuration;
    }

    static std::string DirectoryOn(const std::string& server)
    {
        return "DCName=" + server + "\nDCAccount=CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com\n" +
               "DCPassword=" + StoredServicePassword() + "\n";
    }

    std::string Stopped(const std::string& server, const std::string& before = "") const
    {
        return "Info: Connect to the Active Directory server '" + server + "' using LDAP.\r\n" + before +
               "Error:  Cannot get information from " + server + "\r\n" + noProfiles;
    }

    // One case: a fresh world steered as given, one run, its transcript and what it left.
    void RunCase(const std::string& what, const std::string& steering, const std::string& expected)
    {
        SCOPED_TRACE(what);
        BeginCase();
        StartAfresh();
        SeedMailboxes({Source(L"room.oslo"), Source(L"reception")});
        SteerDirectory(steering);
        EXPECT_EQ(64u, Run().ExitCode);
        EXPECT_EQ(expected, Transcript());
        ExpectNothingLeftBehind();
        EndCase();
    }
};

TEST_F(DirectoryFaults, EverySteerableCallRefusedAtItsFirstAndLaterUse)
{
    // The run binds twice (the root DSE, then the naming context) and searches once for both mailbox lines,
    // reading of each account found its legacyExchangeDN and its proxy addresses.
    StartAfresh();
    SeedMailboxes({Source(L"room.oslo"), Source(L"reception")});
    Run();
    ASSERT_EQ(0u, last.ExitCode) << "the undisturbed run failed";
    const std::string record = TestSupport::ReadBytes(adsi / L"calls.txt");
    auto uses = [&record](const std::string& call) {
        size_t count = 0;
        for (size_t at = record.find(call + " "); at != std::string::npos; at = record.find(call + " ", at + 1)) {
            count += at == 0 || record[at - 1] == '\n' ? 1 : 0;
        }
        return count;
    };
    ASSERT_EQ(2u, uses("ADsOpenObject"));
    const size_t searches = uses("ExecuteSearch");
    ASSERT_EQ(1u, searches);

    // For each call a refusal a real server gives.
    const struct {
        const char* call;
        size_t uses;
        const char* result;
    } calls[] = {
        {"ADsOpenObject", uses("ADsOpenObject"), "0x8007052e"},             // logon failure: the bind refused
        {"SetSearchPreference", uses("SetSearchPreference"), "0x80005008"}, // E_ADS_BAD_PARAMETER
        {"ExecuteSearch", searches, "0x8007203e"},                          // the filter refused
        {"GetFirstRow", searches, "0x800705b4"},                            // no answer within the time limit
        {"GetColumn", 2 * 2, "0x8007000e"},                                 // out of memory
    };
    const std::string server = ToNarrow(DirectoryServer());
    for (const auto& call : calls) {
        for (const size_t use : std::set<size_t>{1, call.uses}) {
            RunCase(std::string(call.call) + " use " + std::to_string(use),
                    "fail " + std::string(call.call) + " " + std::to_string(use) + " " + call.result + "\n",
                    Stopped(server));
        }
    }
}

TEST_F(DirectoryFaults, ServersThatCannotBeReachedOrServed)
{
    // Nothing listens on port 1 of this machine; the name cannot be resolved; an empty name counts as given.
    for (const std::string server : {"127.0.0.1:1", "dc01.nowhere.invalid", ""}) {
        Write(TwoMailboxes(DirectoryOn(server)));
        RunCase("server " + server, "", Stopped(server));
    }

    // A global catalogue whose search object does not lead to the directory object.
    const std::string catalog = ToNarrow(DirectoryServer(L"gc"));
    Write(TwoMailboxes(DirectoryOn(catalog)));
    RunCase("global catalogue refusing IDirectoryObject", "refuse-directory-object 0x80004002\n",
            Stopped(catalog, "Error: Cannot convert IDirectorySearch to IDirectoryObject. Error = 80004002\r\n"));

    // A root DSE whose flag is no text (Wine's provider answers a boolean for an attribute of Boolean syntax) is
    // read as no global catalogue's: the domain's naming context is searched.
    StartAfresh();
    SeedMailboxes({Source(L"room.oslo"), Source(L"reception")});
    SteerDirectory("boolean-get\n");
    EXPECT_EQ(0u, Run().ExitCode);
    EXPECT_EQ(0u, Transcript().find("Info: Connect to the Active Directory server '" + catalog + "' using LDAP.\r\n" +
                                    "Warning: Server '" + catalog + "' is not a Global Catalogue\r\n"))
        << Transcript();
    ExpectNothingLeftBehind();
}

} // namespace
