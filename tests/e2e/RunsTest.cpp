// Whole runs, one row a scenario: the configuration, MAPI world and child's exit codes in; all the run left out.
#include "e2e/WholeRun.h"

#include "errors/Handle.h"

#include <mapicode.h>
#include <mapitags.h>

#include <functional>

namespace {

using namespace E2e;
using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

const std::string one = " \"{profile-1}\"";
const std::string both = one + " \"{profile-2}\"";
// "secret" as a fresh process of the tool enciphers it (tests/fixtures/cipher/make_vectors.py).
const char secret[] = "6E660FDAEB66FC561E7AD6C67D797BED6E3A0790122033AF";

// A mailbox failed by its Exchange service with `code`, or without one before it got a profile.
std::string Failed(const std::wstring& name, const std::string& code = "81002746")
{
    return (code.empty() ? "" : "Error: Cannot create service MSEMS. Error = " + code + "\r\n") +
           "Error: Cannot create a profile for mailbox = " + ToNarrow(Source(name)) + "\r\n";
}

std::string Ini(std::vector<std::wstring> names = {L"room.oslo", L"reception"},
                const std::string& switchMessage = Configuration().SwitchMessage,
                const std::string& settings = Configuration().Settings)
{
    return Configuration{settings, Sources(names), "", switchMessage}.Text();
}

struct Row {
    const char* what;
    std::string ini; // the configuration file's bytes
    DWORD exitCode;
    std::string transcript;
    std::string childCodes = "0\n";
    std::function<void()> arrange = [] {}; // anything else the case needs first
    size_t profilesLeft = 0;               // profiles whose deletion MAPI refused
    TestSupport::RunOptions options = {};
    std::vector<std::wstring> world = {L"room.oslo", L"reception"}; // mailboxes of the MAPI world
};

class Runs : public WholeRun {
protected:
    void Expect(const Row& row)
    {
        SCOPED_TRACE(row.what);
        StartAfresh();
        WriteBytes(tool / L"Switch.ini", row.ini);
        SeedMailboxes(Sources(row.world));
        WriteBytes(korvel / L"exitcodes.txt", row.childCodes);
        row.arrange();
        EXPECT_EQ(row.exitCode, Run({L"Switch.ini"}, row.options).ExitCode);
        ExpectWorld(row.transcript, row.profilesLeft);
    }

    std::string WithPassword(const std::string& stored) const
    {
        const std::string directory = DirectoryKeys(domainController, stored);
        return Configuration{Configuration().Settings, {Source(L"room.oslo")}, directory}.Text();
    }

