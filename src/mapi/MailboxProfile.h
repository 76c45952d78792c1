#pragma once

#include "config/Settings.h"

// Gives the mailbox a profile of its own with the Exchange service pointed at its source server and mailbox,
// and writes its switch message. On any failure the profile is deleted again, the mailbox is reported, and
// the answer is false.
bool CreateMailboxProfile(MailboxEntry& entry, const SwitchSettings& settings);

// Reports a mailbox that got no profile, or lost it again, and marks it failed.
void ReportFailedMailbox(MailboxEntry& entry);

// Adds the Exchange service to the entry's profile and points it at the source server and mailbox. A failure
// is reported on the console and raised again.
void ConfigureExchangeService(const MailboxEntry& entry, const SwitchSettings& settings);

// Deletes the entry's profile, if it has one, and forgets its name; a profile that cannot be deleted is
// reported and keeps its name.
void DeleteMailboxProfile(MailboxEntry& entry);
