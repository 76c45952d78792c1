#pragma once

#include "errors/ComPtr.h"
#include "errors/Errors.h"

namespace Adsi {

template <class TInterface>
using TAdsiPtr = Util::TComPtr<TInterface>;

// Some ADSI calls report partial failures as positive results; for them only S_OK is success.
inline HRESULT CheckAdsiExact(HRESULT hr)
{
    if (hr != S_OK) {
        throw Errors::CAdsiError(hr);
    }
    return hr;
}

} // namespace Adsi
