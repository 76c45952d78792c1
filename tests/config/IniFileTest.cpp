#include "config/IniFile.h"

#include "errors/Errors.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace {

using namespace TestSupport;

// Lines that the platform hands back as a section of exactly `size` characters: each line and its NUL,
// without the closing second NUL.
std::vector<std::wstring> LinesFillingSection(size_t size)
{
    std::vector<std::wstring> lines;
    size_t left = size;
    while (left >= 150) {
        const std::wstring key = L"Key" + std::to_wstring(lines.size()) + L"=";
        lines.push_back(key + std::wstring(49 - key.size(), L'v'));
        left -= 50;
    }
    lines.push_back(L"Last=" + std::wstring(left - 6, L'w'));
    return lines;
}

std::string IniText(const std::string& section, const std::vector<std::wstring>& lines)
{
    std::string text = "[" + section + "]\r\n";
    for (const std::wstring& line : lines) {
        text += std::string(line.begin(), line.end()) + "\r\n";
    }
    return text;
}

TEST(IniFile, OpeningAMissingFileCreatesItEmptyInBothModes)
{
    TempDir dir;
    IniFile(dir / L"read.ini", true);
    IniFile(dir / L"write.ini", false);
    EXPECT_EQ("", ReadBytes(dir / L"read.ini"));
    EXPECT_EQ("", ReadBytes(dir / L"write.ini"));

    WriteBytes(dir / L"kept.ini", "[AD]\r\nDCName=dc1\r\n");
    IniFile(dir / L"kept.ini", false);
    EXPECT_EQ("[AD]\r\nDCName=dc1\r\n", ReadBytes(dir / L"kept.ini"));
}

TEST(IniFile, AFileInAMissingDirectoryRaisesThePlatformErrorAtOnce)
{
    TempDir dir;
    for (const bool readOnly : {true, false}) {
        try {
            IniFile(dir / L"no such dir\\Switch.ini", readOnly);
            ADD_FAILURE() << "no error for readOnly=" << readOnly;
        } catch (const Errors::CWin32Error& error) {
            EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), error.GetCode());
        }
    }
}

TEST(IniFile, SectionsOfEverySizeUpToTheLargestBufferArriveWhole)
{
    TempDir dir;
    // Around the first buffer's edge, and sizes that need one and several doublings.
    for (const size_t size : {253u, 254u, 255u, 256u, 257u, 510u, 3000u, 40000u, 65533u}) {
        const std::vector<std::wstring> lines = LinesFillingSection(size);
        WriteBytes(dir / L"big.ini", "[Before]\r\nA=1\r\n" + IniText("Mailboxes", lines) + "[After]\r\nB=2\r\n");

        std::vector<std::wstring> read;
        IniFile(dir / L"big.ini", true).ReadSectionLines(L"Mailboxes", read);
        EXPECT_EQ(lines, read) << "section of " << size << " characters";

        NocaseKeyMap map;
        IniFile(dir / L"big.ini", true).ReadSection(L"Mailboxes", map);
        EXPECT_EQ(lines.size(), map.size()) << "section of " << size << " characters";
    }
}

TEST(IniFile, ASectionBeyondTheLargestBufferRaisesAndAddsNothing)
{
    TempDir dir;
    WriteBytes(dir / L"huge.ini", IniText("Mailboxes", LinesFillingSection(70000)));
    const IniFile file(dir / L"huge.ini", true);

    std::vector<std::wstring> lines{L"already there"};
    try {
        file.ReadSectionLines(L"Mailboxes", lines);
        ADD_FAILURE() << "no error";
    } catch (const Errors::CNickError& error) {
        EXPECT_EQ(L"E_INI_BUFFER_TOO_SMALL", error.GetMessage());
    }
    EXPECT_EQ(std::vector<std::wstring>{L"already there"}, lines);

    NocaseKeyMap map{{L"Already", L"there"}};
    EXPECT_THROW(file.ReadSection(L"Mailboxes", map), Errors::CNickError);
    EXPECT_EQ(1u, map.size());
}

