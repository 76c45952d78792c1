// IMAPITable over rows fixed when the table is made: columns, the two plain restrictions the tool asks for, the
// cursor and QueryRows, as the platform's snapshot tables answer them. Any other restriction is too complex
// for the double.

#include "Double.h"

#include <algorithm>
#include <mapiutil.h>

namespace MapiDouble {

namespace {

std::wstring AsWide(const Property& property)
{
    return PROP_TYPE(property.Tag) == PT_UNICODE ? property.Text : FromAnsi(property.Bytes);
}

bool IsString(ULONG tag)
{
    return PROP_TYPE(tag) == PT_UNICODE || PROP_TYPE(tag) == PT_STRING8;
}

// RES_PROPERTY with RELOP_EQ, and RES_CONTENT on whole strings with or without case, both on string values.
bool Supported(const SRestriction& restriction)
{
    if (restriction.rt == RES_CONTENT) {
        const SContentRestriction& content = restriction.res.resContent;
        return (content.ulFuzzyLevel & ~FL_IGNORECASE) == FL_FULLSTRING && content.lpProp != nullptr &&
               IsString(content.ulPropTag) && IsString(content.lpProp->ulPropTag);
    }
    const SPropertyRestriction& property = restriction.res.resProperty;
    return restriction.rt == RES_PROPERTY && property.relop == RELOP_EQ && property.lpProp != nullptr &&
           IsString(property.ulPropTag) && IsString(property.lpProp->ulPropTag);
}

bool Matches(const SRestriction& restriction, const Properties& row)
{
    const bool content = restriction.rt == RES_CONTENT;
    const Property* have =
        FindProperty(row, content ? restriction.res.resContent.ulPropTag : restriction.res.resProperty.ulPropTag);
    Property want;
    TakeValue(content ? *restriction.res.resContent.lpProp : *restriction.res.resProperty.lpProp, want);
    if (have == nullptr || !IsString(have->Tag)) {
        return false;
    }
    // Property comparison includes case, as the platform's does.
    return content && (restriction.res.resContent.ulFuzzyLevel & FL_IGNORECASE) != 0
               ? SameTextNoCase(AsWide(*have), AsWide(want))
               : AsWide(*have) == AsWide(want);
}

class CTable final : public TObject<IMAPITable> {
public:
    CTable(const std::wstring& mailbox, std::vector<Properties> tableRows, std::vector<ULONG> defaultColumns,
           bool serverTable)
        : TObject("IMAPITable", mailbox, {&IID_IMAPITable}), rows(std::move(tableRows)),
          columns(std::move(defaultColumns)), onServer(serverTable)
    {
        for (const Properties& row : rows) {
            visible.push_back(&row);
        }
    }

    // The rows of a server's table travel at QueryRows, and the batched SetColumns and Restrict with them.
    bool ReachesServer(const std::string& method) const override { return onServer && method == "QueryRows"; }

