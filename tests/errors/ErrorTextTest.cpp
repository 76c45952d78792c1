// The texts an error carries and the codes it lends the exit, and the checks that raise them.
#include "errors/Errors.h"
#include "errors/Text.h"

#include <mapidefs.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(ErrorText, EachKindSaysWhatFailedInItsOwnWords)
{
    const std::pair<std::function<void()>, const wchar_t*> rows[] = {
        {[] { throw Errors::CWin32Error(ERROR_ACCESS_DENIED); },
         L"80070005 Win32 result: 0x00000005., Description: Access denied."},
        {[] { throw Errors::CWin32Error(0); }, L"80004005 Win32 result: 0x00000000., Description: Success."},
        {[] { throw Errors::CMapiError(0x8004010F); },
         L"8004010f MAPI result: 0x8004010f., Description: MAPI_E_NOT_FOUND."},
        {[] { throw Errors::CNickError(L"ERR_COMMON_DIRSEARCH_NINIT", Errors::CAdsiError(0x80005008)); },
         L"80005008 ERR_COMMON_DIRSEARCH_NINIT\r\nADSI result: 0x80005008., Description: E_ADS_BAD_PARAMETER."},
        {[] { Errors::CheckWin32Result(ERROR_MORE_DATA); },
         L"800700ea Win32 result: 0x000000ea., Description: More data available."},
        {[] { Errors::CheckMapiExact(static_cast<IMAPIProp*>(nullptr), MAPI_W_ERRORS_RETURNED); },
         L"00040380 MAPI result: 0x00040380., Description: MAPI_W_ERRORS_RETURNED."},
    };
    for (const auto& row : rows) {
        std::wstring raised;
        try {
            row.first();
        } catch (const Errors::CError& error) {
            raised = ToWide(HexCode(error.GetCode())) + L" " + error.GetMessage();
        }
        EXPECT_EQ(row.second, raised);
    }
    EXPECT_EQ(L"a b", Util::Trim(L" \t\r\n\v\fa b\f\v\n\r\t "));
}

} // namespace
