// Every MAPI call a whole run makes is failed in turn, at its use for the first mailbox and again at its use for
// the later one, the cases read from the call record of an undisturbed run. Each run must end in order with the
// lines its failure calls for, keep no profile it made unless the platform refused the deletion (and the
// transcript says so), give back every MAPI object and buffer without a misuse, and leave every mailbox with
// its earlier switch message untouched or one complete new one.
#include "e2e/WholeRun.h"

#include "errors/Text.h"

#include <mapicode.h>
#include <mapitags.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <map>
#include <set>

namespace {

using namespace E2e;

// A network failure is what a real run meets most; the text makes each object's GetLastError answer.
constexpr HRESULT injected = MAPI_E_NETWORK_ERROR;
const wchar_t injectedText[] = L"Injected by the fault sweep.";

// What a failure does to the mailbox whose step makes the call.
enum class Outcome {
    Unharmed,       // the step does not depend on the call's result: the mailbox goes through as usual
    NoAdmin,        // no profile is begun: only the mailbox's failure line
    NeverMade,      // the profile is not made, and the deletion of its name is refused too: the name stays listed
    Service,        // the Exchange service fails with the call's result
    SwitchMessage,  // the switch message fails with the call's result
    AfterRecreated, // the switch message fails after its "recreated" line, with the call's result
    OutOfMemory,    // the run stops on the error no mailbox handles; its profiles are removed first
};

struct Step {
    const char* call;
    Outcome outcome;
};

// The calls of one mailbox's step, in order, for a mailbox that holds a switch message to recreate.
const Step mailboxSteps[] = {
    {"MAPIAdminProfiles", Outcome::NoAdmin},
    {"IProfAdmin::CreateProfile", Outcome::NeverMade},
    {"MAPIAdminProfiles", Outcome::Service},
    {"IProfAdmin::AdminServices", Outcome::Service},
    {"IMsgServiceAdmin::CreateMsgService", Outcome::Service},
    {"IMsgServiceAdmin::GetMsgServiceTable", Outcome::Service},
    {"IMAPITable::SetColumns", Outcome::Service},
    {"IMAPITable::Restrict", Outcome::Service},
    {"IMAPITable::SeekRow", Outcome::Service},
    {"IMAPITable::GetRowCount", Outcome::Service},
    {"IMAPITable::QueryRows", Outcome::Service},
    {"HrQueryAllRows", Outcome::Service},
    {"IMsgServiceAdmin::ConfigureMsgService", Outcome::Service},
    {"MAPILogonEx", Outcome::SwitchMessage},
    {"IMAPISession::GetMsgStoresTable", Outcome::SwitchMessage},
    {"IMAPITable::SetColumns", Outcome::SwitchMessage},
    {"IMAPITable::SeekRow", Outcome::SwitchMessage},
    {"IMAPITable::GetRowCount", Outcome::SwitchMessage},
    {"IMAPITable::QueryRows", Outcome::SwitchMessage},
    {"HrQueryAllRows", Outcome::SwitchMessage},
    {"IMAPISession::OpenMsgStore", Outcome::SwitchMessage}, // the mailbox's own error, not "not found"
    {"IMsgStore::GetReceiveFolder", Outcome::SwitchMessage},
    {"IMsgStore::OpenEntry", Outcome::SwitchMessage},
    {"IMAPIFolder::GetContentsTable", Outcome::SwitchMessage}, // not knowing is not finding none
    {"IMAPITable::SetColumns", Outcome::SwitchMessage},
    {"IMAPITable::Restrict", Outcome::SwitchMessage},
    {"IMAPITable::SeekRow", Outcome::SwitchMessage},
    {"IMAPITable::GetRowCount", Outcome::SwitchMessage},
    {"IMAPITable::QueryRows", Outcome::SwitchMessage},
    {"HrQueryAllRows", Outcome::SwitchMessage},
    {"IMAPIFolder::CreateMessage", Outcome::AfterRecreated},
    {"IMessage::SetProps", Outcome::AfterRecreated},
    {"IMessage::OpenProperty", Outcome::AfterRecreated},
    {"IStream::Write", Outcome::AfterRecreated},
    {"IStream::Commit", Outcome::AfterRecreated},
    {"IMessage::SaveChanges", Outcome::AfterRecreated},
    {"IMAPIFolder::DeleteMessages", Outcome::AfterRecreated}, // the new message is taken back
    {"IMAPISession::Logoff", Outcome::Unharmed},
};

// MAPI memory, which the call record leaves out unless refused: the allocations of one mailbox's step in order.
const Outcome bufferSteps[] = {
    Outcome::Service,        // the service's two property values
    Outcome::OutOfMemory,    // the copy of the service's UID
    Outcome::OutOfMemory,    // the entry identifier of the switch message found
    Outcome::AfterRecreated, // the subject's value (the long body goes through a stream)
    Outcome::AfterRecreated, // the list of messages to delete
};
const Outcome moreSteps[] = {
    Outcome::Service,        // the server's name on the service's values
    Outcome::Service,        // the mailbox's name on the service's values
    Outcome::AfterRecreated, // the subject's text
    Outcome::AfterRecreated, // the identifiers of the list of messages to delete
    Outcome::AfterRecreated, // the one identifier's bytes
};

// The phase of the run a failed call belongs to.
enum class Phase { MapiStart, Mailbox, Idle, CleanupStart, Cleanup };

struct Fault {
    std::string call;
    ULONG use = 0;
    HRESULT result = injected;
    Phase phase = Phase::Idle;
    size_t mailbox = 0; // the mailbox of a Mailbox or Cleanup phase, in list order
    size_t step = 0;    // the call's place in the mailbox's step
    Outcome outcome = Outcome::Unharmed;
    std::string Name() const { return call + " (use " + std::to_string(use) + ")"; }
};

class MapiFaultSweep : public WholeRun {
protected:
    // In list order (sorted by source line): the first mailbox, then the later one.
    const std::vector<std::wstring> names{L"reception", L"room.oslo"};
    // Long enough that the body goes through a stream rather than SetProps.
    const std::string targetServer = "TGTEX01." + std::string(5000, 'x');

