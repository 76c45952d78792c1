// MAPI memory as MAPI32 hands it out: a block from MAPIAllocateBuffer owns every block MAPIAllocateMore
// links to it, and one MAPIFreeBuffer on it frees them all. Live top-level blocks are counted for the
// accounting.

#include "Double.h"

#include <cstring>
#include <set>

namespace MapiDouble {

namespace {

// Keeps the caller's part 16-byte aligned, as the system heap gives it.
struct alignas(16) BlockHeader {
    ULONG Size;
    BlockHeader* More; // the next block linked to the same top-level block
};

// A fresh block is not zeroed, as MAPI's are not, and is followed by bytes that are no terminator of any
// string: a caller that copies a string without its terminator reads them back.
constexpr unsigned char Filler = 0xA5;
constexpr size_t GuardSize = 8;

std::set<BlockHeader*>& LiveBlocks()
{
    static std::set<BlockHeader*> blocks;
    return blocks;
}

BlockHeader* NewBlock(ULONG size)
{
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(BlockHeader) + size + GuardSize + sizeof(wchar_t));
    if (memory == nullptr) {
        return nullptr;
    }
    BlockHeader* header = static_cast<BlockHeader*>(memory);
    header->Size = size;
    header->More = nullptr;
    std::memset(header + 1, Filler, size + GuardSize);
    // What runs past the guard still ends, so that the fault shows as wrong text rather than a crash.
    std::memset(reinterpret_cast<char*>(header + 1) + size + GuardSize, 0, sizeof(wchar_t));
    return header;
}

} // namespace

HRESULT AllocateBlock(ULONG size, void** block)
{
    if (block == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    const CDoubleGuard guard(DoubleLock());
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
    const CDoubleGuard guard(DoubleLock());
    // The parent must be a live block from MAPIAllocateBuffer itself, not one linked to it.
    BlockHeader* owner = parent == nullptr ? nullptr : static_cast<BlockHeader*>(parent) - 1;
    if (LiveBlocks().count(owner) == 0) {
        NoteMisuse("MAPIAllocateMore on a block that is not a live block from MAPIAllocateBuffer");
        return MAPI_E_INVALID_PARAMETER;
    }
    BlockHeader* header = NewBlock(size);
    if (header == nullptr) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
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
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
    const CDoubleGuard guard(DoubleLock());
    if (LiveBlocks().erase(header) == 0) {
        NoteMisuse("MAPIFreeBuffer on a block that is not a live block from MAPIAllocateBuffer");
        return MAPI_E_INVALID_PARAMETER;
    }
    while (header != nullptr) {
        BlockHeader* more = header->More;
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
    const CDoubleGuard guard(DoubleLock());
    for (const BlockHeader* header : LiveBlocks()) {
        ++accounting.Buffers;
        accounting.Details.push_back("buffer " + std::to_string(header->Size) + " bytes");
    }
}

} // namespace MapiDouble
