#include "config/ProgramPaths.h"

#include <gtest/gtest.h>

namespace {

// Under Wine a name rooted with "/" is a Unix path, so no whole run can tell it from one beside the tool.
TEST(ProgramPaths, AbsoluteConfigurationNamesAreKeptAsTypedAndOthersLieBesideTheTool)
{
    for (const std::wstring name : {L"C:\\configs\\Switch.ini", L"\\\\server\\share\\Switch.ini",
                                    L"\\configs\\Switch.ini", L"/configs/Switch.ini", L"D:/configs/Switch.ini"}) {
        EXPECT_EQ(name, ResolveConfigurationPath(name));
    }
    EXPECT_EQ(GetProgramDirectory() + L"\\sub\\Switch.ini", ResolveConfigurationPath(L"sub\\Switch.ini"));
}

} // namespace
