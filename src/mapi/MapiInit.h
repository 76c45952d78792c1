#pragma once

#include <mapix.h>

namespace Mapi {

// The mailbox pass works on several mailboxes at once, each on a thread of its own: every thread that holds MAPI
// then says the process is multithreaded.
constexpr ULONG MailboxPassFlags = MAPI_NT_SERVICE | MAPI_MULTITHREAD_NOTIFICATIONS;

// Starts the MAPI subsystem when made and stops it when destroyed; a guard whose start failed has nothing to
// stop.
class CMapiInit {
public:
    explicit CMapiInit(ULONG flags);
    ~CMapiInit();
    CMapiInit(const CMapiInit&) = delete;
    CMapiInit& operator=(const CMapiInit&) = delete;
};

} // namespace Mapi