    UNSUPPORTED(Advise, ULONG, LPMAPIADVISESINK, ULONG*)
    UNSUPPORTED(Unadvise, ULONG)
    UNSUPPORTED(GetStatus, ULONG*, ULONG*)
    STDMETHODIMP SetColumns(LPSPropTagArray tags, ULONG flags) override;
    UNSUPPORTED(QueryColumns, ULONG, LPSPropTagArray*)
    STDMETHODIMP GetRowCount(ULONG flags, ULONG* count) override;
    STDMETHODIMP SeekRow(BOOKMARK origin, LONG count, LONG* sought) override;
    UNSUPPORTED(SeekRowApprox, ULONG, ULONG)
    UNSUPPORTED(QueryPosition, ULONG*, ULONG*, ULONG*)
    UNSUPPORTED(FindRow, LPSRestriction, BOOKMARK, ULONG)
    STDMETHODIMP Restrict(LPSRestriction restriction, ULONG flags) override;
    UNSUPPORTED(CreateBookmark, BOOKMARK*)
    UNSUPPORTED(FreeBookmark, BOOKMARK)
    UNSUPPORTED(SortTable, LPSSortOrderSet, ULONG)
    UNSUPPORTED(QuerySortOrder, LPSSortOrderSet*)
    STDMETHODIMP QueryRows(LONG count, ULONG flags, LPSRowSet* result) override;
    UNSUPPORTED(Abort)
    UNSUPPORTED(ExpandRow, ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*)
    UNSUPPORTED(CollapseRow, ULONG, LPBYTE, ULONG, ULONG*)
    UNSUPPORTED(WaitForCompletion, ULONG, ULONG, ULONG*)
    UNSUPPORTED(GetCollapseState, ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*)
    UNSUPPORTED(SetCollapseState, ULONG, ULONG, LPBYTE, BOOKMARK*)

private:
    std::vector<Properties> rows;
    std::vector<ULONG> columns;
    bool onServer;
    std::vector<const Properties*> visible;
    size_t cursor = 0;
};

STDMETHODIMP CTable::SetColumns(LPSPropTagArray tags, ULONG)
{
    CCall call(this, "SetColumns");
    if (tags == nullptr || tags->cValues == 0) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    if (call.Refused()) {
        return call.End();
    }
    columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return call.End();
}

STDMETHODIMP CTable::GetRowCount(ULONG, ULONG* count)
{
    CCall call(this, "GetRowCount");
    if (count == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *count = 0;
    if (call.Refused()) {
        return call.End();
    }
    *count = static_cast<ULONG>(visible.size());
    return call.End();
}

// From the beginning only, all a query of the whole table needs.
STDMETHODIMP CTable::SeekRow(BOOKMARK origin, LONG count, LONG* sought)
{
    CCall call(this, "SeekRow");
    if (call.Refused()) {
        return call.End();
    }
    if (origin != BOOKMARK_BEGINNING || count < 0) {
        return call.End(MAPI_E_NO_SUPPORT);
    }
    cursor = std::min(static_cast<size_t>(count), visible.size());
    if (sought != nullptr) {
        *sought = static_cast<LONG>(cursor);
    }
    return call.End();
}

STDMETHODIMP CTable::Restrict(LPSRestriction restriction, ULONG)
{
    CCall call(this, "Restrict");
    if (call.Refused()) {
        return call.End();
    }
    if (restriction != nullptr && !Supported(*restriction)) {
        return call.End(MAPI_E_TOO_COMPLEX, L"The restriction is not supported by this table.");
    }
    visible.clear();
    for (const Properties& row : rows) {
        if (restriction == nullptr || Matches(*restriction, row)) {
            visible.push_back(&row);
        }
    }
    cursor = 0;
    return call.End();
}

STDMETHODIMP CTable::QueryRows(LONG count, ULONG flags, LPSRowSet* result)
{
    CCall call(this, "QueryRows");
    if (result == nullptr || count < 0) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *result = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    const size_t wanted = std::min(static_cast<size_t>(count), visible.size() - cursor);
    void* block = nullptr;
    if (FAILED(AllocateBlock(static_cast<ULONG>(CbNewSRowSet(wanted)), &block))) {
        return call.End(MAPI_E_NOT_ENOUGH_MEMORY);
    }
    LPSRowSet answer = static_cast<LPSRowSet>(block);
    for (answer->cRows = 0; answer->cRows < wanted; ++answer->cRows) {
        SRow& row = answer->aRow[answer->cRows];
        void* values = nullptr;
        if (FAILED(AllocateBlock(static_cast<ULONG>(columns.size() * sizeof(SPropValue)), &values))) {
            FreeProws(answer);
            return call.End(MAPI_E_NOT_ENOUGH_MEMORY);
        }
        row.cValues = static_cast<ULONG>(columns.size());
        row.lpProps = static_cast<LPSPropValue>(values);
        for (size_t index = 0; index < columns.size(); ++index) {
            FillValue(row.lpProps[index], FindProperty(*visible[cursor + answer->cRows], columns[index]),
                      columns[index], values);
            if (columns[index] == call.ErrorColumn()) {
                row.lpProps[index].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(columns[index]));
                row.lpProps[index].Value.err = call.ColumnError();
            }
        }
    }
    if ((flags & TBL_NOADVANCE) == 0) {
        cursor += wanted;
    }
    *result = answer;
    return call.End();
}

} // namespace

IMAPITable* NewTable(const std::wstring& mailbox, std::vector<Properties> rows, std::vector<ULONG> columns,
                     bool onServer)
{
    return new CTable(mailbox, std::move(rows), std::move(columns), onServer);
}

} // namespace MapiDouble
