#include "errors/Text.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(Text, NumbersAreSignedDecimalWithoutGrouping)
{
    EXPECT_EQ(L"-5", ToWideString(-5));
    EXPECT_EQ(L"2147483647", ToWideString(INT_MAX));
    EXPECT_EQ(L"-2147483648", ToWideString(INT_MIN));
    EXPECT_EQ(L"1234567", ToWideString(1234567));
}

TEST(Text, ConvertsThroughTheAnsiCodePageWithReplacementCharacters)
{
    EXPECT_EQ("K\xf6ln \xe9t\xe9", ToNarrow(L"K\u00f6ln \u00e9t\u00e9"));
    EXPECT_EQ("?", ToNarrow(L"\u0416"));
    EXPECT_EQ("", ToNarrow(L""));
    EXPECT_EQ(L"K\u00f6ln", ToWide("K\xf6ln"));
}

TEST(Text, ResultCodesAreEightLowerCaseDigits)
{
    EXPECT_EQ("80004005", HexCode(E_FAIL));
    EXPECT_EQ("00000005", HexCode(5));
    EXPECT_EQ("8004010f", HexCode(static_cast<HRESULT>(0x8004010F)));
}

TEST(Text, TrimRemovesOnlyBlanksAtBothEnds)
{
    EXPECT_EQ(L"a b", Util::Trim(L" \t\r\n\v\fa b\f\v\n\r\t "));
    EXPECT_EQ(L"", Util::Trim(L" \r\n"));
    EXPECT_EQ(L"x", Util::Trim(L"x"));
}

} // namespace
