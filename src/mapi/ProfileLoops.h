#pragma once

#include "config/Settings.h"

// The mailbox pass: a profile and a switch message for every mailbox, in list order. Answers 0 when every
// mailbox got both, 32 when any did not.
int CreateProfiles(MailboxList& mailboxes, const SwitchSettings& settings);

// The clean-up pass: deletes every profile the mailbox pass made.
void DeleteProfiles(MailboxList& mailboxes);
