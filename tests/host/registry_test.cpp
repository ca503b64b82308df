#include <gtest/gtest.h>

#include "base/failure.h"
#include "hostplatform/hostplatform.h"
#include "winsys/registry.h"

namespace pm {
namespace {

constexpr const char* Key = "SoftWare\\Velkorware\\Quernpost";

class Registry : public ::testing::Test {
protected:
    void SetUp() override { host::Reset(); }
    void TearDown() override { EXPECT_EQ(host::OpenRegistryKeys(), 0) << "a key was left open"; }
};

// The subkey is passed on with one leading backslash less; a key the user
// may read but not change still gives its value. (What the open asks for
// and the rest of the lookup: unit/registry_test.cpp, on both sides.)
TEST_F(Registry, KeyPathAndAccess) {
    host::SetRegistryValue(Key, "HomeDir", plat::RegSz, "D:\\");
    EXPECT_EQ(GetRegistryString(std::string("\\") + Key, "HomeDir"), "D:\\");
    const auto& opens = host::RegistryOpens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].subkey, Key);
    host::SetRegistryKeyReadOnly(Key, true);
    EXPECT_EQ(GetRegistryString(Key, "homedir"), "D:\\");
}

}  // namespace
}  // namespace pm
