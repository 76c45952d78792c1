#pragma once

#include "mapi/MapiMemory.h"

#include <mapix.h>

#include <memory>
#include <vector>

namespace Mapi {

// A copy of a binary value (an entry identifier, a record key, a service UID) in MAPI memory, shared by its
// copies and freed with the last of them.
class CMapiBuffer {
public:
    CMapiBuffer() = default;
    // Copies the bytes; out of MAPI memory raises std::bad_alloc.
    CMapiBuffer(const void* bytes, ULONG count);
    // Copies the value when it is PT_BINARY, and stays empty otherwise.
    explicit CMapiBuffer(const SPropValue& value);

    const BYTE* Data() const noexcept { return data.get(); }
    ULONG Size() const noexcept { return size; }
    bool Empty() const noexcept { return size == 0; }
    bool operator==(const CMapiBuffer& other) const noexcept;

private:
    std::shared_ptr<BYTE> data;
    ULONG size = 0;
};

// Entry identifiers gathered for one call that takes an ENTRYLIST, built into one MAPI block when asked for.
class CMapiEntryList {
public:
    void Add(const CMapiBuffer& entryId);
    size_t Count() const noexcept { return entryIds.size(); }
    const std::vector<CMapiBuffer>& EntryIds() const noexcept { return entryIds; }
    // Byte for byte, as identifiers from the same table compare.
    bool Holds(const CMapiBuffer& entryId) const;
    // The list as one self-contained block, built again after every Add.
    ENTRYLIST* Get();

private:
    void Build();

    bool built = false;
    TMapiMemory<ENTRYLIST> list;
    std::vector<CMapiBuffer> entryIds;
};

} // namespace Mapi
