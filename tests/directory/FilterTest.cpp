#include "directory/DirSearch.h"

#include <gtest/gtest.h>

namespace {

// A run's lines never hold a NUL: only here does that case arise.
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

} // namespace
