#include "e2e/WholeRun.h"

#include "errors/Text.h"

#include <mapicode.h>

namespace {

using namespace E2e;

// Three rooms: the directory knows all three, the MAPI world only two, so the first (in sorted order) fails.
class ExitCodes : public WholeRun {
protected:
    void SetUp() override
    {
        WholeRun::SetUp();
        Configuration configuration;
        configuration.Mailboxes = {Source(L"room.oslo"), Source(L"beamer.pool"), Source(L"reception")};
        Write(configuration);
        SeedMailboxes({Source(L"room.oslo"), Source(L"reception")});
    }

    std::string Connected() const
    {
        return "Info: Connect to the Active Directory server '" + ToNarrow(DirectoryServer()) + "' using LDAP.\r\n";
    }

    std::string SwitchMessageWritten(int profile, const std::wstring& target) const
    {
        const std::string name = "{profile-" + std::to_string(profile) + "}";
        return "Info: Switch message is created for profile " + name + "\r\n" +
               "Info: Switch message content for profile " + name + " is \r\n[ZPH 4.0]\r\nTargetServer=TGTEX01\r\n" +
               "TargetMailboxDN=" + ToNarrow(Target(target)) + "\r\nMBMatchKeyTag=X500\r\nPFMatchKeyTag=X500\r\n";
    }

    std::string MailboxPass() const
    {
        return "Info: Create profiles and check the switch message. \r\n"
               "Error: Cannot create service MSEMS. Error = 81002746\r\n"
               "Error: Cannot create a profile for mailbox = " +
               ToNarrow(Source(L"beamer.pool")) + "\r\n" + SwitchMessageWritten(1, L"reception") +
               SwitchMessageWritten(2, L"room.oslo");
    }

    std::string MainLine() const
    {
        return "\"" + ToolDirectory() + "\\KorvelEngine.exe\" -ini \"Switch.ini\" -Log \"C:\\Logs\\upd.log\" "
               "-Profiles  \"{profile-1}\" \"{profile-2}\"";
    }

