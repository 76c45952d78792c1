// The double's own record of what a whole process left behind, which runs of the real exe rely on.
#include "DirectoryTesting.h"

#include "support/ToolRunner.h"

#include <gtest/gtest.h>

namespace {

using namespace DirectoryTesting;

// Run only as the child of the test below (filtered out of the test list): binds once and keeps one reference.
TEST(ChildProcess, KeepsOneReference)
{
    ComApartment apartment;
    const Adsi::CDirObject connection =
        Adsi::OpenDirObject(Server(Instance::Dc) + L"/" + NamingContext, ServiceAccount, ServicePassword);
    connection.Get()->AddRef();
}

TEST(ActiveDsDouble, RecordsWhatAProcessStillHeldWhenItEnded)
{
    TestSupport::TempDir steering(L"adsi");
    TestSupport::RunOptions options;
    options.Environment = {{L"BRISKLET_ADSI_DOUBLE", steering.Path()}};
    const TestSupport::ToolRun run = TestSupport::RunProgram(TestSupport::BinDirectory() + L"\\directory_tests.exe",
                                                             {L"--gtest_filter=ChildProcess.*"}, options);
    EXPECT_EQ(0u, run.ExitCode) << run.Output;
    EXPECT_EQ("references=1 searches=0 columns=0\n", TestSupport::ReadBytes(steering / L"outstanding.txt"));
    EXPECT_NE(std::string::npos, TestSupport::ReadBytes(steering / L"calls.txt").find("ADsOpenObject path=LDAP://"));
}

} // namespace
