#pragma once

#include <windows.h>
#include <mapix.h>

#include <exception>
#include <initializer_list>
#include <string>

// winuser.h maps GetMessage to GetMessageW; the error accessor keeps its own name.
#undef GetMessage

namespace Errors {

// Every failure of the tool travels as one of these. The message is built once, when the error is made.
class CError : public std::exception {
public:
    ~CError() override = default;
    // Never throws: a conversion that fails gives an empty text.
    const char* what() const noexcept override;

    HRESULT GetCode() const noexcept { return code; }
    void SetCode(HRESULT value) noexcept { code = value; }
    const std::wstring& GetMessage() const noexcept { return message; }

protected:
    explicit CError(HRESULT errorCode) noexcept : code(errorCode) {}
    CError(const CError&) = default;
    CError& operator=(const CError&) = default;

    virtual void FormatResult() = 0;

    HRESULT code;
    std::wstring message;

private:
    mutable std::string narrowText;
};

class CWin32Error : public CError {
public:
    // A negative HRESULT is accepted too and kept as it is.
    explicit CWin32Error(DWORD error);
    DWORD GetResult() const noexcept { return result; }

protected:
    void FormatResult() override;

private:
    DWORD result;
};

class CMapiError : public CError {
public:
    explicit CMapiError(HRESULT hr);

    // Every MAPI interface has GetLastError in the same slot with the same signature.
    template <class TInterface>
    CMapiError(TInterface* source, HRESULT hr) : CMapiError(hr)
    {
        if (source != nullptr) {
            LPMAPIERROR error = nullptr;
            const HRESULT lastErrorResult = source->GetLastError(hr, MAPI_UNICODE, &error);
            AppendExtendedText(lastErrorResult, error);
        }
    }

    HRESULT GetResult() const noexcept { return result; }

protected:
    void FormatResult() override;

private:
    void AppendExtendedText(HRESULT lastErrorResult, LPMAPIERROR error);

    HRESULT result;
};

class CAdsiError : public CError {
public:
    explicit CAdsiError(HRESULT hr);
    HRESULT GetResult() const noexcept { return result; }

protected:
    void FormatResult() override;

private:
    HRESULT result;
};

// Carries only a code: the cipher never says more than that it failed.
class CCryptError : public CError {
public:
    explicit CCryptError(DWORD error);

protected:
    void FormatResult() override {}
};

// A failure of the tool's own code, named by a nick such as "E_INI_BUFFER_TOO_SMALL".
class CNickError : public CError {
public:
    // Made from text alone it has no platform result to carry, so its code is E_FAIL.
    explicit CNickError(const std::wstring& text);
    CNickError(const std::wstring& prefix, const std::wstring& text);
    // Carries the cause's code; its message is the prefix, CR LF, then the cause's message.
    CNickError(const std::wstring& prefix, const CError& cause);

protected:
    void FormatResult() override {}
};

// The raising checks: each returns its input when it does not raise.
template <class T>
T CheckNonZero(T value)
{
    if (value == T{}) {
        throw CWin32Error(::GetLastError());
    }
    return value;
}

BOOL CheckTrue(BOOL flag);
bool CheckWin32(bool flag, DWORD error);
DWORD CheckWin32Result(DWORD error);
HRESULT CheckWin32Hr(HRESULT hr);
HRESULT CheckAdsi(HRESULT hr);

template <class TInterface>
HRESULT CheckMapi(TInterface* source, HRESULT hr)
{
    if (FAILED(hr)) {
        throw CMapiError(source, hr);
    }
    return hr;
}

template <class TInterface>
bool CheckMapiTrue(TInterface* source, bool flag, HRESULT hr)
{
    if (!flag) {
        throw CMapiError(source, hr);
    }
    return flag;
}

// MAPI warnings such as MAPI_W_ERRORS_RETURNED raise too.
template <class TInterface>
HRESULT CheckMapiExact(TInterface* source, HRESULT hr)
{
    if (hr != S_OK) {
        throw CMapiError(source, hr);
    }
    return hr;
}

// Replaces the first "%1", then the first "%2", ... of the template by the arguments in turn.
std::wstring FormatNick(const std::wstring& pattern, std::initializer_list<std::wstring> arguments);

template <class... TArgs>
std::wstring FormatNick(const std::wstring& pattern, const TArgs&... arguments)
{
    static_assert(sizeof...(TArgs) >= 1 && sizeof...(TArgs) <= 4, "a nick takes one to four arguments");
    return FormatNick(pattern, {std::wstring(arguments)...});
}

[[noreturn]] void ThrowNick(const std::wstring& text);

template <class... TArgs>
[[noreturn]] void ThrowNick(const std::wstring& nick, const TArgs&... arguments)
{
    static_assert(sizeof...(TArgs) >= 1 && sizeof...(TArgs) <= 3, "a nick takes one to three arguments");
    throw CNickError(FormatNick(nick, arguments...));
}

[[noreturn]] void ThrowNickNested(const std::wstring& prefix, const CError& cause);
[[noreturn]] void ThrowNickNested(const std::wstring& nick, std::initializer_list<std::wstring> arguments,
                                  const CError& cause);

} // namespace Errors
