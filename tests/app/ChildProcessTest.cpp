#include "app/ChildProcess.h"

#include "config/ProgramPaths.h"
#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace {

using namespace TestSupport;

const std::wstring workedExample = L"-ini \"Switch.ini\" -Log \"C:\\Logs\\upd.log\"";

// What the code under test writes to the console while the object lives.
class ConsoleCapture {
public:
    ConsoleCapture() : previous(std::cout.rdbuf(captured.rdbuf())) {}
    ~ConsoleCapture() { std::cout.rdbuf(previous); }
    std::string Text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::streambuf* previous;
};

SwitchSettings WithCommandLine(const std::wstring& korvelCmdLine)
{
    SwitchSettings settings;
    settings.KorvelCmdLine = korvelCmdLine;
    return settings;
}

std::string Narrow(const std::wstring& asciiText)
{
    return std::string(asciiText.begin(), asciiText.end());
}

std::string Utf8(const std::wstring& text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size) - 1);
    return utf8;
}

TEST(ChildCommandLines, FollowTheWorkedExampleToTheByte)
{
    const std::wstring child = QuotedChildExecutablePath();
    EXPECT_EQ(L"\"" + GetProgramDirectory() + L"\\KorvelEngine.exe\"", child);

    MailboxList mailboxes{{L"Res A", L"/o=Org/cn=a", L"CN=A"}, {L"", L"/o=Org/cn=failed", L"CN=F"},
                          {L"Res B", L"/o=Org/cn=b", L"CN=B"}};
    const std::wstring profiles = BuildProfileList(mailboxes);
    EXPECT_EQ(L" \"Res A\" \"Res B\"", profiles);

    const SwitchSettings settings = WithCommandLine(workedExample);
    EXPECT_EQ(child + L" -ini \"Switch.ini\" -Log \"C:\\Logs\\upd.log\" -Profiles  \"Res A\" \"Res B\"",
              BuildChildCommandLine(settings, profiles));
    EXPECT_EQ(child + L" -Cleanup -Silent -ini  \"Switch.ini\"  -Log  \"C:\\Logs\\upd_Cleanup.log\"",
              BuildCleanupCommandLine(settings));
}

TEST(ChildCommandLines, WithoutExtraSwitchesCarryOnlyTheirOwn)
{
    const std::wstring child = QuotedChildExecutablePath();
    EXPECT_EQ(L"", BuildProfileList({{L"", L"/o=Org/cn=a", L"CN=A"}}));
    EXPECT_EQ(child + L" -Profiles  \"P\"", BuildChildCommandLine(SwitchSettings(), L" \"P\""));
    EXPECT_EQ(child + L" -Cleanup -Silent", BuildCleanupCommandLine(SwitchSettings()));
    EXPECT_EQ(child + L" -Cleanup -Silent", BuildCleanupCommandLine(WithCommandLine(L"-Verbose -Threads 4")));
}

TEST(ChildCommandLines, TakeOverValuesWholeUpToTheNextSwitch)
{
    struct Case {
        const wchar_t* korvelCmdLine;
        const wchar_t* ini;
        const wchar_t* log;
    };
    const Case cases[] = {
        {L"-ini \"C:\\my-dir\\x.ini\"", L" \"C:\\my-dir\\x.ini\"", L""},
        {L"-INI C:\\my-dir\\x.ini -log C:\\logs\\a-b.log", L" C:\\my-dir\\x.ini ", L" C:\\logs\\a-b.log"},
        {L"/ini C:/cfg/x.ini /Silent", L"C:/cfg/x.ini ", L""},
        {L"-ini \"C:\\a -b\\x.ini\" -Log \"C:\\l /c\\u.log\"", L" \"C:\\a -b\\x.ini\" ", L" \"C:\\l /c\\u.log\""},
        {L"-Config-ini x.ini -Verbose-Log y.log", L"", L""},
        {L"-Log \"C:\\x -ini y.log\"", L"", L" \"C:\\x -ini y.log\""},
        {L"-ini", L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.ini, ExtractIniArgument(c.korvelCmdLine)) << Narrow(c.korvelCmdLine);
        EXPECT_EQ(c.log, ExtractLogArgument(c.korvelCmdLine)) << Narrow(c.korvelCmdLine);
    }
    EXPECT_EQ(QuotedChildExecutablePath() + L" -Cleanup -Silent -ini  \"C:\\my-dir\\x.ini\"",
              BuildCleanupCommandLine(WithCommandLine(L"-ini \"C:\\my-dir\\x.ini\"")));
}

TEST(ChildCommandLines, PutTheLogSuffixIntoTheFileNameOnly)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"", L""},
        {L" \"C:\\Logs\\upd.log\"", L" \"C:\\Logs\\upd_Cleanup.log\""},
        {L" \"C:\\logs.d\\upd\"", L" \"C:\\logs.d\\upd_Cleanup\""},
        {L" C:\\logs.d\\upd", L" C:\\logs.d\\upd_Cleanup"},
        {L" 'upd'", L" 'upd_Cleanup'"},
        {L" C:/logs/upd.2024.log", L" C:/logs/upd.2024_Cleanup.log"},
        {L" \"C:\\Logs\\upd\" ", L" \"C:\\Logs\\upd_Cleanup\" "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, InsertLogSuffix(c.first, L"_Cleanup")) << Narrow(c.first);
    }
}

