// The registry lookup, against the host stand-in and against the real
// registry under Windows and Wine: one table for both.
#include <gtest/gtest.h>

#include <vector>

#include "base/failure.h"
#include "support/failure_of.h"
#include "support/faults.h"
#include "support/registry_values.h"
#include "winsys/platform.h"
#include "winsys/registry.h"

namespace pm {
namespace {

constexpr const char* Key = "Software\\PictomapTest";

class Registry : public ::testing::Test {
protected:
    void SetUp() override { test::DeleteRegistryKey(Key); }
    void TearDown() override {
        faults::Reset();
        test::DeleteRegistryKey(Key);
    }
    static std::string Outcome(const std::string& key, const std::string& name) {
        std::string text;
        const std::string failure = test::FailureOf([&] { text = GetRegistryString(key, name); });
        return failure.empty() ? "\"" + text + "\"" : failure;
    }
};

TEST_F(Registry, EveryKindOfValue) {
    const std::string invalid = "ERegistryException: Invalid data type for 'HomeDir'";
    const struct {
        const char* what;
        std::uint32_t type;
        std::string data;
        std::string outcome;
    } rows[] = {
        {"string with its NUL", plat::RegSz, std::string("C:\\Mail\\\0", 9), "\"C:\\Mail\\\""},
        {"string without a NUL", plat::RegSz, "C:\\Mail\\", "\"C:\\Mail\\\""},
        {"single NUL", plat::RegSz, std::string(1, '\0'), "\"\""},
        {"embedded NUL", plat::RegSz, std::string("C:\\Mail\\\0abc\0", 13), "\"C:\\Mail\\\""},
        {"expandable, not expanded", plat::RegExpandSz, std::string("%SystemDrive%\\Mail\\\0", 20),
         "\"%SystemDrive%\\Mail\\\""},
        {"no data, string", plat::RegSz, "", "\"\""},
        {"no data, number", plat::RegDword, "", "\"\""},
        {"no data, binary", plat::RegBinary, "", "\"\""},
        {"a megabyte", plat::RegSz, std::string(1 << 20, 'm') + '\0', "\"" + std::string(1 << 20, 'm') + "\""},
        {"number", plat::RegDword, std::string("C:\\\0", 4), invalid},
        {"list of texts", plat::RegMultiSz, std::string("C:\\\0\0", 5), invalid},
        {"binary", plat::RegBinary, std::string("C:\\\0\0", 5), invalid},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        test::SetRegistryValue(Key, "HomeDir", row.type, row.data);
        EXPECT_EQ(Outcome(Key, "HomeDir"), row.outcome);
        // One leading backslash is dropped; a second one stays.
        EXPECT_EQ(Outcome(std::string("\\") + Key, "HomeDir"), row.outcome);
        EXPECT_EQ(Outcome(std::string("\\\\") + Key, "HomeDir"), "\"\"");
    }
}

TEST_F(Registry, NothingToReadGivesEmptyText) {
    EXPECT_EQ(Outcome(Key, "HomeDir"), "\"\"");  // no key
    test::SetRegistryValue(Key, "Other", plat::RegSz, std::string("x\0", 2));
    EXPECT_EQ(Outcome(Key, "HomeDir"), "\"\"");  // no value
    EXPECT_EQ(Outcome(Key, ""), "\"\"");         // no default value
    EXPECT_EQ(Outcome("Software\\PictomapNoSuchKey", "HomeDir"), "\"\"");
}

// The key is opened (asking to read values only), the size asked for, then
// the data; a failing data request is a failure, every other refusal means
// nothing to read. The key is closed on every path.
int opened = 0, closed = 0;
std::vector<std::uint32_t> accesses;
const plat::Calls* inner = nullptr;
std::int32_t CountingOpen(plat::RegKey root, const std::string& subkey, std::uint32_t access, plat::RegKey& key) {
    accesses.push_back(access);
    const std::int32_t status = inner->RegOpenKeyEx(root, subkey, access, key);
    if (status == 0) ++opened;
    return status;
}
std::int32_t CountingClose(plat::RegKey key) {
    ++closed;
    return inner->RegCloseKey(key);
}

TEST_F(Registry, EachRefusalAndTheKeyClosedOnEveryPath) {
    test::SetRegistryValue(Key, "HomeDir", plat::RegSz, std::string("C:\\Mail\\\0", 9));
    inner = &plat::Active();
    plat::Calls counting = *inner;
    counting.RegOpenKeyEx = CountingOpen;
    counting.RegCloseKey = CountingClose;
    plat::UseCalls(&counting);
    const char* outcomes[] = {
        "\"\"",                                                  // the open refused
        "\"\"",                                                  // the size request refused
        "ERegistryException: Failed to get data for 'HomeDir'",  // the data request refused
        "\"C:\\Mail\\\"",                                        // nothing refused
    };
    for (std::uint64_t n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        faults::FailCall(n);
        EXPECT_EQ(Outcome(Key, "HomeDir"), outcomes[n - 1]);
        EXPECT_EQ(opened, closed);
    }
    faults::FailCall(0);
    plat::UseCalls(inner == &plat::SystemCalls() ? nullptr : inner);
    ASSERT_FALSE(accesses.empty());
    for (const std::uint32_t access : accesses) EXPECT_EQ(access, plat::KeyQueryValue);
}

}  // namespace
}  // namespace pm
