#include "mapi/MapiBuffer.h"

#include "errors/Errors.h"
#include "mapi/MapiPtr.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Mapi {

CMapiBuffer::CMapiBuffer(const void* bytes, ULONG count) : size(count)
{
    if (count == 0) {
        return;
    }
    void* block = nullptr;
    if (FAILED(::MAPIAllocateBuffer(count, &block)) || block == nullptr) {
        throw std::bad_alloc();
    }
    data.reset(static_cast<BYTE*>(block), [](BYTE* shared) { ::MAPIFreeBuffer(shared); });
    std::memcpy(block, bytes, count);
}

CMapiBuffer::CMapiBuffer(const SPropValue& value)
    : CMapiBuffer(PROP_TYPE(value.ulPropTag) == PT_BINARY ? CMapiBuffer(value.Value.bin.lpb, value.Value.bin.cb)
                                                          : CMapiBuffer())
{
}

bool CMapiBuffer::operator==(const CMapiBuffer& other) const noexcept
{
    return size == other.size && (size == 0 || std::memcmp(data.get(), other.data.get(), size) == 0);
}

bool CMapiEntryList::Holds(const CMapiBuffer& entryId) const
{
    return std::find(entryIds.begin(), entryIds.end(), entryId) != entryIds.end();
}

void CMapiEntryList::Add(const CMapiBuffer& entryId)
{
    entryIds.push_back(entryId);
    built = false;
}

ENTRYLIST* CMapiEntryList::Get()
{
    if (!built) {
        Build();
    }
    return list.get();
}

void CMapiEntryList::Build()
{
    list.Allocate(1);
    ENTRYLIST* header = list.get();
    header->cValues = static_cast<ULONG>(entryIds.size());
    header->lpbin = nullptr;
    Errors::CheckMapi(NoSource, ::MAPIAllocateMore(static_cast<ULONG>(entryIds.size() * sizeof(SBinary)), header,
                                                   reinterpret_cast<void**>(&header->lpbin)));
    for (size_t index = 0; index < entryIds.size(); ++index) {
        SBinary& entry = header->lpbin[index];
        entry.cb = entryIds[index].Size();
        Errors::CheckMapi(NoSource, ::MAPIAllocateMore(entry.cb, header, reinterpret_cast<void**>(&entry.lpb)));
        if (entry.cb != 0) {
            std::memcpy(entry.lpb, entryIds[index].Data(), entry.cb);
        }
    }
    built = true;
}

} // namespace Mapi
