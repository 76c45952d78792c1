#include "e2e/WholeRun.h"

#include "config/ProgramPaths.h"

#include <mapitags.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

namespace E2e {

using namespace TestSupport;
using MapiDouble::UnicodeProperty;

const char nothingConfigured[] = "Error: No parameters found in section Settings\r\n"
                                 "Error: No mailboxes found in section Mailboxes\r\n"
                                 "Error: No parameters found in section AD\r\n"
                                 "Error: No parameters found in section SwitchMessage\r\n"
                                 "Error: Incorrect format of section \"SrcExchServer\" in ini-file\r\n";
const char pass[] = "Info: Create profiles and check the switch message. \r\n";

std::string Completed(long long exitCode)
{
    return "Completed with exitCode = " + std::to_string(exitCode) + "\r\n";
}

const std::string noProfiles = pass + std::string("No profiles to update were found!\r\n") + Completed(64);

const wchar_t switchSubject[] = L"{0E85BD11-6D96-48dd-B20A-DF8108F272D7}";

std::wstring Source(const std::wstring& name)
{
    return L"/o=Fabrikam/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn=" + name;
}

std::wstring Target(const std::wstring& name)
{
    return L"/o=Contoso/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn=" + name;
}

std::vector<std::wstring> Sources(const std::vector<std::wstring>& names)
{
    std::vector<std::wstring> lines(names.size());
    std::transform(names.begin(), names.end(), lines.begin(), Source);
    return lines;
}

std::vector<std::wstring> Bulk(int first, int count)
{
    std::vector<std::wstring> names;
    for (int number = first; number < first + count; ++number) {
        names.push_back(L"bulk" + std::to_wstring(10000 + number).substr(1));
    }
    return names;
}

const char domainController[] = "FABRIKAM";

std::wstring DirectoryServer(const std::wstring& relay)
{
    const std::wstring portFile = GetProgramDirectory() + L"\\..\\ad\\" + relay + L"\\port";
    return ToWide(domainController) + L":" + Util::Trim(ToWide(ReadBytes(portFile)));
}

// "Migrate-2024!" as tests/fixtures/cipher/make_vectors.py enciphers it, in the lower case some editors leave.
const char servicePassword[] = "569bb58c6cb48cebad45a3c0e2d286ac87bbd8715a070fe8e5fcf23d52db2c7f";

std::string DirectoryKeys(const std::string& server, const std::string& storedPassword)
{
    return "DCName=" + server + "\nDCAccount=FABRIKAM\\svc-brisklet\nDCPassword=" + storedPassword + "\n";
}

std::string Configuration::Text() const
{
    std::string text = "[Settings]\n" + Settings + "[Mailboxes]\n";
    for (const std::wstring& line : Mailboxes) {
        text += ToNarrow(line) + "\n";
    }
    text += "[AD]\n" + (Directory.empty() ? DirectoryKeys(domainController) : Directory);
    return text + "[SwitchMessage]\n" + SwitchMessage;
}

void WholeRun::SetUp()
{
    CopyInto(GetProgramDirectory() + L"\\Brisklet.exe", tool.Path());
    CopyInto(DoublesDirectory() + L"\\MAPI32.dll", tool.Path());
    StartAfresh();
}

void WholeRun::TearDown()
{
    // Whatever a test looks at, its last run may neither leak nor call MAPI as its reference forbids.
    ExpectNoLeaks();
    if (HasFailure()) {
        std::cout << "Transcript:\n" << last.Output << "\nMAPI calls:\n" << MapiState().LoadCalls() << std::endl;
    }
}

void WholeRun::SeedMailboxes(const std::vector<std::wstring>& sources, const std::vector<MapiDouble::Message>& messages)
{
    std::vector<MapiDouble::Mailbox> mailboxes = MapiState().LoadMailboxes();
    for (const std::wstring& source : sources) {
        MapiDouble::Mailbox mailbox;
        mailbox.Server = L"SRCEX01";
        mailbox.Dn = source;
        mailbox.Name = source.substr(source.rfind(L'=') + 1);
        mailbox.Messages = messages;
        mailboxes.push_back(mailbox);
    }
    MapiState().SaveMailboxes(mailboxes);
}

void WholeRun::StartAfresh()
{
    for (const TempDir* directory : {&mapi, &adsi, &korvel}) {
        directory->Empty();
    }
    MapiState().SaveMailboxes({});
    CopyInto(DoublesDirectory() + L"\\KorvelEngine.exe", tool.Path());
    ::DeleteFileW((tool / L"msi.dll").c_str());
}

ToolRun WholeRun::Run(const std::vector<std::wstring>& arguments, RunOptions options)
{
    options.Environment.insert(options.Environment.end(), {{MapiDouble::StateVariable, mapi.Path()},
                                                           {L"BRISKLET_ADSI_DOUBLE", adsi.Path()},
                                                           {L"BRISKLET_KORVEL_DOUBLE", korvel.Path()}});
    seeded = MapiState().LoadMailboxes();
    last = RunProgram(tool / L"Brisklet.exe", arguments, options);
    profileNames.clear();
    return last;
}

std::string WholeRun::Shown(const std::string& text) const
{
    static const std::regex generatedName("\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}");
    std::string result;
    auto position = text.cbegin();
    for (std::sregex_iterator match(text.begin(), text.end(), generatedName), end; match != end; ++match) {
        const std::string name = match->str();
        auto known = std::find(profileNames.begin(), profileNames.end(), name);
        if (known == profileNames.end()) {
            known = profileNames.insert(profileNames.end(), name);
        }
        result.append(position, text.cbegin() + match->position());
        result += "{profile-" + std::to_string(known - profileNames.begin() + 1) + "}";
        position = text.cbegin() + match->position() + match->length();
    }
    return result.append(position, text.cend());
}

std::string WholeRun::Connected() const
{
    return "Info: Connect to the Active Directory server '" + std::string(domainController) + "' using LDAP.\r\n";
}

std::string WholeRun::Created(int profile, const std::wstring& name, const std::string& server, const char* how)
{
    const std::string shown = "{profile-" + std::to_string(profile) + "}";
    return "Info: Switch message is " + std::string(how) + " for profile " + shown +
           "\r\nInfo: Switch message content for profile " + shown + " is \r\n[ZPH 4.0]\r\nTargetServer=" + server +
           "\r\nTargetMailboxDN=" + ToNarrow(Target(name)) + "\r\nMBMatchKeyTag=X500\r\nPFMatchKeyTag=X500\r\n";
}

std::string WholeRun::ChildRuns(const std::string& profiles, const std::string& shown,
                                const std::string& cleanupShown) const
{
    const std::string child = "\"" + ToNarrow(tool.Path()) + "\\KorvelEngine.exe\"";
    return "Info: Start Korvel with the command line " + child + " -ini \"Switch.ini\" -Log \"D:\\pre-undo.log\" " +
           "-Profiles " + profiles + ".\r\nExitCode of Korvel = " + shown + "\r\n" +
           "Info: Start Korvel with the command line " + child +
           " -Cleanup -Silent -ini  \"Switch.ini\"  -Log  \"D:\\pre-undo_Cleanup.log\".\r\n" +
           "ExitCode of Korvel -Cleanup = " + cleanupShown + "\r\n";
}

void WholeRun::ExpectWorld(const std::string& transcript, size_t profilesLeft)
{
    EXPECT_EQ(transcript, Transcript());
    // The messages shown, by the mailbox each one's TargetMailboxDN names last (a body is its "[ZPH" line and the
    // "Key=value" lines after it), and the command lines shown, but for one whose start failed.
    std::map<std::wstring, std::vector<MapiDouble::Message>> written;
    std::wstring body;
    std::wstring name;
    std::string started;
    const std::string start = "Info: Start Korvel with the command line ";
    std::istringstream lines(transcript + "\r\n");
    for (std::string line; std::getline(lines, line);) {
        line.pop_back();
        if (line.rfind("[ZPH ", 0) == 0 || (!body.empty() && line.find('=') < line.find(' '))) {
            body += (body.empty() ? L"" : L"\n") + ToWide(line);
            name = line.rfind("TargetMailboxDN=", 0) == 0 ? ToWide(line.substr(line.rfind("cn=") + 3)) : name;
            continue;
        }
        if (!body.empty()) {
            written[name] = {
                {0, true, {UnicodeProperty(PR_SUBJECT_W, switchSubject), UnicodeProperty(PR_BODY_W, body)}}};
        }
        body.clear();
        started += line.rfind(start, 0) == 0 ? line.substr(start.size(), line.size() - start.size() - 1) + "\n" : "";
        if (line.rfind("Error: Korvel ", 0) == 0) { // the start failed
            started.erase(started.rfind('\n', started.size() - 2) + 1);
        }
    }
    const std::vector<MapiDouble::Mailbox> left = MapiState().LoadMailboxes();
    ASSERT_EQ(seeded.size(), left.size());
    for (size_t index = 0; index < left.size(); ++index) {
        const auto shown = written.find(left[index].Name);
        EXPECT_EQ(MapiDouble::FormatMessages(shown == written.end() ? seeded[index].Messages : shown->second),
                  MapiDouble::FormatMessages(left[index].Messages))
            << ToNarrow(left[index].Name) << "'s messages";
    }
    EXPECT_EQ(started, Shown(ReadBytes(korvel / L"commands.txt"))) << "the child's command lines";
    EXPECT_EQ(profilesLeft, MapiState().LoadProfiles().size()) << "profiles left behind";
    ExpectNoLeaks();
}

void WholeRun::ExpectNoLeaks() const
{
    for (const MapiDouble::Accounting& record : MapiState().LoadAccounting()) {
        EXPECT_EQ(0u, record.Objects + record.Buffers) << "MAPI objects or buffers leaked";
        EXPECT_EQ(0u, record.Misuses) << "MAPI called as its reference forbids";
    }
    // A run that never loaded the directory leaves no record.
    const std::string outstanding = ReadBytes(adsi / L"outstanding.txt");
    EXPECT_TRUE(outstanding.empty() || outstanding == "references=0 searches=0 columns=0\n")
        << "directory objects leaked";
}

} // namespace E2e
