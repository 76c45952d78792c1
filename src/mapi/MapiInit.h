#pragma once

#include <mapix.h>

namespace Mapi {

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
