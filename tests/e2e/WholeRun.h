#pragma once

#include "mapi32/State.h"
#include "support/TestSupport.h"

#include "errors/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace E2e {

// Accounts of the directory fixture (Fabrikam, moving to Contoso).
std::wstring Source(const std::wstring& name);
std::wstring Target(const std::wstring& name);
extern const wchar_t SourceServer[];

// What the loader prints for a configuration file with nothing usable in it.
extern const char nothingConfigured[];
// How a run that made no profile ends.
extern const char noProfiles[];

// "127.0.0.1:PORT" of a slapd instance of the directory fixture.
std::wstring DirectoryServer(const std::wstring& instance = L"dc");

// The "DCPassword" text the encrypt mode stores for the fixture's service account.
std::string StoredServicePassword();

// A configuration as an administrator writes it, with a [SwitchMessage] section of the given lines.
struct Configuration {
    std::string Settings = "SrcExchServer=SRCEX01\nKorvelCmdLine=-ini \"Switch.ini\" -Log \"C:\\Logs\\upd.log\"\n";
    std::vector<std::wstring> Mailboxes;
    std::string Directory; // empty: the fixture's domain controller and service account
    std::string SwitchMessage = "TargetServer=TGTEX01\nVersion=v4\n";

    std::string Text() const;
};

// A tool directory with Brisklet.exe and every double beside it, and the doubles' steering directories.
class WholeRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Write(const Configuration& configuration);
    // Gives each source line a mailbox on the source server in the MAPI double's world.
    void SeedMailboxes(const std::vector<std::wstring>& sources);
    void FailMapiCall(const std::wstring& call, HRESULT result, const std::wstring& mailbox = L"", ULONG use = 0,
                      const std::wstring& text = L"");
    // The activeds double's steering file (see tests/doubles/activeds/Steering.h).
    void SteerDirectory(const std::string& steering);
    void SetChildExitCodes(const std::string& codes);

    // Empties the doubles' worlds, steering and records, so that one test can run case after case.
    void StartAfresh();
    // Marks one case of a test that runs many; the test's end reports how many were tried and survived.
    void BeginCase();
    void EndCase();

    TestSupport::ToolRun Run(const std::vector<std::wstring>& arguments = {L"Switch.ini"},
                             TestSupport::RunOptions options = {});

    // The transcript and the child's command lines, each generated profile name replaced by "{profile-N}" in
    // order of appearance.
    std::string Transcript() const;
    std::vector<std::string> ChildCommandLines() const;
    std::string ToolDirectory() const { return ToNarrow(tool.Path()); }
    // Transcript lines: the directory bound; a switch message made for a mailbox of the fixture with the
    // configuration's default [SwitchMessage]; the child's two runs over a profile list (" \"{profile-1}\" ...")
    // with the default KorvelCmdLine, each with the exit code shown.
    std::string Connected() const;
    static std::string Created(int profile, const std::wstring& name, const std::string& verb = "created");
    std::string ChildRuns(const std::string& profiles, const std::string& shown = "0",
                          const std::string& cleanupShown = "0") const;

    // Every profile removed, every MAPI object and buffer released without a misuse, every directory object
    // released; ExpectNoLeaks: the same, whatever became of the profiles.
    void ExpectNothingLeftBehind() const;
    void ExpectNoLeaks() const;

    MapiDouble::CStateDirectory MapiState() const { return MapiDouble::CStateDirectory(mapi.Path()); }

    TestSupport::TempDir tool{L"cut over"};
    TestSupport::TempDir mapi{L"mapi"};
    TestSupport::TempDir adsi{L"adsi"};
    TestSupport::TempDir korvel{L"korvel"};
    TestSupport::ToolRun last;

private:
    std::string Normalised(const std::string& text) const;
    static int FailureCount();

    mutable std::vector<std::string> profileNames;
    int casesTried = 0;
    int casesSurvived = 0;
    int failuresAtCaseStart = 0;
};

} // namespace E2e
