#include "env/OutlookCheck.h"

#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <gtest/gtest.h>

namespace {

using namespace TestSupport;

const char refusal[] = "Error: Cannot support the architecture of Outlook 2010 x64\r\n";

// Brisklet.exe beside the Windows Installer double, steered to give `answer`.
class OutlookCheckRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        CopyInto(BriskletExe(), tool.Path());
        CopyInto(DoublesDirectory() + L"\\msi.dll", tool.Path());
        WriteBytes(tool / L"Switch.ini", "[Settings]\r\n");
    }

    ToolRun Run(const std::vector<std::wstring>& arguments, const char* answer)
    {
        WriteBytes(steering / L"answer.txt", answer);
        RunOptions options;
        options.Environment = {{L"BRISKLET_MSI_DOUBLE", steering.Path()}};
        return RunProgram(tool / L"Brisklet.exe", arguments, options);
    }

    std::string Calls() { return Exists(steering / L"calls.txt") ? ReadBytes(steering / L"calls.txt") : ""; }

    TempDir tool{L"tool"};
    TempDir steering{L"msi"};
};

TEST(OutlookCheck, NothingRegisteredWithWindowsInstallerMeansNoOutlookX64)
{
    EXPECT_FALSE(IsOutlook2010x64Installed());
}

TEST_F(OutlookCheckRun, RegisteredOutlookX64IsRefusedBeforeAnythingElse)
{
    const ToolRun run = Run({L"Switch.ini"}, "0");
    EXPECT_EQ(refusal, run.Output);
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_EQ("category={1E77DE88-BCAB-4C37-B9E5-073AF52DFD7A} qualifier=outlook.x64.exe mode=0 path=null "
              "length=null\n",
              Calls());
}

TEST_F(OutlookCheckRun, AnyOtherAnswerLetsTheRunGoOn)
{
    for (const char* answer : {"1607", "1608", "1603", "2"}) {
        const ToolRun run = Run({L"Switch.ini"}, answer);
        EXPECT_EQ(std::string::npos, run.Output.find("Outlook 2010 x64")) << answer;
    }
    EXPECT_FALSE(Calls().empty());
}

TEST_F(OutlookCheckRun, EncryptModeAsksNothing)
{
    Run({L"Switch.ini", L"secret"}, "0");
    EXPECT_EQ("", Calls());
}

} // namespace