    std::string CleanupLine() const
    {
        return "\"" + ToolDirectory() + "\\KorvelEngine.exe\" -Cleanup -Silent -ini  \"Switch.ini\"  "
               "-Log  \"C:\\Logs\\upd_Cleanup.log\"";
    }
};

TEST_F(ExitCodes, ChildResultPlusThirtyTwoWhenAMailboxFailed)
{
    SetChildExitCodes("3\n0\n");
    EXPECT_EQ(35u, Run().ExitCode);
    EXPECT_EQ(Connected() + MailboxPass() + "Info: Start Korvel with the command line " + MainLine() + ".\r\n" +
                  "ExitCode of Korvel = 3\r\n" + "Info: Start Korvel with the command line " + CleanupLine() +
                  ".\r\n" + "ExitCode of Korvel -Cleanup = 0\r\nCompleted with exitCode = 35\r\n",
              Transcript());
    EXPECT_EQ((std::vector<std::string>{MainLine(), CleanupLine()}), ChildCommandLines());
    ExpectNothingLeftBehind();
}

TEST_F(ExitCodes, NegativeAndLargeChildResultsAreAddedAsSignedThirtyTwoBitNumbers)
{
    const struct {
        const char* child;
        DWORD exitCode;
        const char* shown;
    } cases[] = {{"0", 32, "0"}, {"-5", 27, "-5"}, {"2147483647", 0x8000001Fu, "2147483647"}};
    for (const auto& each : cases) {
        SetChildExitCodes(std::string(each.child) + "\n1\n");
        EXPECT_EQ(each.exitCode, Run().ExitCode) << each.child;
        EXPECT_NE(std::string::npos, Transcript().find("ExitCode of Korvel = " + std::string(each.shown) + "\r\n"));
        EXPECT_NE(std::string::npos, Transcript().find("ExitCode of Korvel -Cleanup = 1\r\n"));
        EXPECT_NE(std::string::npos,
                  Transcript().find("Completed with exitCode = " + std::to_string(static_cast<int>(each.exitCode))));
        ExpectNothingLeftBehind();
        ::DeleteFileW((korvel / L"commands.txt").c_str());
    }
}

TEST_F(ExitCodes, NoMailboxesMeansSixtyFour)
{
    Configuration configuration;
    Write(configuration);
    EXPECT_EQ(64u, Run().ExitCode);
    EXPECT_EQ("Error: No mailboxes found in section Mailboxes\r\n" + Connected() +
                  "Info: Create profiles and check the switch message. \r\n"
                  "No profiles to update were found!\r\nCompleted with exitCode = 64\r\n",
              Transcript());
    EXPECT_TRUE(ChildCommandLines().empty());
    ExpectNothingLeftBehind();
}

TEST_F(ExitCodes, EveryMailboxFailingMeansSixtyFourNotThirtyTwo)
{
    MapiState().SaveMailboxes({});
    EXPECT_EQ(64u, Run().ExitCode);
    EXPECT_NE(std::string::npos, Transcript().find("No profiles to update were found!\r\nCompleted with exitCode = 64\r\n"));
    EXPECT_TRUE(ChildCommandLines().empty());
    ExpectNothingLeftBehind();
}

// What the child could not take is refused before any mailbox is touched.
TEST_F(ExitCodes, ACommandLineTheChildCannotTakeMeansOneHundredTwentyEightBeforeAnyProfile)
{
    const std::string child = "\"" + ToolDirectory() + "\\KorvelEngine.exe\" ";
    // The line as the three mailboxes would give it, without the extra switches: each profile is a blank and a
    // GUID in braces between quotes.
    const size_t baseLength = child.size() + std::string(" -Profiles ").size() + 3 * (2 + 38 + 1);
    const std::string longest = "-Log " + std::string(32766 - baseLength - 5, 'x');
    const std::string tooLong = longest + "x";
    const struct {
        std::string korvelCmdLine;
        DWORD exitCode;
        std::string transcriptStart;
    } cases[] = {
        {"-ini x.ini -UNDOALL", 128,
         "Error: Cannot use parameters '-UndoAll' in KorvelCmdLine\r\nInvalid command line!\r\n"
         "Completed with exitCode = 128\r\n"},
        {tooLong, 128,
         Connected() + "Error: Too many mailboxes for one run: the command line of KorvelEngine.exe would be 32767 "
                       "characters, more than 32766. Split the \"Mailboxes\" section over several runs.\r\n"
                       "Completed with exitCode = 128\r\n"},
        {longest, 32, Connected() + "Info: Create profiles and check the switch message. \r\n"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.korvelCmdLine.substr(0, 20));
        StartAfresh();
        SeedMailboxes({Source(L"room.oslo"), Source(L"reception")});
        Configuration configuration;
        configuration.Settings = "SrcExchServer=SRCEX01\nKorvelCmdLine=" + each.korvelCmdLine + "\n";
        configuration.Mailboxes = {Source(L"room.oslo"), Source(L"beamer.pool"), Source(L"reception")};
        Write(configuration);
        EXPECT_EQ(each.exitCode, Run().ExitCode);
        EXPECT_EQ(each.transcriptStart, Transcript().substr(0, each.transcriptStart.size()));
        if (each.exitCode == 128) {
            EXPECT_EQ("", MapiState().LoadCalls()) << "MAPI was started";
            EXPECT_TRUE(ChildCommandLines().empty());
        } else {
            EXPECT_EQ(2u, ChildCommandLines().size());
        }
        ExpectNothingLeftBehind();
    }
}

// A profile the clean-up pass cannot delete is a failed mailbox: 32 is added once when the child ran.
TEST_F(ExitCodes, AProfileLeftBehindCountsAsAFailedMailbox)
{
    const struct {
        bool everyMailboxInMapi;
        bool childThere;
        DWORD exitCode;
    } cases[] = {{true, true, 35}, {false, true, 35}, {true, false, 128}};
    for (const auto& each : cases) {
        SCOPED_TRACE(std::to_string(each.exitCode) + (each.everyMailboxInMapi ? " with" : " without"));
        StartAfresh();
        SeedMailboxes({Source(L"room.oslo"), Source(L"reception")});
        if (each.everyMailboxInMapi) {
            SeedMailboxes({Source(L"beamer.pool")});
        }
        if (!each.childThere) {
            RemoveChild();
        }
        SetChildExitCodes("3\n");
        FailMapiCall(L"IProfAdmin::DeleteProfile", MAPI_E_NO_ACCESS, Source(L"reception"));
        EXPECT_EQ(each.exitCode, Run().ExitCode);
        const std::string end = "Error: Cannot delete a profile for mailbox = " + ToNarrow(Source(L"reception")) +
                                "\r\nCompleted with exitCode = " + std::to_string(each.exitCode) + "\r\n";
        const std::string transcript = Transcript();
        ASSERT_GE(transcript.size(), end.size());
        EXPECT_EQ(end, transcript.substr(transcript.size() - end.size()));
        EXPECT_EQ(1u, MapiState().LoadProfiles().size());
        ExpectNoLeaks();
    }
}

TEST_F(ExitCodes, MissingChildMeansOneHundredTwentyEightAndProfilesStillRemoved)
{
    RemoveChild();
    EXPECT_EQ(128u, Run().ExitCode);
    EXPECT_EQ(Connected() + MailboxPass() + "Info: Start Korvel with the command line " + MainLine() + ".\r\n" +
                  "Error: Korvel start failed\r\nCompleted with exitCode = 128\r\n",
              Transcript());
    ExpectNothingLeftBehind();
}

TEST_F(ExitCodes, MapiThatCannotStartMeansZeroAndNothingDone)
{
    FailMapiCall(L"MAPIInitialize", MAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(0u, Run().ExitCode);
    EXPECT_EQ(Connected() + "Error: Cannot load MAPIInitialize \r\n", Transcript());
    EXPECT_TRUE(ChildCommandLines().empty());
    ExpectNothingLeftBehind();
}

TEST_F(ExitCodes, MapiThatCannotStartForTheCleanUpEndsTheRunInOrder)
{
    FailMapiCall(L"MAPIInitialize", MAPI_E_NOT_INITIALIZED, L"", 2);
    SetChildExitCodes("0\n");
    EXPECT_EQ(16u, Run().ExitCode);
    const std::string transcript = Transcript();
    EXPECT_NE(std::string::npos, transcript.find("ExitCode of Korvel -Cleanup = 0\r\n"));
    EXPECT_EQ("Error: Cannot load MAPIInitialize to remove the profiles. Error = 80040605\r\n",
              transcript.substr(transcript.rfind("Error: ")));
    // The profiles could not be removed, and the run says so instead of claiming completion.
    EXPECT_EQ(2u, MapiState().LoadProfiles().size());
}

TEST_F(ExitCodes, OutlookX64MeansZeroBeforeAnythingIsTouched)
{
    TestSupport::CopyInto(TestSupport::DoublesDirectory() + L"\\msi.dll", tool.Path());
    TestSupport::TempDir msi(L"msi");
    TestSupport::WriteBytes(msi / L"answer.txt", "0");
    TestSupport::RunOptions options;
    options.Environment = {{MapiDouble::StateVariable, mapi.Path()}, {L"BRISKLET_ADSI_DOUBLE", adsi.Path()},
                           {L"BRISKLET_MSI_DOUBLE", msi.Path()}};
    const TestSupport::ToolRun run = TestSupport::RunProgram(tool / L"Brisklet.exe", {L"Switch.ini"}, options);
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_EQ("Error: Cannot support the architecture of Outlook 2010 x64\r\n", run.Output);
    EXPECT_EQ("", MapiState().LoadCalls());
    EXPECT_FALSE(TestSupport::Exists(adsi / L"calls.txt"));
}

} // namespace
