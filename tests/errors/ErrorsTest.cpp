#include "errors/Errors.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using Errors::CAdsiError;
using Errors::CMapiError;
using Errors::CNickError;
using Errors::CWin32Error;

static_assert(noexcept(std::declval<const Errors::CError&>().what()), "what() must never throw");

TEST(Win32Error, CarriesTheResultAndTheSystemTextWithoutItsLineEnd)
{
    const CWin32Error error(ERROR_ACCESS_DENIED);
    EXPECT_EQ(static_cast<HRESULT>(0x80070005), error.GetCode());
    EXPECT_EQ(L"Win32 result: 0x00000005., Description: Access denied.", error.GetMessage());
}

TEST(Win32Error, ZeroBecomesEFailButKeepsItsOwnText)
{
    const CWin32Error error(0);
    EXPECT_EQ(E_FAIL, error.GetCode());
    EXPECT_EQ(L"Win32 result: 0x00000000., Description: Success.", error.GetMessage());
}

TEST(Win32Error, ResultWithoutSystemTextEndsAfterTheNumber)
{
    const CWin32Error error(0x00BC614E);
    EXPECT_EQ(L"Win32 result: 0x00bc614e.", error.GetMessage());
}

TEST(Win32Error, NegativeHresultIsKeptUnchanged)
{
    const CWin32Error error(0x80004005);
    EXPECT_EQ(static_cast<HRESULT>(0x80004005), error.GetCode());
    EXPECT_EQ(0x80004005u, error.GetResult());
    EXPECT_EQ(L"Win32 result: 0x80004005., Description: Call failed.", error.GetMessage());
}

TEST(MapiError, NamesKnownResultsAndOnlyNumbersOthers)
{
    EXPECT_EQ(L"MAPI result: 0x8004010f., Description: MAPI_E_NOT_FOUND.", CMapiError(0x8004010F).GetMessage());
    EXPECT_EQ(static_cast<HRESULT>(0x8004010F), CMapiError(0x8004010F).GetCode());
    EXPECT_EQ(L"MAPI result: 0x80049999.", CMapiError(0x80049999).GetMessage());
    EXPECT_EQ(L"MAPI result: 0x00000000., Description: SUCCESS_SUCCESS.", CMapiError(S_OK).GetMessage());
}

// Any MAPI interface answers GetLastError the same way; this one gives a text made with MAPIAllocateBuffer.
struct ObjectWithLastError {
    const wchar_t* text;
    HRESULT answer;
    HRESULT askedFor = S_OK;
    ULONG askedFlags = 0;

    HRESULT GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* error)
    {
        askedFor = hr;
        askedFlags = flags;
        *error = nullptr;
        if (FAILED(answer)) {
            return answer;
        }
        const size_t textBytes = text ? (wcslen(text) + 1) * sizeof(wchar_t) : 0;
        void* block = nullptr;
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(sizeof(MAPIERROR) + textBytes), &block))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        auto* result = static_cast<LPMAPIERROR>(block);
        *result = MAPIERROR{};
        if (text) {
            auto* copy = reinterpret_cast<wchar_t*>(result + 1);
            memcpy(copy, text, textBytes);
            result->lpszError = reinterpret_cast<LPTSTR>(copy);
        }
        *error = result;
        return S_OK;
    }
};

TEST(MapiError, AppendsTheSourceObjectsExtendedTextWithoutFullStop)
{
    ObjectWithLastError source{L"The store is offline", S_OK};
    const CMapiError error(&source, MAPI_E_NETWORK_ERROR);
    EXPECT_EQ(L"MAPI result: 0x80040115., Description: MAPI_E_NETWORK_ERROR., Extended: The store is offline",
              error.GetMessage());
    EXPECT_EQ(MAPI_E_NETWORK_ERROR, source.askedFor);
    EXPECT_EQ(static_cast<ULONG>(MAPI_UNICODE), source.askedFlags);
}

