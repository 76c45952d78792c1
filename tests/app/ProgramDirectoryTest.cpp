#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <gtest/gtest.h>

namespace {

using namespace TestSupport;

std::wstring ProbeOutput(const std::wstring& directory, const std::wstring& configName)
{
    CopyInto(BinDirectory() + L"\\program_directory_probe.exe", directory);
    const ToolRun run = RunProgram(directory + L"\\program_directory_probe.exe", {configName});
    return std::wstring(reinterpret_cast<const wchar_t*>(run.Output.data()), run.Output.size() / sizeof(wchar_t));
}

TEST(ProgramDirectory, IsTheExecutablesDirectoryEvenWithBlanks)
{
    TempDir tool(L"Program Files (x86)");
    EXPECT_EQ(tool.Path() + L"\n" + tool.Path() + L"\\Switch.ini\n", ProbeOutput(tool.Path(), L"Switch.ini"));
}

// A path past MAX_PATH is shown by tests/app/LongProgramPath.cmake: Wine starts such a program only from the
// Unix side, not through CreateProcessW.

TEST(ProgramDirectory, AbsoluteConfigurationNamesAreKeptAsTyped)
{
    TempDir tool(L"tool");
    for (const std::wstring name : {L"C:\\configs\\Switch.ini", L"\\\\server\\share\\Switch.ini",
                                    L"\\configs\\Switch.ini", L"/configs/Switch.ini", L"D:/configs/Switch.ini"}) {
        EXPECT_EQ(tool.Path() + L"\n" + name + L"\n", ProbeOutput(tool.Path(), name));
    }
    EXPECT_EQ(tool.Path() + L"\n" + tool.Path() + L"\\sub\\Switch.ini\n", ProbeOutput(tool.Path(), L"sub\\Switch.ini"));
}

} // namespace
