#pragma once

#include "config/Settings.h"

#include <string>

enum class LoadOutcome {
    Loaded,
    // The reason is on the console and `mailboxes` is empty; the run goes on to report that there is nothing to do.
    Stopped,
    // "KorvelCmdLine" holds a switch the child must not get (the refusal is on the console): nothing may be done.
    ChildSwitchRefused,
};

// Reads the configuration file, deciphers the directory password, checks the child's extra switches and resolves
// every mailbox line to its target account. Reports every problem on the console itself.
LoadOutcome LoadConfiguration(const std::wstring& name, SwitchSettings& settings, MailboxList& mailboxes);
