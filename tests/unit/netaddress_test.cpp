#include <gtest/gtest.h>

#include "textutil/netaddress.h"

namespace pm {
namespace {

struct AddressCase {
    std::string text;
    bool valid;
    std::int32_t zone = 0, net = 0, node = 0, point = 0;
};

class Address : public ::testing::TestWithParam<AddressCase> {};

TEST_P(Address, SplitsAsWritten) {
    const AddressCase& c = GetParam();
    std::int32_t zone = 7, net = 7, node = 7, point = 7;
    EXPECT_EQ(SplitAddress(c.text, zone, net, node, point), c.valid) << c.text;
    EXPECT_EQ(IsValidAddress(c.text), c.valid) << c.text;
    if (c.valid) {
        EXPECT_EQ(zone, c.zone);
        EXPECT_EQ(net, c.net);
        EXPECT_EQ(node, c.node);
        EXPECT_EQ(point, c.point);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Address,
    ::testing::Values(
        AddressCase{"2:5020/100", true, 2, 5020, 100, 0}, AddressCase{"2:5020/100.1", true, 2, 5020, 100, 1},
        AddressCase{"02:05020/0100.00", true, 2, 5020, 100, 0}, AddressCase{"+2:5020/1", true, 2, 5020, 1, 0},
        AddressCase{"x+2:5020/1", true, 2, 5020, 1, 0}, AddressCase{"+2:5020/1.5", false},
        AddressCase{"2:5020/100 xyz", true, 2, 5020, 100, 0}, AddressCase{" 2:5020/100", false},
        AddressCase{"2: 5020/100", false}, AddressCase{"2:\t5020/100", true, 2, 5020, 100, 0},
        AddressCase{"100", true, 100, 100, 100, 0}, AddressCase{"2:5020", false}, AddressCase{"2:5020/", false},
        AddressCase{"2:5020/100.", false}, AddressCase{":5020/100", false}, AddressCase{"2::5020/100", false},
        AddressCase{"2:5020/100.1.2", false}, AddressCase{"2:5020/100@fidonet", false},
        AddressCase{"2:5020/100.1@fidonet", false}, AddressCase{"2:5020/100.1+3", false},
        AddressCase{"2:5020/+100", false}, AddressCase{"1/2.3+4", true, 4, 1, 2, 3},
        AddressCase{"2:5020/-1", false}, AddressCase{"2:5020/100.$FFFFFFFF", false},
        AddressCase{"-2:-5020/-100.-5", true, -2, -5020, -100, -5}, AddressCase{"2:5020/$64", true, 2, 5020, 100, 0},
        AddressCase{"2:5020/x64", true, 2, 5020, 100, 0}, AddressCase{"2:5020/0X1f.3", true, 2, 5020, 31, 3},
        AddressCase{"2:5020/100.0x", false}, AddressCase{"2:5020/1e3", false},
        AddressCase{"2:2147483647/1", true, 2, 2147483647, 1, 0}, AddressCase{"2:2147483648/1", false},
        AddressCase{"-2147483648:1/1", true, INT32_MIN, 1, 1, 0}, AddressCase{"", false},
        AddressCase{"2:5020/$80000000", true, 2, 5020, INT32_MIN, 0},
        AddressCase{"2:5020/$100000000", false}, AddressCase{"2:5020/$000000064", true, 2, 5020, 100, 0},
        AddressCase{"2:5020/-$64", false}, AddressCase{"+2:+5020/7", true, 2, 5020, 7, 0},
        AddressCase{"2:5020/-", false}, AddressCase{"2:5020/\xB9", false}));

TEST(Address, OutputsAfterAFailureAreLeftAlone) {
    std::int32_t zone = 7, net = 7, node = 7, point = 7;
    EXPECT_FALSE(SplitAddress("2:5020/100.1@fidonet", zone, net, node, point));
    EXPECT_EQ(zone, 2);
    EXPECT_EQ(net, 5020);
    EXPECT_EQ(node, 100);
    EXPECT_EQ(point, -1);
    zone = net = node = point = 7;
    EXPECT_FALSE(SplitAddress(":5020/100", zone, net, node, point));
    EXPECT_EQ(zone, -1);
    EXPECT_EQ(net, 7);
    EXPECT_EQ(node, 7);
    EXPECT_EQ(point, 7);
}

TEST(Address, ExtractBetweenRules) {
    struct Row {
        const char* text;
        char start, end;
        const char* field;
    } rows[] = {
        {"2:5020/100", '+', ':', "2"},      {"2:5020/100", '.', '+', "0"},   {"2:5020/100", '/', '.', "100"},
        {"2/1:3", ':', '/', ""},            {" 2:3", '+', ':', ""},          {"2:\x01 7 \x02/", ':', '/', ""},
        {"2:\x01\t7\t\x02/", ':', '/', "7"}, {"a:b\tc/", ':', '/', "b\tc"}, {"+", '+', ':', ""},
    };
    for (const Row& r : rows) EXPECT_EQ(ExtractBetween(r.text, r.start, r.end), r.field) << r.text;
}

TEST(Address, ParseWritesMinusOneOnFailure) {
    std::int32_t n = 5;
    EXPECT_FALSE(ParseAddressField("12a", n));
    EXPECT_EQ(n, -1);
    EXPECT_FALSE(ParseAddressField("-1", n));
    EXPECT_EQ(n, -1);
    EXPECT_TRUE(ParseAddressField("  42", n));
    EXPECT_EQ(n, 42);
    EXPECT_FALSE(ParseAddressField("$", n));
    EXPECT_FALSE(ParseAddressField("+", n));
    EXPECT_FALSE(ParseAddressField("1.5", n));
}

}  // namespace
}  // namespace pm
