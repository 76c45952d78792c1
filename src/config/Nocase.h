#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace Util {

// Wide characters that compare and search without regard to case, as the platform's user locale sees it.
struct nocase_traits : std::char_traits<wchar_t> {
    static bool eq(wchar_t a, wchar_t b);
    static bool lt(wchar_t a, wchar_t b);
    static int compare(const wchar_t* a, const wchar_t* b, std::size_t count);
    static const wchar_t* find(const wchar_t* text, std::size_t count, wchar_t c);
};

using nocase_wstring = std::basic_string<wchar_t, nocase_traits>;

inline nocase_wstring ToNocase(const std::wstring& text)
{
    return nocase_wstring(text.data(), text.size());
}

inline std::wstring FromNocase(const nocase_wstring& text)
{
    return std::wstring(text.data(), text.size());
}

} // namespace Util

// Keys compare without regard to case; inserting a key that is already there keeps the first entry.
using NocaseKeyMap = std::map<Util::nocase_wstring, std::wstring>;
