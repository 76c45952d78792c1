// Configuration files as administrators produce them by accident: unreadable, in another encoding, too long,
// doubled, with values the ANSI code page cannot hold or that a directory filter treats specially. Every run must
// end with a message that says what is wrong and an orderly exit code, and leave nothing behind.
#include "e2e/WholeRun.h"

#include "errors/Handle.h"
#include "errors/Text.h"

#include <mapitags.h>

#include <cwchar>

namespace {

using namespace E2e;
using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

std::string Utf8(const std::wstring& text)
{
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::string Utf16WithBom(const std::wstring& text)
{
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring WithCrLf(const std::wstring& text)
{
    std::wstring result;
    for (const wchar_t c : text) {
        result += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    }
    return result;
}

// Bytes that no editor would write, the same on every run; they never begin with a byte-order mark.
std::string Junk(size_t size)
{
    std::string bytes;
    unsigned int state = 20240611;
    while (bytes.size() < size) {
        state = state * 1103515245 + 12345;
        const char byte = static_cast<char>(state >> 16);
        if (!bytes.empty() || (byte != '\xFF' && byte != '\xFE' && byte != '\xEF')) {
            bytes += byte;
        }
    }
    return bytes;
}

class HostileConfiguration : public WholeRun {
protected:
    std::wstring DirectoryKeys() const
    {
        return L"DCName=" + DirectoryServer() +
               L"\nDCAccount=CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com\nDCPassword=" +
               ToWide(StoredServicePassword()) + L"\n";
    }

    std::string CannotLoad() const
    {
        return "Error: Cannot load INI file " + ToNarrow(tool / L"Switch.ini") + "\r\n" + noProfiles;
    }

    std::string Created(int profile, const std::wstring& name, const std::wstring& targetServer = L"TGTEX01") const
    {
        const std::string shown = "{profile-" + std::to_string(profile) + "}";
        return "Info: Switch message is created for profile " + shown + "\r\n" +
               "Info: Switch message content for profile " + shown + " is \r\n[ZPH 4.0]\r\nTargetServer=" +
               ToNarrow(targetServer) + "\r\nTargetMailboxDN=" + ToNarrow(Target(name)) +
               "\r\nMBMatchKeyTag=X500\r\nPFMatchKeyTag=X500\r\n";
    }

    std::string Warning(const std::wstring& line) const
    {
        return "Warning: Cannot find UserDNTrg for UserDNSrc = " + ToNarrow(line) + "\r\n";
    }

    std::wstring SwitchMessageBody(const std::wstring& source) const
    {
        for (const MapiDouble::Mailbox& mailbox : MapiState().LoadMailboxes()) {
            if (mailbox.Dn == source && mailbox.Messages.size() == 1) {
                const MapiDouble::Property* body = MapiDouble::FindProperty(mailbox.Messages[0].Props, PR_BODY_W);
                return body == nullptr ? L"(no body)" : body->Text;
            }
        }
        return L"(no single switch message)";
    }

    std::string DirectoryCalls() const
    {
        return TestSupport::Exists(adsi / L"calls.txt") ? ReadBytes(adsi / L"calls.txt") : std::string();
    }

    std::string Searched(const std::wstring& escapedLine) const
    {
        return "(legacyExchangeDN=" + Utf8(escapedLine) + ")";
    }
};

TEST_F(HostileConfiguration, FilesWithNothingUsableEndWithNothingToDo)
{
    const struct {
        const char* what;
        std::string bytes;
    } files[] = {
        {"empty", ""},
        {"binary junk", Junk(4096)},
        {"only NUL bytes", std::string(4096, '\0')},
        {"a UTF-16 byte-order mark alone", "\xFF\xFE"},
        {"a UTF-8 byte-order mark alone", "\xEF\xBB\xBF"},
        {"junk behind a UTF-16 byte-order mark", "\xFF\xFE" + Junk(4096)},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.what);
        StartAfresh();
        WriteBytes(tool / L"Switch.ini", file.bytes);
        EXPECT_EQ(64u, Run().ExitCode);
        EXPECT_EQ(std::string(nothingConfigured) + noProfiles,
                  Transcript());
        EXPECT_EQ("", DirectoryCalls()) << "the directory was contacted";
        ExpectNothingLeftBehind();
    }
}

// Notepad saves UTF-16 with a byte-order mark ("Unicode"), or UTF-8 with one; both are decoded whole, so lines
// and values outside the ANSI code page reach the directory, the switch message and the child intact. Only the
// console, which is ANSI, shows them as "?".
TEST_F(HostileConfiguration, NotepadEncodingsCarryNonAnsiLinesAndValuesIntact)
{
    const std::wstring roomName = L"\x043F\x0435\x0440\x0435\x0433\x043E\x0432\x043E\x0440\x043D\x0430\x044F";
    const std::wstring meetingRoom = Source(roomName);
    const std::wstring server = L"\x0421\x0435\x0440\x0432\x0435\x0440-01";
    const std::wstring logDirectory = L"C:\\\x0416\x0443\x0440\x043D\x0430\x043B";
    const std::wstring text = L"[Settings]\nSrcExchServer=SRCEX01\nKorvelCmdLine=-ini \"Switch.ini\" -Log \"" +
                              logDirectory + L"\\upd.log\"\n[Mailboxes]\n" + Source(L"room.oslo") + L"\n" +
                              Source(L"j\x00FCrgen.m\x00FCller") + L"\n" + meetingRoom + L"\n[AD]\n" +
                              DirectoryKeys() + L"[SwitchMessage]\nTargetServer=" + server + L"\nVersion=v4\n";
    const struct {
        const char* what;
        std::string bytes;
    } files[] = {
        {"UTF-16 with byte-order mark", Utf16WithBom(WithCrLf(text))},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + Utf8(WithCrLf(text))},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.what);
        StartAfresh();
        SeedMailboxes({Source(L"room.oslo"), Source(L"j\x00FCrgen.m\x00FCller")});
        WriteBytes(tool / L"Switch.ini", file.bytes);

        EXPECT_EQ(0u, Run().ExitCode);
        const std::string child = "\"" + ToolDirectory() + "\\KorvelEngine.exe\"";
        EXPECT_EQ(Connected() + Warning(meetingRoom) + "Info: Create profiles and check the switch message. \r\n" +
                      Created(1, L"j\x00FCrgen.m\x00FCller", server) + Created(2, L"room.oslo", server) +
                      "Info: Start Korvel with the command line " + child + " -ini \"Switch.ini\" -Log \"" +
                      ToNarrow(logDirectory) + "\\upd.log\" -Profiles  \"{profile-1}\" \"{profile-2}\".\r\n" +
                      "ExitCode of Korvel = 0\r\nInfo: Start Korvel with the command line " + child +
                      " -Cleanup -Silent -ini  \"Switch.ini\"  -Log  \"" + ToNarrow(logDirectory) +
                      "\\upd_Cleanup.log\".\r\nExitCode of Korvel -Cleanup = 0\r\nCompleted with exitCode = 0\r\n",
                  Transcript());
        EXPECT_NE(std::string::npos, DirectoryCalls().find(Utf8(L"cn=" + roomName + L"))")))
            << "the line outside the ANSI code page did not reach the directory as written";
        EXPECT_EQ(L"[ZPH 4.0]\nTargetServer=" + server + L"\nTargetMailboxDN=" + Target(L"j\x00FCrgen.m\x00FCller") +
                      L"\nMBMatchKeyTag=X500\nPFMatchKeyTag=X500",
                  SwitchMessageBody(Source(L"j\x00FCrgen.m\x00FCller")));
        const std::vector<std::string> commands = ChildCommandLines();
        ASSERT_EQ(2u, commands.size());
        EXPECT_NE(std::string::npos, commands[1].find(Utf8(logDirectory + L"\\upd_Cleanup.log")));
        ExpectNothingLeftBehind();
    }

