#pragma once

#include <mapix.h>

#include <utility>

namespace Mapi {

// Owns one reference to a MAPI or COM interface and releases it when done.
template <class I>
class TMapiPtr {
public:
    TMapiPtr() noexcept = default;
    // Takes a reference of its own to an interface someone else holds.
    explicit TMapiPtr(I* shared) noexcept : pointer(shared)
    {
        if (pointer != nullptr) {
            pointer->AddRef();
        }
    }
    TMapiPtr(const TMapiPtr& other) noexcept : TMapiPtr(other.pointer) {}
    TMapiPtr(TMapiPtr&& other) noexcept : pointer(other.Detach()) {}
    TMapiPtr& operator=(TMapiPtr other) noexcept
    {
        std::swap(pointer, other.pointer);
        return *this;
    }
    ~TMapiPtr() { Reset(); }

    I* get() const noexcept { return pointer; }
    I* operator->() const noexcept { return pointer; }
    explicit operator bool() const noexcept { return pointer != nullptr; }

    // The out parameter for a call that hands over a new reference; what was held is released first.
    I** Out() noexcept
    {
        Reset();
        return &pointer;
    }
    void Reset() noexcept
    {
        if (I* released = Detach()) {
            released->Release();
        }
    }
    // Forgets the interface without releasing it.
    I* Detach() noexcept { return std::exchange(pointer, nullptr); }

private:
    I* pointer = nullptr;
};

// The source of a check made where no MAPI object is at hand: the error then carries the result alone.
constexpr IMAPIProp* NoSource = nullptr;

} // namespace Mapi
