#pragma once

#include <windows.h>

#include <string>

// Text conversions for console messages; all text inside the tool is wide.

// Wide text to the ANSI code page; characters the code page lacks become its replacement character.
std::string ToNarrow(const std::wstring& text);
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
