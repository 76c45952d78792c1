#pragma once

#include "config/Settings.h"

#include <string>

// Reads the configuration file, deciphers the directory password and resolves every mailbox line to its target
// account. Reports every problem on the console itself; a load that stopped leaves `mailboxes` empty.
void LoadConfiguration(const std::wstring& name, SwitchSettings& settings, MailboxList& mailboxes);
