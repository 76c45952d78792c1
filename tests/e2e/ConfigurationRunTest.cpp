#include "e2e/WholeRun.h"

#include "config/Crypt.h"
#include "errors/Text.h"

#include <mapitags.h>

namespace {

using namespace E2e;

class ConfigurationRun : public WholeRun {
protected:
    std::string Connected() const
    {
        return "Info: Connect to the Active Directory server '" + ToNarrow(DirectoryServer()) + "' using LDAP.\r\n";
    }

    // The hidden messages of a mailbox's Inbox, as the MAPI world holds them after the run.
    std::vector<MapiDouble::Message> SwitchMessages(const std::wstring& source) const
    {
        for (const MapiDouble::Mailbox& mailbox : MapiState().LoadMailboxes()) {
            if (mailbox.Dn == source) {
                return mailbox.Messages;
            }
        }
        return {};
    }

    std::wstring OnlySwitchMessageBody(const std::wstring& source) const
    {
        const std::vector<MapiDouble::Message> messages = SwitchMessages(source);
        if (messages.size() != 1 || !messages[0].Associated) {
            ADD_FAILURE() << messages.size() << " messages instead of one hidden one";
            return L"";
        }
        const MapiDouble::Property* subject = MapiDouble::FindProperty(messages[0].Props, PR_SUBJECT_W);
        EXPECT_TRUE(subject && subject->Text == L"{0E85BD11-6D96-48dd-B20A-DF8108F272D7}");
        const MapiDouble::Property* body = MapiDouble::FindProperty(messages[0].Props, PR_BODY_W);
        return body ? body->Text : L"(no body)";
    }
};

TEST_F(ConfigurationRun, EmptyFileReportsEverySectionAndEndsWithNothingToDo)
{
    TestSupport::WriteBytes(tool / L"Switch.ini", "");
    EXPECT_EQ(64u, Run().ExitCode);
    EXPECT_EQ(std::string(nothingConfigured) + noProfiles,
              Transcript());
    ExpectNothingLeftBehind();
}

TEST_F(ConfigurationRun, UnresolvableLinesAreWarnedAndLeftOutAndCaseTwinsCountOnce)
{
    std::wstring shouted = Source(L"ROOM.OSLO");
    Configuration configuration;
    configuration.Mailboxes = {Source(L"room.oslo"), Source(L"journal.archive"), shouted, Source(L"f.employee"),
                               Source(L"nobody")};
    Write(configuration);
    SeedMailboxes({Source(L"room.oslo")});
    SetChildExitCodes("0\n");

    EXPECT_EQ(0u, Run().ExitCode);
    const std::string transcript = Transcript();
    for (const wchar_t* unresolved : {L"journal.archive", L"f.employee", L"nobody"}) {
        EXPECT_NE(std::string::npos,
                  transcript.find("Warning: Cannot find UserDNTrg for UserDNSrc = " + ToNarrow(Source(unresolved)) +
                                  "\r\n"))
            << ToNarrow(unresolved);
    }
    EXPECT_EQ(std::string::npos, transcript.find("{profile-2}"));
    EXPECT_EQ(L"[ZPH 4.0]\nTargetServer=TGTEX01\nTargetMailboxDN=" + Target(L"room.oslo") +
                  L"\nMBMatchKeyTag=X500\nPFMatchKeyTag=X500",
              OnlySwitchMessageBody(Source(L"room.oslo")));
    EXPECT_NE(std::string::npos, ChildCommandLines().at(0).find("-Profiles  \"{profile-1}\""));
    ExpectNothingLeftBehind();
}

// A version value that names two versions takes the newer.
TEST_F(ConfigurationRun, Office365DecidesTheSwitchMessageLayout)
{
    SeedMailboxes({Source(L"reception")});
    const std::wstring common = L"[ZPH 6.0]\nTargetServer=TGTEX01\nTargetMailboxDN=" + Target(L"reception") +
                                L"\nTargetProxyServer=mail.contoso.com\nMBMatchKeyTag=X500\nPFMatchKeyTag=X500\n";
    const struct {
        const char* office365;
        std::wstring body;
    } cases[] = {
        {"yes", common + L"Office365=1"},
        {"No", common + L"Office365=0\nIsMAPIEncryptionRequired=-1\nDomainName=CONTOSO\nDomainControllers=DC01\n"
                        L"ExchangeServers=TGTEX01"},
    };
    for (const auto& each : cases) {
        Configuration configuration;
        configuration.Mailboxes = {Source(L"reception")};
        configuration.SwitchMessage = "TargetServer=TGTEX01\nVersion=ZPH V6 after V4\nRecreateSwitchMsg=1\nOffice365=" +
                                      std::string(each.office365) +
                                      "\nTargetProxyServer=mail.contoso.com\nDomainName=CONTOSO\n"
                                      "DomainControllers=DC01\nExchangeServers=TGTEX01\n";
        Write(configuration);
        Run();
        EXPECT_EQ(each.body, OnlySwitchMessageBody(Source(L"reception"))) << each.office365;
        EXPECT_NE(std::string::npos, Transcript().find("Info: Switch message is recreated for profile {profile-1}"));
        ExpectNothingLeftBehind();
    }
}

// A value the switch message has no layout for stops the load before the directory; no mailbox is touched.
TEST_F(ConfigurationRun, ValuesWithoutALayoutStopTheLoad)
{
    SeedMailboxes({Source(L"reception")});
    const struct {
        const char* switchMessage;
        const char* value;
        const char* key;
    } cases[] = {
        {"Version=v7\n", "v7", "Version"},
        {"Version=\n", "", "Version"},
        {"Version=5\n", "5", "Version"},
        {"Version=V5.0\nMBMatchKeyTag=EX\nPFMatchKeyTag=EX\n", "V5.0", "Version"},
        {"Version=v6\nOffice365=maybe\nTargetProxyServer=P\n", "maybe", "Office365"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.switchMessage);
        Configuration configuration;
        configuration.Mailboxes = {Source(L"reception")};
        configuration.SwitchMessage = std::string("TargetServer=TGTEX01\n") + each.switchMessage;
        Write(configuration);
        EXPECT_EQ(64u, Run().ExitCode);
        EXPECT_EQ("Error: Incorrect value \"" + std::string(each.value) + "\" of \"" + each.key + "\" in ini-file\r\n" +
                      noProfiles,
                  Transcript());
        EXPECT_TRUE(SwitchMessages(Source(L"reception")).empty());
    }
}

TEST_F(ConfigurationRun, PasswordsThatDoNotWorkStopBeforeAnyProfile)
{
    Configuration damaged;
    damaged.Mailboxes = {Source(L"reception")};
    damaged.Directory = "DCName=" + ToNarrow(DirectoryServer()) + "\nDCAccount=x\nDCPassword=00112233445566778\n";
    Write(damaged);
    EXPECT_EQ(64u, Run().ExitCode);
    EXPECT_EQ("Error: Cannot decrypt password \"00112233445566778\"\r\n" + std::string(noProfiles), Transcript());

    Configuration wrong;
    wrong.Mailboxes = {Source(L"reception")};
    wrong.Directory = "DCName=" + ToNarrow(DirectoryServer()) +
                      "\nDCAccount=CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com\nDCPassword=" +
                      ToNarrow(utils::Crypt().Encrypt(L"not the password")) + "\n";
    Write(wrong);
    EXPECT_EQ(64u, Run().ExitCode);
    EXPECT_EQ(Connected() + "Error:  Cannot get information from " + ToNarrow(DirectoryServer()) + "\r\n" +
                  noProfiles,
              Transcript());
    ExpectNothingLeftBehind();
}

} // namespace
