// Every MAPI call a whole run makes is failed in turn, at its use for the first mailbox and again at its use for
// the later one, the cases read from the call record of an undisturbed run; so is every MAPI allocation. Each
// run must end in order with the lines its failure calls for, keep no profile it made unless the platform
// refused the deletion (and the transcript says so), give back every MAPI object and buffer without a misuse,
// and leave every mailbox with its earlier switch message untouched or one complete new one.
#include "e2e/WholeRun.h"

#include "errors/Text.h"

#include <mapicode.h>
#include <mapitags.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

namespace {

using namespace E2e;

// A network failure is what a real run meets most; the text makes each object's GetLastError answer.
constexpr HRESULT injected = MAPI_E_NETWORK_ERROR;
const wchar_t injectedText[] = L"Injected by the fault sweep.";

// What a failure does to the mailbox whose step makes the call.
enum Outcome {
    Unharmed, // the step does not depend on the call's result: the mailbox goes through as usual
    NoAdmin, // no profile is begun: only the mailbox's failure line
    NeverMade, // the profile is not made, and the deletion of its name is refused too: the name stays listed
    Service, // the Exchange service fails with the call's result
    Switch, // the switch message fails with the call's result
    AfterRecreated, // the switch message fails after its "recreated" line, with the call's result
    OutOfMemory, // the run stops on the error no mailbox handles; its profiles are removed first
};

// The calls of one mailbox's step in order, for a mailbox that holds a switch message to recreate, by what their
// failure does; then its MAPI allocations, which the call record leaves out: the service's two values, the copy
// of its UID, the entry identifier found, the subject, the delete list; the server's and the mailbox's names,
// the subject's text, the delete list's identifiers and their bytes.
const std::pair<Outcome, std::vector<const char*>> mailboxSteps[] = {
    {NoAdmin, {"MAPIAdminProfiles"}},
    {NeverMade, {"IProfAdmin::CreateProfile"}},
    {Service,
     {"MAPIAdminProfiles", "IProfAdmin::AdminServices", "IMsgServiceAdmin::CreateMsgService",
      "IMsgServiceAdmin::GetMsgServiceTable", "IMAPITable::SetColumns", "IMAPITable::Restrict", "IMAPITable::SeekRow",
      "IMAPITable::GetRowCount", "IMAPITable::QueryRows", "HrQueryAllRows", "IMsgServiceAdmin::ConfigureMsgService"}},
    {Switch,
     {"MAPILogonEx", "IMAPISession::GetMsgStoresTable", "IMAPITable::SetColumns", "IMAPITable::SeekRow",
      "IMAPITable::GetRowCount", "IMAPITable::QueryRows", "HrQueryAllRows", "IMAPISession::OpenMsgStore",
      "IMsgStore::GetReceiveFolder", "IMsgStore::OpenEntry", "IMAPIFolder::GetContentsTable", "IMAPITable::SetColumns",
      "IMAPITable::Restrict", "IMAPITable::SeekRow", "IMAPITable::GetRowCount", "IMAPITable::QueryRows",
      "HrQueryAllRows"}},
    {AfterRecreated,
     {"IMAPIFolder::CreateMessage", "IMessage::SetProps", "IMessage::OpenProperty", "IStream::Write", "IStream::Commit",
      "IMessage::SaveChanges", "IMAPIFolder::DeleteMessages"}},
    {Unharmed, {"IMAPISession::Logoff"}},
    {Service, {"MAPIAllocateBuffer"}},
    {OutOfMemory, {"MAPIAllocateBuffer", "MAPIAllocateBuffer"}},
    {AfterRecreated, {"MAPIAllocateBuffer", "MAPIAllocateBuffer"}},
    {Service, {"MAPIAllocateMore", "MAPIAllocateMore"}},
    {AfterRecreated, {"MAPIAllocateMore", "MAPIAllocateMore", "MAPIAllocateMore"}},
};

// The phase of the run a failed call belongs to.
enum class Phase { MapiStart, Mailbox, Idle, CleanupStart, Cleanup };

struct Fault {
    std::string call; // none: the run's world alone makes the case
    ULONG use = 0;
    Phase phase = Phase::Mailbox;
    size_t mailbox = 0; // the mailbox of a Mailbox or Cleanup phase, in list order
    Outcome outcome = Unharmed;
    HRESULT result = injected;
    std::string Name() const { return call + " (use " + std::to_string(use) + ")"; }
};

// How a case's world differs from the sweep's: the first mailbox's, and the configuration's RecreateSwitchMsg.
struct World {
    std::function<void(MapiDouble::Mailbox&)> change;
    std::string recreate = "1";
};

// A result as the transcript shows it, written here rather than by the product's own formatting.
std::string Code(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(result));
    return text;
}

