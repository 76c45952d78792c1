#pragma once

#include "config/Settings.h"

#include <string>

// The subject by which the child utility, and the tool itself, know the switch message.
extern const wchar_t SwitchMessageSubject[];

// The body the child utility reads, in the layout the "Version" setting names; empty for a version it does not
// know. Lines are separated by single line feeds, with none after the last.
std::wstring BuildSwitchMessageBody(const MailboxEntry& entry, const SwitchSettings& settings);

// Keeps one switch message with this body in the hidden contents of the Inbox the entry's profile opens:
// written when there is none, replaced when `recreate` is exactly "1", left alone otherwise. The mailbox ends with
// the one new message or with what it had; a failure is reported on the console and raised again.
void WriteSwitchMessage(const MailboxEntry& entry, const std::wstring& body, const std::wstring& recreate);
