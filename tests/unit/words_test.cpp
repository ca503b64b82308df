#include <gtest/gtest.h>

#include <vector>

#include "textutil/words.h"

namespace pm {
namespace {

struct WordsCase {
    std::string text;
    bool comma;  // comma set, else blank set
    std::vector<std::string> words;
};

class Words : public ::testing::TestWithParam<WordsCase> {};

TEST_P(Words, EachWordInOrderAsAViewIntoTheText) {
    const WordsCase& c = GetParam();
    std::vector<std::string> visited;
    ForEachWord(c.text, c.comma ? CommaSet : BlankSet, [&](std::string_view w) {
        EXPECT_TRUE(w.data() >= c.text.data() && w.data() + w.size() <= c.text.data() + c.text.size());
        visited.emplace_back(w);
    });
    EXPECT_EQ(visited, c.words);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Words,
    ::testing::Values(WordsCase{"", true, {}}, WordsCase{",,,", true, {}}, WordsCase{"a,,b", true, {"a", "b"}},
                      WordsCase{",a,,b", true, {"a", "b"}}, WordsCase{"x,yz", true, {"x", "yz"}},
                      WordsCase{",a,b,c", true, {"a", "b", "c"}},
                      WordsCase{"a.bmp ,b", true, {"a.bmp ", "b"}},
                      WordsCase{"1:2/3 1:2/4", false, {"1:2/3", "1:2/4"}},
                      WordsCase{"  1:2/3", false, {"1:2/3"}},
                      WordsCase{"a\tb  c ", false, {"a\tb", "c"}},
                      WordsCase{"\xC4\xE4,\xFF", true, {"\xC4\xE4", "\xFF"}},
                      WordsCase{std::string("a\0b,c", 5), true, {std::string("a\0b", 3), "c"}},
                      WordsCase{"a," + std::string(300, 'q') + ",b", true, {"a", std::string(300, 'q'), "b"}}));

TEST(Words, SetMembershipUsesUnsignedBytes) {
    constexpr CharSet high{0xFF, 0x80};
    EXPECT_TRUE(high.Contains(0xFF));
    EXPECT_TRUE(high.Contains(0x80));
    EXPECT_FALSE(high.Contains(0x7F));
    std::vector<std::string> words;
    ForEachWord("a\xFF" "b\x80" "c", high, [&](std::string_view w) { words.emplace_back(w); });
    EXPECT_EQ(words, (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
}  // namespace pm
