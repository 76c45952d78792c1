#pragma once

#include "errors/Errors.h"
#include "mapi/MapiPtr.h"

#include <mapix.h>
#include <mapiutil.h>

#include <utility>

namespace Mapi {

// Owns one block that MAPI handed out; the kind of owner says how the block is given back.
template <class T>
class TMapiMemoryBase {
public:
    TMapiMemoryBase(const TMapiMemoryBase&) = delete;
    TMapiMemoryBase& operator=(const TMapiMemoryBase&) = delete;
    virtual ~TMapiMemoryBase() = 0;

    T* get() const noexcept { return pointer; }
    T* operator->() const noexcept { return pointer; }
    // The out parameter for a call that allocates; what was held is freed first.
    T** Out() noexcept
    {
        Free();
        return &pointer;
    }
    void Free() noexcept
    {
        if (T* block = std::exchange(pointer, nullptr)) {
            Release(block);
        }
    }

protected:
    explicit TMapiMemoryBase(T* initial = nullptr) noexcept : pointer(initial) {}
    virtual void Release(T* block) noexcept = 0;

private:
    T* pointer;
};

template <class T>
TMapiMemoryBase<T>::~TMapiMemoryBase() = default;

// A block from MAPIAllocateBuffer, with everything MAPIAllocateMore linked to it.
template <class T>
class TMapiMemory final : public TMapiMemoryBase<T> {
public:
    TMapiMemory() noexcept = default;
    ~TMapiMemory() override { this->Free(); }

    // Room for `count` values of T; the block held before is freed first.
    T* Allocate(ULONG count)
    {
        Errors::CheckMapi(NoSource, ::MAPIAllocateBuffer(static_cast<ULONG>(count * sizeof(T)),
                                                         reinterpret_cast<void**>(this->Out())));
        return this->get();
    }

protected:
    void Release(T* block) noexcept override { ::MAPIFreeBuffer(block); }
};

// Rows from a table, each with a property block of its own.
class CMapiSRowSet final : public TMapiMemoryBase<SRowSet> {
public:
    explicit CMapiSRowSet(SRowSet* initial = nullptr) noexcept : TMapiMemoryBase(initial) {}
    ~CMapiSRowSet() override { Free(); }

protected:
    void Release(SRowSet* block) noexcept override { ::FreeProws(block); }
};

} // namespace Mapi
