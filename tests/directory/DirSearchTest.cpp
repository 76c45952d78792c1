// The directory access layer against slapd, through the activeds double (simple binds on Wine's provider).
#include "DirectoryTesting.h"

#include "directory/DirSearch.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace DirectoryTesting;

class DirSearchTest : public DoubleTest {
protected:
    Adsi::CDirObject NamingContext(const std::wstring& instance = Instance::Dc)
    {
        return Adsi::OpenDirObject(Server(instance) + L"/" + DirectoryTesting::NamingContext, ServiceAccount,
                                   ServicePassword);
    }

    static std::wstring Account(const std::wstring& name)
    {
        return L"(&(objectClass=user)(sAMAccountName=" + name + L"))";
    }

    ComApartment apartment;
};

TEST_F(DirSearchTest, OpensAPathWithoutProviderOverLdapWithTheAccount)
{
    NamingContext();
    EXPECT_EQ("ADsOpenObject path=LDAP://" + Narrow(Server(Instance::Dc)) +
                  "/DC=fabrikam,DC=com user=CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com "
                  "password=Migrate-2024! flags=1 interface=IDirectoryObject result=0x00000000\n",
              Calls());
}

TEST_F(DirSearchTest, BindFailuresCarryTheirNickAndTheBindsResult)
{
    const RaisedError wrongPassword = Raised([] {
        Adsi::OpenDirObject(Server(Instance::Dc) + L"/" + DirectoryTesting::NamingContext, ServiceAccount, L"wrong");
    });
    EXPECT_EQ("nick", wrongPassword.Kind);
    EXPECT_EQ(static_cast<HRESULT>(0x800720a2), wrongPassword.Code);
    EXPECT_EQ(L"ERR_COMMON_ADSI_OPEN_DIROBJ\r\nADSI result: 0x800720a2.", wrongPassword.Message);
    EXPECT_NE(std::string::npos, Calls().find("password=wrong flags=1 interface=IDirectoryObject result=0x800720a2\n"));

    Steer("fail ADsOpenObject 1 0x80005000\n");
    const RaisedError catalogue =
        Raised([] { Adsi::BindGlobalCatalog(Server(Instance::Gc), ServiceAccount, ServicePassword); });
    EXPECT_EQ("nick", catalogue.Kind);
    EXPECT_EQ(static_cast<HRESULT>(0x80005000), catalogue.Code);
    EXPECT_EQ(L"EXCH_ERR_GC_NOT_AVAILABLE\r\nADSI result: 0x80005000., Description: E_ADS_BAD_PATHNAME.",
              catalogue.Message);
}

TEST_F(DirSearchTest, SearchWithoutMatchHasNoFirstRow)
{
    Adsi::CDirSearch search(NamingContext(), Account(L"nobody"), {L"cn"}, ADS_SCOPE_SUBTREE);
    EXPECT_FALSE(search.Next());
    EXPECT_FALSE(search.Next());
    EXPECT_NE(std::string::npos,
              Calls().find("SetSearchPreference scope=2 pagesize=500 timeout=60\n"
                           "ExecuteSearch filter=(&(objectClass=user)(sAMAccountName=nobody)) attributes=cn\n"));
}

TEST_F(DirSearchTest, ReadsAMultiValuedColumnInStoredOrder)
{
    Adsi::CDirSearch search(NamingContext(), Account(L"room.oslo"), {L"proxyAddresses"}, ADS_SCOPE_SUBTREE);
    ASSERT_TRUE(search.Next());
    const std::vector<std::wstring> expected = {L"SMTP:room.oslo@fabrikam.com", L"X500:" + Target(L"room.oslo"),
                                                L"smtp:oslo.boardroom@fabrikam.com"};
    EXPECT_EQ(expected, search.GetColumnStrings(L"proxyAddresses"));
    EXPECT_FALSE(search.Next());
}

TEST_F(DirSearchTest, ColumnsThatAreMissingOrNotTextRaiseTheColumnNick)
{
    Adsi::CDirSearch leaver(NamingContext(), Account(L"f.employee"), {L"proxyAddresses"}, ADS_SCOPE_SUBTREE);
    ASSERT_TRUE(leaver.Next());
    const RaisedError missing = Raised([&] { leaver.GetColumnStrings(L"proxyAddresses"); });
    EXPECT_EQ("nick", missing.Kind);
    EXPECT_EQ(E_ADS_COLUMN_NOT_SET, missing.Code);
    EXPECT_EQ(L"ERR_COMMON_ADVAL_GET_VAL\r\nADSI result: 0x80005010., Description: E_ADS_COLUMN_NOT_SET.",
              missing.Message);

    Adsi::CDirSearch reception(NamingContext(), Account(L"reception"), {L"objectGUID"}, ADS_SCOPE_SUBTREE);
    ASSERT_TRUE(reception.Next());
    const RaisedError binary = Raised([&] { reception.GetColumnStrings(L"objectGUID"); });
    EXPECT_EQ("nick", binary.Kind);
    EXPECT_EQ(E_FAIL, binary.Code);
    EXPECT_EQ(L"ERR_COMMON_ADVAL_GET_VAL\r\nERR_COMMON_ADVAL_NONSTRING_VAL", binary.Message);
}

