#pragma once

#include <windows.h>

#include <string>

namespace Errors {

// The public names of MAPI and ADSI results; empty when the table does not hold the code.
std::wstring MapiResultName(HRESULT hr);
std::wstring AdsiResultName(HRESULT hr);

} // namespace Errors
