// MAPI memory as MAPI32 hands it out: a block from MAPIAllocateBuffer owns every block MAPIAllocateMore
// links to it, and one MAPIFreeBuffer on it frees them all. Live blocks are counted for the accounting.

#include "Double.h"

#include <cstring>
#include <set>

namespace MapiDouble {

namespace {

constexpr ULONG BlockMagic = 0x4D415049; // "MAPI"

// Keeps the caller's part 16-byte aligned, as the system heap gives it.
struct alignas(16) BlockHeader {
    ULONG Magic;
    ULONG Size;
    BlockHeader* Owner; // the top-level block this one is linked to; null for a top-level block
    BlockHeader* More;  // next block linked to the same top-level block
};

std::set<BlockHeader*>& LiveBlocks()
{
    static std::set<BlockHeader*> blocks;
    return blocks;
}

BlockHeader* HeaderOf(void* block)
{
    return static_cast<BlockHeader*>(block) - 1;
}

BlockHeader* NewBlock(ULONG size)
{
    void* memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BlockHeader) + size);
    if (memory == nullptr) {
        return nullptr;
    }
    BlockHeader* header = static_cast<BlockHeader*>(memory);
    header->Magic = BlockMagic;
    header->Size = size;
    return header;
}

// The live top-level block that `block` is, or belongs to; null when it is neither.
BlockHeader* OwningBlock(void* block)
{
    for (BlockHeader* header : LiveBlocks()) {
        if (header + 1 == block) {
            return header;
        }
        for (BlockHeader* more = header->More; more != nullptr; more = more->More) {
            if (more + 1 == block) {
                return header;
            }
        }
    }
    return nullptr;
}

} // namespace

HRESULT AllocateBlock(ULONG size, void** block)
{
    if (block == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    BlockHeader* header = NewBlock(size);
    *block = header == nullptr ? nullptr : header + 1;
    if (header == nullptr) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    LiveBlocks().insert(header);
    return S_OK;
}

HRESULT AllocateMoreBlock(ULONG size, void* parent, void** block)
{
    if (block == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *block = nullptr;
    // The parent must be a block from MAPIAllocateBuffer itself, not one linked to it.
    BlockHeader* owner = parent == nullptr ? nullptr : HeaderOf(parent);
    if (LiveBlocks().count(owner) == 0) {
        NoteMisuse(parent != nullptr && OwningBlock(parent) != nullptr
                       ? "MAPIAllocateMore on a block from MAPIAllocateMore"
                       : "MAPIAllocateMore on a block that is not live");
        return MAPI_E_INVALID_PARAMETER;
    }
    BlockHeader* header = NewBlock(size);
    if (header == nullptr) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    header->Owner = owner;
    header->More = owner->More;
    owner->More = header;
    *block = header + 1;
    return S_OK;
}

HRESULT FreeBlock(void* block)
{
    if (block == nullptr) {
        return S_OK;
    }
    BlockHeader* header = HeaderOf(block);
    if (LiveBlocks().erase(header) == 0) {
        NoteMisuse(OwningBlock(block) != nullptr ? "MAPIFreeBuffer on a block from MAPIAllocateMore"
                                                  : "MAPIFreeBuffer on a block that is not live");
        return MAPI_E_INVALID_PARAMETER;
    }
    while (header != nullptr) {
        BlockHeader* more = header->More;
        header->Magic = 0;
        HeapFree(GetProcessHeap(), 0, header);
        header = more;
    }
    return S_OK;
}

char* CopyBytes(const std::string& bytes, void* parent)
{
    void* copy = nullptr;
    AllocateMoreBlock(static_cast<ULONG>(bytes.size() + 1), parent, &copy);
    if (copy != nullptr) {
        std::memcpy(copy, bytes.c_str(), bytes.size() + 1);
    }
    return static_cast<char*>(copy);
}

wchar_t* CopyText(const std::wstring& text, void* parent)
{
    void* copy = nullptr;
    AllocateMoreBlock(static_cast<ULONG>((text.size() + 1) * sizeof(wchar_t)), parent, &copy);
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
    return static_cast<wchar_t*>(copy);
}

void CountLiveBlocks(Accounting& accounting)
{
    for (const BlockHeader* header : LiveBlocks()) {
        ++accounting.Buffers;
        accounting.Details.push_back("buffer " + std::to_string(header->Size) + " bytes");
    }
}

} // namespace MapiDouble
