#include "mapi/MapiValues.h"

#include "errors/Errors.h"
#include "mapi/MapiMemory.h"
#include "mapi/MapiPtr.h"

#include <cstring>

namespace Mapi {

namespace {

template <class TChar>
TChar* CopyOnParent(void* parent, const std::basic_string<TChar>& text)
{
    void* copy = nullptr;
    const ULONG size = static_cast<ULONG>((text.size() + 1) * sizeof(TChar));
    Errors::CheckMapi(NoSource, ::MAPIAllocateMore(size, parent, &copy));
    std::memcpy(copy, text.c_str(), size);
    return static_cast<TChar*>(copy);
}

void CheckColumns(const SRow& row, const SPropTagArray& columns)
{
    Errors::CheckMapiTrue(NoSource, row.cValues == columns.cValues, MAPI_E_BAD_VALUE);
    for (ULONG index = 0; index < columns.cValues; ++index) {
        Errors::CheckMapiTrue(NoSource, row.lpProps[index].ulPropTag == columns.aulPropTag[index],
                              MAPI_E_INVALID_TYPE);
    }
}

} // namespace

void SetPropValueA(SPropValue& value, void* parent, ULONG tag, const std::string& text)
{
    value.ulPropTag = tag;
    value.Value.lpszA = CopyOnParent(parent, text);
}

void SetPropValueW(SPropValue& value, void* parent, ULONG tag, const std::wstring& text)
{
    value.ulPropTag = tag;
    value.Value.lpszW = CopyOnParent(parent, text);
}

void SetStringProp(IMAPIProp* object, ULONG tag, const std::wstring& text)
{
    TMapiMemory<SPropValue> value;
    SPropValue* const single = value.Allocate(1);
    SetPropValueW(*single, single, tag, text);
    Errors::CheckMapi(object, object->SetProps(1, value.get(), nullptr));
}

bool CheckRow(const SRow& row, const SPropTagArray& columns, bool quiet)
{
    try {
        CheckColumns(row, columns);
        return true;
    } catch (const Errors::CError&) {
        if (!quiet) {
            throw;
        }
        return false;
    }
}

} // namespace Mapi
