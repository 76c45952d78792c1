#pragma once

#include "config/Settings.h"

// What the mailbox pass answers, and the run adds to the child's exit code, when any mailbox failed.
constexpr int SomeMailboxFailed = 32;

// The mailbox pass: a profile and a switch message for every mailbox, up to "ParallelMailboxes" of them at once,
// each on a thread of its own that starts MAPI for itself. Each mailbox's lines are printed together, in list
// order, once it and every mailbox before it are done. Once the run is interrupted (Util::InterruptionRequested)
// no mailbox is begun; those begun are finished. Answers 0 when every mailbox it reached got both, 32 when any
// did not. What a mailbox cannot handle (out of memory) is raised once every mailbox begun is done.
int CreateProfiles(MailboxList& mailboxes, const SwitchSettings& settings);

// The clean-up pass: deletes every profile the mailbox pass made. False when any stays behind.
bool DeleteProfiles(MailboxList& mailboxes);
