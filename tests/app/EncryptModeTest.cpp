#include "errors/Handle.h"
#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <gtest/gtest.h>

namespace {

using namespace TestSupport;

// "secret" as a fresh process of the tool enciphers it; made outside the tool by
// tests/fixtures/cipher/make_vectors.py.
const std::string storedSecret = "6E660FDAEB66FC561E7AD6C67D797BED6E3A0790122033AF";

std::string Narrow(const std::wstring& asciiText)
{
    return std::string(asciiText.begin(), asciiText.end());
}

class EncryptModeRun : public ::testing::Test {
protected:
    void SetUp() override { CopyInto(BriskletExe(), tool.Path()); }

    ToolRun Run(const std::wstring& iniName, const std::wstring& password, const RunOptions& options = {})
    {
        return RunProgram(tool / L"Brisklet.exe", {iniName, password}, options);
    }

    static std::string Written(const std::wstring& path)
    {
        return "Info: Ciphered password written to the ini-file " + Narrow(path) + "\r\nEncrypted successfully\r\n";
    }

    static std::string NotWritten(const std::wstring& path)
    {
        return "Error: Cannot write the ciphered password to the ini-file " + Narrow(path) + "\r\n";
    }

    TempDir tool{L"tool dir"};
};

TEST_F(EncryptModeRun, AMissingFileIsCreatedHoldingOnlyThePassword)
{
    const ToolRun run = Run(L"New Switch.ini", L"secret");
    EXPECT_EQ(Written(tool / L"New Switch.ini"), run.Output);
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_EQ("[AD]\r\nDCPassword=" + storedSecret + "\r\n", ReadBytes(tool / L"New Switch.ini"));
}

TEST_F(EncryptModeRun, APasswordBeyondTheAnsiCodePageIsEncipheredAsTyped)
{
    Run(L"Switch.ini", L"Z\u00FCrich-\u041F\u0430\u0440\u043E\u043B\u044C-\u20AC\U0001F511");
    EXPECT_EQ("[AD]\r\nDCPassword=2DAC9464B72AB06AECDA1DF5D5140963EF7BC9B2624DB367844D3F1941D269AB3AEE1391B6C24B08\r\n",
              ReadBytes(tool / L"Switch.ini"));
}

TEST_F(EncryptModeRun, AnExistingFileKeepsEveryOtherLineAndEveryRunWritesTheSameText)
{
    // Wine's writer drops blank lines and blanks around "=" where Windows keeps them; this file has none.
    const std::string before = "; cut-over of the resource mailboxes\r\n"
                               "[Settings]\r\n"
                               "SrcExchServer=ex1.source.example\r\n"
                               "KorvelCmdLine=-ini \"Switch.ini\" -Log \"C:\\Logs\\upd.log\"\r\n"
                               "[AD]\r\n"
                               "; simple bind\r\n"
                               "DCName=dc1.source.example\r\n"
                               "dcpassword=0011223344556677\r\n"
                               "DCAccount=Z\xfcrich\\svc-cutover\r\n"
                               "[Mailboxes]\r\n"
                               "/o=Org/ou=Site/cn=Recipients/cn=room1\r\n"
                               "[SwitchMessage]\r\n"
                               "Version=v5\r\n";
    std::string after = before;
    after.replace(after.find("0011223344556677"), 16, storedSecret);
    WriteBytes(tool / L"Switch.ini", before);

    for (int run = 1; run <= 2; ++run) {
        const ToolRun result = Run(L"Switch.ini", L"secret");
        EXPECT_EQ(Written(tool / L"Switch.ini"), result.Output) << "run " << run;
        EXPECT_EQ(1u, result.ExitCode) << "run " << run;
        EXPECT_EQ(after, ReadBytes(tool / L"Switch.ini")) << "run " << run;
    }
}

TEST_F(EncryptModeRun, AnAbsoluteNameIsWrittenWhereItPoints)
{
    TempDir elsewhere(L"configs");
    EXPECT_EQ(Written(elsewhere / L"Switch.ini"), Run(elsewhere / L"Switch.ini", L"secret").Output);
    EXPECT_EQ("[AD]\r\nDCPassword=" + storedSecret + "\r\n", ReadBytes(elsewhere / L"Switch.ini"));
    EXPECT_FALSE(Exists(tool / L"Switch.ini"));
}

TEST_F(EncryptModeRun, AFileThatCannotBeWrittenIsReportedAndIsNoSuccess)
{
    const ToolRun missingDirectory = Run(L"no such dir\\Switch.ini", L"secret");
    EXPECT_EQ(NotWritten(tool / L"no such dir\\Switch.ini"), missingDirectory.Output);
    EXPECT_EQ(0u, missingDirectory.ExitCode);

    // Held open without sharing, as an editor may: it cannot be written. (Wine run as root does not
    // enforce the read-only attribute, so the lock stands in for it.)
    WriteBytes(tool / L"Locked.ini", "[AD]\r\nDCPassword=00\r\n");
    {
        const Util::CHandle lock(::CreateFileW((tool / L"Locked.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.IsValid());
        const ToolRun locked = Run(L"Locked.ini", L"secret");
        EXPECT_EQ(NotWritten(tool / L"Locked.ini"), locked.Output);
        EXPECT_EQ(0u, locked.ExitCode);
    }
    EXPECT_EQ("[AD]\r\nDCPassword=00\r\n", ReadBytes(tool / L"Locked.ini"));

    // Names the profile functions report as written although nothing reaches the file: devices, and under
    // Wine a path of 260 characters or more.
    const std::wstring deep = std::wstring(200, L'd');
    MakeDirectories(tool / deep);
    for (const std::wstring& name : {std::wstring(L"NUL"), std::wstring(L"COM1"), deep + L"\\" + std::wstring(100, L'n') + L".ini"}) {
        const ToolRun unwritable = Run(name, L"secret");
        EXPECT_EQ(NotWritten(tool / name), unwritable.Output);
        EXPECT_EQ(0u, unwritable.ExitCode);
    }
}

} // namespace
