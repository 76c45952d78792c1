#include "config/Configuration.h"

#include "config/Crypt.h"
#include "errors/Text.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace {

using namespace TestSupport;

// Nothing listens on port 1, so a load that gets as far as the directory ends there, quickly and visibly.
const char unreachableDirectory[] = "Info: Connect to the Active Directory server '127.0.0.1:1' using LDAP.\n"
                                    "Error:  Cannot get information from 127.0.0.1:1\n";

std::string StoredPassword()
{
    return ToNarrow(utils::Crypt().Encrypt(L"Migrate-2024!"));
}

std::string Complete(const std::string& switchMessage, const std::string& settings = "SrcExchServer=SRCEX01\n")
{
    return "[Settings]\n" + settings +
           "[Mailboxes]\n/o=Org/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn=Room1\n"
           "[AD]\nDCName=127.0.0.1:1\nDCAccount=svc-brisklet\nDCPassword=" +
           StoredPassword() + "\n[SwitchMessage]\nTargetServer=TGTEX01\n" + switchMessage;
}

class LoadConfigurationTest : public ::testing::Test {
protected:
    // Loads the file and returns what the loader printed.
    std::string Load(const std::wstring& path)
    {
        std::ostringstream output;
        std::streambuf* const console = std::cout.rdbuf(output.rdbuf());
        outcome = LoadConfiguration(path, settings, mailboxes);
        std::cout.rdbuf(console);
        return output.str();
    }

    std::string LoadText(const std::string& text)
    {
        WriteBytes(path, text);
        return Load(path);
    }

    TempDir dir{L"config"};
    std::wstring path = dir / L"Switch.ini";
    SwitchSettings settings;
    MailboxList mailboxes{{L"stale", L"stale", L"stale"}};
    LoadOutcome outcome = LoadOutcome::Loaded;
};

TEST_F(LoadConfigurationTest, MissingFileIsCreatedEmptyAndEverySectionReported)
{
    EXPECT_EQ("Error: No parameters found in section Settings\n"
              "Error: No mailboxes found in section Mailboxes\n"
              "Error: No parameters found in section AD\n"
              "Error: No parameters found in section SwitchMessage\n"
              "Error: Incorrect format of section \"SrcExchServer\" in ini-file\n",
              Load(path));
    EXPECT_TRUE(Exists(path));
    EXPECT_TRUE(mailboxes.empty());
}

TEST_F(LoadConfigurationTest, KeysIgnoreCaseAndBlanksAndTheFirstOfTwoWins)
{
    EXPECT_EQ(unreachableDirectory,
              LoadText(Complete("TargetServer=SECOND\nVersion=v4\n", "  srcexchserver =  SRC EX 01  \t\n")));
    EXPECT_EQ(L"SRC EX 01", settings.SrcExchServer);
    EXPECT_EQ(L"TGTEX01", settings.TargetServer);
    EXPECT_EQ(L"", settings.KorvelCmdLine); // optional: its absence does not stop the load
    EXPECT_EQ(L"Migrate-2024!", settings.DCPassword);
    EXPECT_TRUE(mailboxes.empty());
}

TEST_F(LoadConfigurationTest, RequiredKeyMissingStopsWithEarlierFieldsKept)
{
    const std::string text = "[Settings]\nSrcExchServer=SRCEX01\nKorvelCmdLine=-Log x.log\n[Mailboxes]\nline\n"
                             "[AD]\nDCName=dc\nDCAccount=acc\nDCPassword=" +
                             StoredPassword() + "\n[SwitchMessage]\nRecreateSwitchMsg=1\nVersion=v5\n";
    EXPECT_EQ("Error: Incorrect format of section \"TargetServer\" in ini-file\n", LoadText(text));
    EXPECT_EQ(L"-Log x.log", settings.KorvelCmdLine);
    EXPECT_EQ(L"dc", settings.DCName);
    EXPECT_EQ(L"1", settings.RecreateSwitchMsg);
    EXPECT_EQ(L"", settings.Version);
    EXPECT_TRUE(mailboxes.empty());
}

TEST_F(LoadConfigurationTest, EmptyValueSatisfiesARequiredKey)
{
    EXPECT_EQ(unreachableDirectory, LoadText(Complete("Version=v4\n", "SrcExchServer=\n")));
    EXPECT_EQ(L"", settings.SrcExchServer);
}

TEST_F(LoadConfigurationTest, VersionIsNormalisedUnlessBothTagsAreGiven)
{
    EXPECT_EQ("Error: Incorrect format of section \"DomainName\" in ini-file\n"
              "Info: Need to specify the parameters: \"DomainName\", \"DomainControllers\", \"ExchangeServers\" "
              "in ini-file\n",
              LoadText(Complete("Version=V5.0\nMBMatchKeyTag=EX\n")));
    EXPECT_EQ(L"v5", settings.Version);
    EXPECT_EQ(L"X500", settings.MBMatchKeyTag);
    EXPECT_EQ(L"X500", settings.PFMatchKeyTag);
    EXPECT_EQ(L"-1", settings.IsMAPIEncryptionRequired);
}

