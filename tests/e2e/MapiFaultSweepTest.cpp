// Every MAPI call and allocation of a whole run failed in turn, in both mailboxes at once (the double counts a
// fault's uses per thread): each run prints what its failure calls for, keeps only the profiles it reports, and
// leaves each mailbox its earlier switch message or one new one whole.
#include "e2e/WholeRun.h"

#include <mapicode.h>
#include <mapitags.h>

#include <functional>
#include <map>
#include <regex>
#include <sstream>

namespace {

using namespace E2e;
using MapiDouble::UnicodeProperty;

// What a failure does, at the mailbox whose step makes the call: nothing; MAPI does not start; no profile is begun;
// the profile is not made; the Exchange service fails; the switch message fails, before or after its "recreated"
// line; the run stops out of memory, its profiles removed first; no MAPI for the clean-up; this profile is kept.
enum Outcome { Unharmed, NoMapi, NoAdmin, NeverMade, Service, Switch, AfterRecreated, OutOfMemory, NoCleanup, Kept };

// The calls of one mailbox's thread in order, for a mailbox with a switch message to recreate, by what their
// failure does. Its MAPI allocations, which the call record leaves out, are in order only among themselves.
const std::pair<Outcome, const char*> mailboxSteps[] = {
    {NoAdmin, "MAPIAdminProfiles"},
    {NeverMade, "IProfAdmin::CreateProfile"},
    {Service, "MAPIAdminProfiles IProfAdmin::AdminServices IMsgServiceAdmin::CreateMsgService "
              "IMsgServiceAdmin::GetMsgServiceTable IMAPITable::SetColumns IMAPITable::Restrict IMAPITable::SeekRow "
              "IMAPITable::GetRowCount IMAPITable::QueryRows HrQueryAllRows IMsgServiceAdmin::ConfigureMsgService "
              "MAPIAllocateBuffer MAPIAllocateMore MAPIAllocateMore"},
    {Switch, "MAPILogonEx IMAPISession::GetMsgStoresTable IMAPITable::SetColumns IMAPITable::SeekRow "
             "IMAPITable::GetRowCount IMAPITable::QueryRows HrQueryAllRows IMAPISession::OpenMsgStore "
             "IMsgStore::GetReceiveFolder IMsgStore::OpenEntry IMAPIFolder::GetContentsTable IMAPITable::SetColumns "
             "IMAPITable::Restrict IMAPITable::SeekRow IMAPITable::GetRowCount IMAPITable::QueryRows HrQueryAllRows"},
    {OutOfMemory, "MAPIAllocateBuffer MAPIAllocateBuffer"},
    {AfterRecreated, "IMAPIFolder::CreateMessage IMessage::SetProps IMessage::OpenProperty IStream::Write "
                     "IStream::Commit IMessage::SaveChanges IMAPIFolder::DeleteMessages MAPIAllocateBuffer "
                     "MAPIAllocateBuffer MAPIAllocateMore MAPIAllocateMore MAPIAllocateMore"},
    {Unharmed, "IMAPISession::Logoff MAPIUninitialize"},
};

// A case: the double's fault (without a call, its result is what the world alone makes the run show), its outcome.
constexpr size_t both = 2;

struct Fault {
    MapiDouble::Fault injected;
    Outcome outcome = Unharmed;
    size_t mailbox = both; // in list order
    bool recreate = true; // the configuration's RecreateSwitchMsg
    std::function<void(MapiDouble::Mailbox&)> change = [](MapiDouble::Mailbox&) {}; // of the first mailbox
};

class MapiFaultSweep : public WholeRun {
protected:
    // In list order (sorted by source line): the first mailbox, then the later one.
    const std::vector<std::wstring> names{L"reception", L"room.oslo"};
    // Long enough that the body goes through a stream rather than SetProps.
    const std::string targetServer = "TGTEX01." + std::string(5000, 'x');
    const std::wstring earlier = L"[ZPH 4.0]\nTargetServer=OLDEX01";

