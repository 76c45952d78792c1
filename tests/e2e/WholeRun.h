#pragma once

#include "mapi32/State.h"
#include "support/TestSupport.h"

#include "errors/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace E2e {

// Accounts of the directory fixture (Fabrikam, moving to Contoso), by name.
std::wstring Source(const std::wstring& name);
std::wstring Target(const std::wstring& name);
std::vector<std::wstring> Sources(const std::vector<std::wstring>& names);
// `count` of the fixture's numbered accounts from `first`: "bulk" and four digits.
std::vector<std::wstring> Bulk(int first, int count);

// What the loader prints for an empty file, how the pass begins, how a run with no profile ends, a run's last line.
extern const char nothingConfigured[];
extern const char pass[];
extern const std::string noProfiles;
std::string Completed(long long exitCode);
// The subject every switch message carries.
extern const wchar_t switchSubject[];

// The fixture's domain controller by the domain's NetBIOS name, which Wine's provider takes as the NTLM domain
// of a secure bind; "FABRIKAM:PORT" of one of the fixture's servers that stop answering ("silent", "stall").
extern const char domainController[];
std::wstring DirectoryServer(const std::wstring& relay);
// The [AD] keys of the fixture's service account on `server`, its password stored as `storedPassword`.
extern const char servicePassword[]; // as the encrypt mode stores it
std::string DirectoryKeys(const std::string& server, const std::string& storedPassword = servicePassword);

// A configuration as an administrator writes it, blanks and letter case as they come.
struct Configuration {
    std::string Settings = "SrcExchServer = SRCEX01 \nKorvelCmdLine=-ini \"Switch.ini\" -Log \"D:\\pre-undo.log\"\n";
    std::vector<std::wstring> Mailboxes;
    std::string Directory; // empty: the fixture's domain controller and service account
    std::string SwitchMessage = "TargetServer=TGTEX01\nversion=v4\n";

    std::string Text() const;
};

// A tool directory with Brisklet.exe and the doubles beside it, and the doubles' steering directories.
class WholeRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Write(const Configuration& config) { TestSupport::WriteBytes(tool / L"Switch.ini", config.Text()); }
    // Gives each source line a mailbox on the source server in the MAPI double's world, holding `messages`.
    void SeedMailboxes(const std::vector<std::wstring>& sources, const std::vector<MapiDouble::Message>& messages = {});
    // Empties the doubles' worlds, steering and records and restores SetUp's doubles, for case after case.
    void StartAfresh();

    TestSupport::ToolRun Run(const std::vector<std::wstring>& arguments = {L"Switch.ini"},
                             TestSupport::RunOptions options = {});

    // The transcript, each profile name shown as "{profile-N}" in order of appearance.
    std::string Transcript() const { return Shown(last.Output); }
    // Transcript lines: the domain controller bound; the v4 switch message made (or "recreated") for `server`; the
    // child's two runs over a profile list (" \"{profile-1}\" ...") with the default KorvelCmdLine.
    std::string Connected() const;
    static std::string Created(int profile, const std::wstring& name, const std::string& server = "TGTEX01",
                               const char* how = "created");
    std::string ChildRuns(const std::string& profiles, const std::string& shown = "0",
                          const std::string& cleanupShown = "0") const;

    // All the last run left against `transcript`, the one expected: the transcript; each mailbox it shows written
    // holds that switch message alone, hidden and whole, every other what it was seeded with; the child started with
    // each command line shown and no other; `profilesLeft` profiles; no MAPI object, buffer, misuse or ADSI object.
    void ExpectWorld(const std::string& transcript, size_t profilesLeft = 0);
    void ExpectNoLeaks() const;

    MapiDouble::CStateDirectory MapiState() const { return MapiDouble::CStateDirectory(mapi.Path()); }

    TestSupport::TempDir tool{L"cut over"};
    TestSupport::TempDir mapi{L"mapi"};
    TestSupport::TempDir adsi{L"adsi"};
    TestSupport::TempDir korvel{L"korvel"};
    TestSupport::ToolRun last;

private:
    std::string Shown(const std::string& text) const; // each profile name as "{profile-N}"

    mutable std::vector<std::string> profileNames;
    std::vector<MapiDouble::Mailbox> seeded; // as the last run found them
};

} // namespace E2e
