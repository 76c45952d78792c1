#pragma once

#include "config/Nocase.h"

#include <string>
#include <vector>

// What the configuration file says, read-only once loaded. Every field but the last is text, as written or as
// the loader's rules replaced it.
struct SwitchSettings {
    std::wstring KorvelCmdLine;
    std::wstring SrcExchServer;
    std::wstring DCName;
    std::wstring DCAccount;
    std::wstring DCPassword; // deciphered
    std::wstring RecreateSwitchMsg;
    std::wstring TargetServer;
    std::wstring MBMatchKeyTag;
    std::wstring PFMatchKeyTag;
    std::wstring Version;
    std::wstring IsMAPIEncryptionRequired;
    std::wstring DomainName;
    std::wstring DomainControllers;
    std::wstring ExchangeServers;
    std::wstring Office365;
    std::wstring TargetProxyServer;
    size_t ParallelMailboxes = 8; // mailboxes the pass works on at once
};

struct MailboxEntry {
    std::wstring ProfileName; // set while the run owns a profile for this mailbox
    std::wstring UserDNSrc;   // the "Mailboxes" line: the source account's legacyExchangeDN
    std::wstring UserDNTrg;   // the target account's distinguished name
    bool Failed = false;      // the mailbox pass failed it: a profile it still has is for the clean-up alone
};

// Sorted by UserDNSrc without regard to case, one entry per resolved mailbox line.
using MailboxList = std::vector<MailboxEntry>;

// One entry per source line of the map, in its order (by source line without regard to case); a map built
// in file order has kept the first of lines that differ only in case. No entry has a profile yet.
MailboxList MakeMailboxList(const NocaseKeyMap& targets);
