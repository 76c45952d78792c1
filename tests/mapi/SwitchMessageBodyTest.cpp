#include "mapi/SwitchMessage.h"

#include <gtest/gtest.h>

namespace {

SwitchSettings Settings(const std::wstring& version, const std::wstring& office365 = L"")
{
    SwitchSettings settings;
    settings.TargetServer = L"TGTEX01";
    settings.MBMatchKeyTag = L"X500";
    settings.PFMatchKeyTag = L"SMTP";
    settings.Version = version;
    settings.IsMAPIEncryptionRequired = L"-1";
    settings.DomainName = L"TARGET";
    settings.DomainControllers = L"DC01,DC02";
    settings.ExchangeServers = L"TGTEX01;TGTEX02";
    settings.Office365 = office365;
    settings.TargetProxyServer = L"mail.target.example";
    return settings;
}

const MailboxEntry Alice{L"{profile}", L"/o=Source/cn=alice", L"/o=Target/ou=Site/cn=Recipients/cn=alice"};

TEST(SwitchMessageBody, EachVersionHasItsHeaderAndItsKeysInOrder)
{
    EXPECT_EQ(L"[ZPH 1.0]\nTargetServer=TGTEX01\nTargetMailboxDN=/o=Target/ou=Site/cn=Recipients/cn=alice",
              BuildSwitchMessageBody(Alice, Settings(L"v1")));
    EXPECT_EQ(L"[ZPH 4.0]\nTargetServer=TGTEX01\nTargetMailboxDN=/o=Target/ou=Site/cn=Recipients/cn=alice\n"
              L"MBMatchKeyTag=X500\nPFMatchKeyTag=SMTP",
              BuildSwitchMessageBody(Alice, Settings(L"v4")));
    EXPECT_EQ(L"[ZPH 5.0]\nTargetServer=TGTEX01\nTargetMailboxDN=/o=Target/ou=Site/cn=Recipients/cn=alice\n"
              L"MBMatchKeyTag=X500\nPFMatchKeyTag=SMTP\nIsMAPIEncryptionRequired=-1\nDomainName=TARGET\n"
              L"DomainControllers=DC01,DC02\nExchangeServers=TGTEX01;TGTEX02",
              BuildSwitchMessageBody(Alice, Settings(L"v5")));
}

TEST(SwitchMessageBody, Version6WritesTheOnPremisesKeysOnlyWhenNotOffice365)
{
    EXPECT_EQ(L"[ZPH 6.0]\nTargetServer=TGTEX01\nTargetMailboxDN=/o=Target/ou=Site/cn=Recipients/cn=alice\n"
              L"TargetProxyServer=mail.target.example\nMBMatchKeyTag=X500\nPFMatchKeyTag=SMTP\nOffice365=1",
              BuildSwitchMessageBody(Alice, Settings(L"v6", L"1")));
    EXPECT_EQ(L"[ZPH 6.0]\nTargetServer=TGTEX01\nTargetMailboxDN=/o=Target/ou=Site/cn=Recipients/cn=alice\n"
              L"TargetProxyServer=mail.target.example\nMBMatchKeyTag=X500\nPFMatchKeyTag=SMTP\nOffice365=0\n"
              L"IsMAPIEncryptionRequired=-1\nDomainName=TARGET\nDomainControllers=DC01,DC02\n"
              L"ExchangeServers=TGTEX01;TGTEX02",
              BuildSwitchMessageBody(Alice, Settings(L"v6", L"0")));
}

TEST(SwitchMessageBody, AnUnknownVersionGivesAnEmptyBody)
{
    for (const wchar_t* version : {L"V5", L"v5 ", L"v5.0", L"v2", L""}) {
        EXPECT_EQ(L"", BuildSwitchMessageBody(Alice, Settings(version))) << version;
    }
}

TEST(SwitchMessageBody, ValuesAreCopiedAsTheyAreAndEmptyOnesEndTheirLine)
{
    SwitchSettings settings = Settings(L"v4");
    settings.TargetServer = L" spaced = value ";
    settings.PFMatchKeyTag.clear();
    const MailboxEntry withoutTarget{L"", L"/o=Source/cn=bob", L""};

    EXPECT_EQ(L"[ZPH 4.0]\nTargetServer= spaced = value \nTargetMailboxDN=\nMBMatchKeyTag=X500\nPFMatchKeyTag=",
              BuildSwitchMessageBody(withoutTarget, settings));
}

} // namespace
