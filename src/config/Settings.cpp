#include "config/Settings.h"

MailboxList MakeMailboxList(const NocaseKeyMap& targets)
{
    MailboxList mailboxes;
    mailboxes.reserve(targets.size());
    for (const auto& target : targets) {
        mailboxes.push_back({std::wstring(), Util::FromNocase(target.first), target.second});
    }
    return mailboxes;
}