const std::wstring Subject = L"{0E85BD11-6D96-48dd-B20A-DF8108F272D7}";

MapiDouble::Message Message(const std::wstring& body, const std::wstring& subject = Subject)
{
    MapiDouble::Message message;
    message.Associated = true;
    message.Props = {MapiDouble::UnicodeProperty(PR_SUBJECT_W, subject), MapiDouble::UnicodeProperty(PR_BODY_W, body)};
    return message;
}

std::vector<std::wstring> Texts(const MapiDouble::Message& message)
{
    std::vector<std::wstring> texts;
    for (const MapiDouble::Property& property : message.Props) {
        texts.push_back(property.Text);
    }
    return texts;
}

class MapiFaultSweep : public WholeRun {
protected:
    // In list order (sorted by source line): the first mailbox, then the later one.
    const std::vector<std::wstring> names{L"reception", L"room.oslo"};
    // Long enough that the body goes through a stream rather than SetProps.
    const std::string targetServer = "TGTEX01." + std::string(5000, 'x');
    const MapiDouble::Message earlier = Message(L"[ZPH 4.0]\nTargetServer=OLDEX01");

    std::wstring NewBody(size_t mailbox) const
    {
        return L"[ZPH 4.0]\nTargetServer=" + ToWide(targetServer) + L"\nTargetMailboxDN=" + Target(names[mailbox]) +
               L"\nMBMatchKeyTag=X500\nPFMatchKeyTag=X500";
    }

    // Each mailbox holds a switch message from an earlier run, so that the step also deletes one.
    void SeedWorld(const World& world)
    {
        StartAfresh();
        Configuration configuration;
        configuration.Mailboxes = {Source(names[0]), Source(names[1])};
        configuration.SwitchMessage =
            "TargetServer=" + targetServer + "\nVersion=v4\nRecreateSwitchMsg=" + world.recreate + "\n";
        Write(configuration);
        SeedMailboxes(configuration.Mailboxes);
        std::vector<MapiDouble::Mailbox> mailboxes = MapiState().LoadMailboxes();
        for (MapiDouble::Mailbox& mailbox : mailboxes) {
            mailbox.Messages.push_back(earlier);
        }
        if (world.change) {
            world.change(mailboxes[0]);
        }
        MapiState().SaveMailboxes(mailboxes);
        recreating = world.recreate == "1";
    }

    // Whatever failed, each mailbox holds its earlier switch message as it was or one complete new one, never a
    // partial one or two.
    void ExpectWholeMailboxes() const
    {
        const std::vector<MapiDouble::Mailbox> mailboxes = MapiState().LoadMailboxes();
        ASSERT_EQ(names.size(), mailboxes.size());
        for (size_t index = 0; index < names.size(); ++index) {
            const std::vector<MapiDouble::Message>& messages = mailboxes[index].Messages;
            ASSERT_EQ(1u, messages.size()) << ToNarrow(names[index]) << ": one switch message";
            EXPECT_TRUE(Texts(messages[0]) == Texts(earlier) || Texts(messages[0]) == Texts(Message(NewBody(index))))
                << ToNarrow(names[index]) << ": neither the earlier message nor a complete new one";
        }
    }

    static std::vector<std::string> CallNames(const std::string& record)
    {
        std::vector<std::string> calls;
        std::istringstream lines(record);
        for (std::string line; std::getline(lines, line);) {
            calls.push_back(line.substr(0, line.find(' ')));
        }
        return calls;
    }

