#pragma once

#include "config/Nocase.h"

#include <string>

namespace Adsi {

// Whether the text begins with the prefix, letter case aside ("GC://", "X500:").
inline bool HasPrefixNocase(const std::wstring& text, const std::wstring& prefix)
{
    return text.size() >= prefix.size() && Util::ToNocase(text.substr(0, prefix.size())) == Util::ToNocase(prefix);
}

} // namespace Adsi
