#pragma once

#include "directory/AdsiPtr.h"

#include <windows.h>
#include <ole2.h>
#include <activeds.h>

#include <string>

namespace Adsi {

// A bound object read through IADs, such as a server's root object.
class CAdsObject {
public:
    explicit CAdsObject(TAdsiPtr<IADs> root) noexcept : object(std::move(root)) {}

    // The value of a single-valued string attribute; an attribute the object lacks raises
    // E_ADS_PROPERTY_NOT_FOUND, a value that is not text E_ADS_CANT_CONVERT_DATATYPE.
    std::wstring GetString(const std::wstring& name) const;

private:
    TAdsiPtr<IADs> object;
};

// The object that directory searches start from.
class CDirObject {
public:
    CDirObject() noexcept = default;
    explicit CDirObject(TAdsiPtr<IDirectoryObject> base) noexcept : object(std::move(base)) {}

    const TAdsiPtr<IDirectoryObject>& Get() const noexcept { return object; }

private:
    TAdsiPtr<IDirectoryObject> object;
};

// Puts "LDAP://" in front of a path that names neither the "GC:" nor the "LDAP:" provider.
std::wstring NormalizeAdsPath(const std::wstring& path);

// Binds the object at an LDAP path for reading its attributes; a failed bind raises its CAdsiError.
CAdsObject OpenAdsObject(const std::wstring& path, const std::wstring& user, const std::wstring& password);

CDirObject OpenDirObject(const std::wstring& path, const std::wstring& user, const std::wstring& password);

// The global catalogue served by a domain controller.
TAdsiPtr<IDirectorySearch> BindGlobalCatalog(const std::wstring& server, const std::wstring& user,
                                             const std::wstring& password);

} // namespace Adsi
