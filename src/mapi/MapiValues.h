#pragma once

#include <mapix.h>

#include <string>
#include <vector>

namespace Mapi {

// Narrow text for the MAPI calls whose LPTSTR arguments are ANSI when MAPI_UNICODE is not among their flags.
inline LPTSTR AnsiText(const std::string& text)
{
    return reinterpret_cast<LPTSTR>(const_cast<char*>(text.c_str()));
}

// Fills `value` with a string property whose text is allocated on `parent`, so one MAPIFreeBuffer of the
// parent block frees both.
void SetPropValueA(SPropValue& value, void* parent, ULONG tag, const std::string& text);
void SetPropValueW(SPropValue& value, void* parent, ULONG tag, const std::wstring& text);

// One wide string property to set.
struct StringProp {
    ULONG Tag;
    std::wstring Text;
};

// Sets wide string properties on a MAPI object, whole or not at all. A value too long for SetProps, or one the
// object reports too large in SetProps' problem array (which it fills while still answering S_OK), is written
// through a stream of its own; any other property the object turns down raises like a failed call.
void SetStringProps(IMAPIProp* object, const std::vector<StringProp>& props);

// Raises unless the row holds exactly the requested columns, in order. A column the row could not give raises
// the error it carries in its place: a value not known is not a value.
void CheckRow(const SRow& row, const SPropTagArray& columns);

} // namespace Mapi
