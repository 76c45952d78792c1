// KorvelEngine.exe ending in ways no one plans for: ended from outside while it works, or with the largest and
// smallest exit codes there are. Whatever the child did, the clean-up pass still removes every profile.
#include "e2e/WholeRun.h"

#include "errors/Handle.h"
#include "errors/Text.h"

#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using namespace E2e;

// Ends the held child from outside, as Task Manager or "taskkill /F" would, once the child says it waits; with
// the tool too, first the tool, as a scheduler's time limit would.
class CChildTerminator {
public:
    CChildTerminator(std::wstring waitingFile, UINT exitCode, bool toolToo = false)
        : worker([this, waitingFile, exitCode, toolToo] { Watch(waitingFile, exitCode, toolToo); })
    {
    }
    ~CChildTerminator() { Stop(); }
    CChildTerminator(const CChildTerminator&) = delete;
    CChildTerminator& operator=(const CChildTerminator&) = delete;

    // Waits for an ending under way to be done, and gives up watching.
    void Stop()
    {
        done = true;
        if (worker.joinable()) {
            worker.join();
        }
    }
    bool Terminated() const { return terminated; }

private:
    void Watch(const std::wstring& waitingFile, UINT exitCode, bool toolToo)
    {
        while (!done) {
            const DWORD id = WaitingChild(waitingFile);
            if (id != 0 && toolToo) {
                const Util::CHandle tool(::OpenProcess(PROCESS_TERMINATE, FALSE, ParentOf(id)));
                ::TerminateProcess(tool.Get(), exitCode);
            }
            const Util::CHandle child(id == 0 ? nullptr : ::OpenProcess(PROCESS_TERMINATE, FALSE, id));
            if (child.IsValid() && ::TerminateProcess(child.Get(), exitCode)) {
                terminated = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    static DWORD ParentOf(DWORD id)
    {
        const Util::CHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
            if (entry.th32ProcessID == id) {
                return entry.th32ParentProcessID;
            }
        }
        return 0;
    }

    static DWORD WaitingChild(const std::wstring& waitingFile)
    {
        if (!TestSupport::Exists(waitingFile)) {
            return 0;
        }
        return static_cast<DWORD>(std::strtoul(TestSupport::ReadBytes(waitingFile).c_str(), nullptr, 10));
    }

    std::atomic<bool> done{false};
    std::atomic<bool> terminated{false};
    std::thread worker;
};

class ChildEndings : public WholeRun {
protected:
    const std::string passed = "Info: Create profiles and check the switch message. \r\n" +
                               SwitchMessageWritten(1, L"reception") + SwitchMessageWritten(2, L"room.oslo");

    void SetUp() override
    {
        WholeRun::SetUp();
        Configuration configuration;
        configuration.Mailboxes = {Source(L"room.oslo"), Source(L"reception")};
        Write(configuration);
    }

    void Afresh()
    {
        StartAfresh();
        SeedMailboxes({Source(L"room.oslo"), Source(L"reception")});
    }

    static std::string SwitchMessageWritten(int profile, const std::wstring& name)
    {
        const std::string shown = "{profile-" + std::to_string(profile) + "}";
        return "Info: Switch message is created for profile " + shown + "\r\n" +
               "Info: Switch message content for profile " + shown + " is \r\n[ZPH 4.0]\r\nTargetServer=TGTEX01\r\n" +
               "TargetMailboxDN=" + ToNarrow(Target(name)) + "\r\nMBMatchKeyTag=X500\r\nPFMatchKeyTag=X500\r\n";
    }

    // Holds the child's n-th start until it is ended from outside with the exit code given (and the tool too).
    TestSupport::ToolRun RunEndingChild(int start, UINT exitCode, bool toolToo = false)
    {
        TestSupport::WriteBytes(korvel / L"hang.txt", std::to_string(start) + "\n");
        CChildTerminator terminator(korvel / L"hanging.txt", exitCode, toolToo);
        Run();
        terminator.Stop();
        EXPECT_TRUE(terminator.Terminated()) << "the child was not ended from outside";
        return last;
    }
};

TEST_F(ChildEndings, ChildEndedFromOutsideStillHasItsProfilesRemoved)
{
    const std::string profiles = " \"{profile-1}\" \"{profile-2}\"";
    const struct {
        const char* what;
        int start;
        UINT exitCode;
        DWORD runExitCode;
        const char* shown;
        const char* cleanupShown;
    } cases[] = {
        {"the child, as taskkill /F ends it", 1, 1, 1, "1", "0"},
        {"the child, as Ctrl+C in its console ends it", 1, 0xC000013A, 0xC000013A, "-1073741510", "0"},
        {"the child's clean-up run", 2, 1, 0, "0", "1"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        Afresh();
        EXPECT_EQ(each.runExitCode, RunEndingChild(each.start, each.exitCode).ExitCode);
        EXPECT_EQ(Connected() + passed + ChildRuns(profiles, each.shown, each.cleanupShown) +
                      "Completed with exitCode = " + std::to_string(static_cast<int>(each.runExitCode)) + "\r\n",
                  Transcript());
        EXPECT_EQ(2u, ChildCommandLines().size());
        ExpectNothingLeftBehind();
    }
}

// Every line reaches the transcript when it is printed: a run ended from outside keeps every line up to its last.
TEST_F(ChildEndings, ARunEndedFromOutsideLeavesItsTranscriptUpToItsLastLine)
{
    Afresh();
    RunEndingChild(1, 1, true);
    const std::string mainRuns = ChildRuns(" \"{profile-1}\" \"{profile-2}\"");
    EXPECT_EQ(Connected() + passed + mainRuns.substr(0, mainRuns.find("ExitCode of Korvel = ")), Transcript());
}

// Ctrl+C (as Ctrl+Break or closing the console) during the mailbox pass: the pass stops after the mailbox it is at,
// the child is not started and every profile made is removed.
TEST_F(ChildEndings, AnInterruptedMailboxPassLeavesNothingBehind)
{
    std::vector<std::wstring> rooms;
    for (int i = 1; i <= 100; ++i) {
        rooms.push_back(Source(L"bulk" + std::wstring(4 - std::to_wstring(i).size(), L'0') + std::to_wstring(i)));
    }
    Configuration configuration;
    configuration.Mailboxes = rooms;
    Write(configuration);
    Afresh();
    SeedMailboxes(rooms);

    TestSupport::RunOptions options;
    options.OwnConsole = true;
    options.WhileRunning = [](DWORD tool, const std::wstring& output) {
        for (int waited = 0; TestSupport::ReadBytes(output).find("Info: Switch message is created") == std::string::npos;
             ++waited) {
            ASSERT_LT(waited, 30000) << "the mailbox pass did not begin";
            ::Sleep(1);
        }
        ASSERT_TRUE(::FreeConsole() && ::AttachConsole(tool));
        ::SetConsoleCtrlHandler(nullptr, TRUE); // the test itself ignores the event it sends
        EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        ::FreeConsole();
    };
    EXPECT_EQ(16u, Run({L"Switch.ini"}, options).ExitCode);

    const std::string transcript = Transcript();
    const std::string interrupted = "Error: The run was interrupted; the profiles it made were removed.\r\n";
    ASSERT_GE(transcript.size(), interrupted.size());
    EXPECT_EQ(interrupted, transcript.substr(transcript.size() - interrupted.size()));
    size_t made = 0;
    for (size_t at = 0; (at = transcript.find("Info: Switch message is created", at)) != std::string::npos; ++at) {
        ++made;
    }
    EXPECT_LT(made, rooms.size()) << "the pass did not stop";
    EXPECT_TRUE(ChildCommandLines().empty());
    ExpectNothingLeftBehind();
}

// Three mailboxes, one of them missing from the MAPI world, so that 32 is added to what the child returns.
TEST_F(ChildEndings, LargestAndSmallestExitCodesStillEndWithTheProfilesRemoved)
{
    Configuration configuration;
    configuration.Mailboxes = {Source(L"room.oslo"), Source(L"beamer.pool"), Source(L"reception")};
    Write(configuration);
    const std::string failed = "Info: Create profiles and check the switch message. \r\n"
                               "Error: Cannot create service MSEMS. Error = 81002746\r\n"
                               "Error: Cannot create a profile for mailbox = " +
                               ToNarrow(Source(L"beamer.pool")) + "\r\n" + SwitchMessageWritten(1, L"reception") +
                               SwitchMessageWritten(2, L"room.oslo");
    const std::string profiles = " \"{profile-1}\" \"{profile-2}\"";

    const struct {
        const char* codes;
        DWORD runExitCode;
        std::string childLines;
        size_t starts;
    } cases[] = {
        // INT_MIN: shown and added as the signed number it is.
        {"2147483648\n0\n", 0x80000020, ChildRuns(profiles, "-2147483648"), 2},
        // An access violation's code, as a crashed child leaves it.
        {"3221225477\n0\n", 0xC0000025, ChildRuns(profiles, "-1073741819"), 2},
        // 4294967295 reads back as -1: an exit code like any other, not a failed start.
        {"4294967295\n", 31, ChildRuns(profiles, "-1", "-1"), 2},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.codes);
        Afresh();
        SetChildExitCodes(each.codes);
        EXPECT_EQ(each.runExitCode, Run().ExitCode);
        EXPECT_EQ(Connected() + failed + each.childLines + "Completed with exitCode = " +
                      std::to_string(static_cast<int>(each.runExitCode)) + "\r\n",
                  Transcript());
        EXPECT_EQ(each.starts, ChildCommandLines().size());
        ExpectNothingLeftBehind();
    }
}

} // namespace