    // The same file saved as UTF-8 without a mark is taken in the ANSI code page: the lines outside ASCII do
    // not match and are reported with what was read; the rest of the run goes on.
    StartAfresh();
    SeedMailboxes({Source(L"room.oslo"), Source(L"j\x00FCrgen.m\x00FCller")});
    WriteBytes(tool / L"Switch.ini", Utf8(WithCrLf(text)));
    EXPECT_EQ(0u, Run().ExitCode);
    auto misread = [](const std::wstring& written) { return ToWide(Utf8(written)); };
    const std::string child = "\"" + ToolDirectory() + "\\KorvelEngine.exe\"";
    EXPECT_EQ(Connected() + Warning(misread(Source(L"j\x00FCrgen.m\x00FCller"))) + Warning(misread(meetingRoom)) +
                  "Info: Create profiles and check the switch message. \r\n" +
                  Created(1, L"room.oslo", misread(server)) + "Info: Start Korvel with the command line " + child +
                  " -ini \"Switch.ini\" -Log \"" + ToNarrow(misread(logDirectory)) +
                  "\\upd.log\" -Profiles  \"{profile-1}\".\r\nExitCode of Korvel = 0\r\n"
                  "Info: Start Korvel with the command line " +
                  child + " -Cleanup -Silent -ini  \"Switch.ini\"  -Log  \"" + ToNarrow(misread(logDirectory)) +
                  "\\upd_Cleanup.log\".\r\nExitCode of Korvel -Cleanup = 0\r\nCompleted with exitCode = 0\r\n",
              Transcript());
    ExpectNothingLeftBehind();
}

