// The interface identifiers the MAPI layer asks for, defined once for the whole tool.
#include <windows.h>

#include <initguid.h>

#define USES_IID_IMAPIFolder
#define USES_IID_IMessage
#include <mapiguid.h>
