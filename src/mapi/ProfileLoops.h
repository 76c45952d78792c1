#pragma once

#include "config/Settings.h"

// What the mailbox pass answers, and the run adds to the child's exit code, when any mailbox failed.
constexpr int SomeMailboxFailed = 32;

// The mailbox pass: a profile and a switch message for every mailbox, in list order, until the run is
// interrupted (Util::InterruptionRequested). Answers 0 when every mailbox it reached got both, 32 when any did not.
int CreateProfiles(MailboxList& mailboxes, const SwitchSettings& settings);

// The clean-up pass: deletes every profile the mailbox pass made. False when any stays behind.
bool DeleteProfiles(MailboxList& mailboxes);
