#pragma once

#include <utility>

namespace Util {

// Owns one reference to a COM interface (MAPI and ADSI interfaces alike) and releases it when done.
template <class I>
class TComPtr {
public:
    TComPtr() noexcept = default;
    // Takes a reference of its own to an interface someone else holds.
    explicit TComPtr(I* shared) noexcept : pointer(shared)
    {
        if (pointer != nullptr) {
            pointer->AddRef();
        }
    }
    TComPtr(const TComPtr& other) noexcept : TComPtr(other.pointer) {}
    TComPtr(TComPtr&& other) noexcept : pointer(other.Detach()) {}
    TComPtr& operator=(TComPtr other) noexcept
    {
        std::swap(pointer, other.pointer);
        return *this;
    }
    ~TComPtr() { Reset(); }

    I* get() const noexcept { return pointer; }
    I* operator->() const noexcept { return pointer; }
    explicit operator bool() const noexcept { return pointer != nullptr; }

    // The out parameter for a call that hands over a new reference; what was held is released first.
    I** Out() noexcept
    {
        Reset();
        return &pointer;
    }
    // The same for calls that name the interface by its identifier and take a void**.
    void** Put() noexcept { return reinterpret_cast<void**>(Out()); }

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

} // namespace Util
