#include "directory/DirSearch.h"
#include "directory/DirectoryObjects.h"
#include "errors/Errors.h"

#include <gtest/gtest.h>

namespace {

TEST(NormalizeAdsPath, KeepsProviderPathsAndPutsLdapBeforeTheRest)
{
    EXPECT_EQ(L"gc://dc1", Adsi::NormalizeAdsPath(L"gc://dc1"));
    EXPECT_EQ(L"GC://dc1", Adsi::NormalizeAdsPath(L"GC://dc1"));
    EXPECT_EQ(L"LDAP://dc1/DC=x", Adsi::NormalizeAdsPath(L"LDAP://dc1/DC=x"));
    EXPECT_EQ(L"ldap://dc1/DC=x", Adsi::NormalizeAdsPath(L"ldap://dc1/DC=x"));
    EXPECT_EQ(L"LDAP://dc1/DC=x", Adsi::NormalizeAdsPath(L"dc1/DC=x"));
    EXPECT_EQ(L"LDAP://GC:/dc1", Adsi::NormalizeAdsPath(L"GC:/dc1"));
    EXPECT_EQ(L"LDAP://LDAP:", Adsi::NormalizeAdsPath(L"LDAP:"));
    EXPECT_EQ(L"LDAP://", Adsi::NormalizeAdsPath(L""));
}

TEST(AdsTypeName, NamesTheEnumerationAndNumbersTheRest)
{
    EXPECT_EQ(L"ADSTYPE_INVALID", Adsi::AdsTypeName(0));
    EXPECT_EQ(L"ADSTYPE_DN_STRING", Adsi::AdsTypeName(1));
    EXPECT_EQ(L"ADSTYPE_OCTET_STRING", Adsi::AdsTypeName(8));
    EXPECT_EQ(L"ADSTYPE_NT_SECURITY_DESCRIPTOR", Adsi::AdsTypeName(25));
    EXPECT_EQ(L"ADSTYPE_DN_WITH_BINARY", Adsi::AdsTypeName(27));
    EXPECT_EQ(L"ADSTYPE_DN_WITH_STRING", Adsi::AdsTypeName(28));
    EXPECT_EQ(L"29", Adsi::AdsTypeName(29));
    EXPECT_EQ(L"-1", Adsi::AdsTypeName(-1));
}

TEST(AdsValueToString, CopiesTheFourStringTypesOnly)
{
    wchar_t text[] = L"SMTP:room.oslo@fabrikam.com";
    for (const ADSTYPE type : {ADSTYPE_DN_STRING, ADSTYPE_CASE_EXACT_STRING, ADSTYPE_CASE_IGNORE_STRING,
                               ADSTYPE_PRINTABLE_STRING}) {
        ADSVALUE value{};
        value.dwType = type;
        value.CaseIgnoreString = text;
        EXPECT_EQ(text, Adsi::AdsValueToString(value)) << type;
    }

    ADSVALUE flag{};
    flag.dwType = ADSTYPE_BOOLEAN;
    flag.Boolean = TRUE;
    try {
        Adsi::AdsValueToString(flag);
        ADD_FAILURE() << "a boolean value was taken as text";
    } catch (const Errors::CNickError& error) {
        EXPECT_EQ(L"ERR_COMMON_ADVAL_NONSTRING_VAL", error.GetMessage());
        EXPECT_EQ(E_FAIL, error.GetCode());
    }
}

TEST(EscapeFilterValue, EscapesWhatAFilterValueMustNotHoldAndNothingElse)
{
    const std::wstring value(L"a*b(c)d\\e\0f", 11);
    EXPECT_EQ(L"a\\2ab\\28c\\29d\\5ce\\00f", Adsi::EscapeFilterValue(value));

    const std::wstring plain = L"/o=Fabrikam/ou=First Administrative Group/cn=Recipients/cn=j\u00fcrgen";
    EXPECT_EQ(plain, Adsi::EscapeFilterValue(plain));
}

} // namespace