// The double, steered through a directory of its own that the test process passes on to its children.
class KorvelDouble : public ::testing::Test {
protected:
    void SetUp() override { ::SetEnvironmentVariableW(L"BRISKLET_KORVEL_DOUBLE", steering.Path().c_str()); }
    void TearDown() override { ::SetEnvironmentVariableW(L"BRISKLET_KORVEL_DOUBLE", nullptr); }

    std::string Commands() const
    {
        return Exists(steering / L"commands.txt") ? ReadBytes(steering / L"commands.txt") : std::string();
    }

    TempDir steering{L"korvel"};
};

TEST_F(KorvelDouble, ExitCodesComeBackWhole)
{
    const std::wstring commandLine = L"\"" + DoublesDirectory() + L"\\KorvelEngine.exe\" -Profiles  \"Res A\"";
    WriteBytes(steering / L"exitcodes.txt", "0\n3\n-1\n2147483647\n");
    for (const int expected : {0, 3, -1, 2147483647}) {
        ConsoleCapture console;
        EXPECT_EQ(expected, RunChildProcess(commandLine));
        EXPECT_EQ("Info: Start Korvel with the command line " + Narrow(commandLine) + ".\n", console.Text());
    }
    const std::string line = Utf8(commandLine) + "\n";
    EXPECT_EQ(line + line + line + line, Commands());
}

TEST_F(KorvelDouble, AChildThatCannotBeStartedGivesNoExitCodeAndNoMessageOfItsOwn)
{
    TempDir empty(L"no korvel");
    const std::wstring commandLine = L"\"" + empty.Path() + L"\\KorvelEngine.exe\" -Cleanup -Silent";
    ConsoleCapture console;
    EXPECT_EQ(std::nullopt, RunChildProcess(commandLine));
    EXPECT_EQ("Info: Start Korvel with the command line " + Narrow(commandLine) + ".\n", console.Text());
    EXPECT_EQ("", Commands());
}

// The child phase run by a program in a tool directory with blanks, beside the double or without it.
class ChildRunFromToolDirectory : public KorvelDouble {
protected:
    void SetUp() override
    {
        KorvelDouble::SetUp();
        CopyInto(DoublesDirectory() + L"\\child_run_probe.exe", tool.Path());
    }

    ToolRun Run(const std::vector<std::wstring>& arguments)
    {
        RunOptions options;
        options.Environment = {{L"BRISKLET_KORVEL_DOUBLE", steering.Path()}};
        return RunProgram(tool / L"child_run_probe.exe", arguments, options);
    }

    TempDir tool{L"Program Files (x86) tool dir"};
};

TEST_F(ChildRunFromToolDirectory, RunsBothLinesOfTheWorkedExampleInOrderWithItsOwnOutput)
{
    CopyInto(DoublesDirectory() + L"\\KorvelEngine.exe", tool.Path());
    WriteBytes(steering / L"exitcodes.txt", "3\n7\n");
    WriteBytes(steering / L"stdout.txt", "Korvel double here");

    const ToolRun run = Run({workedExample, L"Res A", L"Res B"});

    const std::wstring child = L"\"" + tool.Path() + L"\\KorvelEngine.exe\"";
    const std::wstring mainLine = child + L" -ini \"Switch.ini\" -Log \"C:\\Logs\\upd.log\" -Profiles  \"Res A\" \"Res B\"";
    const std::wstring cleanupLine =
        child + L" -Cleanup -Silent -ini  \"Switch.ini\"  -Log  \"C:\\Logs\\upd_Cleanup.log\"";
    EXPECT_EQ(Utf8(mainLine) + "\n" + Utf8(cleanupLine) + "\n", Commands());
    EXPECT_EQ("Info: Start Korvel with the command line " + Narrow(mainLine) + ".\r\n" + "Korvel double here\r\n" +
                  "Info: Start Korvel with the command line " + Narrow(cleanupLine) + ".\r\n" +
                  "Korvel double here\r\n",
              run.Output);
    EXPECT_EQ(3u, run.ExitCode);
}

TEST_F(ChildRunFromToolDirectory, WithoutTheChildBesideItNothingRuns)
{
    const ToolRun run = Run({L"", L"Res A"});
    const std::wstring mainLine = L"\"" + tool.Path() + L"\\KorvelEngine.exe\" -Profiles  \"Res A\"";
    EXPECT_EQ("Info: Start Korvel with the command line " + Narrow(mainLine) + ".\r\n", run.Output);
    EXPECT_EQ(0xFFFFFFFFu, run.ExitCode);
    EXPECT_EQ("", Commands());
}

} // namespace
