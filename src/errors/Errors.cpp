#include "errors/Errors.h"

#include "errors/ResultNames.h"
#include "errors/Text.h"

#include <activeds.h>

#include <iomanip>
#include <memory>
#include <sstream>

namespace Errors {
namespace {

constexpr HRESULT FromWin32(DWORD error)
{
    return static_cast<HRESULT>(error) <= 0 ? static_cast<HRESULT>(error)
                                             : static_cast<HRESULT>((error & 0x0000FFFF) | 0x80070000);
}

constexpr HRESULT CodeOfWin32(DWORD error)
{
    return error == 0 ? E_FAIL : FromWin32(error);
}

std::wstring Hex(HRESULT value)
{
    std::wostringstream stream;
    stream << L"0x" << std::hex << std::setfill(L'0') << std::setw(8) << static_cast<ULONG>(value);
    return stream.str();
}

struct LocalFreeDeleter {
    void operator()(wchar_t* text) const { ::LocalFree(text); }
};

// The system's own text for a result, trimmed; empty when the system has none.
std::wstring SystemText(DWORD messageId)
{
    wchar_t* raw = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, messageId,
                         LANG_USER_DEFAULT, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreeDeleter> owner(raw);
    if (length == 0 || raw == nullptr) {
        return std::wstring();
    }
    return Util::Trim(std::wstring(raw, length));
}

} // namespace

const char* CError::what() const noexcept
{
    try {
        if (narrowText.empty() && !message.empty()) {
            narrowText = ToNarrow(message);
        }
    } catch (...) {
        narrowText.clear();
    }
    return narrowText.c_str();
}

CWin32Error::CWin32Error(DWORD error) : CError(CodeOfWin32(error)), result(error)
{
    FormatResult();
}

void CWin32Error::FormatResult()
{
    std::wstring text = L"Win32 result: " + Hex(static_cast<HRESULT>(result)) + L".";
    const std::wstring description = SystemText(result);
    if (!description.empty()) {
        text += L", Description: " + description;
    }
    message = text;
}

CMapiError::CMapiError(HRESULT hr) : CError(hr), result(hr)
{
    FormatResult();
}

void CMapiError::FormatResult()
{
    message += L"MAPI result: " + Hex(result) + L".";
    const std::wstring name = MapiResultName(result);
    if (!name.empty()) {
        message += L", Description: " + name + L".";
    }
}

void CMapiError::AppendExtendedText(HRESULT lastErrorResult, LPMAPIERROR error)
{
    if (SUCCEEDED(lastErrorResult) && error != nullptr && error->lpszError != nullptr) {
        message += L", Extended: ";
        message += reinterpret_cast<const wchar_t*>(error->lpszError);
    }
    if (error != nullptr) {
        ::MAPIFreeBuffer(error);
    }
}

CAdsiError::CAdsiError(HRESULT hr) : CError(hr), result(hr)
{
    FormatResult();
}

void CAdsiError::FormatResult()
{
    if (SUCCEEDED(result)) {
        message = L"Success";
        return;
    }
    std::wstring text = L"ADSI result: " + Hex(result) + L".";
    if ((static_cast<ULONG>(result) & 0x5000) != 0) {
        const std::wstring name = AdsiResultName(result);
        text += L", Description: " + (name.empty() ? std::wstring(L"Unknown code") : name) + L".";
    } else {
        const std::wstring description = SystemText(static_cast<DWORD>(result));
        if (!description.empty()) {
            text += L", Description: " + description;
        }
    }

    DWORD providerError = 0;
    wchar_t errorText[MAX_PATH] = {};
    wchar_t providerName[MAX_PATH] = {};
    if (SUCCEEDED(::ADsGetLastError(&providerError, errorText, MAX_PATH - 1, providerName, MAX_PATH - 1)) &&
        providerError != ERROR_INVALID_DATA && errorText[0] != L'\0') {
        text += std::wstring(L", Extended: ") + errorText + L".";
        text += std::wstring(L", Provider: ") + providerName + L".";
    }
    message = text;
}

CCryptError::CCryptError(DWORD error) : CError(CodeOfWin32(error))
{
    FormatResult();
}

CNickError::CNickError(const std::wstring& text) : CError(E_FAIL)
{
    message = text;
    FormatResult();
}

CNickError::CNickError(const std::wstring& prefix, const std::wstring& text) : CError(E_FAIL)
{
    message = prefix + L"\r\n" + text;
    FormatResult();
}

CNickError::CNickError(const std::wstring& prefix, const CError& cause) : CError(cause.GetCode())
{
    message = prefix + L"\r\n" + cause.GetMessage();
    FormatResult();
}

BOOL CheckTrue(BOOL flag)
{
    if (!flag) {
        throw CWin32Error(::GetLastError());
    }
    return flag;
}

bool CheckWin32(bool flag, DWORD error)
{
    if (!flag) {
        throw CWin32Error(error);
    }
    return flag;
}

DWORD CheckWin32Result(DWORD error)
{
    if (error != ERROR_SUCCESS) {
        throw CWin32Error(error);
    }
    return error;
}

HRESULT CheckWin32Hr(HRESULT hr)
{
    if (FAILED(hr)) {
        throw CWin32Error(static_cast<DWORD>(hr));
    }
    return hr;
}

HRESULT CheckAdsi(HRESULT hr)
{
    if (FAILED(hr)) {
        throw CAdsiError(hr);
    }
    return hr;
}

std::wstring FormatNick(const std::wstring& pattern, std::initializer_list<std::wstring> arguments)
{
    std::wstring text = pattern;
    int number = 1;
    for (const std::wstring& argument : arguments) {
        const std::wstring placeholder = L"%" + ToWideString(number++);
        const size_t at = text.find(placeholder);
        if (at != std::wstring::npos) {
            text.replace(at, placeholder.size(), argument);
        }
    }
    return text;
}

void ThrowNick(const std::wstring& text)
{
    throw CNickError(text);
}

void ThrowNickNested(const std::wstring& prefix, const CError& cause)
{
    throw CNickError(prefix, cause);
}

void ThrowNickNested(const std::wstring& nick, std::initializer_list<std::wstring> arguments, const CError& cause)
{
    throw CNickError(FormatNick(nick, arguments), cause);
}

} // namespace Errors