    void SetUp() override
    {
        WholeRun::SetUp();
        Configuration configuration;
        for (const std::wstring& name : names) {
            configuration.Mailboxes.push_back(Source(name));
        }
        configuration.SwitchMessage = "TargetServer=" + targetServer + "\nVersion=v4\nRecreateSwitchMsg=1\n";
        Write(configuration);
    }

    static MapiDouble::Message SwitchMessage(const std::wstring& body)
    {
        MapiDouble::Message message;
        message.Associated = true;
        message.Props = {MapiDouble::UnicodeProperty(PR_SUBJECT_W, L"{0E85BD11-6D96-48dd-B20A-DF8108F272D7}"),
                         MapiDouble::UnicodeProperty(PR_BODY_W, body)};
        return message;
    }
    static MapiDouble::Message EarlierMessage() { return SwitchMessage(L"[ZPH 4.0]\nTargetServer=OLDEX01"); }
    MapiDouble::Message NewMessage(const std::wstring& name) const
    {
        return SwitchMessage(L"[ZPH 4.0]\nTargetServer=" + ToWide(targetServer) + L"\nTargetMailboxDN=" + Target(name) +
                             L"\nMBMatchKeyTag=X500\nPFMatchKeyTag=X500");
    }

    static bool SameTexts(const MapiDouble::Message& have, const MapiDouble::Message& want)
    {
        return std::equal(have.Props.begin(), have.Props.end(), want.Props.begin(), want.Props.end(),
                          [](const MapiDouble::Property& a, const MapiDouble::Property& b) {
                              return a.Tag == b.Tag && a.Text == b.Text;
                          });
    }

    // Each mailbox holds a switch message from an earlier run, so that the step also deletes one.
    void SeedWorld()
    {
        StartAfresh();
        SeedMailboxes({Source(names[0]), Source(names[1])});
        std::vector<MapiDouble::Mailbox> mailboxes = MapiState().LoadMailboxes();
        for (MapiDouble::Mailbox& mailbox : mailboxes) {
            mailbox.Messages.push_back(EarlierMessage());
        }
        MapiState().SaveMailboxes(mailboxes);
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
            EXPECT_TRUE(SameTexts(messages[0], EarlierMessage()) || SameTexts(messages[0], NewMessage(names[index])))
                << ToNarrow(names[index]) << ": neither the earlier message nor a complete new one";
        }
    }

    static std::vector<std::string> CallNames(const std::string& record)
    {
        std::vector<std::string> calls;
        for (size_t begin = 0, end; begin < record.size(); begin = end + 1) {
            end = record.find('\n', begin);
            const std::string line = record.substr(begin, end - begin);
            calls.push_back(line.substr(0, line.find(' ')));
            if (end == std::string::npos) {
                break;
            }
        }
        return calls;
    }