TEST_F(HostileConfiguration, OverlongLinesAndSectionsAreRefusedWhole)
{
    Configuration base;
    base.Mailboxes = {Source(L"room.oslo")};
    std::vector<std::wstring> manyLines;
    for (int i = 1; i <= 750; ++i) {
        wchar_t name[16];
        std::swprintf(name, 16, L"bulk%04d", i);
        manyLines.push_back(Source(name));
    }
    const struct {
        const char* what;
        std::string bytes;
    } refused[] = {
        {"a mailbox line of 100,000 characters", [&] {
             Configuration longLine = base;
             longLine.Mailboxes.push_back(L"/o=" + std::wstring(100000, L'x'));
             return longLine.Text();
         }()},
        {"a value of 100,000 characters", base.Text() + "Comment=" + std::string(100000, 'y') + "\n"},
        {"a section of 750 mailbox lines", [&] {
             Configuration many = base;
             many.Mailboxes = manyLines;
             return many.Text();
         }()},
    };
    for (const auto& file : refused) {
        SCOPED_TRACE(file.what);
        StartAfresh();
        WriteBytes(tool / L"Switch.ini", file.bytes);
        EXPECT_EQ(64u, Run().ExitCode);
        EXPECT_EQ(CannotLoad(), Transcript());
        EXPECT_EQ("", DirectoryCalls()) << "the directory was contacted";
        ExpectNothingLeftBehind();
    }

    // A line of that length in a section the tool does not read changes nothing.
    StartAfresh();
    SeedMailboxes({Source(L"room.oslo")});
    WriteBytes(tool / L"Switch.ini", "[Notes]\nText=" + std::string(100000, 'z') + "\n" + base.Text());
    EXPECT_EQ(0u, Run().ExitCode);
    EXPECT_EQ(Connected() + "Info: Create profiles and check the switch message. \r\n" + Created(1, L"room.oslo") +
                  ChildRuns(" \"{profile-1}\"") + "Completed with exitCode = 0\r\n",
              Transcript());
    ExpectNothingLeftBehind();
}

// The profile-string functions read the first of two equal sections only, and of two equal keys the first
// counts: what the later ones say is not used.
TEST_F(HostileConfiguration, DuplicateSectionsAndKeysTakeTheFirst)
{
    SeedMailboxes({Source(L"room.oslo"), Source(L"reception")});
    Configuration configuration;
    configuration.Mailboxes = {Source(L"room.oslo")};
    configuration.SwitchMessage = "TargetServer=TGTEX01\ntargetserver=TGTEX99\nVersion=v4\n";
    WriteBytes(tool / L"Switch.ini", configuration.Text() + "[Mailboxes]\n" + ToNarrow(Source(L"reception")) +
                                         "\n[Settings]\nSrcExchServer=ELSEWHERE\n[SwitchMessage]\nVersion=v1\n");
    EXPECT_EQ(0u, Run().ExitCode);
    EXPECT_EQ(Connected() + "Info: Create profiles and check the switch message. \r\n" + Created(1, L"room.oslo") +
                  ChildRuns(" \"{profile-1}\"") + "Completed with exitCode = 0\r\n",
              Transcript());
    ExpectNothingLeftBehind();
}

