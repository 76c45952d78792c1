// The MAPI32 double keeps the state it read for its many calls: it must still see every change made between
// its calls, and write the same files as a whole rewrite would.

#include "mapi/MapiInit.h"
#include "mapi/MapiPtr.h"

#include "MapiWorld.h"

namespace {

using namespace MapiTesting;
using namespace MapiDouble;

TEST_F(MapiTest, SeesEveryChangeMadeBetweenItsCallsEvenOneThatKeepsTheFileSize)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    const Mapi::TMapiPtr<IProfAdmin> admin = ProfileAdmin();
    Mapi::TMapiPtr<IMsgServiceAdmin> services;
    ASSERT_EQ(S_OK, admin->AdminServices(Ansi("alice-profile"), nullptr, 0, 0, services.Out()));

    std::vector<Profile> profiles = world.State().LoadProfiles();
    profiles[0].Name = "alice-profilf";
    world.State().SaveProfiles(profiles);
    world.AddFault(MakeFault(L"IProfAdmin::CreateProfile", MAPI_E_NOT_ENOUGH_MEMORY));

    EXPECT_EQ(MAPI_E_LOGON_FAILED, admin->AdminServices(Ansi("alice-profile"), nullptr, 0, 0, services.Out()));
    EXPECT_EQ(S_OK, admin->AdminServices(Ansi("alice-profilf"), nullptr, 0, 0, services.Out()));
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, admin->CreateProfile(Ansi("late"), nullptr, 0, 0))
        << "a fault added between two calls steers the second";
}

TEST_F(MapiTest, WritesTheSameStateFileAsAWholeRewriteWould)
{
    {
        Mapi::CMapiInit guard(MAPI_NT_SERVICE);
        const Mapi::TMapiPtr<IProfAdmin> admin = ProfileAdmin();
        for (const char* name : {"first", "second", "third", "fourth"}) {
            ASSERT_EQ(S_OK, admin->CreateProfile(Ansi(name), nullptr, 0, 0));
        }
        ASSERT_EQ(S_OK, admin->DeleteProfile(Ansi("second"), 0));
        Mapi::TMapiPtr<IMsgServiceAdmin> services;
        ASSERT_EQ(S_OK, admin->AdminServices(Ansi("third"), nullptr, 0, 0, services.Out()));
        ASSERT_EQ(S_OK, services->CreateMsgService(Ansi("MSEMS"), Ansi("Microsoft Exchange Server"), 0, 0));
        ASSERT_EQ(S_OK, admin->CreateProfile(Ansi("fifth"), nullptr, 0, 0));
        ASSERT_EQ(S_OK, admin->DeleteProfile(Ansi("alice-profile"), 0));
    }

    const std::vector<Profile> profiles = world.State().LoadProfiles();
    std::vector<std::string> names;
    for (const Profile& profile : profiles) {
        names.push_back(profile.Name);
    }
    EXPECT_EQ((std::vector<std::string>{"first", "third", "fourth", "fifth"}), names);
    ASSERT_EQ(4u, profiles.size());
    EXPECT_EQ(1u, profiles[1].Services.size());
    TestSupport::TempDir rewritten{L"rewritten"};
    CStateDirectory(rewritten.Path()).SaveProfiles(profiles);
    EXPECT_EQ(TestSupport::ReadBytes(rewritten / L"profiles.txt"),
              TestSupport::ReadBytes(world.State().Path() + L"\\profiles.txt"));
}

} // namespace