TEST(MapiError, LeavesOutAnExtendedTextThatCannotBeHad)
{
    ObjectWithLastError failing{L"unused", MAPI_E_CALL_FAILED};
    EXPECT_EQ(L"MAPI result: 0x8004010f., Description: MAPI_E_NOT_FOUND.",
              CMapiError(&failing, MAPI_E_NOT_FOUND).GetMessage());
    ObjectWithLastError silent{nullptr, S_OK};
    EXPECT_EQ(L"MAPI result: 0x8004010f., Description: MAPI_E_NOT_FOUND.",
              CMapiError(&silent, MAPI_E_NOT_FOUND).GetMessage());
    EXPECT_EQ(L"MAPI result: 0x8004010f., Description: MAPI_E_NOT_FOUND.",
              CMapiError(static_cast<ObjectWithLastError*>(nullptr), MAPI_E_NOT_FOUND).GetMessage());
}

TEST(AdsiError, SuccessCodesSayOnlySuccess)
{
    const CAdsiError error(0x00005012);
    EXPECT_EQ(L"Success", error.GetMessage());
    EXPECT_EQ(static_cast<HRESULT>(0x00005012), error.GetCode());
}

TEST(AdsiError, AdsiRangeIsNamedFromTheTableOrUnknown)
{
    // Wine's ADsGetLastError records nothing, so no extended part follows.
    EXPECT_EQ(L"ADSI result: 0x8000500d., Description: E_ADS_PROPERTY_NOT_FOUND.",
              CAdsiError(0x8000500D).GetMessage());
    EXPECT_EQ(L"ADSI result: 0x80005011., Description: Unknown code.", CAdsiError(0x80005011).GetMessage());
    // 0x4005 has bit 14 set, so E_FAIL is looked up in the ADSI table, not asked of the system.
    EXPECT_EQ(L"ADSI result: 0x80004005., Description: Unknown code.", CAdsiError(E_FAIL).GetMessage());
}

TEST(AdsiError, OtherCodesTakeTheSystemTextWhereThereIsOne)
{
    EXPECT_EQ(L"ADSI result: 0x80070005., Description: Access denied.", CAdsiError(E_ACCESSDENIED).GetMessage());
    EXPECT_EQ(L"ADSI result: 0x80072030.", CAdsiError(0x80072030).GetMessage());
}

TEST(CryptError, CarriesOnlyACode)
{
    EXPECT_EQ(static_cast<HRESULT>(0x80090006), Errors::CCryptError(NTE_BAD_SIGNATURE).GetCode());
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), Errors::CCryptError(ERROR_INVALID_PARAMETER).GetCode());
    EXPECT_EQ(E_FAIL, Errors::CCryptError(0).GetCode());
    EXPECT_TRUE(Errors::CCryptError(5).GetMessage().empty());
}

TEST(NickError, NestedCausesAreJoinedByCrLfAndLendTheirCode)
{
    const CAdsiError cause(0x80005008);
    const CNickError inner(L"ERR_COMMON_DIRSEARCH_EXEC_FAIL", cause);
    EXPECT_EQ(L"ERR_COMMON_DIRSEARCH_EXEC_FAIL\r\nADSI result: 0x80005008., Description: E_ADS_BAD_PARAMETER.",
              inner.GetMessage());
    EXPECT_EQ(static_cast<HRESULT>(0x80005008), inner.GetCode());

    const CNickError outer(L"ERR_COMMON_DIRSEARCH_NINIT", inner);
    EXPECT_EQ(L"ERR_COMMON_DIRSEARCH_NINIT\r\n" + inner.GetMessage(), outer.GetMessage());
    EXPECT_EQ(static_cast<HRESULT>(0x80005008), outer.GetCode());
}

TEST(NickError, WithoutCauseTheCodeIsEFail)
{
    EXPECT_EQ(E_FAIL, CNickError(L"E_INI_BUFFER_TOO_SMALL").GetCode());
    EXPECT_EQ(L"E_INI_BUFFER_TOO_SMALL", CNickError(L"E_INI_BUFFER_TOO_SMALL").GetMessage());
    EXPECT_EQ(L"A\r\nB", CNickError(L"A", std::wstring(L"B")).GetMessage());
}

