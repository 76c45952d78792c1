// IMAPITable over rows fixed when the table is made: columns, RES_PROPERTY and the other plain restrictions,
// the cursor and QueryRows, as the platform's snapshot tables answer them.

#include "Double.h"

#include "StateText.h"

#include <algorithm>
#include <mapiutil.h>

#include <cstring>

namespace MapiDouble {

namespace {

const char* const RelopNames[] = {"LT", "LE", "GT", "GE", "EQ", "NE", "RE"};

} // namespace

std::string DescribeColumns(const SPropTagArray* tags)
{
    if (tags == nullptr) {
        return "(null)";
    }
    std::string text;
    for (ULONG index = 0; index < tags->cValues; ++index) {
        text += (index == 0 ? "" : ",") + Hex(tags->aulPropTag[index]);
    }
    return text;
}

std::string DescribeRestriction(const SRestriction* restriction)
{
    if (restriction == nullptr) {
        return "(null)";
    }
    switch (restriction->rt) {
    case RES_AND:
    case RES_OR: {
        std::string text = restriction->rt == RES_AND ? "AND(" : "OR(";
        for (ULONG index = 0; index < restriction->res.resAnd.cRes; ++index) {
            text += (index == 0 ? "" : ",") + DescribeRestriction(&restriction->res.resAnd.lpRes[index]);
        }
        return text + ")";
    }
    case RES_NOT:
        return "NOT(" + DescribeRestriction(restriction->res.resNot.lpRes) + ")";
    case RES_EXIST:
        return "EXIST(" + Hex(restriction->res.resExist.ulPropTag) + ")";
    case RES_CONTENT: {
        const SContentRestriction& condition = restriction->res.resContent;
        Property value;
        const bool known = condition.lpProp != nullptr && TakeValue(*condition.lpProp, value);
        return "CONTENT(" + Hex(condition.ulFuzzyLevel) + " " + Hex(condition.ulPropTag) + " " +
               (known ? Hex(value.Tag) + "=" + FormatValue(value) : "?") + ")";
    }
    case RES_PROPERTY: {
        const SPropertyRestriction& condition = restriction->res.resProperty;
        Property value;
        const bool known = condition.lpProp != nullptr && TakeValue(*condition.lpProp, value);
        return std::string("PROPERTY(") + (condition.relop <= RELOP_RE ? RelopNames[condition.relop] : "?") + " " +
               Hex(condition.ulPropTag) + " " + (known ? Hex(value.Tag) + "=" + FormatValue(value) : "?") + ")";
    }
    default:
        return "TYPE(" + std::to_string(restriction->rt) + ")";
    }
}

namespace {

std::wstring AsWide(const Property& property)
{
    return PROP_TYPE(property.Tag) == PT_UNICODE ? property.Text : FromAnsi(property.Bytes);
}

bool IsString(ULONG tag)
{
    return PROP_TYPE(tag) == PT_UNICODE || PROP_TYPE(tag) == PT_STRING8;
}

// Negative, zero or positive as `have` sorts before, with or after `want`; strings compare as the
// locale sorts them, case included, as the platform's property comparison does.
int Compare(const Property& have, const Property& want)
{
    if (IsString(have.Tag) && IsString(want.Tag)) {
        const std::wstring a = AsWide(have);
        const std::wstring b = AsWide(want);
        return CompareStringW(LOCALE_SYSTEM_DEFAULT, 0, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size())) - CSTR_EQUAL;
    }
    if (PROP_TYPE(have.Tag) == PT_BINARY) {
        return have.Bytes.compare(want.Bytes);
    }
    return have.Number < want.Number ? -1 : have.Number > want.Number ? 1 : 0;
}

bool Holds(ULONG relop, int order)
{
    switch (relop) {
    case RELOP_LT:
        return order < 0;
    case RELOP_LE:
        return order <= 0;
    case RELOP_GT:
        return order > 0;
    case RELOP_GE:
        return order >= 0;
    case RELOP_EQ:
        return order == 0;
    default:
        return order != 0;
    }
}

bool Supported(const SRestriction& restriction)
{
    switch (restriction.rt) {
    case RES_AND:
    case RES_OR:
        for (ULONG index = 0; index < restriction.res.resAnd.cRes; ++index) {
            if (!Supported(restriction.res.resAnd.lpRes[index])) {
                return false;
            }
        }
        return true;
    case RES_NOT:
        return restriction.res.resNot.lpRes != nullptr && Supported(*restriction.res.resNot.lpRes);
    case RES_EXIST:
        return true;
    case RES_CONTENT: {
        // Whole strings only, with or without case: the one match the double needs.
        const SContentRestriction& content = restriction.res.resContent;
        return (content.ulFuzzyLevel & ~FL_IGNORECASE) == FL_FULLSTRING && content.lpProp != nullptr &&
               IsString(content.ulPropTag) && IsString(content.lpProp->ulPropTag);
    }
    case RES_PROPERTY: {
        const SPropertyRestriction& property = restriction.res.resProperty;
        Property ignored;
        return property.relop <= RELOP_NE && property.lpProp != nullptr && TakeValue(*property.lpProp, ignored) &&
               PROP_ID(property.lpProp->ulPropTag) == PROP_ID(property.ulPropTag);
    }
    default:
        return false;
    }
}

bool Matches(const SRestriction& restriction, const Properties& row)
{
    switch (restriction.rt) {
    case RES_AND:
    case RES_OR: {
        const bool all = restriction.rt == RES_AND;
        for (ULONG index = 0; index < restriction.res.resAnd.cRes; ++index) {
            if (Matches(restriction.res.resAnd.lpRes[index], row) != all) {
                return !all;
            }
        }
        return all;
    }
    case RES_NOT:
        return !Matches(*restriction.res.resNot.lpRes, row);
    case RES_EXIST:
        return FindProperty(row, restriction.res.resExist.ulPropTag) != nullptr;
    case RES_CONTENT: {
        const SContentRestriction& condition = restriction.res.resContent;
        const Property* have = FindProperty(row, condition.ulPropTag);
        Property want;
        TakeValue(*condition.lpProp, want);
        if (have == nullptr || !IsString(have->Tag)) {
            return false;
        }
        return (condition.ulFuzzyLevel & FL_IGNORECASE) != 0 ? SameTextNoCase(AsWide(*have), AsWide(want))
                                                               : AsWide(*have) == AsWide(want);
    }
    default: {
        const SPropertyRestriction& condition = restriction.res.resProperty;
        const Property* have = FindProperty(row, condition.ulPropTag);
        Property want;
        TakeValue(*condition.lpProp, want);
        return have != nullptr && (IsString(have->Tag) == IsString(want.Tag)) &&
               Holds(condition.relop, Compare(*have, want));
    }
    }
}

class CTable final : public TObject<IMAPITable> {
public:
    CTable(const std::wstring& mailbox, std::vector<Properties> tableRows, std::vector<ULONG> defaultColumns,
           bool serverTable)
        : TObject("IMAPITable", mailbox, {&IID_IMAPITable}), rows(std::move(tableRows)),
          columns(std::move(defaultColumns)), onServer(serverTable)
    {
        ShowAll();
    }