    // Every call and allocation of an undisturbed run, each numbered by its use and with what its failure does, as
    // the record of such a run and the count of its allocations must show them; then the other worlds' cases.
    std::vector<Fault> Cases()
    {
        std::vector<Fault> faults;
        std::string known; // the calls the record of a run with one mailbox at a time must show, a line each
        std::map<std::string, ULONG> mainUses;
        std::map<std::string, ULONG> mailboxUses;
        // Every call that changes a mailbox or a profile fails once more after doing its work: where a delete did,
        // the mailbox holds the new message alone.
        const std::string changing = " IProfAdmin::CreateProfile IProfAdmin::DeleteProfile IMessage::SaveChanges "
                                     "IMsgServiceAdmin::CreateMsgService IMsgServiceAdmin::ConfigureMsgService ";
        const auto add = [&](Outcome outcome, const char* list, std::map<std::string, ULONG>& uses,
                             size_t mailbox = both) {
            std::istringstream words(list);
            for (std::string call; words >> call;) {
                const bool allocation = call.find("MAPIAllocate") == 0;
                const std::wstring only = mailbox == both ? L"" : Source(names[mailbox]);
                // A network error is what a real run meets most.
                faults.push_back({{ToWide(call), allocation ? MAPI_E_NOT_ENOUGH_MEMORY : MAPI_E_NETWORK_ERROR,
                                   ++uses[call], only, L"Injected by the fault sweep."}, outcome, mailbox});
                known += allocation ? "" : call + "\n";
                if (changing.find(" " + call + " ") != std::string::npos || call == "IMAPIFolder::DeleteMessages") {
                    faults.push_back(faults.back());
                    faults.back().injected.Work = L"all";
                    faults.back().outcome = call == "IMAPIFolder::DeleteMessages" ? Unharmed : outcome;
                }
            }
        };
        add(NoMapi, "MAPIInitialize", mainUses);
        known += "MAPIInitialize\n"; // a mailbox thread's: failing its first use fails the pass's own first
        for (const auto& step : mailboxSteps) {
            add(step.first, step.second, mailboxUses);
        }
        known += known.substr(known.find('\n') + 1); // the second mailbox's calls
        add(Unharmed, "MAPIUninitialize", mainUses);
        add(NoCleanup, "MAPIInitialize", mainUses);
        for (size_t mailbox = 0; mailbox < names.size(); ++mailbox) {
            known += "MAPIAdminProfiles\n"; // its uses on the main thread are a mailbox's own on its thread
            std::map<std::string, ULONG> cleanupUses;
            add(Kept, "IProfAdmin::DeleteProfile", cleanupUses, mailbox);
        }
        add(Unharmed, "MAPIUninitialize", mainUses);

        // Worlds the sweep's own does not show: a second copy differing in case, copies to keep, stores to choose
        // among, a store refusing a value, a deletion that only partly completes, and a search whose rows err.
        using Mailbox = MapiDouble::Mailbox;
        const auto twoCopies = [](Mailbox& box) {
            box.Messages.push_back(
                {0, true, {UnicodeProperty(PR_SUBJECT_W, L"{0e85bd11-6d96-48dd-b20a-df8108f272d7}")}});
        };
        faults.insert(faults.end(), {
            {{L"", S_OK}, Unharmed, 0, true, twoCopies},
            {{L"", S_OK}, Unharmed, 0, false},
            {{L"", S_OK}, Unharmed, 0, true, [](Mailbox& box) {
                 box.Stores = {L"pst", L"private"};
                 box.DefaultStore = L"pst";
             }},
            {{L"", MAPI_E_NOT_FOUND}, Switch, 0, true, [](Mailbox& box) { box.Stores = {L"pst"}; }},
            {{L"", S_OK}, Unharmed, 0, true, [](Mailbox& box) { box.ValueLimit = 64; }},
            {{L"IMAPIFolder::DeleteMessages", MAPI_W_PARTIAL_COMPLETION, 1, Source(names[0])}, Unharmed, 0, true,
             twoCopies},
            {{L"IMAPITable::QueryRows", MAPI_E_NOT_ENOUGH_MEMORY, 3, L"", L"", L"", PR_SUBJECT_W}, Switch},
        });
        // Allocations show in the record only when refused: the reference run (one mailbox at a time) counts them.
        RunCase({{L"MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, 1000000}},
                {{L"MAPIAllocateMore", MAPI_E_NOT_ENOUGH_MEMORY, 1000000}}, false, "ParallelMailboxes=1\n");
        EXPECT_EQ((std::vector<ULONG>{2 * mailboxUses["MAPIAllocateMore"], 2 * mailboxUses["MAPIAllocateBuffer"]}),
                  MapiState().LoadUses())
            << "the run's MAPI allocations changed: update the sweep's steps";
        EXPECT_EQ(known, std::regex_replace(MapiState().LoadCalls(), std::regex(" .*"), ""))
            << "the run's MAPI calls changed: update the sweep's steps";
        return HasFailure() ? std::vector<Fault>() : faults;
    }

    // What the run prints when `fault` strikes, and its exit code; with `deleteRefused` a failed mailbox's profile
    // cannot be deleted either, nor the first at the clean-up, and is never left to the child.
    std::pair<std::string, DWORD> Expected(const Fault& fault, bool deleteRefused) const
    {
        if (fault.outcome == NoMapi) {
            return {Connected() + "Error: Cannot load MAPIInitialize \r\n", 0};
        }
        const std::string code = ". Error = " + HexCode(fault.injected.Result) + "\r\n";
        std::string cleanup; // a profile left behind is a failed mailbox
        std::string text = Connected() + pass;
        std::string profiles; // the child's list
        int shown = 0;
        for (size_t index = 0; index < names.size(); ++index) {
            const bool struck = fault.mailbox == both || fault.mailbox == index;
            const Outcome outcome = struck && fault.outcome < NoCleanup ? fault.outcome : Unharmed;
            const std::string mailbox = " a profile for mailbox = " + ToNarrow(Source(names[index])) + "\r\n";
            const int number = outcome == Unharmed || outcome == AfterRecreated ? ++shown : 0;
            const std::string profile = "{profile-" + std::to_string(number) + "}";
            const std::string recreated = "Info: Switch message is recreated for profile " + profile + "\r\n";
            if (outcome == OutOfMemory) {
                return {text + "Error: The run stopped: out of memory\r\n", 16};
            }
            text += outcome == Unharmed && fault.recreate ? Created(number, names[index], targetServer, "recreated")
                                                          : "";
            text += outcome == Service ? "Error: Cannot create service MSEMS" + code : "";
            text += outcome == AfterRecreated ? recreated : "";
            text += outcome == Switch || outcome == AfterRecreated ? "Error: Cannot create Switch message" + code : "";
            text += deleteRefused && outcome != Unharmed ? "Error: Cannot delete" + mailbox : "";
            text += outcome != Unharmed ? "Error: Cannot create" + mailbox : "";
            profiles += outcome == Unharmed ? " \"" + profile + "\"" : "";
            const bool kept = (struck && fault.outcome == Kept) || (deleteRefused && index == 0);
            cleanup += kept ? "Error: Cannot delete" + mailbox : "";
        }
        if (profiles.empty()) {
            return {text + "No profiles to update were found!\r\n" + cleanup + Completed(64), 64};
        }
        text += ChildRuns(profiles);
        if (fault.outcome == NoCleanup) {
            return {text + "Error: Cannot load MAPIInitialize to remove the profiles" + code, 16};
        }
        const DWORD exitCode = fault.outcome == Unharmed ? 0 : 32;
        return {text + cleanup + Completed(exitCode), exitCode};
    }

    // One case: a fresh world where each mailbox holds an earlier switch message to delete, one run, what it left.
    void RunCase(const Fault& fault, std::vector<MapiDouble::Fault> faults = {}, bool deleteRefused = false,
                 const std::string& settings = "")
    {
        SCOPED_TRACE(ToNarrow(fault.injected.Call + L" (use " + std::to_wstring(fault.injected.Use) + L")"));
        StartAfresh();
        Write({Configuration().Settings + settings, Sources(names), "",
               "TargetServer=" + targetServer + "\nVersion=v4\nRecreateSwitchMsg=" + (fault.recreate ? "1" : "0") +
                   "\n"});
        SeedMailboxes(Sources(names),
                      {{0, true, {UnicodeProperty(PR_SUBJECT_W, switchSubject), UnicodeProperty(PR_BODY_W, earlier)}}});
        std::vector<MapiDouble::Mailbox> mailboxes = MapiState().LoadMailboxes();
        fault.change(mailboxes[0]);
        MapiState().SaveMailboxes(mailboxes);
        faults.push_back(fault.injected);
        MapiState().SaveFaults(faults);
        Run();
        const auto expected = Expected(fault, deleteRefused);
        EXPECT_EQ(expected.second, last.ExitCode);
        const bool kept = (fault.outcome == Kept && fault.injected.Work.empty()) || deleteRefused;
        ExpectWorld(expected.first, fault.outcome == NoCleanup ? 2u : kept ? 1u : 0u);
    }
};

TEST_F(MapiFaultSweep, EveryCallAndAllocationAndEveryWorld)
{
    for (const Fault& fault : Cases()) {
        RunCase(fault);
    }
    // A failed mailbox whose profile cannot be deleted either leaves it to the clean-up alone.
    const HRESULT lost = MAPI_E_NETWORK_ERROR;
    const MapiDouble::Fault refusedDeletion{L"IProfAdmin::DeleteProfile", lost, 1};
    RunCase({{L"IProfAdmin::AdminServices", lost, 1}, Service}, {refusedDeletion}, true);
    RunCase({{L"MAPILogonEx", lost, 1}, Switch}, {refusedDeletion}, true);
    // A repair refused once is made again; a reading that fails after a failed save leaves the mailbox failed.
    RunCase({{L"IMAPIFolder::DeleteMessages", lost, 1}, AfterRecreated}, {{L"IMAPIFolder::DeleteMessages", lost, 2}});
    RunCase({{L"IMessage::SaveChanges", lost, 1}, AfterRecreated}, {{L"IMAPIFolder::GetContentsTable", lost, 2}});
}

} // namespace