TEST(NickError, RaisingHelpersLeaveNoTraceOfArgumentsWithoutPlaceholders)
{
    try {
        Errors::ThrowNick(L"ERR_COMMON_ADVAL_NONSTRING_VAL", L"proxyAddresses");
        FAIL() << "ThrowNick returned";
    } catch (const CNickError& error) {
        EXPECT_EQ(L"ERR_COMMON_ADVAL_NONSTRING_VAL", error.GetMessage());
    }
    try {
        Errors::ThrowNickNested(L"ERR_COMMON_ADVAL_GET_VAL", {L"proxyAddresses"}, CAdsiError(0x80005010));
        FAIL() << "ThrowNickNested returned";
    } catch (const CNickError& error) {
        EXPECT_EQ(L"ERR_COMMON_ADVAL_GET_VAL\r\nADSI result: 0x80005010., Description: E_ADS_COLUMN_NOT_SET.",
                  error.GetMessage());
        EXPECT_EQ(static_cast<HRESULT>(0x80005010), error.GetCode());
    }
}

TEST(FormatNick, ReplacesOnlyTheFirstOccurrenceOfEachGivenPlaceholder)
{
    EXPECT_EQ(L"A x B %1 %2", Errors::FormatNick(L"A %1 B %1 %2", L"x"));
    EXPECT_EQ(L"[b] [a] %3", Errors::FormatNick(L"[%2] [%1] %3", L"a", L"b"));
    EXPECT_EQ(L"1234", Errors::FormatNick(L"%1%2%3%4", L"1", L"2", L"3", L"4"));
}

TEST(What, ConvertsToTheAnsiCodePageOnceAndIsEmptyForAnEmptyMessage)
{
    EXPECT_STREQ("", Errors::CCryptError(5).what());

    const CNickError error(L"caf\u00e9 \u4e2d");
    const char* first = error.what();
    EXPECT_STREQ("caf\xe9 ?", first); // code page 1252: the CJK character has no place there
    EXPECT_EQ(first, error.what());
}

TEST(Copies, KeepCodeAndMessageWithoutFormattingAgain)
{
    const CMapiError original(MAPI_E_NOT_FOUND);
    CMapiError copy = original;
    EXPECT_EQ(original.GetMessage(), copy.GetMessage());
    EXPECT_EQ(original.GetCode(), copy.GetCode());
    copy.SetCode(E_FAIL);
    EXPECT_EQ(E_FAIL, copy.GetCode());
}

TEST(Checks, RaiseTheRightKindOnlyOnFailure)
{
    EXPECT_EQ(7, Errors::CheckNonZero(7));
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    try {
        Errors::CheckNonZero(0);
        FAIL() << "no error raised";
    } catch (const CWin32Error& error) {
        EXPECT_EQ(static_cast<HRESULT>(0x80070002), error.GetCode());
    }
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_THROW(Errors::CheckTrue(FALSE), CWin32Error);
    EXPECT_THROW(Errors::CheckWin32(false, ERROR_PATH_NOT_FOUND), CWin32Error);
    EXPECT_NO_THROW(Errors::CheckWin32Result(ERROR_SUCCESS));
    EXPECT_THROW(Errors::CheckWin32Result(ERROR_MORE_DATA), CWin32Error);
    EXPECT_THROW(Errors::CheckWin32Hr(E_OUTOFMEMORY), CWin32Error);
    EXPECT_THROW(Errors::CheckAdsi(0x80005010), CAdsiError);
    EXPECT_EQ(0x00005012, Errors::CheckAdsi(0x00005012));
}

TEST(Checks, ExactMapiCheckRaisesOnWarningsWhereThePlainOneDoesNot)
{
    ObjectWithLastError* none = nullptr;
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, Errors::CheckMapi(none, MAPI_W_ERRORS_RETURNED));
    try {
        Errors::CheckMapiExact(none, MAPI_W_ERRORS_RETURNED);
        FAIL() << "no error raised";
    } catch (const CMapiError& error) {
        EXPECT_EQ(L"MAPI result: 0x00040380., Description: MAPI_W_ERRORS_RETURNED.", error.GetMessage());
    }
    EXPECT_THROW(Errors::CheckMapi(none, MAPI_E_NOT_FOUND), CMapiError);
    EXPECT_THROW(Errors::CheckMapiTrue(none, false, MAPI_E_NOT_FOUND), CMapiError);
    EXPECT_TRUE(Errors::CheckMapiTrue(none, true, MAPI_E_NOT_FOUND));
}

} // namespace
