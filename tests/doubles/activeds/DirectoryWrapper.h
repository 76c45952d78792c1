#pragma once

#include <windows.h>
#include <ole2.h>
#include <activeds.h>

namespace AdsiDouble {

// Hands out a directory object of Wine's LDAP provider behind a wrapper that counts references, search
// handles and columns, fails on demand, and answers QueryInterface among all its interfaces as Windows does.
// Takes over the caller's reference to `inner`.
HRESULT WrapDirectoryObject(IDispatch* inner, bool isGlobalCatalog, REFIID interfaceId, void** object);

} // namespace AdsiDouble