    // Every call of an undisturbed run in order, each numbered by its use and with what its failure does.
    std::vector<Fault> RunCalls() const
    {
        std::vector<Fault> calls;
        std::map<std::string, ULONG> uses;
        auto add = [&](const std::string& call, Phase phase, size_t mailbox, size_t step, Outcome outcome) {
            Fault fault;
            fault.call = call;
            fault.use = ++uses[call];
            fault.phase = phase;
            fault.mailbox = mailbox;
            fault.step = step;
            fault.outcome = outcome;
            calls.push_back(fault);
        };
        add("MAPIInitialize", Phase::MapiStart, 0, 0, Outcome::Unharmed);
        for (size_t mailbox = 0; mailbox < names.size(); ++mailbox) {
            for (size_t step = 0; step < std::size(mailboxSteps); ++step) {
                add(mailboxSteps[step].call, Phase::Mailbox, mailbox, step, mailboxSteps[step].outcome);
            }
        }
        add("MAPIUninitialize", Phase::Idle, 0, 0, Outcome::Unharmed);
        add("MAPIInitialize", Phase::CleanupStart, 0, 0, Outcome::Unharmed);
        for (size_t mailbox = 0; mailbox < names.size(); ++mailbox) {
            add("MAPIAdminProfiles", Phase::Cleanup, mailbox, 0, Outcome::Unharmed);
            add("IProfAdmin::DeleteProfile", Phase::Cleanup, mailbox, 0, Outcome::Unharmed);
        }
        add("MAPIUninitialize", Phase::Idle, 0, 0, Outcome::Unharmed);
        return calls;
    }

    // The faults to inject: every call of the record of an undisturbed run, which must be the calls above.
    std::vector<Fault> FaultsFromRecord()
    {
        SeedWorld();
        Run();
        EXPECT_EQ(0u, last.ExitCode);
        EXPECT_EQ(Expected({Outcome::Unharmed, Outcome::Unharmed}), Transcript());
        const std::vector<std::string> recorded = CallNames(MapiState().LoadCalls());
        referenceCalls = std::set<std::string>(recorded.begin(), recorded.end());

        const std::vector<Fault> calls = RunCalls();
        std::vector<std::string> known;
        for (const Fault& call : calls) {
            known.push_back(call.call);
        }
        EXPECT_EQ(known, recorded) << "the run's MAPI calls changed: update the sweep's steps";
        return known == recorded ? calls : std::vector<Fault>();
    }

