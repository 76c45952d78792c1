#include "config/Nocase.h"

#include <windows.h>

namespace Util {

namespace {

wchar_t Upper(wchar_t c)
{
    // CharUpperW takes a single character in the low word of its pointer argument.
    return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(::CharUpperW(reinterpret_cast<LPWSTR>(
        static_cast<ULONG_PTR>(static_cast<unsigned short>(c))))));
}

} // namespace

bool nocase_traits::eq(wchar_t a, wchar_t b)
{
    return Upper(a) == Upper(b);
}

bool nocase_traits::lt(wchar_t a, wchar_t b)
{
    return compare(&a, &b, 1) < 0;
}

int nocase_traits::compare(const wchar_t* a, const wchar_t* b, std::size_t count)
{
    if (count == 0) {
        return 0;
    }
    const int result = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, static_cast<int>(count), b,
                                        static_cast<int>(count));
    return result == CSTR_LESS_THAN ? -1 : result == CSTR_GREATER_THAN ? 1 : 0;
}

const wchar_t* nocase_traits::find(const wchar_t* text, std::size_t count, wchar_t c)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (eq(text[i], c)) {
            return text + i;
        }
    }
    return nullptr;
}

} // namespace Util
