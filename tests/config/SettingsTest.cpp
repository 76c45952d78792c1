#include "config/Settings.h"

#include <gtest/gtest.h>

namespace {

// Lines go into the map in file order, as the directory lookup inserts them.
NocaseKeyMap TargetsInFileOrder(const std::vector<std::pair<std::wstring, std::wstring>>& lines)
{
    NocaseKeyMap targets;
    for (const auto& line : lines) {
        targets.emplace(Util::ToNocase(line.first), line.second);
    }
    return targets;
}

TEST(MailboxList, IsSortedBySourceLineAndKeepsTheFirstOfLinesEqualButForCase)
{
    const MailboxList mailboxes = MakeMailboxList(TargetsInFileOrder({
        {L"/o=Org/cn=Recipients/cn=Zeta", L"CN=Zeta,DC=target"},
        {L"/o=Org/cn=Recipients/cn=alpha", L"CN=Alpha,DC=target"},
        {L"/O=ORG/CN=RECIPIENTS/CN=ZETA", L"CN=Other,DC=target"},
        {L"/o=Org/cn=Recipients/cn=Beta", L"CN=Beta,DC=target"},
    }));

    ASSERT_EQ(3u, mailboxes.size());
    EXPECT_EQ(L"/o=Org/cn=Recipients/cn=alpha", mailboxes[0].UserDNSrc);
    EXPECT_EQ(L"/o=Org/cn=Recipients/cn=Beta", mailboxes[1].UserDNSrc);
    EXPECT_EQ(L"/o=Org/cn=Recipients/cn=Zeta", mailboxes[2].UserDNSrc);
    EXPECT_EQ(L"CN=Zeta,DC=target", mailboxes[2].UserDNTrg);
    for (const MailboxEntry& entry : mailboxes) {
        EXPECT_TRUE(entry.ProfileName.empty());
    }
}

} // namespace
