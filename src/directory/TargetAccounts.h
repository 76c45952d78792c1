#pragma once

#include "config/Nocase.h"
#include "config/Settings.h"
#include "directory/DirectoryObjects.h"

#include <string>
#include <vector>

// Finds, for every "Mailboxes" line (a source legacyExchangeDN), the target DN that the account's X500 proxy
// address names. Lines without a target, or carried by several accounts, are warned about and left out; a line
// equal to an earlier one but for case keeps the earlier entry. Raises Errors::CError when the directory cannot
// be bound or searched, or a bind or search goes a minute unanswered.
NocaseKeyMap ResolveTargetAccounts(const SwitchSettings& settings, const std::vector<std::wstring>& lines);

// The object that searches start from: the global catalogue when DCName serves one, else its default naming
// context.
Adsi::CDirObject ConnectDirectory(const SwitchSettings& settings);
