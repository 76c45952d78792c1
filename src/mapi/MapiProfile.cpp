#include "mapi/MapiProfile.h"

#include "errors/Errors.h"
#include "errors/Text.h"
#include "mapi/MapiValues.h"

#include <cwchar>

namespace Mapi {

TMapiPtr<IProfAdmin> OpenProfileAdmin()
{
    TMapiPtr<IProfAdmin> admin;
    Errors::CheckMapi(NoSource, ::MAPIAdminProfiles(0, admin.Out()));
    return admin;
}

std::wstring MakeProfileName()
{
    GUID guid{};
    Errors::CheckWin32Hr(::CoCreateGuid(&guid));
    wchar_t name[39] = {};
    std::swprintf(name, sizeof name / sizeof name[0], L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return name;
}

std::shared_ptr<CMapiProfile> CreateProfile(const TMapiPtr<IProfAdmin>& admin, const std::wstring& name)
{
    const std::string ansiName = ToExactNarrow(name);
    Errors::CheckMapi(NoSource, admin->CreateProfile(AnsiText(ansiName), nullptr, 0, 0));
    return std::make_shared<CMapiProfile>(name);
}

void DeleteProfile(const TMapiPtr<IProfAdmin>& admin, const std::wstring& name)
{
    const std::string ansiName = ToExactNarrow(name);
    const HRESULT result = admin->DeleteProfile(AnsiText(ansiName), 0);
    // The reference's word for a profile that does not exist: there is nothing left to delete.
    if (result != MAPI_E_NOT_FOUND) {
        Errors::CheckMapi(NoSource, result);
    }
}

} // namespace Mapi
