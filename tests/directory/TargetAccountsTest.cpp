#include "DirectoryTesting.h"

#include "directory/TargetAccounts.h"
#include "errors/Errors.h"

#include <gtest/gtest.h>

namespace {

using namespace DirectoryTesting;

class ResolveTargetAccountsTest : public DoubleTest {};

TEST_F(ResolveTargetAccountsTest, Explore)
{
    CapturedOutput output;
    NocaseKeyMap targets;
    try {
        targets = ResolveTargetAccounts(Settings(Instance::Dc), {Source(L"room.oslo"), Source(L"beamer.pool")});
    } catch (const Errors::CError& e) {
        std::cerr << "error " << std::hex << e.GetCode() << " " << e.what() << "\n";
    }
    std::cerr << output.Text() << Calls();
    for (auto& t : targets) std::cerr << Narrow(Util::FromNocase(t.first)) << " -> " << Narrow(t.second) << "\n";
}

} // namespace
