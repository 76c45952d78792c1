// What Wine's own ADSI does against slapd, with the tool's layer on top: no double in this process.
#include "DirectoryTesting.h"

#include "directory/DirSearch.h"
#include "directory/TargetAccounts.h"
#include "errors/Errors.h"

#include <gtest/gtest.h>

namespace {

using namespace DirectoryTesting;

class WineAdsi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(IsDoubleLoaded()) << "these tests need Wine's own activeds.dll"; }

    ComApartment apartment;
};

// Wine's secure bind always negotiates SASL GSS-SPNEGO, which slapd cannot serve without a Kerberos realm.
TEST_F(WineAdsi, RefusesTheSecureBindWhateverThePassword)
{
    for (const wchar_t* password : {ServicePassword, L"wrong"}) {
        try {
            Adsi::OpenDirObject(Server(Instance::Dc) + L"/" + NamingContext, ServiceAccount, password);
            ADD_FAILURE() << "a secure bind to slapd succeeded";
        } catch (const Errors::CNickError& error) {
            EXPECT_EQ(static_cast<HRESULT>(0x8007203b), error.GetCode());
            EXPECT_EQ(L"ERR_COMMON_ADSI_OPEN_DIROBJ\r\nADSI result: 0x8007203b.", error.GetMessage());
        }
    }
}

TEST_F(WineAdsi, SoTheResolutionStopsAtTheRootObject)
{
    CapturedOutput output;
    try {
        ResolveTargetAccounts(Settings(Instance::Dc), {Source(L"room.oslo")});
        ADD_FAILURE() << "resolved through a secure bind to slapd";
    } catch (const Errors::CAdsiError& error) {
        EXPECT_EQ(static_cast<HRESULT>(0x8007203b), error.GetCode());
    }
    EXPECT_EQ("Info: Connect to the Active Directory server '" + Narrow(Server(Instance::Dc)) + "' using LDAP.\n",
              output.Text());
}

TEST_F(WineAdsi, HasNoGlobalCatalogueProvider)
{
    try {
        Adsi::BindGlobalCatalog(Server(Instance::Gc), ServiceAccount, ServicePassword);
        ADD_FAILURE() << "Wine bound a global catalogue";
    } catch (const Errors::CNickError& error) {
        EXPECT_EQ(E_FAIL, error.GetCode());
        EXPECT_EQ(L"EXCH_ERR_GC_NOT_AVAILABLE\r\nADSI result: 0x80004005., Description: Unknown code.",
                  error.GetMessage());
    }
}

TEST_F(WineAdsi, PagesASimpleBindSearchPastFiveHundredRows)
{
    Adsi::CDirSearch search(BindNamingContext(Instance::Dc, 0), L"(objectClass=user)", {L"cn"}, ADS_SCOPE_SUBTREE);
    int rows = 0;
    while (search.Next()) {
        ++rows;
    }
    EXPECT_EQ(1213, rows);
}

// A domain controller serves paged searches of any size; slapd's default size limit of 500 ends them with
// LDAP_SIZELIMIT_EXCEEDED when the second page is asked for.
TEST_F(WineAdsi, DefaultSizeLimitEndsThePagedSearchWithItsResult)
{
    Adsi::CDirSearch search(BindNamingContext(Instance::Limited, 0), L"(objectClass=user)", {L"cn"},
                            ADS_SCOPE_SUBTREE);
    int rows = 0;
    try {
        while (search.Next()) {
            ++rows;
        }
        ADD_FAILURE() << "the size limit did not stop the search";
    } catch (const Errors::CNickError& error) {
        EXPECT_EQ(static_cast<HRESULT>(0x80072023), error.GetCode());
        EXPECT_EQ(0u, error.GetMessage().find(L"ERR_COMMON_DIRSEARCH_ENUM_NEXT\r\n"
                                              L"ERR_COMMON_DIRSEARCH_GET_NEXT_ROW\r\n"
                                              L"ADSI result: 0x80072023."))
            << Narrow(error.GetMessage());
    }
    EXPECT_EQ(500, rows);
}

} // namespace
