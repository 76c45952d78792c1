#include "directory/DirSearch.h"
#include "directory/DirectoryObjects.h"

#include <gtest/gtest.h>

namespace {

// A run's lines never hold a NUL, and its paths always name their provider: only here do those cases arise.
TEST(EscapeFilterValue, EscapesWhatAFilterValueMustNotHoldAndNothingElse)
{
    const struct {
        std::wstring value;
        std::wstring escaped;
    } cases[] = {
        {L"a*b", L"a\\2ab"},
        {L"(c)", L"\\28c\\29"},
        {L"d\\e", L"d\\5ce"},
        {std::wstring(L"f\0g", 3), L"f\\00g"},
        {L"\\2a", L"\\5c2a"},
        {L"/o=Fabrikam/cn=j\u00fcrgen&b|c!d=e<f>g~h", L"/o=Fabrikam/cn=j\u00fcrgen&b|c!d=e<f>g~h"},
        {L"", L""},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(test.escaped, Adsi::EscapeFilterValue(test.value));
    }
}

TEST(NormalizeAdsPath, PutsLdapBeforeAPathThatNamesNoProvider)
{
    for (const wchar_t* kept : {L"GC://dc1", L"gc://dc1", L"LDAP://dc1/DC=x", L"ldap://dc1/DC=x"}) {
        EXPECT_EQ(kept, Adsi::NormalizeAdsPath(kept));
    }
    EXPECT_EQ(L"LDAP://dc1/DC=x", Adsi::NormalizeAdsPath(L"dc1/DC=x"));
    EXPECT_EQ(L"LDAP://GC:/dc1", Adsi::NormalizeAdsPath(L"GC:/dc1"));
}

} // namespace
