#include "mapi/MapiFolder.h"

#include "errors/Errors.h"
#include "mapi/MapiMemory.h"
#include "mapi/MapiValues.h"

#include <mapiutil.h>

namespace Mapi {

namespace {

bool SameTextNoCase(const wchar_t* text, const std::wstring& wanted)
{
    return ::CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, text, -1, wanted.c_str(),
                            static_cast<int>(wanted.size())) == CSTR_EQUAL;
}

void CollectMessagesBySubject(const TMapiPtr<IMAPIFolder>& folder, const std::wstring& subject, ULONG tableFlags,
                              CMapiEntryList& found)
{
    TMapiPtr<IMAPITable> table;
    Errors::CheckMapi(folder.get(), folder->GetContentsTable(tableFlags, table.Out()));
    SizedSPropTagArray(2, columnTags) = {2, {PR_ENTRYID, PR_SUBJECT_W}};
    const LPSPropTagArray columns = reinterpret_cast<LPSPropTagArray>(&columnTags);
    CMapiSRowSet rows;
    Errors::CheckMapi(NoSource, ::HrQueryAllRows(table.get(), columns, nullptr, nullptr, 0, rows.Out()));
    for (ULONG index = 0; index < rows->cRows; ++index) {
        const SRow& row = rows->aRow[index];
        // A message without a subject has an error in the subject's column and never matches.
        if (CheckRow(row, *columns, true) &&
            SameTextNoCase(row.lpProps[1].Value.lpszW, subject)) {
            found.Add(CMapiBuffer(row.lpProps[0]));
        }
    }
}

} // namespace

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
    try {
        CollectMessagesBySubject(folder, subject, tableFlags, found);
    } catch (const Errors::CError&) {
        // What could not be read is taken as not there; the caller goes on with what was found.
    }
}

TMapiPtr<IMessage> CreateMessage(const TMapiPtr<IMAPIFolder>& folder, ULONG flags)
{
    TMapiPtr<IMessage> message;
    Errors::CheckMapi(folder.get(), folder->CreateMessage(&IID_IMessage, flags, message.Out()));
    Errors::CheckMapi(message.get(), message->SaveChanges(KEEP_OPEN_READWRITE));
    return message;
}

void DeleteMessages(const TMapiPtr<IMAPIFolder>& folder, CMapiEntryList& messages)
{
    Errors::CheckMapiExact(folder.get(), folder->DeleteMessages(messages.Get(), 0, nullptr, 0));
}

} // namespace Mapi