TEST_F(DirSearchTest, ReturnsEveryRowOfAPagedSearchOnce)
{
    for (const char* steering : {"", "more-data 300\n"}) {
        Steer(steering);
        Adsi::CDirSearch search(NamingContext(), Account(L"bulk*"), {L"sAMAccountName"}, ADS_SCOPE_SUBTREE);
        std::multiset<std::wstring> names;
        while (search.Next()) {
            names.insert(search.GetColumnStrings(L"sAMAccountName").at(0));
        }
        EXPECT_EQ(1200u, names.size()) << steering;
        EXPECT_EQ(1200u, std::set<std::wstring>(names.begin(), names.end()).size()) << steering;
        EXPECT_EQ(1u, names.count(L"bulk0001"));
        EXPECT_EQ(1u, names.count(L"bulk1200"));
    }
}

TEST_F(DirSearchTest, FilterTheServerRefusesGivesTheFourLevelMessage)
{
    const std::wstring filter = L"(&(objectClass=user)(legacyExchangeDN=" + Source(L"room.oslo") + L"))";
    const RaisedError refused = Raised([&] { Adsi::CDirSearch(NamingContext(), filter, {L"proxyAddresses"}, 2); });
    EXPECT_EQ("nick", refused.Kind);
    EXPECT_EQ(static_cast<HRESULT>(0x8007203e), refused.Code);
    EXPECT_EQ(L"ERR_COMMON_DIRSEARCH_CONSTRUCT_3\r\nERR_COMMON_DIRSEARCH_NINIT\r\nERR_COMMON_DIRSEARCH_EXEC_FAIL\r\n"
              L"ADSI result: 0x8007203e.",
              refused.Message);
}

TEST_F(DirSearchTest, EveryStepOfASearchFailsWithItsNickAndResult)
{
    const struct {
        const char* steering;
        const wchar_t* message;
    } cases[] = {
        {"fail SetSearchPreference 1 0x80005008\n",
         L"ERR_COMMON_DIRSEARCH_CONSTRUCT_3\r\nERR_COMMON_DIRSEARCH_NINIT\r\nERR_COMMON_DIRSEARCH_SET_PAGE_SIZE\r\n"
         L"ADSI result: 0x80005008., Description: E_ADS_BAD_PARAMETER."},
        {"fail ExecuteSearch 1 0x80005014\n",
         L"ERR_COMMON_DIRSEARCH_CONSTRUCT_3\r\nERR_COMMON_DIRSEARCH_NINIT\r\nERR_COMMON_DIRSEARCH_EXEC_FAIL\r\n"
         L"ADSI result: 0x80005014., Description: E_ADS_INVALID_FILTER."},
        {"fail GetFirstRow 1 0x80005000\n",
         L"ERR_COMMON_DIRSEARCH_ENUM_NEXT\r\nERR_COMMON_DIRSEARCH_GET_FIRST_ROW\r\n"
         L"ADSI result: 0x80005000., Description: E_ADS_BAD_PATHNAME."},
        {"fail GetNextRow 2 0x80005000\n",
         L"ERR_COMMON_DIRSEARCH_ENUM_NEXT\r\nERR_COMMON_DIRSEARCH_GET_NEXT_ROW\r\n"
         L"ADSI result: 0x80005000., Description: E_ADS_BAD_PATHNAME."},
        {"fail GetColumn 2 0x80005008\n",
         L"ERR_COMMON_ADVAL_GET_VAL\r\nADSI result: 0x80005008., Description: E_ADS_BAD_PARAMETER."},
        {"value-type 3 6\n", L"ERR_COMMON_ADVAL_GET_VAL\r\nERR_COMMON_ADVAL_NONSTRING_VAL"},
    };
    for (const auto& test : cases) {
        Steer(test.steering);
        const RaisedError error = Raised([&] {
            Adsi::CDirSearch search(NamingContext(), Account(L"bulk000*"), {L"sAMAccountName"}, ADS_SCOPE_SUBTREE);
            while (search.Next()) {
                search.GetColumnStrings(L"sAMAccountName");
            }
        });
        EXPECT_EQ("nick", error.Kind) << test.steering;
        EXPECT_EQ(test.message, error.Message) << test.steering;
    }
}

TEST_F(DirSearchTest, ReadsRootAttributesAsText)
{
    const Adsi::CAdsObject root =
        Adsi::OpenAdsObject(L"LDAP://" + Server(Instance::NoGc) + L"/RootDSE", ServiceAccount, ServicePassword);
    EXPECT_EQ(DirectoryTesting::NamingContext, root.GetString(L"defaultNamingContext"));
    const RaisedError missing = Raised([&] { root.GetString(L"isGlobalCatalogReady"); });
    EXPECT_EQ("adsi", missing.Kind);
    EXPECT_EQ(E_ADS_PROPERTY_NOT_FOUND, missing.Code);
    EXPECT_EQ(L"ADSI result: 0x8000500d., Description: E_ADS_PROPERTY_NOT_FOUND.", missing.Message);

    const Adsi::CAdsObject catalogue =
        Adsi::OpenAdsObject(L"LDAP://" + Server(Instance::Gc) + L"/RootDSE", ServiceAccount, ServicePassword);
    EXPECT_EQ(L"TRUE", catalogue.GetString(L"isGlobalCatalogReady"));
}

} // namespace