    // Every call of an undisturbed run, each numbered by its use and with what its failure does, then every
    // allocation, as the record of such a run and the count of its allocations must show them.
    std::vector<Fault> RunFaults()
    {
        std::vector<Fault> faults;
        std::vector<std::string> known; // the calls the record must show
        std::map<std::string, ULONG> uses;
        const auto add = [&](const std::string& call, Phase phase, size_t mailbox, Outcome outcome) {
            const bool allocation = call.find("MAPIAllocate") == 0;
            faults.push_back(
                Fault{call, ++uses[call], phase, mailbox, outcome, allocation ? MAPI_E_NOT_ENOUGH_MEMORY : injected});
            if (!allocation) {
                known.push_back(call);
            }
        };
        add("MAPIInitialize", Phase::MapiStart, 0, Unharmed);
        for (size_t mailbox = 0; mailbox < names.size(); ++mailbox) {
            for (const auto& step : mailboxSteps) {
                for (const char* call : step.second) {
                    add(call, Phase::Mailbox, mailbox, step.first);
                }
            }
        }
        add("MAPIUninitialize", Phase::Idle, 0, Unharmed);
        add("MAPIInitialize", Phase::CleanupStart, 0, Unharmed);
        for (size_t mailbox = 0; mailbox < names.size(); ++mailbox) {
            add("MAPIAdminProfiles", Phase::Cleanup, mailbox, Unharmed);
            add("IProfAdmin::DeleteProfile", Phase::Cleanup, mailbox, Unharmed);
        }
        add("MAPIUninitialize", Phase::Idle, 0, Unharmed);

        SeedWorld(World());
        const ULONG never = 1000000; // counts the allocations without failing one
        FailMapiCall(L"MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, L"", never);
        FailMapiCall(L"MAPIAllocateMore", MAPI_E_NOT_ENOUGH_MEMORY, L"", never);
        Run();
        EXPECT_EQ(Expected({Unharmed, Unharmed}), Transcript());
        EXPECT_EQ((std::vector<ULONG>{uses["MAPIAllocateBuffer"], uses["MAPIAllocateMore"]}), MapiState().LoadUses())
            << "the run's MAPI allocations changed: update the sweep's steps";
        const std::vector<std::string> recorded = CallNames(MapiState().LoadCalls());
        // An allocation shows in the record only when refused, and is swept as it is.
        referenceCalls = std::set<std::string>(recorded.begin(), recorded.end());
        referenceCalls.insert({"MAPIAllocateBuffer", "MAPIAllocateMore"});
        EXPECT_EQ(known, recorded) << "the run's MAPI calls changed: update the sweep's steps";
        return known == recorded ? faults : std::vector<Fault>();
    }

    static std::string Shown(int profile) { return "{profile-" + std::to_string(profile) + "}"; }

    // What the run prints when each mailbox meets its outcome (a failure with the given result), the clean-up
    // pass is refused the deletion of the mailbox `refused`, and `deleteRefused` says whether a failed mailbox's
    // own deletion was refused too.
    std::string Expected(const std::vector<Outcome>& outcomes, HRESULT result = injected, size_t refused = 2,
                         bool deleteRefused = false) const
    {
        int shown = 0;
        std::string text = Connected() + "Info: Create profiles and check the switch message. \r\n";
        std::vector<std::pair<size_t, int>> listed; // mailbox, its profile's number (0 until first shown)
        bool failed = false;
        for (size_t mailbox = 0; mailbox < outcomes.size(); ++mailbox) {
            const std::string deleteLine =
                "Error: Cannot delete a profile for mailbox = " + ToNarrow(Source(names[mailbox])) + "\r\n";
            const Outcome outcome = outcomes[mailbox];
            const int profile = outcome == Unharmed || outcome == AfterRecreated ? ++shown : 0;
            const std::string recreated = "Info: Switch message is recreated for profile " + Shown(profile) + "\r\n";
            const std::string code = ". Error = " + Code(result) + "\r\n";
            if (outcome == OutOfMemory) {
                return text + "Error: The run stopped: out of memory\r\n";
            }
            if (outcome == Unharmed) {
                text += recreating ? recreated + "Info: Switch message content for profile " + Shown(profile) +
                                         " is \r\n[ZPH 4.0]\r\nTargetServer=" + targetServer +
                                         "\r\nTargetMailboxDN=" + ToNarrow(Target(names[mailbox])) +
                                         "\r\nMBMatchKeyTag=X500\r\nPFMatchKeyTag=X500\r\n"
                                   : "";
                listed.emplace_back(mailbox, profile);
                continue;
            }
            text += outcome == NeverMade ? deleteLine
                    : outcome == Service ? "Error: Cannot create service MSEMS" + code
                                         : "";
            text += outcome == AfterRecreated ? recreated : "";
            text += outcome == Switch || outcome == AfterRecreated ? "Error: Cannot create Switch message" + code : "";
            const bool undeletable = deleteRefused && outcome != NoAdmin && outcome != NeverMade;
            text += undeletable ? deleteLine : "";
            if (undeletable || outcome == NeverMade) {
                listed.emplace_back(mailbox, profile);
            }
            text += "Error: Cannot create a profile for mailbox = " + ToNarrow(Source(names[mailbox])) + "\r\n";
            failed = true;
        }
        if (listed.empty()) {
            return text + "No profiles to update were found!\r\nCompleted with exitCode = 64\r\n";
        }
        std::string profiles;
        for (auto& entry : listed) {
            entry.second = entry.second == 0 ? ++shown : entry.second;
            profiles += " \"" + Shown(entry.second) + "\"";
        }
        text += ChildRuns(profiles);
        for (const auto& entry : listed) {
            if (outcomes[entry.first] == NeverMade || entry.first == refused) {
                text += "Error: Cannot delete a profile for mailbox = " + ToNarrow(Source(names[entry.first])) + "\r\n";
                failed = true; // a profile left behind is a failed mailbox
            }
        }
        return text + "Completed with exitCode = " + (failed ? "32" : "0") + "\r\n";
    }

    std::string ExpectedOf(const Fault& fault, bool deleteRefused) const
    {
        std::vector<Outcome> outcomes(names.size(), Unharmed);
        outcomes[fault.mailbox] = fault.phase == Phase::Mailbox ? fault.outcome : Unharmed;
        const std::string whole = Expected(outcomes, fault.result, 2, deleteRefused);
        switch (fault.phase) {
        case Phase::MapiStart:
            return Connected() + "Error: Cannot load MAPIInitialize \r\n";
        case Phase::CleanupStart:
            return whole.substr(0, whole.rfind("Completed")) +
                   "Error: Cannot load MAPIInitialize to remove the profiles. Error = " + Code(fault.result) + "\r\n";
        case Phase::Cleanup:
            return Expected(outcomes, fault.result, fault.mailbox);
        default:
            return whole;
        }
    }

    // One case: a fresh world, the fault (and any further ones), one run, and everything it must have left.
    void RunCase(const Fault& fault, const std::vector<Fault>& further = {}, bool deleteRefused = false,
                 const World& world = World())
    {
        SCOPED_TRACE(fault.Name());
        BeginCase();
        SeedWorld(world);
        for (const Fault& each : further) {
            FailMapiCall(ToWide(each.call), each.result, L"", each.use, injectedText);
        }
        if (!fault.call.empty()) {
            FailMapiCall(ToWide(fault.call), fault.result, L"", fault.use, injectedText);
        }
        Run();
        const std::string expected = ExpectedOf(fault, deleteRefused);
        EXPECT_EQ(expected, Transcript());
        // A run that cannot start MAPI does nothing and says so; one that stops on an error no mailbox handles
        // reports it; every other states its exit code last.
        const size_t completed = expected.rfind("Completed with exitCode = ");
        const DWORD stopped = fault.phase == Phase::MapiStart ? 0 : 16;
        EXPECT_EQ(completed == std::string::npos ? stopped : std::stoul(expected.substr(completed + 26)),
                  last.ExitCode);
        EXPECT_EQ(fault.phase == Phase::CleanupStart ? 2u
                  : fault.phase == Phase::Cleanup    ? 1u
                                                     : 0u,
                  MapiState().LoadProfiles().size())
            << "profiles left behind, other than those the transcript reports";
        ExpectNoLeaks();
        // The guarantee holds for one failure; when putting things back fails as well, MAPI allows no more.
        if (further.empty()) {
            ExpectWholeMailboxes();
        }
        EndCase();
        for (const std::string& call : CallNames(MapiState().LoadCalls())) {
            if (referenceCalls.count(call) == 0) {
                errorPathCalls.emplace(call, fault);
            }
        }
    }

    bool recreating = true;
    std::set<std::string> referenceCalls;
    // Calls that only a failure brings about (the failed object's GetLastError), with the first such failure.
    std::map<std::string, Fault> errorPathCalls;
};

TEST_F(MapiFaultSweep, EveryCallAndAllocationOfTheFirstMailboxAndTheRunAround)
{
    for (const Fault& fault : RunFaults()) {
        if (fault.phase != Phase::Mailbox || fault.mailbox == 0) {
            RunCase(fault);
        }
    }
    // A failed mailbox whose profile cannot be deleted either keeps it listed for the child and the clean-up.
    const Fault refusedDeletion{"IProfAdmin::DeleteProfile", 1};
    RunCase(Fault{"IProfAdmin::AdminServices", 1, Phase::Mailbox, 0, Service}, {refusedDeletion}, true);
    RunCase(Fault{"MAPILogonEx", 1, Phase::Mailbox, 0, Switch}, {refusedDeletion}, true);
    // Each call only a failure brings about fails too, after the first failure that brought it about.
    for (const auto& found : std::map<std::string, Fault>(errorPathCalls)) {
        std::cout << "[ error    ] " << found.first << " after " << found.second.Name() << std::endl;
        RunCase(found.second, {Fault{found.first, 1}});
    }
}

TEST_F(MapiFaultSweep, EveryCallAndAllocationOfTheLaterMailbox)
{
    for (const Fault& fault : RunFaults()) {
        if (fault.phase == Phase::Mailbox && fault.mailbox == 1) {
            RunCase(fault);
        }
    }
}

// Worlds the sweep's own does not show: a second copy that differs in case, copies the run must leave, stores to
// choose among, a store that refuses a value, and a deletion that only partly completes.
TEST_F(MapiFaultSweep, StoresEarlierCopiesAndRefusedValues)
{
    const std::pair<Fault, World> cases[] = {
        {Fault(), World{[](MapiDouble::Mailbox& mailbox) {
             mailbox.Messages.push_back(Message(L"copy", L"{0e85bd11-6d96-48dd-b20a-df8108f272d7}"));
         }}},
        {Fault(), World{nullptr, "0"}},
        {Fault(), World{[](MapiDouble::Mailbox& mailbox) {
             mailbox.Stores = {L"pst", L"private"}, mailbox.DefaultStore = L"pst";
         }}},
        {Fault{"", 0, Phase::Mailbox, 0, Switch, MAPI_E_NOT_FOUND},
         World{[](MapiDouble::Mailbox& mailbox) { mailbox.Stores = {L"pst"}; }}},
        {Fault{"", 0, Phase::Mailbox, 0, AfterRecreated, MAPI_E_NOT_ENOUGH_MEMORY},
         World{[](MapiDouble::Mailbox& mailbox) { mailbox.ValueLimit = 64; }}},
        {Fault{"IMAPIFolder::DeleteMessages", 1, Phase::Mailbox, 0, AfterRecreated, MAPI_W_PARTIAL_COMPLETION},
         World()},
    };
    for (const auto& each : cases) {
        RunCase(each.first, {}, false, each.second);
    }
}

// Version 5 keeps version 4's match keys before its on-premises lines.
TEST_F(MapiFaultSweep, VersionFiveKeepsTheMatchKeys)
{
    SeedWorld(World());
    Configuration configuration;
    configuration.Mailboxes = {Source(names[0])};
    configuration.SwitchMessage = "TargetServer=TGTEX01\nVersion=v5\nRecreateSwitchMsg=1\nDomainName=CONTOSO\n"
                                  "DomainControllers=DC01\nExchangeServers=TGTEX01\n";
    Write(configuration);
    Run();
    const std::vector<MapiDouble::Message> messages = MapiState().LoadMailboxes().at(0).Messages;
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(
        (std::vector<std::wstring>{Subject, L"[ZPH 5.0]\nTargetServer=TGTEX01\nTargetMailboxDN=" + Target(names[0]) +
                                                L"\nMBMatchKeyTag=X500\nPFMatchKeyTag=X500\n"
                                                L"IsMAPIEncryptionRequired=-1\nDomainName=CONTOSO\n"
                                                L"DomainControllers=DC01\nExchangeServers=TGTEX01"}),
        Texts(messages[0]));
    ExpectNothingLeftBehind();
}

} // namespace