TEST(IniFile, SectionLinesBecomeTrimmedEntriesAndTheFirstOfEqualKeysWins)
{
    TempDir dir;
    WriteBytes(dir / L"keys.ini", "[Settings]\r\n"
                                  "SrcExchServer=first\r\n"
                                  "SRCEXCHSERVER=second\r\n"
                                  "  KorvelCmdLine \t=  -ini \"a b.ini\"  \r\n"
                                  "Just A Key\r\n"
                                  "=no key\r\n"
                                  " = no key either\r\n"
                                  "Inner Blanks = stay  inside \r\n"
                                  "Empty=\r\n");
    NocaseKeyMap map{{L"Preset", L"kept"}};
    IniFile(dir / L"keys.ini", true).ReadSection(L"settings", map);

    const NocaseKeyMap expected{{L"Preset", L"kept"},        {L"SrcExchServer", L"first"},
                                {L"KorvelCmdLine", L"-ini \"a b.ini\""}, {L"Just A Key", L""},
                                {L"Inner Blanks", L"stay  inside"},      {L"Empty", L""}};
    EXPECT_EQ(expected, map);
    EXPECT_EQ(L"SrcExchServer", Util::FromNocase(map.find(L"srcexchserver")->first));
}

TEST(IniFile, MailboxLinesComeBackWholeInFileOrder)
{
    TempDir dir;
    WriteBytes(dir / L"boxes.ini", "[Mailboxes]\r\n"
                                   "/o=Org/ou=Site/cn=Recipients/cn=room2\r\n"
                                   "/O=ORG/OU=SITE/CN=RECIPIENTS/CN=ROOM2\r\n"
                                   "/o=Org/ou=Site/cn=Recipients/cn=room1\r\n");
    std::vector<std::wstring> lines{L"earlier"};
    IniFile(dir / L"boxes.ini", true).ReadSectionLines(L"Mailboxes", lines);
    EXPECT_EQ((std::vector<std::wstring>{L"earlier", L"/o=Org/ou=Site/cn=Recipients/cn=room2",
                                         L"/O=ORG/OU=SITE/CN=RECIPIENTS/CN=ROOM2",
                                         L"/o=Org/ou=Site/cn=Recipients/cn=room1"}),
              lines);
}

TEST(IniFile, AMissingSectionReadsAsEmpty)
{
    TempDir dir;
    WriteBytes(dir / L"other.ini", "[AD]\r\nDCName=dc1\r\n");
    const IniFile file(dir / L"other.ini", true);
    NocaseKeyMap map;
    std::vector<std::wstring> lines;
    file.ReadSection(L"SwitchMessage", map);
    file.ReadSectionLines(L"Mailboxes", lines);
    EXPECT_TRUE(map.empty());
    EXPECT_TRUE(lines.empty());
}

TEST(IniFile, AUtf16FileWithForeignMailboxLinesReadsThroughThePlatform)
{
    TempDir dir;
    const std::wstring text = L"\uFEFF[Mailboxes]\r\n/o=\u041E\u0440\u0433/cn=\u4F1A\u8BAE\u5BA4\r\n"
                              L"/o=Org/cn=Z\u00FCrich \U0001F4C5\r\n[AD]\r\nDCName=\u00E9cole\r\n";
    WriteBytes(dir / L"notepad.ini", std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));

    const IniFile file(dir / L"notepad.ini", true);
    std::vector<std::wstring> lines;
    file.ReadSectionLines(L"Mailboxes", lines);
    EXPECT_EQ((std::vector<std::wstring>{L"/o=\u041E\u0440\u0433/cn=\u4F1A\u8BAE\u5BA4",
                                         L"/o=Org/cn=Z\u00FCrich \U0001F4C5"}),
              lines);
    NocaseKeyMap map;
    file.ReadSection(L"AD", map);
    EXPECT_EQ(L"\u00E9cole", map.at(L"DCNAME"));
}

TEST(IniFile, WritingReplacesTheKeyOrAddsItWithItsSection)
{
    TempDir dir;
    WriteBytes(dir / L"w.ini", "[AD]\r\nDCName=dc1\r\ndcpassword=OLD\r\n");
    const IniFile file(dir / L"w.ini", false);
    file.WriteString(L"AD", L"DCPassword", L"0A1B");
    file.WriteString(L"Settings", L"SrcExchServer", L"ex1");
    EXPECT_EQ("[AD]\r\nDCName=dc1\r\ndcpassword=0A1B\r\n[Settings]\r\nSrcExchServer=ex1\r\n", ReadBytes(dir / L"w.ini"));
}

TEST(IniFile, AFailedWriteRaisesThePlatformError)
{
    TempDir dir;
    MakeDirectories(dir / L"gone");
    const IniFile file(dir / L"gone\\w.ini", false);
    RemoveTree(dir / L"gone");
    try {
        file.WriteString(L"AD", L"DCPassword", L"0A1B");
        ADD_FAILURE() << "no error";
    } catch (const Errors::CWin32Error& error) {
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), error.GetCode());
    }
}

} // namespace
