#pragma once

#include <windows.h>

namespace Util {

// Owns a kernel handle (file, process, thread) and closes it once.
class CHandle {
public:
    CHandle() noexcept = default;
    explicit CHandle(HANDLE handle) noexcept : value(handle) {}
    ~CHandle() { Close(); }

    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& other) noexcept : value(other.Release()) {}
    CHandle& operator=(CHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            value = other.Release();
        }
        return *this;
    }

    HANDLE Get() const noexcept { return value; }
    bool IsValid() const noexcept { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    HANDLE Release() noexcept
    {
        HANDLE released = value;
        value = nullptr;
        return released;
    }

private:
    void Close() noexcept
    {
        if (IsValid()) {
            ::CloseHandle(value);
        }
        value = nullptr;
    }

    HANDLE value = nullptr;
};

} // namespace Util
