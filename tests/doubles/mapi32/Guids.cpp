// The interface identifiers the double answers QueryInterface for.
#include <windows.h>

#include <initguid.h>

#define USES_IID_IMAPIProp
#define USES_IID_IMAPIContainer
#define USES_IID_IMAPIFolder
#define USES_IID_IMAPITable
#define USES_IID_IMAPISession
#define USES_IID_IMsgStore
#define USES_IID_IMessage
#define USES_IID_IProfAdmin
#define USES_IID_IMsgServiceAdmin
#include <mapiguid.h>
