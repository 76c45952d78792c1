// The switches the clean-up run takes over from KorvelCmdLine, and where its log name gets its suffix.
#include "app/ChildProcess.h"

#include <gtest/gtest.h>

namespace {

TEST(ChildCommandLine, TakesOverIniAndLogValuesWholeAndPutsTheSuffixIntoTheLogsFileName)
{
    const struct {
        const wchar_t* korvelCmdLine;
        const wchar_t* ini;
        const wchar_t* log;
    } rows[] = {
        {L"-INI C:\\my-dir\\x.ini -log C:\\logs\\a-b.log", L" C:\\my-dir\\x.ini ", L" C:\\logs\\a-b.log"},
        {L"/ini C:/cfg/x.ini /Silent", L"C:/cfg/x.ini ", L""},
        {L"-ini \"C:\\a -b\\x.ini\" -Log \"C:\\l /c\\u.log\"", L" \"C:\\a -b\\x.ini\" ", L" \"C:\\l /c\\u.log\""},
        {L"-Config-ini x.ini -Verbose-Log y.log -Logfile z.log -initial 5", L"", L""},
        {L"-Log \"C:\\x -ini y.log\"", L"", L" \"C:\\x -ini y.log\""},
        {L"-ini", L"", L""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.ini, ExtractIniArgument(row.korvelCmdLine));
        EXPECT_EQ(row.log, ExtractLogArgument(row.korvelCmdLine));
    }
    // The suffix goes into the file name only.
    const std::pair<const wchar_t*, const wchar_t*> suffixed[] = {
        {L" \"C:\\logs.d\\upd\"", L" \"C:\\logs.d\\upd_Cleanup\""},
        {L" C:\\logs.d\\upd", L" C:\\logs.d\\upd_Cleanup"},
        {L" 'upd'", L" 'upd_Cleanup'"},
        {L" C:/logs/upd.2024.log", L" C:/logs/upd.2024_Cleanup.log"},
        {L" \"C:\\Logs\\upd\" ", L" \"C:\\Logs\\upd_Cleanup\" "},
    };
    for (const auto& row : suffixed) {
        EXPECT_EQ(row.second, InsertLogSuffix(row.first, L"_Cleanup"));
    }
}

} // namespace