    // The rows of a server's table travel at QueryRows, and the batched SetColumns, Restrict and SortTable with
    // them.
    bool ReachesServer(const std::string& method) const override { return onServer && method == "QueryRows"; }

    STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG*) override { return Unsupported("Advise"); }
    STDMETHODIMP Unadvise(ULONG) override { return Unsupported("Unadvise"); }
    STDMETHODIMP GetStatus(ULONG* status, ULONG* type) override
    {
        CCall call(this, "GetStatus", "");
        if (status == nullptr || type == nullptr) {
            return call.End(MAPI_E_INVALID_PARAMETER);
        }
        *status = TBLSTAT_COMPLETE;
        *type = TBLTYPE_SNAPSHOT;
        return call.End();
    }
    STDMETHODIMP SetColumns(LPSPropTagArray tags, ULONG flags) override;
    STDMETHODIMP QueryColumns(ULONG flags, LPSPropTagArray* tags) override;
    STDMETHODIMP GetRowCount(ULONG flags, ULONG* count) override;
    STDMETHODIMP SeekRow(BOOKMARK origin, LONG count, LONG* sought) override;
    STDMETHODIMP SeekRowApprox(ULONG, ULONG) override { return Unsupported("SeekRowApprox"); }
    STDMETHODIMP QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) override;
    STDMETHODIMP FindRow(LPSRestriction, BOOKMARK, ULONG) override { return Unsupported("FindRow"); }
    STDMETHODIMP Restrict(LPSRestriction restriction, ULONG flags) override;
    STDMETHODIMP CreateBookmark(BOOKMARK*) override { return Unsupported("CreateBookmark"); }
    STDMETHODIMP FreeBookmark(BOOKMARK) override { return Unsupported("FreeBookmark"); }
    STDMETHODIMP SortTable(LPSSortOrderSet order, ULONG flags) override;
    STDMETHODIMP QuerySortOrder(LPSSortOrderSet*) override { return Unsupported("QuerySortOrder"); }
    STDMETHODIMP QueryRows(LONG count, ULONG flags, LPSRowSet* result) override;
    STDMETHODIMP Abort() override { return Unsupported("Abort"); }
    STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override
    {
        return Unsupported("ExpandRow");
    }
    STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override { return Unsupported("CollapseRow"); }
    STDMETHODIMP WaitForCompletion(ULONG, ULONG, ULONG*) override { return Unsupported("WaitForCompletion"); }
    STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override
    {
        return Unsupported("GetCollapseState");
    }
    STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return Unsupported("SetCollapseState"); }

