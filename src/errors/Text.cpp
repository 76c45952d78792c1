#include "errors/Text.h"

#include "errors/Errors.h"

#include <iomanip>
#include <sstream>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text, DWORD flags, BOOL* usedDefault)
{
    if (text.empty()) {
        return std::string();
    }
    const int needed = Errors::CheckNonZero(
        ::WideCharToMultiByte(CP_ACP, flags, text.c_str(), -1, nullptr, 0, nullptr, usedDefault));
    std::vector<char> buffer(static_cast<size_t>(needed));
    Errors::CheckNonZero(
        ::WideCharToMultiByte(CP_ACP, flags, text.c_str(), -1, buffer.data(), needed, nullptr, usedDefault));
    return std::string(buffer.data());
}

} // namespace

std::string ToNarrow(const std::wstring& text)
{
    return Narrow(text, 0, nullptr);
}

std::string ToExactNarrow(const std::wstring& text)
{
    BOOL usedDefault = FALSE;
    std::string narrow = Narrow(text, WC_NO_BEST_FIT_CHARS, &usedDefault);
    Errors::CheckWin32(usedDefault == FALSE, ERROR_NO_UNICODE_TRANSLATION);
    return narrow;
}

std::wstring ToWide(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int needed = Errors::CheckNonZero(::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0));
    std::vector<wchar_t> buffer(static_cast<size_t>(needed));
    Errors::CheckNonZero(::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer.data(), needed));
    return std::wstring(buffer.data());
}

std::wstring ToWideString(int value)
{
    std::wostringstream stream;
    stream << value;
    return stream.str();
}

std::string HexCode(HRESULT code)
{
    std::ostringstream stream;
    stream << std::hex << std::nouppercase << std::setfill('0') << std::setw(8) << static_cast<unsigned long>(code);
    return stream.str();
}

namespace Util {

std::wstring Trim(const std::wstring& text)
{
    static const wchar_t blanks[] = L" \r\n\t\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::wstring::npos) {
        return std::wstring();
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace Util
