#pragma once

#include "mapi/MapiBuffer.h"
#include "mapi/MapiPtr.h"

#include <mapix.h>

#include <string>

namespace Mapi {

// The receive folder of the default message class, which is the Inbox.
TMapiPtr<IMAPIFolder> OpenReceiveFolder(const TMapiPtr<IMsgStore>& store, ULONG openFlags);

// Adds to `found` the entry identifier of every message of the folder's contents table (MAPI_ASSOCIATED in
// the flags: its hidden messages) whose subject equals `subject` without regard to case. The store picks the
// rows, so only matches travel. A table that cannot be read, or a row with an error in a column, raises: not
// knowing is not finding none.
void FindMessagesBySubject(const TMapiPtr<IMAPIFolder>& folder, const std::wstring& subject, ULONG tableFlags,
                           CMapiEntryList& found);

// A new message, not in the folder until its first SaveChanges.
TMapiPtr<IMessage> CreateMessage(const TMapiPtr<IMAPIFolder>& folder, ULONG flags);

// Deletes the listed messages in one call; anything short of complete success raises, warnings included.
void DeleteMessages(const TMapiPtr<IMAPIFolder>& folder, CMapiEntryList& messages);

} // namespace Mapi
