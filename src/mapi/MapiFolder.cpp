#include "mapi/MapiFolder.h"

#include "errors/Errors.h"
#include "mapi/MapiMemory.h"
#include "mapi/MapiValues.h"

#include <mapiutil.h>

namespace Mapi {

TMapiPtr<IMAPIFolder> OpenReceiveFolder(const TMapiPtr<IMsgStore>& store, ULONG openFlags)
{
    ULONG size = 0;
    TMapiMemory<ENTRYID> entryId;
    Errors::CheckMapi(NoSource, store->GetReceiveFolder(nullptr, 0, &size, entryId.Out(), nullptr));
    TMapiPtr<IMAPIFolder> folder;
    ULONG type = 0;
    Errors::CheckMapi(store.get(), store->OpenEntry(size, entryId.get(), &IID_IMAPIFolder, openFlags, &type,
                                                    reinterpret_cast<LPUNKNOWN*>(folder.Out())));
    Errors::CheckMapiTrue(NoSource, type == MAPI_FOLDER, MAPI_E_INVALID_TYPE);
    return folder;
}

void FindMessagesBySubject(const TMapiPtr<IMAPIFolder>& folder, const std::wstring& subject, ULONG tableFlags,
                           CMapiEntryList& found)
{
    TMapiPtr<IMAPITable> table;
    Errors::CheckMapi(folder.get(), folder->GetContentsTable(tableFlags, table.Out()));
    SizedSPropTagArray(2, columnTags) = {2, {PR_ENTRYID, PR_SUBJECT_W}};
    const LPSPropTagArray columns = reinterpret_cast<LPSPropTagArray>(&columnTags);
    SPropValue wanted{};
    wanted.ulPropTag = PR_SUBJECT_W;
    wanted.Value.lpszW = const_cast<wchar_t*>(subject.c_str());
    SRestriction sameSubject{};
    sameSubject.rt = RES_CONTENT;
    sameSubject.res.resContent = SContentRestriction{FL_FULLSTRING | FL_IGNORECASE, PR_SUBJECT_W, &wanted};
    CMapiSRowSet rows;
    Errors::CheckMapi(NoSource, ::HrQueryAllRows(table.get(), columns, &sameSubject, nullptr, 0, rows.Out()));
    for (ULONG index = 0; index < rows->cRows; ++index) {
        CheckRow(rows->aRow[index], *columns);
        found.Add(CMapiBuffer(rows->aRow[index].lpProps[0]));
    }
}

TMapiPtr<IMessage> CreateMessage(const TMapiPtr<IMAPIFolder>& folder, ULONG flags)
{
    TMapiPtr<IMessage> message;
    Errors::CheckMapi(folder.get(), folder->CreateMessage(&IID_IMessage, flags, message.Out()));
    return message;
}

void DeleteMessages(const TMapiPtr<IMAPIFolder>& folder, CMapiEntryList& messages)
{
    Errors::CheckMapiExact(folder.get(), folder->DeleteMessages(messages.Get(), 0, nullptr, 0));
}

} // namespace Mapi
