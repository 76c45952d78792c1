#pragma once

#include "errors/ComPtr.h"

#include <mapix.h>

namespace Mapi {

template <class I>
using TMapiPtr = Util::TComPtr<I>;

// The source of a check made where no MAPI object is at hand: the error then carries the result alone.
constexpr IMAPIProp* NoSource = nullptr;

} // namespace Mapi
