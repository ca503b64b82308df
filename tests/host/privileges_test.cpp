#include <gtest/gtest.h>

#include "hostplatform/hostplatform.h"
#include "winsys/winversion.h"

namespace pm {
namespace {

class Privileges : public ::testing::Test {
protected:
    void SetUp() override {
        host::Reset();
        ResetWindowsVersionCache();
    }
    void TearDown() override {
        EXPECT_EQ(host::OpenTokens(), 0) << "token left open";
        ResetWindowsVersionCache();
    }
};

TEST_F(Privileges, StartupEnablesBothOnNtFourAndFive) {
    host::SetVersion({5, 0, 2195, 2});
    EnableStartupPrivileges();
    ASSERT_EQ(host::Adjustments().size(), 2u);
    EXPECT_EQ(host::Adjustments()[0].privilege, "SeTakeOwnershipPrivilege");
    EXPECT_EQ(host::Adjustments()[1].privilege, "SeChangeNotifyPrivilege");
    EXPECT_EQ(host::Adjustments()[0].attributes, plat::SePrivilegeEnabled);
    EXPECT_EQ(host::VersionQueries(), 1);
}

TEST_F(Privileges, NothingOnSystemsNotClassifiedAsNt) {
    for (const plat::VersionInfo info : {plat::VersionInfo{6, 0, 6000, 2}, plat::VersionInfo{4, 10, 2222, 1},
                                         plat::VersionInfo{3, 51, 1057, 2}}) {
        host::Reset();
        ResetWindowsVersionCache();
        host::SetVersion(info);
        EnableStartupPrivileges();
        EXPECT_TRUE(host::Adjustments().empty());
        EXPECT_EQ(host::VersionQueries(), 1);
        EXPECT_FALSE(SetProcessPrivilege("SeChangeNotifyPrivilege", true));
    }
}

TEST_F(Privileges, RefusalsGiveFalse) {
    host::SetVersion({5, 1, 2600, 2});
    EXPECT_FALSE(SetProcessPrivilege("SeNoSuchPrivilege", true));
    EXPECT_TRUE(host::Adjustments().empty());
    host::SetTokenOpens(false);
    EXPECT_FALSE(SetProcessPrivilege("SeChangeNotifyPrivilege", true));
    host::SetTokenOpens(true);
    EXPECT_TRUE(SetProcessPrivilege("SeChangeNotifyPrivilege", false));
    ASSERT_EQ(host::Adjustments().size(), 1u);
    EXPECT_EQ(host::Adjustments()[0].attributes, 0u);
}

TEST_F(Privileges, FailedVersionQueryIsUnrecognisedAndRemembered) {
    host::SetVersion({5, 1, 2600, 2}, false);
    EXPECT_EQ(GetWindowsVersion(), VersionUnrecognised);
    host::SetVersion({5, 1, 2600, 2}, true);
    EXPECT_EQ(GetWindowsVersion(), VersionUnrecognised);
    EXPECT_FALSE(IsWindowsNT());
    EXPECT_EQ(host::VersionQueries(), 1);
}

}  // namespace
}  // namespace pm