// Split as the child's runtime splits its command line: quotes do not hide a switch, and a switch's text inside
// a value is no switch.
TEST_F(LoadConfigurationTest, KorvelCmdLineIsCheckedAsTheChildReadsItBeforeTheDirectory)
{
    const std::pair<const char*, const char*> refusals[] = {
        {"-pROFILES x", "-Profiles"},   {"/profiles", "/Profiles"}, {"-UNDO", "-Undo"},
        {"/uNdO", "/Undo"},             {"-undoall", "-UndoAll"},   {"/UndoAll", "/UndoAll"},
        {"-CleanUp", "-Cleanup"},       {"/CLEANUP", "/Cleanup"},   {"-?", "-?"},
        {"-\"Profiles\"", "-Profiles"}, {"\"-Prof\"iles", "-Profiles"}, {"/\"?\"", "/?"},
        {"-? -Cleanup /Undo -Profiles", "-Profiles"}};
    for (const auto& refusal : refusals) {
        EXPECT_EQ(std::string("Error: Cannot use parameters '") + refusal.second + "' in KorvelCmdLine\n",
                  LoadText(Complete("Version=v4\n", std::string("SrcExchServer=S\nKorvelCmdLine=") + refusal.first +
                                                         "\n")))
            << refusal.first;
        EXPECT_EQ(LoadOutcome::ChildSwitchRefused, outcome) << refusal.first;
    }
    for (const char* accepted : {"-Log \"C:\\Logs\\mailbox-cleanup.log\"", "-Log pre-undo.log",
                                 "-Log \"C:\\what-?.log\"", "\\\"-Profiles\\\"", "-Profiles=x"}) {
        EXPECT_EQ(unreachableDirectory,
                  LoadText(Complete("Version=v4\n", std::string("SrcExchServer=S\nKorvelCmdLine=") + accepted + "\n")))
            << accepted;
    }
}

TEST_F(LoadConfigurationTest, VersionOneKeepsItsTagsAsRead)
{
    EXPECT_EQ(unreachableDirectory, LoadText(Complete("Version=ZPH v1\n")));
    EXPECT_EQ(L"v1", settings.Version);
    EXPECT_EQ(L"", settings.MBMatchKeyTag);
    EXPECT_EQ(L"", settings.PFMatchKeyTag);
}

TEST_F(LoadConfigurationTest, Office365DecidesWhetherTheDomainKeysAreNeeded)
{
    EXPECT_EQ(unreachableDirectory, LoadText(Complete("Version=v6\nOffice365=yes please\nTargetProxyServer=P\n")));
    EXPECT_EQ(L"1", settings.Office365);
    EXPECT_EQ(L"P", settings.TargetProxyServer);
    EXPECT_EQ(L"", settings.DomainName);

    settings = SwitchSettings();
    EXPECT_EQ(unreachableDirectory,
              LoadText(Complete("Version=v6\nOffice365=No\nTargetProxyServer=P\nIsMAPIEncryptionRequired=YES\n"
                                "DomainName=T\nDomainControllers=DC1\nExchangeServers=EX1\n")));
    EXPECT_EQ(L"0", settings.Office365);
    EXPECT_EQ(L"1", settings.IsMAPIEncryptionRequired);
    EXPECT_EQ(L"EX1", settings.ExchangeServers);

    settings = SwitchSettings();
    EXPECT_EQ(unreachableDirectory, LoadText(Complete("Version=v6\nOffice365=No, Yes\nTargetProxyServer=P\n")));
    EXPECT_EQ(L"1", settings.Office365);
}

TEST_F(LoadConfigurationTest, Office365WithoutAnswerStopsTheLoad)
{
    EXPECT_EQ("Error: Incorrect value \"maybe\" of \"Office365\" in ini-file\n",
              LoadText(Complete("Version=v6\nOffice365=maybe\nTargetProxyServer=P\n")));
    EXPECT_EQ("Info: Need to specify the parameter: \"Office365\" in ini-file\n",
              LoadText(Complete("Version=v6\nTargetProxyServer=P\n")));
    EXPECT_EQ("Error: Incorrect format of section \"TargetProxyServer\" in ini-file\n",
              LoadText(Complete("Version=v6\nOffice365=Yes\n")));
    EXPECT_TRUE(mailboxes.empty());
}

TEST_F(LoadConfigurationTest, DomainBlockNamesTheFirstMissingKeyThenAllThree)
{
    EXPECT_EQ("Error: Incorrect format of section \"DomainControllers\" in ini-file\n"
              "Info: Need to specify the parameters: \"DomainName\", \"DomainControllers\", \"ExchangeServers\" "
              "in ini-file\n",
              LoadText(Complete("Version=v5\nDomainName=T\nExchangeServers=EX1\n")));
    EXPECT_EQ(L"-1", settings.IsMAPIEncryptionRequired);
    EXPECT_EQ("Error: Incorrect value \"1\" of \"IsMAPIEncryptionRequired\" in ini-file\n",
              LoadText(Complete("Version=v5\nIsMAPIEncryptionRequired=1\n")));
}

TEST_F(LoadConfigurationTest, PasswordThatCannotBeDecipheredStopsTheLoad)
{
    EXPECT_EQ("Error: Cannot decrypt password \"0123456789abcdeF\"\n",
              LoadText("[Settings]\nSrcExchServer=S\n[Mailboxes]\nm\n[AD]\nDCName=d\nDCAccount=a\n"
                       "DCPassword=0123456789abcdeF\n[SwitchMessage]\nTargetServer=T\nVersion=v4\n"));
    EXPECT_EQ("Error: No parameters found in section SwitchMessage\nError: Cannot decrypt password \"\"\n",
              LoadText("[Settings]\nSrcExchServer=S\n[Mailboxes]\nm\n[AD]\nDCName=d\nDCAccount=a\nDCPassword=\n"));
    EXPECT_EQ(L"", settings.TargetServer);
}

TEST_F(LoadConfigurationTest, SectionTooLargeForTheLargestBufferStopsTheLoad)
{
    std::string text = "[Settings]\nSrcExchServer=S\n[Mailboxes]\n";
    while (text.size() < 70000) {
        text += "/o=Org/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn=Room\n";
    }
    EXPECT_EQ("Error: Cannot load INI file " + ToNarrow(path) + "\n", LoadText(text));
    EXPECT_EQ(L"", settings.SrcExchServer);
}

} // namespace
