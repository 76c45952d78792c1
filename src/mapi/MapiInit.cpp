#include "mapi/MapiInit.h"

#include "errors/Errors.h"
#include "mapi/MapiPtr.h"

namespace Mapi {

CMapiInit::CMapiInit(ULONG flags)
{
    MAPIINIT_0 init{MAPI_INIT_VERSION, flags};
    Errors::CheckMapi(NoSource, ::MAPIInitialize(&init));
}

CMapiInit::~CMapiInit()
{
    ::MAPIUninitialize();
}

} // namespace Mapi
