#pragma once

#include <windows.h>

#include <string>

// Text conversions for console messages; all text inside the tool is wide.

// Wide text to the ANSI code page for what a person reads; characters the code page lacks become look-alikes
// or its replacement character.
std::string ToNarrow(const std::wstring& text);
// Wide text to the ANSI code page for a value a platform call acts on (a profile name, a service setting): a
// character the code page lacks raises ERROR_NO_UNICODE_TRANSLATION, since a look-alike names something else.
std::string ToExactNarrow(const std::wstring& text);
// ANSI code page text to wide.
std::wstring ToWide(const std::string& text);
// Signed decimal, no grouping.
std::wstring ToWideString(int value);
// A result as the eight lower-case hexadecimal digits that "Error = " lines end with.
std::string HexCode(HRESULT code);

namespace Util {

// Removes space, CR, LF, TAB, VT and FF at both ends.
std::wstring Trim(const std::wstring& text);

} // namespace Util