TEST_F(HostileConfiguration, StoredPasswordsThatAreNotTheCiphersAreReportedBeforeTheDirectory)
{
    const std::wstring junk[] = {
        L"", L"zz", L"0", L"00", L"GGGGGGGGGGGGGGGG", std::wstring(32, L'0'), std::wstring(200, L'F'),
        L"\x043F\x0430\x0440\x043E\x043B\x044C", L"Migrate-2024!",
    };
    for (const std::wstring& stored : junk) {
        SCOPED_TRACE(ToNarrow(stored));
        StartAfresh();
        const std::wstring text = L"[Settings]\nSrcExchServer=SRCEX01\n[Mailboxes]\n" + Source(L"room.oslo") +
                                  L"\n[AD]\nDCName=" + DirectoryServer() + L"\nDCAccount=x\nDCPassword=" + stored +
                                  L"\n[SwitchMessage]\nTargetServer=TGTEX01\nVersion=v4\n";
        WriteBytes(tool / L"Switch.ini", Utf16WithBom(text));
        EXPECT_EQ(64u, Run().ExitCode);
        EXPECT_EQ("Error: Cannot decrypt password \"" + ToNarrow(stored) + "\"\r\n" + noProfiles, Transcript());
        EXPECT_EQ("", DirectoryCalls()) << "the directory was contacted";
        ExpectNothingLeftBehind();
    }

    // Damage the cipher cannot see (a digit changed inside the text) gives another password, which the
    // directory refuses.
    StartAfresh();
    std::string damaged = StoredServicePassword();
    damaged[32] = damaged[32] == '0' ? '1' : '0';
    Configuration configuration;
    configuration.Mailboxes = {Source(L"room.oslo")};
    configuration.Directory = "DCName=" + ToNarrow(DirectoryServer()) +
                              "\nDCAccount=CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com\nDCPassword=" +
                              damaged + "\n";
    Write(configuration);
    EXPECT_EQ(64u, Run().ExitCode);
    EXPECT_EQ(Connected() + "Error:  Cannot get information from " + ToNarrow(DirectoryServer()) + "\r\n" + noProfiles,
              Transcript());
    ExpectNothingLeftBehind();
}

// A mailbox line is a value, never part of the filter: "*", "(", ")" and "\" match only themselves, so a line
// cannot widen the search or reach another account.
TEST_F(HostileConfiguration, FilterCharactersAndNonAsciiInMailboxLinesMatchOnlyThemselves)
{
    const std::wstring starRoom = Source(L"conf*room");
    const std::wstring injected = Source(L"x)(legacyExchangeDN=*");
    const std::wstring backslash = Source(L"back\\slash");
    const std::wstring escapedText = Source(L"conf\\2aroom");
    const std::wstring operators = Source(L"a&b|c!d=e<f>g~h");
    const std::wstring umlauts = Source(L"j\x00FCrgen.m\x00FCller");
    SeedMailboxes({starRoom, umlauts});
    Configuration configuration;
    configuration.Mailboxes = {starRoom, injected, backslash, escapedText, operators, umlauts};
    Write(configuration);

    EXPECT_EQ(0u, Run().ExitCode);
    EXPECT_EQ(Connected() + Warning(injected) + Warning(backslash) + Warning(escapedText) + Warning(operators) +
                  "Info: Create profiles and check the switch message. \r\n" + Created(1, L"conf-star-room") +
                  Created(2, L"j\x00FCrgen.m\x00FCller") + ChildRuns(" \"{profile-1}\" \"{profile-2}\"") +
                  "Completed with exitCode = 0\r\n",
              Transcript());
    const std::string prefix = "/o=Fabrikam/ou=Exchange Administrative Group \\28FYDIBOHF23SPDLT\\29/cn=Recipients/cn=";
    const std::string calls = DirectoryCalls();
    for (const char* escaped : {"conf\\2aroom", "x\\29\\28legacyExchangeDN=\\2a", "back\\5cslash", "conf\\5c2aroom",
                                "a&b|c!d=e<f>g~h"}) {
        EXPECT_NE(std::string::npos, calls.find(Searched(ToWide(prefix + escaped)))) << escaped;
    }
    ExpectNothingLeftBehind();
}

TEST_F(HostileConfiguration, NamesThatCannotBeOpenedAsFilesAreReported)
{
    Configuration configuration;
    configuration.Mailboxes = {Source(L"room.oslo")};
    Write(configuration);
    {
        SCOPED_TRACE("a file another program holds open without sharing");
        const Util::CHandle held(::CreateFileW((tool / L"Switch.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.IsValid());
        EXPECT_EQ(64u, Run().ExitCode);
        EXPECT_EQ(CannotLoad(), Transcript());
        ExpectNothingLeftBehind();
    }
    {
        SCOPED_TRACE("a directory of that name");
        StartAfresh();
        TestSupport::MakeDirectories(tool / L"Folder.ini");
        EXPECT_EQ(64u, Run({L"Folder.ini"}).ExitCode);
        EXPECT_EQ("Error: Cannot load INI file " + ToNarrow(tool / L"Folder.ini") + "\r\n" + noProfiles, Transcript());
        ExpectNothingLeftBehind();
    }
}

} // namespace
