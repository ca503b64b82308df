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

TEST_F(Registry, ValuesThatHoldTextOrNothing) {
    const struct {
        const char* what;
        std::uint32_t type;
        std::string data;
        std::string result;
    } rows[] = {
        {"string with its NUL", plat::RegSz, std::string("C:\\Mail\\\0", 9), "C:\\Mail\\"},
        {"string without a NUL", plat::RegSz, "C:\\Mail\\", "C:\\Mail\\"},
        {"single NUL", plat::RegSz, std::string(1, '\0'), ""},
        {"embedded NUL", plat::RegSz, std::string("C:\\Mail\\\0abc", 12), "C:\\Mail\\"},
        {"expandable, not expanded", plat::RegExpandSz, std::string("%SystemDrive%\\Mail\\\0", 20),
         "%SystemDrive%\\Mail\\"},
        {"no data, string", plat::RegSz, "", ""},
        {"no data, number", plat::RegDword, "", ""},
        {"no data, none", plat::RegNone, "", ""},
        {"a megabyte", plat::RegSz, std::string(1 << 20, 'm'), std::string(1 << 20, 'm')},
    };
    for (const auto& row : rows) {
        host::SetRegistryValue(Key, "HomeDir", row.type, row.data);
        EXPECT_EQ(GetRegistryString(Key, "HomeDir"), row.result) << row.what;
    }
}

TEST_F(Registry, NothingToReadGivesEmptyText) {
    EXPECT_EQ(GetRegistryString(Key, "HomeDir"), "");  // no key
    host::CreateRegistryKey(Key);
    EXPECT_EQ(GetRegistryString(Key, "HomeDir"), "");  // no value
    EXPECT_EQ(GetRegistryString(Key, ""), "");
}

TEST_F(Registry, ValuesOfOtherTypesAreRefused) {
    for (const std::uint32_t type : {plat::RegDword, plat::RegMultiSz, plat::RegBinary, plat::RegNone}) {
        host::SetRegistryValue(Key, "HomeDir", type, std::string("C:\\\0\0", 5));
        try {
            GetRegistryString(Key, "HomeDir");
            ADD_FAILURE() << "type " << type << " accepted";
        } catch (const ERegistryException& failure) {
            EXPECT_STREQ(failure.Message(), "Invalid data type for 'HomeDir'");
        }
    }
}

TEST_F(Registry, FailedDataRequestIsAFailure) {
    host::SetRegistryValue(Key, "HomeDir", plat::RegSz, "C:\\Mail\\");
    host::FailNextDataRequest();
    try {
        GetRegistryString(Key, "HomeDir");
        ADD_FAILURE() << "no failure";
    } catch (const ERegistryException& failure) {
        EXPECT_STREQ(failure.Message(), "Failed to get data for 'HomeDir'");
        EXPECT_STREQ(failure.KindName(), "ERegistryException");
    }
}

TEST_F(Registry, KeyPathAndAccess) {
    host::SetRegistryValue(Key, "HomeDir", plat::RegSz, "D:\\");
    EXPECT_EQ(GetRegistryString(std::string("\\") + Key, "HomeDir"), "D:\\");
    EXPECT_EQ(GetRegistryString(std::string("\\\\") + Key, "HomeDir"), "");
    const auto& opens = host::RegistryOpens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].subkey, Key);
    EXPECT_EQ(opens[1].subkey, std::string("\\") + Key);
    // Read access only: a key the user may read but not change still gives its value.
    EXPECT_EQ(opens[0].access, plat::KeyQueryValue);
    host::SetRegistryKeyReadOnly(Key, true);
    EXPECT_EQ(GetRegistryString(Key, "homedir"), "D:\\");
}

}  // namespace
}  // namespace pm