    std::string CannotLoad(const std::wstring& name = L"Switch.ini") const
    {
        return "Error: Cannot load INI file " + ToNarrow(tool / name) + "\r\n" + noProfiles;
    }
};

TEST_F(Runs, ConfigurationsAreTakenAsTheyAreWritten)
{
    const std::string target = "TargetServer=TGTEX01\r\nTargetMailboxDN=" + ToNarrow(Target(L"reception"));
    const std::string v6 = "[ZPH 6.0]\r\n" + target + "\r\nTargetProxyServer=P\r\nMBMatchKeyTag=X500\r\n" +
                           "PFMatchKeyTag=X500";
    const std::string domain = "\r\nDomainName=D\r\nDomainControllers=DC\r\nExchangeServers=E";
    auto recreated = [&](const std::string& body) {
        return Connected() + pass + "Info: Switch message is recreated for profile {profile-1}\r\n" +
               "Info: Switch message content for profile {profile-1} is \r\n" + body + "\r\n" +
               ChildRuns(one) + Completed(0);
    };
    auto message = [](const std::string& lines) {
        return Ini({L"reception"}, "TargetServer=TGTEX01\nRecreateSwitchMsg=1\nTargetProxyServer=P\nDomainName=D\n"
                                   "DomainControllers=DC\nExchangeServers=E\n" + lines);
    };
    auto refused = [](const std::string& value, const std::string& key, const std::string& ini) {
        return Row{"refused", ini, 64,
                   "Error: Incorrect value \"" + value + "\" of \"" + key + "\" in ini-file\r\n" + noProfiles};
    };
    auto earlier = [this] {
        std::vector<MapiDouble::Mailbox> boxes = MapiState().LoadMailboxes();
        boxes[0].Messages = {{0, true, {MapiDouble::UnicodeProperty(PR_SUBJECT_W, switchSubject)}}};
        MapiState().SaveMailboxes(boxes);
    };
    // As Notepad saves "Unicode": UTF-16 with a byte-order mark, here with lines beyond the ANSI code page, one
    // of them a look-alike of "raum" there, and a server that is one of "SRCEX01".
    auto notepad = [](std::wstring text, const std::wstring& from, const std::wstring& to) {
        text = L"\xFEFF" + text.replace(text.find(from), from.size(), to);
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    };
    // [SwitchMessage] of 65,533 characters, each line with the NUL that ends it where the platform returns it.
    const std::string notes = Configuration().SwitchMessage + "Notes=" + std::string(65494, 'n');
    const std::string oslo = Connected() + pass + Created(1, L"room.oslo") + ChildRuns(one) + Completed(0);
    const std::wstring cyrillic = L"\x043F\x0435\x0440\x0435\x0433\x043E\x0432\x043E\x0440\x043D\x0430\x044F";
    const std::wstring umlauts = L"j\x00FCrgen.m\x00FCller";
    std::vector<Row> rows = {
        {"empty", "", 64, nothingConfigured + noProfiles},
        {"lines without a key", "[Settings]\n=SRCEX01\n" + Ini().substr(Ini().find("[Mailboxes]")), 64,
         "Error: No parameters found in section Settings\r\nError: Incorrect format of section \"SrcExchServer\" in "
         "ini-file\r\n" + noProfiles},
        {"a key without a value", Ini({L"room.oslo"}, Configuration().SwitchMessage, "SrcExchServer\n"), 64,
         Connected() + pass + Failed(L"room.oslo", "80040115") + "No profiles to update were found!\r\n" +
             Completed(64)},
        {"twins count once, in sorted order, sixteen at once",
         Ini({L"room.oslo", L"ROOM.OSLO", L"reception"}, Configuration().SwitchMessage,
             Configuration().Settings + "ParallelMailboxes=16\n"),
         0,
         Connected() + pass + Created(1, L"reception") + Created(2, L"room.oslo") + ChildRuns(both) + Completed(0)},
        {"Office365 yes", message("Version=ZPH V6 after V4\nOffice365=yes,no\n"), 0, recreated(v6 + "\r\nOffice365=1")},
        {"Office365 No", message("Version=v6\nOffice365=No\n"), 0,
         recreated(v6 + "\r\nOffice365=0\r\nIsMAPIEncryptionRequired=-1" + domain)},
        {"v5 with both tags as given",
         message("Version=v5\nMBMatchKeyTag=EX\nPFMatchKeyTag=SMTP\nIsMAPIEncryptionRequired=yes\n"), 0,
         recreated("[ZPH 5.0]\r\n" + target + "\r\nMBMatchKeyTag=EX\r\nPFMatchKeyTag=SMTP\r\n" +
                   "IsMAPIEncryptionRequired=1" + domain)},
        {"v1 keeps the tags", message("Version=v1\nMBMatchKeyTag=EX\n"), 0, recreated("[ZPH 1.0]\r\n" + target)},
        refused("v7", "Version", message("Version=v7\n")),
        refused("V5.0", "Version", message("Version=V5.0\nMBMatchKeyTag=EX\nPFMatchKeyTag=EX\n")),
        refused("maybe", "Office365", message("Version=v6\nOffice365=maybe\n")),
        refused("maybe", "IsMAPIEncryptionRequired", message("Version=v5\nIsMAPIEncryptionRequired=maybe\n")),
        {"a password of odd length", WithPassword("00112233445566778"), 64,
         "Error: Cannot decrypt password \"00112233445566778\"\r\n" + noProfiles},
        // Enciphered under the tool's key, but shorter than the prefix: one character.
        {"a password too short", WithPassword("EE0709C74470810E"), 64,
         "Error: Cannot decrypt password \"EE0709C74470810E\"\r\n" + noProfiles},
        {"the wrong password", WithPassword(secret), 64,
         Connected() + "Error:  Cannot get information from " + domainController + "\r\n" + noProfiles},
        {"a section of 65,533 characters", Ini({L"room.oslo"}, notes), 0, oslo},
        {"a section of 65,534 characters", Ini({L"room.oslo"}, notes + "n"), 64, CannotLoad()},
        {"sections and keys twice: the first counts",
         Ini({L"room.oslo"}, "TargetServer=TGTEX01\ntargetserver=TGTEX99\nVersion=v4\n") + "[Mailboxes]\n" +
             ToNarrow(Source(L"reception")) + "\n[Settings]\nSrcExchServer=ELSEWHERE\n", 0, oslo},
        {"Notepad's Unicode",
         notepad(ToWide(Ini({L"room.oslo"})), L"[AD]",
                 Source(umlauts) + L"\n" + Source(cyrillic) + L"\n" + Source(L"r\x0101um") + L"\n[AD]"),
         32,
         Connected() + "Warning: Cannot find UserDNTrg for UserDNSrc = " + ToNarrow(Source(cyrillic)) + "\r\n" + pass +
             Created(1, umlauts) + Failed(L"r\x0101um", "80070459") + Created(2, L"room.oslo") + ChildRuns(both) +
             Completed(32),
         "0\n", [] {}, 0, {}, {L"room.oslo", umlauts}},
        // A server beyond the ANSI code page.
        refused(ToNarrow(L"SRC\x0112X01"), "SrcExchServer",
                notepad(ToWide(Ini({L"room.oslo"})), L"SRCEX01", L"SRC\x0112X01")),
        {"RecreateSwitchMsg not 1", Ini({L"room.oslo"}, "TargetServer=T\nVersion=v4\nRecreateSwitchMsg=01\n"), 0,
         Connected() + pass + ChildRuns(one) + Completed(0), "0\n", earlier},
        {"v6 without Office365", Ini({L"room.oslo"}, "TargetServer=T\nVersion=v6\n"), 64,
         "Info: Need to specify the parameter: \"Office365\" in ini-file\r\n" + noProfiles},
        {"v5 without two domain keys", Ini({L"room.oslo"}, "TargetServer=T\nVersion=v5\nDomainName=D\n"), 64,
         "Error: Incorrect format of section \"DomainControllers\" in ini-file\r\nInfo: Need to specify the "
         "parameters: \"DomainName\", \"DomainControllers\", \"ExchangeServers\" in ini-file\r\n" + noProfiles},
    };
    // Each required key's line taken out, whatever the case of its first letter there.
    for (std::string key : {"DCName", "DCAccount", "DCPassword", "TargetServer", "Version", "TargetProxyServer"}) {
        std::string ini = Ini({L"room.oslo"}, "TargetServer=T\nversion=v6\nOffice365=yes\nTargetProxyServer=P\n");
        const size_t at = ini.find(key.substr(1) + "=") - 1;
        rows.push_back({"missing", ini.erase(at, ini.find('\n', at) + 1 - at), 64,
                        "Error: Incorrect format of section \"" + key + "\" in ini-file\r\n" + noProfiles});
    }
    for (const char* value : {"0", "17", "4x", ""}) {
        const std::string ini = Ini({L"room.oslo"}, Configuration().SwitchMessage,
                                    Configuration().Settings + "ParallelMailboxes=" + value + "\n");
        rows.push_back(refused(value, "ParallelMailboxes", ini));
    }
    // KorvelCmdLine refused for a switch of the tool's own, in any spelling, or for quotes that do not close ("").
    for (const auto& [korvelCmdLine, shown] : std::vector<std::pair<std::string, std::string>>{
             {"-ini x.ini -UNDOALL", "-UndoAll"}, {"/?", "/?"}, {"-Log \"C:\\Logs\\\"", ""},
             {"-ini \"Switch.ini -Log x", ""}, {"-ini \"a b", ""}, {"-\"Profiles\" x", "-Profiles"},
             {"/cleanup", "/Cleanup"}, {"-undo", "-Undo"}, {"/Profiles x", "/Profiles"}}) {
        const std::string error = shown.empty() ? "The quotes in KorvelCmdLine do not close"
                                                : "Cannot use parameters '" + shown + "' in KorvelCmdLine";
        rows.push_back({"refused", Ini({L"room.oslo"}, Configuration().SwitchMessage,
                                       "SrcExchServer=SRCEX01\nKorvelCmdLine=" + korvelCmdLine + "\n"),
                        128, "Error: " + error + "\r\nInvalid command line!\r\n" + Completed(128)});
    }
    for (const Row& row : rows) {
        Expect(row);
    }
}

// Three rooms: the directory knows all three, the MAPI world only two, so the first in sorted order fails and
// 32 is added to what the child returns.
TEST_F(Runs, ExitCodesAddUpWhatHappened)
{
    const std::vector<std::wstring> rooms = {L"room.oslo", L"beamer.pool", L"reception"};
    const std::string three = Ini(rooms);
    const std::string made = Connected() + pass + Failed(L"beamer.pool") + Created(1, L"reception") +
                             Created(2, L"room.oslo");
    const std::string ran = ChildRuns(both, "3");
    const std::string left = "Error: Cannot delete a profile for mailbox = " + ToNarrow(Source(L"reception")) + "\r\n";
    const std::string start = "Info: Start Korvel with the command line \"" + ToNarrow(tool.Path()) +
                              "\\KorvelEngine.exe\" ";
    // The longest KorvelCmdLine the child takes with three profiles, each a blank and a quoted GUID in braces.
    const std::string longest(32766 - (start.size() - 41) - std::string(" -Profiles ").size() - 3 * 41, 'x');
    auto refuseDeletion = [this] {
        MapiState().SaveFaults({{L"IProfAdmin::DeleteProfile", MAPI_E_NO_ACCESS, 0, Source(L"reception")}});
    };
    auto outlook = [this](const char* answer) {
        TestSupport::CopyInto(TestSupport::DoublesDirectory() + L"\\msi.dll", tool.Path());
        WriteBytes(korvel / L"answer.txt", answer);
    };
    const TestSupport::RunOptions msi{{{L"BRISKLET_MSI_DOUBLE", korvel.Path()}}, false, {}};
    // The child's exit code as the signed 32-bit number it is, and 32 added for the failed mailbox.
    auto child = [&](const char* codes, const char* shown, const char* cleanupShown, int exitCode) {
        return Row{"child", three, static_cast<DWORD>(exitCode),
                   made + ChildRuns(both, shown, cleanupShown) + Completed(exitCode), codes};
    };
    const Row rows[] = {
        {"no mailboxes", Ini({}), 64, "Error: No mailboxes found in section Mailboxes\r\n" + Connected() + noProfiles},
        {"every profile refused", three, 64,
         Connected() + pass + Failed(L"beamer.pool", "") + Failed(L"reception", "") + Failed(L"room.oslo", "") +
             "No profiles to update were found!\r\n" + Completed(64),
         "0\n", [this] { MapiState().SaveFaults({{L"IProfAdmin::CreateProfile", MAPI_E_NO_ACCESS}}); }},
        {"a profile left behind", three, 35, made + ChildRuns(both, "3", "3") + left + Completed(35), "3\n",
         refuseDeletion, 1},
        {"a profile left behind and no child", three, 128,
         made + start + "-ini \"Switch.ini\" -Log \"D:\\pre-undo.log\" -Profiles " + both +
             ".\r\nError: Korvel start failed\r\n" + left + Completed(128),
         "3\n", [&] { refuseDeletion(); ::DeleteFileW((tool / L"KorvelEngine.exe").c_str()); }, 1},
        {"MAPI that cannot start", three, 0, Connected() + "Error: Cannot load MAPIInitialize \r\n", "0\n",
         [this] { MapiState().SaveFaults({{L"MAPIInitialize", MAPI_E_NOT_INITIALIZED}}); }},
        {"MAPI that cannot start for the clean-up", three, 16,
         made + ChildRuns(both) + "Error: Cannot load MAPIInitialize to remove the profiles. Error = 80040605\r\n",
         "0\n", [this] { MapiState().SaveFaults({{L"MAPIInitialize", MAPI_E_NOT_INITIALIZED, 2}}); }, 2},
        {"a command line the child cannot take",
         Ini(rooms, Configuration().SwitchMessage, "SrcExchServer=SRCEX01\nKorvelCmdLine=" + longest + "x\n"), 128,
         Connected() + "Error: Too many mailboxes for one run: the command line of KorvelEngine.exe would be 32767 "
                       "characters, more than 32766. Split the \"Mailboxes\" section over several runs.\r\n" +
             Completed(128)},
        {"the longest command line the child can take",
         Ini(rooms, Configuration().SwitchMessage, "SrcExchServer=SRCEX01\nKorvelCmdLine=" + longest + "\n"), 32,
         made + start + longest + " -Profiles " + both + ".\r\nExitCode of Korvel = 0\r\n" + start +
             "-Cleanup -Silent.\r\nExitCode of Korvel -Cleanup = 0\r\n" + Completed(32)},
        // Windows Installer has Outlook 2010 x64 registered; any other answer (a failed installation) goes on.
        {"Outlook x64", three, 0, "Error: Cannot support the architecture of Outlook 2010 x64\r\n", "0\n",
         [&] { outlook("0"); }, 0, msi},
        {"no Outlook x64, one mailbox at a time, two failed",
         Ini(rooms, Configuration().SwitchMessage, Configuration().Settings + "ParallelMailboxes=1\n"), 35,
         Connected() + pass + Failed(L"beamer.pool") + Failed(L"reception") + Created(1, L"room.oslo") +
             ChildRuns(one, "3") + Completed(35),
         "3\n0\n", [&] { outlook("1603"); }, 0, msi, {L"room.oslo"}},
        {"a child gone before its clean-up run", three, 35,
         made + ran.substr(0, ran.rfind("Exit")) + "Error: Korvel -Cleanup work failed\r\n" + Completed(35),
         "3\n", [this] { WriteBytes(korvel / L"gone.txt", ""); }},
        child("3\n0\n", "3", "0", 35),
        child("-5\n1\n", "-5", "1", 27),
        child("2147483647\n0\n", "2147483647", "0", -2147483617),
        child("2147483648\n0\n", "-2147483648", "0", -2147483616),
        child("3221225477\n0\n", "-1073741819", "0", -1073741787),
        child("4294967295\n", "-1", "-1", 31),
    };
    for (const Row& row : rows) {
        Expect(row);
    }
}

// What the arguments ask for, up to reading the file: the encrypt mode's whole work, and the run's refusals.
TEST_F(Runs, ArgumentsAndTheEncryptMode)
{
    auto written = [this](const std::wstring& name, bool done = true) {
        return (done ? "Info: Ciphered password written to the ini-file " + ToNarrow(tool / name) +
                           "\r\nEncrypted successfully\r\n"
                     : "Error: Cannot write the ciphered password to the ini-file " + ToNarrow(tool / name) + "\r\n");
    };
    ASSERT_TRUE(::CreateDirectoryW((tool / L"Folder.ini").c_str(), nullptr));
    WriteBytes(tool / L"Switch.ini", "; the cut-over of the rooms\r\n[Settings]\r\nSrcExchServer=ex1\r\n[AD]\r\n"
                                     "dcpassword=0011\r\nDCName=dc1\r\n");
    const struct {
        std::vector<std::wstring> arguments;
        DWORD exitCode;
        std::string output;
        std::string stored = ""; // in the file named first, as the reference texts of the cipher have it
    } rows[] = {
        {{}, 0, "Error: Invalid command line\r\n"},
        {{L"a.ini", L"pw", L"x"}, 0, "Error: Invalid command line\r\n"},
        {{L"Missing Switch.ini"}, 0, "Error: Cannot find the ini-file 'Missing Switch.ini'\r\n"},
        {{L"no such dir\\Switch.ini"}, 0, "Error: Cannot find the ini-file 'no such dir\\Switch.ini'\r\n"},
        {{tool / L"Folder.ini"}, 64, CannotLoad(L"Folder.ini")},
        {{L"New Switch.ini", L"secret"}, 1, written(L"New Switch.ini"), secret},
        {{L"Unicode.ini", L"Z\u00FCrich-\u041F\u0430\u0440\u043E\u043B\u044C-\u20AC\U0001F511"}, 1,
         written(L"Unicode.ini"), "2DAC9464B72AB06AECDA1DF5D5140963EF7BC9B2624DB367844D3F1941D269AB3AEE1391B6C24B08"},
        {{L"Switch.ini", L"secret"}, 1, written(L"Switch.ini")},
        {{L"Switch.ini", L"secret"}, 1, written(L"Switch.ini")},
        {{L"no such dir\\Switch.ini", L"secret"}, 0, written(L"no such dir\\Switch.ini", false)},
        {{L"NUL", L"secret"}, 0, written(L"NUL", false)},
        // Either would leave a section the loader cannot read.
        {{L"Full.ini", L"secret"}, 0, written(L"Full.ini", false)},
        {{L"Switch.ini", std::wstring(17000, L'p')}, 0, written(L"Switch.ini", false)},
    };
    // As an editor on another system saves it: a file the platform rewrites whole as it writes a value.
    WriteBytes(tool / L"Full.ini", "[AD]\nNotes=" + std::string(65500, 'n') + "\n\n");
    for (const auto& row : rows) {
        const std::wstring file = tool / (row.arguments.empty() ? L"" : row.arguments[0]);
        SCOPED_TRACE(ToNarrow(file));
        const std::string before = ReadBytes(file);
        EXPECT_EQ(row.exitCode, Run(row.arguments).ExitCode);
        EXPECT_EQ(row.output, last.Output);
        if (!row.stored.empty()) {
            EXPECT_EQ("[AD]\r\nDCPassword=" + row.stored + "\r\n", ReadBytes(file));
        } else if (row.exitCode != 1) {
            EXPECT_EQ(before, ReadBytes(file)) << "a failure changed the file";
        }
    }
    // Every other line is kept, and a second run writes the same text.
    EXPECT_EQ("; the cut-over of the rooms\r\n[Settings]\r\nSrcExchServer=ex1\r\n[AD]\r\ndcpassword=" +
                  std::string(secret) + "\r\nDCName=dc1\r\n",
              ReadBytes(tool / L"Switch.ini"));
}

// Whatever ends the child, the clean-up removes every profile; a run ended from outside keeps its transcript.
TEST_F(Runs, ChildrenEndedFromOutside)
{
    auto ending = [this](const char* what, int start, bool toolToo, DWORD exitCode, const std::string& runs) {
        Row row{what, Ini(), exitCode, Connected() + pass + Created(1, L"reception") + Created(2, L"room.oslo") + runs,
                "0\n", [this, start] { WriteBytes(korvel / L"hang.txt", std::to_string(start) + "\n"); },
                toolToo ? 2u : 0u};
        // Ends the child held at its n-th start from outside, as Task Manager or "taskkill /F" would; with the tool
        // too, first the tool, as a scheduler's time limit would.
        row.options.WhileRunning = [this, toolToo](DWORD tool, const std::wstring&) {
            const std::wstring waiting = korvel / L"hanging.txt";
            for (int waited = 0; ReadBytes(waiting).empty(); ++waited) {
                ASSERT_LT(waited, 3000) << "the child did not start";
                ::Sleep(10);
            }
            for (const DWORD id : {toolToo ? tool : 0, static_cast<DWORD>(std::stoul(ReadBytes(waiting)))}) {
                const Util::CHandle process(id == 0 ? nullptr : ::OpenProcess(PROCESS_TERMINATE, FALSE, id));
                EXPECT_TRUE(id == 0 || ::TerminateProcess(process.Get(), 1));
            }
        };
        return row;
    };
    for (const Row& row : {ending("taskkill /F", 1, false, 1, ChildRuns(both, "1") + Completed(1)),
                           ending("its clean-up run", 2, false, 0, ChildRuns(both, "0", "1") + Completed(0)),
                           ending("the tool and its child", 1, true, 1,
                                  ChildRuns(both).substr(0, ChildRuns(both).find("ExitCode of Korvel = ")))}) {
        Expect(row);
    }
}

// Ctrl+C in the mailbox pass: no further mailbox begun, those in flight finished, no child, no profile left.
TEST_F(Runs, AnInterruptedMailboxPassLeavesNothingBehind)
{
    WriteBytes(tool / L"Switch.ini", Ini(Bulk(1000, 100)));
    WriteBytes(mapi / L"server-delay-ms.txt", "5");
    SeedMailboxes(Sources(Bulk(1000, 100)));
    const TestSupport::RunOptions options{{}, true, [](DWORD tool, const std::wstring& output) {
        for (int waited = 0; ReadBytes(output).find("Info: Switch message is created") == std::string::npos;
             ++waited) {
            ASSERT_LT(waited, 30000) << "the mailbox pass did not begin";
            ::Sleep(1);
        }
        ASSERT_TRUE(::FreeConsole() && ::AttachConsole(tool));
        ::SetConsoleCtrlHandler(nullptr, TRUE); // the test itself ignores the event it sends
        EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        ::FreeConsole();
    }};
    EXPECT_EQ(16u, Run({L"Switch.ini"}, options).ExitCode);
    const std::string interrupted = "Error: The run was interrupted; the profiles it made were removed.\r\n";
    EXPECT_EQ(last.Output.size() - interrupted.size(), last.Output.rfind(interrupted)) << "not the last line";
    EXPECT_EQ(std::string::npos, last.Output.find("bulk1099")) << "the pass did not stop";
    EXPECT_EQ("", ReadBytes(korvel / L"commands.txt")) << "the child was started";
    ExpectWorld(Transcript());
    EXPECT_EQ(9u, MapiState().LoadAccounting().front().Threads) << "the pass's own thread and eight mailboxes'";
}

} // namespace