private:
    void ShowAll()
    {
        visible.clear();
        for (size_t index = 0; index < rows.size(); ++index) {
            visible.push_back(index);
        }
        cursor = 0;
    }
    HRESULT MakeRow(const Properties& row, SRow& answer) const;

    std::vector<Properties> rows;
    std::vector<ULONG> columns;
    bool onServer;
    std::vector<size_t> visible;
    size_t cursor = 0;
};

STDMETHODIMP CTable::SetColumns(LPSPropTagArray tags, ULONG flags)
{
    CCall call(this, "SetColumns", "columns=" + DescribeColumns(tags) + " flags=" + Hex(flags));
    if (tags == nullptr || tags->cValues == 0) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    if (call.Refused()) {
        return call.End();
    }
    columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return call.End();
}

STDMETHODIMP CTable::QueryColumns(ULONG flags, LPSPropTagArray* tags)
{
    CCall call(this, "QueryColumns", "flags=" + Hex(flags));
    if (tags == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *tags = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    void* block = nullptr;
    if (FAILED(AllocateBlock(CbNewSPropTagArray(columns.size()), &block))) {
        return call.End(MAPI_E_NOT_ENOUGH_MEMORY);
    }
    *tags = static_cast<LPSPropTagArray>(block);
    (*tags)->cValues = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), (*tags)->aulPropTag);
    return call.End();
}

STDMETHODIMP CTable::GetRowCount(ULONG flags, ULONG* count)
{
    CCall call(this, "GetRowCount", "flags=" + Hex(flags));
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

STDMETHODIMP CTable::SeekRow(BOOKMARK origin, LONG count, LONG* sought)
{
    CCall call(this, "SeekRow", "origin=" + std::to_string(origin) + " count=" + std::to_string(count));
    if (call.Refused()) {
        return call.End();
    }
    if (origin > BOOKMARK_END) {
        return call.End(MAPI_E_INVALID_BOOKMARK);
    }
    const LONG size = static_cast<LONG>(visible.size());
    const LONG from = origin == BOOKMARK_BEGINNING ? 0 : origin == BOOKMARK_CURRENT ? static_cast<LONG>(cursor) : size;
    const LONG to = std::min(std::max(from + count, 0L), size);
    cursor = static_cast<size_t>(to);
    if (sought != nullptr) {
        *sought = to - from;
    }
    return call.End();
}

STDMETHODIMP CTable::QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator)
{
    CCall call(this, "QueryPosition", "");
    if (row == nullptr || numerator == nullptr || denominator == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *row = *numerator = static_cast<ULONG>(cursor);
    *denominator = static_cast<ULONG>(visible.size());
    return call.End();
}

STDMETHODIMP CTable::Restrict(LPSRestriction restriction, ULONG flags)
{
    CCall call(this, "Restrict", "restriction=" + DescribeRestriction(restriction) + " flags=" + Hex(flags));
    if (call.Refused()) {
        return call.End();
    }
    if (restriction != nullptr && !Supported(*restriction)) {
        return call.End(MAPI_E_TOO_COMPLEX, L"The restriction is not supported by this table.");
    }
    ShowAll();
    if (restriction != nullptr) {
        visible.erase(std::remove_if(visible.begin(), visible.end(),
                                     [&](size_t index) { return !Matches(*restriction, rows[index]); }),
                      visible.end());
    }
    return call.End();
}

STDMETHODIMP CTable::SortTable(LPSSortOrderSet order, ULONG flags)
{
    const ULONG sorts = order == nullptr ? 0 : order->cSorts;
    CCall call(this, "SortTable", "sorts=" + std::to_string(sorts) + " flags=" + Hex(flags));
    if (call.Refused()) {
        return call.End();
    }
    return call.End(order != nullptr && order->cSorts != 0 ? MAPI_E_TOO_COMPLEX : S_OK);
}

HRESULT CTable::MakeRow(const Properties& row, SRow& answer) const
{
    void* block = nullptr;
    if (FAILED(AllocateBlock(static_cast<ULONG>(columns.size() * sizeof(SPropValue)), &block))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    answer.cValues = static_cast<ULONG>(columns.size());
    answer.lpProps = static_cast<LPSPropValue>(block);
    for (size_t index = 0; index < columns.size(); ++index) {
        FillValue(answer.lpProps[index], FindProperty(row, columns[index]), columns[index], block);
    }
    return S_OK;
}

STDMETHODIMP CTable::QueryRows(LONG count, ULONG flags, LPSRowSet* result)
{
    CCall call(this, "QueryRows", "count=" + std::to_string(count) + " flags=" + Hex(flags));
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
    for (size_t index = 0; index < wanted; ++index) {
        answer->cRows = static_cast<ULONG>(index);
        if (FAILED(MakeRow(rows[visible[cursor + index]], answer->aRow[index]))) {
            FreeProws(answer);
            return call.End(MAPI_E_NOT_ENOUGH_MEMORY);
        }
    }
    answer->cRows = static_cast<ULONG>(wanted);
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
