#pragma once

#include "mapi/MapiPtr.h"

#include <mapix.h>

#include <memory>
#include <string>

namespace Mapi {

// A profile the tool made. Letting go of it leaves the profile in place.
class CMapiProfile {
public:
    explicit CMapiProfile(std::wstring profileName) : name(std::move(profileName)) {}
    const std::wstring& Name() const noexcept { return name; }

private:
    std::wstring name;
};

TMapiPtr<IProfAdmin> OpenProfileAdmin();

// A fresh name such as "{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}": a new GUID in lower-case hexadecimal.
std::wstring MakeProfileName();

// Profile administration speaks ANSI: names go over in the system's ANSI code page, exactly. Deleting a
// profile that does not exist succeeds.
std::shared_ptr<CMapiProfile> CreateProfile(const TMapiPtr<IProfAdmin>& admin, const std::wstring& name);
void DeleteProfile(const TMapiPtr<IProfAdmin>& admin, const std::wstring& name);

} // namespace Mapi
