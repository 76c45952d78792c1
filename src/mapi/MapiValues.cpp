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

// Stores refuse string values of a few tens of kilobytes through SetProps; longer ones go through a stream,
// which takes any length.
constexpr size_t LongestSetPropsValue = 8192;

bool NeedsStream(const StringProp& prop)
{
    return (prop.Text.size() + 1) * sizeof(wchar_t) > LongestSetPropsValue;
}

void StreamProp(IMAPIProp* object, const StringProp& prop)
{
    TMapiPtr<IStream> stream;
    Errors::CheckMapi(object, object->OpenProperty(prop.Tag, &IID_IStream, STGM_WRITE, MAPI_CREATE | MAPI_MODIFY,
                                                   reinterpret_cast<LPUNKNOWN*>(stream.Out())));
    // The stream holds the text without its terminator, as the property does.
    const ULONG size = static_cast<ULONG>(prop.Text.size() * sizeof(wchar_t));
    ULONG written = 0;
    Errors::CheckMapi(NoSource, stream->Write(prop.Text.data(), size, &written));
    Errors::CheckMapiTrue(NoSource, written == size, MAPI_E_NOT_ENOUGH_DISK);
    Errors::CheckMapi(NoSource, stream->Commit(STGC_DEFAULT));
}

void SetShortProps(IMAPIProp* object, const std::vector<const StringProp*>& props)
{
    TMapiMemory<SPropValue> values;
    SPropValue* const array = values.Allocate(static_cast<ULONG>(props.size()));
    for (size_t index = 0; index < props.size(); ++index) {
        SetPropValueW(array[index], array, props[index]->Tag, props[index]->Text);
    }
    TMapiMemory<SPropProblemArray> problems;
    Errors::CheckMapi(object, object->SetProps(static_cast<ULONG>(props.size()), array, problems.Out()));
    for (ULONG index = 0; problems.get() != nullptr && index < problems->cProblem; ++index) {
        const SPropProblem& problem = problems->aProblem[index];
        // A value too large for SetProps is one the reference says to write through a stream; any other is refused.
        Errors::CheckMapiTrue(object, problem.scode == MAPI_E_NOT_ENOUGH_MEMORY && problem.ulIndex < props.size(),
                              problem.scode);
        StreamProp(object, *props[problem.ulIndex]);
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

void SetStringProps(IMAPIProp* object, const std::vector<StringProp>& props)
{
    std::vector<const StringProp*> shortProps;
    for (const StringProp& prop : props) {
        if (!NeedsStream(prop)) {
            shortProps.push_back(&prop);
        }
    }
    if (!shortProps.empty()) {
        SetShortProps(object, shortProps);
    }
    for (const StringProp& prop : props) {
        if (NeedsStream(prop)) {
            StreamProp(object, prop);
        }
    }
}

void CheckRow(const SRow& row, const SPropTagArray& columns)
{
    Errors::CheckMapiTrue(NoSource, row.cValues == columns.cValues, MAPI_E_BAD_VALUE);
    for (ULONG index = 0; index < columns.cValues; ++index) {
        const SPropValue& value = row.lpProps[index];
        Errors::CheckMapi(NoSource, PROP_TYPE(value.ulPropTag) == PT_ERROR ? value.Value.err : S_OK);
        Errors::CheckMapiTrue(NoSource, value.ulPropTag == columns.aulPropTag[index], MAPI_E_INVALID_TYPE);
    }
}

} // namespace Mapi
