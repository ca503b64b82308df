#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/textset.h"

namespace pm {
namespace {

// Only the very same bytes are known: letter case, length, a NUL and a
// prefix all make another text; where the text lies does not matter.
TEST(TextSet, KnowsExactlyTheBytesPutIn) {
    const std::string stored[] = {"1:2/3=C:\\A.BMP", "", std::string("a\0b", 3), "x"};
    TextSet set;
    for (const std::string& text : stored) set.Insert(text);
    const struct {
        std::string text;
        bool known;
    } rows[] = {
        {"1:2/3=C:\\A.BMP", true},  {"1:2/3=c:\\a.bmp", false}, {"1:2/3=C:\\A.BM", false},
        {"1:2/3=C:\\A.BMP ", false}, {"", true},                  {std::string("a\0b", 3), true},
        {"a", false},                {std::string("a\0c", 3), false}, {"X", false},
        {"x", true},
    };
    for (const auto& row : rows) EXPECT_EQ(set.Contains(std::string(row.text)), row.known) << row.text;
    set.Clear();
    for (const std::string& text : stored) EXPECT_FALSE(set.Contains(text)) << text;
}

// Many texts alike, put in with and without room made first, across the
// table's growth: each one put in is known, none other is, and a second
// Insert of the same bytes changes nothing.
TEST(TextSet, GrowsWithoutForgetting) {
    for (const std::size_t expected : {0u, 10u, 5000u}) {
        std::mt19937 random(static_cast<unsigned>(expected) + 1);
        std::vector<std::string> texts;  // kept in place while the set knows them
        texts.reserve(4000);
        std::set<std::string> in;
        TextSet set;
        set.Expect(expected);
        for (int i = 0; i < 4000; ++i) {
            texts.push_back(std::to_string(random() % 3000) + ":" + std::to_string(random() % 7) + "/1");
            set.Insert(texts.back());
            in.insert(texts.back());
            if (i % 500 == 0) set.Expect(100);
        }
        for (const std::string& text : in) ASSERT_TRUE(set.Contains(text)) << text;
        for (int i = 0; i < 3000; ++i) {
            const std::string other = std::to_string(i) + ":7/1";
            ASSERT_FALSE(set.Contains(other)) << other;
            const std::string near = std::to_string(i) + ":0/1";
            ASSERT_EQ(set.Contains(near), in.count(near) == 1) << near;
        }
    }
}

}  // namespace
}  // namespace pm
