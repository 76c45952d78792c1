#pragma once

#include "errors/Errors.h"

#include <utility>

namespace Adsi {

// Owns one reference to an ADSI interface: released when destroyed or replaced, added when copied.
template <class TInterface>
class TAdsiPtr {
public:
    TAdsiPtr() noexcept = default;
    TAdsiPtr(const TAdsiPtr& other) noexcept : pointer(other.pointer)
    {
        if (pointer != nullptr) {
            pointer->AddRef();
        }
    }
    TAdsiPtr(TAdsiPtr&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
    TAdsiPtr& operator=(TAdsiPtr other) noexcept
    {
        std::swap(pointer, other.pointer);
        return *this;
    }
    ~TAdsiPtr() { Reset(); }

    TInterface* Get() const noexcept { return pointer; }
    TInterface* operator->() const noexcept { return pointer; }
    explicit operator bool() const noexcept { return pointer != nullptr; }

    // The out-parameter of a call that hands over a reference; the reference held so far is dropped first.
    void** Put() noexcept
    {
        Reset();
        return reinterpret_cast<void**>(&pointer);
    }

    void Reset() noexcept
    {
        if (TInterface* const released = std::exchange(pointer, nullptr)) {
            released->Release();
        }
    }

private:
    TInterface* pointer = nullptr;
};

// Some ADSI calls report partial failures as positive results; for them only S_OK is success.
inline HRESULT CheckAdsiExact(HRESULT hr)
{
    if (hr != S_OK) {
        throw Errors::CAdsiError(hr);
    }
    return hr;
}

} // namespace Adsi
