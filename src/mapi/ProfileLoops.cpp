#include "mapi/ProfileLoops.h"

#include "errors/Console.h"
#include "errors/Errors.h"
#include "mapi/MailboxProfile.h"

#include <algorithm>
#include <iostream>

int CreateProfiles(MailboxList& mailboxes, const SwitchSettings& settings)
{
    std::cout << "Info: Create profiles and check the switch message. \n";
    int result = 0;
    try {
        for (MailboxEntry& entry : mailboxes) {
            if (Util::InterruptionRequested()) {
                break;
            }
            if (!CreateMailboxProfile(entry, settings)) {
                result = SomeMailboxFailed;
            }
        }
    } catch (const Errors::CError&) {
        // Each mailbox handles its own failures; one that escapes its report ends the pass as it stands.
    }
    return result;
}

bool DeleteProfiles(MailboxList& mailboxes)
{
    try {
        for (MailboxEntry& entry : mailboxes) {
            DeleteMailboxProfile(entry);
        }
    } catch (const Errors::CError&) {
        // Each profile reports its own failure; one that escapes its report ends the pass as it stands.
    }
    // A deleted profile's name is emptied; a kept name is a profile that may still be on the machine.
    return std::none_of(mailboxes.begin(), mailboxes.end(),
                        [](const MailboxEntry& entry) { return !entry.ProfileName.empty(); });
}
