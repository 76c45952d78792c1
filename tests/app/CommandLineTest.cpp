#include "app/CommandLine.h"

#include "errors/Handle.h"
#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <gtest/gtest.h>

namespace {

using namespace TestSupport;

class CommandLineRun : public ::testing::Test {
protected:
    void SetUp() override { CopyInto(BriskletExe(), tool.Path()); }

    ToolRun Run(const std::vector<std::wstring>& arguments, const std::wstring& workingDirectory = L"")
    {
        RunOptions options;
        options.WorkingDirectory = workingDirectory;
        return RunProgram(tool / L"Brisklet.exe", arguments, options);
    }

    TempDir tool{L"tool dir"};
    TempDir elsewhere{L"elsewhere"};
};

TEST_F(CommandLineRun, WrongArgumentCountsAreRefusedWithExitCodeZero)
{
    for (const auto& arguments : std::vector<std::vector<std::wstring>>{{}, {L"a.ini", L"pw", L"x"}}) {
        const ToolRun run = Run(arguments);
        EXPECT_EQ("Error: Invalid command line\r\n", run.Output);
        EXPECT_EQ(0u, run.ExitCode);
    }
}

TEST_F(CommandLineRun, MissingConfigurationIsNamedAsTyped)
{
    const ToolRun run = Run({L"Missing Switch.ini"});
    EXPECT_EQ("Error: Cannot find the ini-file 'Missing Switch.ini'\r\n", run.Output);
    EXPECT_EQ(0u, run.ExitCode);

    const ToolRun foreign = Run({L"Z\u00fcrich-\u041c\u043e\u0441\u043a\u0432\u0430.ini"});
    EXPECT_EQ("Error: Cannot find the ini-file 'Z\xfcrich-??????.ini'\r\n", foreign.Output);
}

TEST_F(CommandLineRun, RelativeNamesAreLookedForBesideTheToolNotInTheCurrentDirectory)
{
    WriteBytes(elsewhere / L"OnlyHere.ini", "[Settings]\r\n");
    EXPECT_EQ("Error: Cannot find the ini-file 'OnlyHere.ini'\r\n",
              Run({L"OnlyHere.ini"}, elsewhere.Path()).Output);

    WriteBytes(tool / L"Beside.ini", "[Settings]\r\n");
    EXPECT_EQ(std::string::npos, Run({L"Beside.ini"}, elsewhere.Path()).Output.find("Cannot find the ini-file"));
}

TEST_F(CommandLineRun, AbsoluteNamesAreUsedAsTheyStand)
{
    WriteBytes(elsewhere / L"Absolute.ini", "[Settings]\r\n");
    EXPECT_EQ(std::string::npos, Run({elsewhere / L"Absolute.ini"}).Output.find("Cannot find the ini-file"));
    EXPECT_EQ("Error: Cannot find the ini-file '" + std::string(tool.Path().begin(), tool.Path().end()) +
                  "\\Nope.ini'\r\n",
              Run({tool / L"Nope.ini"}).Output);
}

TEST_F(CommandLineRun, EncryptModeDoesNotAskForTheFile)
{
    EXPECT_EQ(std::string::npos, Run({L"Never There.ini", L"secret"}).Output.find("Cannot find"));
}

TEST(FileExists, OnlyAMissingFileOrDirectoryCountsAsAbsent)
{
    TempDir dir;
    WriteBytes(dir / L"present.ini", "x");
    EXPECT_TRUE(FileExists(dir / L"present.ini"));
    EXPECT_FALSE(FileExists(dir / L"absent.ini"));
    EXPECT_FALSE(FileExists(dir / L"no such dir\\absent.ini"));

    // Held open without sharing, as an editor or a second run might: it exists all the same.
    const Util::CHandle locked(::CreateFileW((dir / L"present.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked.IsValid());
    EXPECT_TRUE(FileExists(dir / L"present.ini"));
}

TEST(ParseCommandLine, TwoArgumentsChooseEncryptModeWithoutAnyCheck)
{
    const wchar_t* argv[] = {L"Brisklet.exe", L"No Such.ini", L" pass word "};
    const CommandLineOptions options = ParseCommandLine(3, argv);
    EXPECT_TRUE(options.IsValid);
    EXPECT_TRUE(options.IsEncryptMode);
    EXPECT_EQ(L"No Such.ini", options.IniPath);
    EXPECT_EQ(L" pass word ", options.Password);
}

} // namespace