    // The allocations an undisturbed run makes, counted by a fault that never comes due.
    std::vector<Fault> MemoryFaults()
    {
        SeedWorld();
        const ULONG never = 1000000;
        FailMapiCall(L"MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, L"", never);
        FailMapiCall(L"MAPIAllocateMore", MAPI_E_NOT_ENOUGH_MEMORY, L"", never);
        Run();
        EXPECT_EQ(0u, last.ExitCode);
        const std::vector<ULONG> counted = MapiState().LoadUses();
        EXPECT_EQ((std::vector<ULONG>{static_cast<ULONG>(names.size() * std::size(bufferSteps)),
                                      static_cast<ULONG>(names.size() * std::size(moreSteps))}),
                  counted)
            << "the run's MAPI allocations changed: update the sweep's steps";

        std::vector<Fault> faults;
        const struct {
            const char* call;
            const Outcome* steps;
            size_t count;
        } kinds[] = {{"MAPIAllocateBuffer", bufferSteps, std::size(bufferSteps)},
                     {"MAPIAllocateMore", moreSteps, std::size(moreSteps)}};
        for (const auto& kind : kinds) {
            for (size_t mailbox = 0; mailbox < names.size(); ++mailbox) {
                for (size_t step = 0; step < kind.count; ++step) {
                    Fault fault;
                    fault.call = kind.call;
                    fault.use = static_cast<ULONG>(mailbox * kind.count + step + 1);
                    fault.result = MAPI_E_NOT_ENOUGH_MEMORY;
                    fault.phase = Phase::Mailbox;
                    fault.mailbox = mailbox;
                    fault.step = step;
                    fault.outcome = kind.steps[step];
                    faults.push_back(fault);
                }
            }
        }
        return faults;
    }

    std::string SwitchMessageWritten(const std::string& profile, const std::wstring& name) const
    {
        return "Info: Switch message is recreated for profile " + profile + "\r\n" +
               "Info: Switch message content for profile " + profile + " is \r\n[ZPH 4.0]\r\nTargetServer=" +
               targetServer + "\r\nTargetMailboxDN=" + ToNarrow(Target(name)) +
               "\r\nMBMatchKeyTag=X500\r\nPFMatchKeyTag=X500\r\n";
    }

    // What the run prints when each mailbox meets its outcome (a failure with the given result), the clean-up
    // pass is refused the deletions of the mailboxes in `refused`, and `deleteRefused` says whether a failed
    // mailbox's own deletion was refused too.
    std::string Expected(const std::vector<Outcome>& outcomes, HRESULT result = injected,
                         const std::set<size_t>& refused = {}, bool deleteRefused = false) const
    {
        int shown = 0;
        auto nextName = [&shown] { return "{profile-" + std::to_string(++shown) + "}"; };
        std::string text = Connected() + "Info: Create profiles and check the switch message. \r\n";
        std::vector<std::pair<size_t, std::string>> listed; // mailbox, its name ("" until first shown)
        bool failed = false;
        for (size_t mailbox = 0; mailbox < outcomes.size(); ++mailbox) {
            const std::string source = ToNarrow(Source(names[mailbox]));
            const std::string deleteLine = "Error: Cannot delete a profile for mailbox = " + source + "\r\n";
            const std::string createLine = "Error: Cannot create a profile for mailbox = " + source + "\r\n";
            std::string name;
            switch (outcomes[mailbox]) {
            case Outcome::Unharmed:
                name = nextName();
                text += SwitchMessageWritten(name, names[mailbox]);
                listed.emplace_back(mailbox, name);
                continue;
            case Outcome::OutOfMemory:
                return text + "Error: The run stopped: out of memory\r\n";
            case Outcome::NoAdmin:
                break;
            case Outcome::NeverMade:
                text += deleteLine;
                listed.emplace_back(mailbox, "");
                break;
            case Outcome::Service:
                text += "Error: Cannot create service MSEMS. Error = " + HexCode(result) + "\r\n";
                break;
            case Outcome::SwitchMessage:
                text += "Error: Cannot create Switch message. Error = " + HexCode(result) + "\r\n";
                break;
            case Outcome::AfterRecreated:
                name = nextName();
                text += "Info: Switch message is recreated for profile " + name + "\r\n" +
                        "Error: Cannot create Switch message. Error = " + HexCode(result) + "\r\n";
                break;
            }
            const bool undeletable = deleteRefused && outcomes[mailbox] != Outcome::NoAdmin &&
                                     outcomes[mailbox] != Outcome::NeverMade;
            if (undeletable) {
                text += deleteLine;
                listed.emplace_back(mailbox, name);
            }
            text += createLine;
            failed = true;
        }

        if (listed.empty()) {
            return text + "No profiles to update were found!\r\nCompleted with exitCode = 64\r\n";
        }
        std::string profiles;
        for (auto& entry : listed) {
            if (entry.second.empty()) {
                entry.second = nextName();
            }
            profiles += " \"" + entry.second + "\"";
        }
        text += ChildRuns(profiles);
        for (const auto& entry : listed) {
            if (outcomes[entry.first] == Outcome::NeverMade || refused.count(entry.first) != 0) {
                text += "Error: Cannot delete a profile for mailbox = " + ToNarrow(Source(names[entry.first])) + "\r\n";
                failed = true; // a profile left behind is a failed mailbox
            }
        }
        return text + "Completed with exitCode = " + (failed ? "32" : "0") + "\r\n";
    }

    std::vector<Outcome> OutcomesOf(const Fault& fault) const
    {
        std::vector<Outcome> outcomes(names.size(), Outcome::Unharmed);
        if (fault.phase == Phase::Mailbox) {
            outcomes[fault.mailbox] = fault.outcome;
        }
        return outcomes;
    }

    std::string ExpectedOf(const Fault& fault, bool deleteRefused = false) const
    {
        switch (fault.phase) {
        case Phase::MapiStart:
            return Connected() + "Error: Cannot load MAPIInitialize \r\n";
        case Phase::CleanupStart: {
            const std::string transcript = Expected(OutcomesOf(fault));
            return transcript.substr(0, transcript.rfind("Completed")) +
                   "Error: Cannot load MAPIInitialize to remove the profiles. Error = " + HexCode(fault.result) +
                   "\r\n";
        }
        case Phase::Cleanup:
            return Expected(OutcomesOf(fault), fault.result, {fault.mailbox});
        default:
            return Expected(OutcomesOf(fault), fault.result, {}, deleteRefused);
        }
    }

    // Profiles that may stay: only those whose deletion the platform refused, as the transcript reports.
    size_t ProfilesLeftBy(const Fault& fault) const
    {
        switch (fault.phase) {
        case Phase::CleanupStart:
            return names.size();
        case Phase::Cleanup:
            return 1;
        default:
            return 0;
        }
    }

    DWORD ExitCodeOf(const std::string& transcript) const
    {
        if (transcript.find("Error: Cannot load MAPIInitialize \r\n") != std::string::npos) {
            return 0;
        }
        const size_t completed = transcript.rfind("Completed with exitCode = ");
        return completed == std::string::npos ? 16 : std::stoul(transcript.substr(completed + 26));
    }

    // One case: a fresh world, the fault (and any further ones), one run, and everything it must have left.
    void RunCase(const Fault& fault, const std::vector<Fault>& further = {}, bool deleteRefused = false)
    {
        SCOPED_TRACE(fault.Name());
        BeginCase();
        SeedWorld();
        FailMapiCall(ToWide(fault.call), fault.result, L"", fault.use, injectedText);
        for (const Fault& each : further) {
            FailMapiCall(ToWide(each.call), each.result, L"", each.use, injectedText);
        }
        Run();
        const std::string expected = ExpectedOf(fault, deleteRefused);
        EXPECT_EQ(expected, Transcript());
        EXPECT_EQ(ExitCodeOf(expected), last.ExitCode);
        EXPECT_EQ(ProfilesLeftBy(fault), MapiState().LoadProfiles().size()) << "profiles left behind";
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

    // Calls that only a failure brings about (the failed object's GetLastError) fail too, each after the first
    // failure that brought it about.
    void RunErrorPathCases()
    {
        for (const auto& found : std::map<std::string, Fault>(errorPathCalls)) {
            std::cout << "[ error    ] " << found.first << " after " << found.second.Name()
                      << std::endl;
            Fault secondary;
            secondary.call = found.first;
            secondary.use = 1;
            RunCase(found.second, {secondary});
        }
    }

    std::set<std::string> referenceCalls;
    std::map<std::string, Fault> errorPathCalls;
};

// The first call of the switch message's part of a mailbox's step.
size_t SwitchMessageStep()
{
    size_t step = 0;
    while (std::string(mailboxSteps[step].call) != "MAPILogonEx") {
        ++step;
    }
    return step;
}

TEST_F(MapiFaultSweep, ProfileAndServiceCallsOfEitherMailbox)
{
    const std::vector<Fault> faults = FaultsFromRecord();
    for (const Fault& fault : faults) {
        if (fault.phase == Phase::MapiStart || (fault.phase == Phase::Mailbox && fault.step < SwitchMessageStep())) {
            RunCase(fault);
        }
    }

    // A failed mailbox whose profile cannot be deleted either keeps it listed for the child and the clean-up.
    Fault refusedDeletion;
    refusedDeletion.call = "IProfAdmin::DeleteProfile";
    refusedDeletion.use = 1;
    std::set<Outcome> outcomes{Outcome::Unharmed, Outcome::NoAdmin, Outcome::NeverMade};
    for (const Fault& fault : faults) {
        if (fault.phase == Phase::Mailbox && fault.mailbox == 0 && outcomes.insert(fault.outcome).second) {
            RunCase(fault, {refusedDeletion}, true);
        }
    }
}

TEST_F(MapiFaultSweep, SwitchMessageCallsOfTheFirstMailbox)
{
    for (const Fault& fault : FaultsFromRecord()) {
        if (fault.phase == Phase::Mailbox && fault.mailbox == 0 && fault.step >= SwitchMessageStep()) {
            RunCase(fault);
        }
    }
    RunErrorPathCases();
}

TEST_F(MapiFaultSweep, SwitchMessageCallsOfTheLaterMailbox)
{
    for (const Fault& fault : FaultsFromRecord()) {
        if (fault.phase == Phase::Mailbox && fault.mailbox == 1 && fault.step >= SwitchMessageStep()) {
            RunCase(fault);
        }
    }
}

TEST_F(MapiFaultSweep, GuardAndCleanUpCalls)
{
    for (const Fault& fault : FaultsFromRecord()) {
        if (fault.phase != Phase::Mailbox && fault.phase != Phase::MapiStart) {
            RunCase(fault);
        }
    }
}

TEST_F(MapiFaultSweep, MemoryAllocations)
{
    for (const Fault& fault : MemoryFaults()) {
        RunCase(fault);
    }
}

} // namespace
