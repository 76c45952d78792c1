#include "config/Nocase.h"

#include <gtest/gtest.h>

namespace {

using Util::nocase_wstring;

TEST(NocaseString, ComparesWithoutRegardToCaseAlsoBeyondAscii)
{
    EXPECT_EQ(nocase_wstring(L"SrcExchServer"), nocase_wstring(L"SRCEXCHSERVER"));
    EXPECT_EQ(nocase_wstring(L"\u00C4rger \u041C\u043E\u0441\u043A\u0432\u0430"),
              nocase_wstring(L"\u00E4RGER \u043C\u041E\u0421\u041A\u0412\u0410"));
    EXPECT_NE(nocase_wstring(L"DCName"), nocase_wstring(L"DCNames"));
}

TEST(NocaseString, OrdersWithoutRegardToCaseAndPutsTheShorterFirstOnATie)
{
    EXPECT_LT(nocase_wstring(L"alpha"), nocase_wstring(L"BETA"));
    EXPECT_LT(nocase_wstring(L"ALPHA"), nocase_wstring(L"beta"));
    EXPECT_LT(nocase_wstring(L"Key"), nocase_wstring(L"key2"));
    EXPECT_GT(nocase_wstring(L"KEY2"), nocase_wstring(L"key"));
    EXPECT_EQ(0, nocase_wstring(L"/o=Org/CN=A").compare(L"/O=org/cn=a"));
}

TEST(NocaseString, FindsTheFirstMatchWhateverItsCase)
{
    const nocase_wstring line = L"-ini x.ini -UNDOALL -undo";
    EXPECT_EQ(11u, line.find(L"-Undo"));
    EXPECT_EQ(11u, line.find(L"-undoall"));
    EXPECT_EQ(0u, line.find(L"-INI"));
    EXPECT_EQ(nocase_wstring::npos, line.find(L"-Cleanup"));
    EXPECT_EQ(nocase_wstring::npos, line.find(L"-undoall-"));
    EXPECT_EQ(2u, nocase_wstring(L"--\u00C9T\u00C9").find(L"\u00E9t\u00E9"));
}

TEST(NocaseKeyMap, KeepsTheFirstOfTwoKeysThatDifferOnlyInCase)
{
    NocaseKeyMap map;
    EXPECT_TRUE(map.emplace(L"TargetServer", L"first").second);
    EXPECT_FALSE(map.emplace(L"TARGETSERVER", L"second").second);
    ASSERT_EQ(1u, map.size());
    EXPECT_EQ(L"TargetServer", Util::FromNocase(map.begin()->first));
    EXPECT_EQ(L"first", map.at(L"targetserver"));
}

TEST(NocaseKeyMap, IteratesInCaseInsensitiveKeyOrder)
{
    NocaseKeyMap map;
    for (const wchar_t* key : {L"b", L"C", L"a", L"B2"}) {
        map.emplace(key, L"");
    }
    std::wstring order;
    for (const auto& entry : map) {
        order += Util::FromNocase(entry.first) + L" ";
    }
    EXPECT_EQ(L"a b B2 C ", order);
}

} // namespace
