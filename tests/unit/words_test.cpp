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

TEST_P(Words, CountStartAndNthAgree) {
    const WordsCase& c = GetParam();
    const CharSet& set = c.comma ? CommaSet : BlankSet;
    ASSERT_EQ(CountWords(c.text, set), static_cast<std::int32_t>(c.words.size()));
    for (std::size_t i = 0; i < c.words.size(); ++i) {
        const auto n = static_cast<std::int32_t>(i + 1);
        EXPECT_EQ(NthWord(n, c.text, set), c.words[i]);
        const std::int32_t start = WordStart(n, c.text, set);
        ASSERT_GT(start, 0);
        EXPECT_EQ(c.text.compare(static_cast<std::size_t>(start) - 1, c.words[i].size(), c.words[i]), 0);
    }
    const auto past = static_cast<std::int32_t>(c.words.size() + 1);
    EXPECT_EQ(WordStart(past, c.text, set), 0);
    EXPECT_EQ(NthWord(past, c.text, set), "");
    EXPECT_EQ(WordStart(0, c.text, set), 0);
    EXPECT_EQ(WordStart(-1, c.text, set), 0);
    std::vector<std::string> visited;
    ForEachWord(c.text, set, [&](std::string_view w) { visited.emplace_back(w); });
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
                      WordsCase{std::string("a\0b,c", 5), true, {std::string("a\0b", 3), "c"}}));

TEST(Words, WordStartPositionsCountFromOne) {
    EXPECT_EQ(WordStart(3, ",a,b,c", CommaSet), 6);
    EXPECT_EQ(WordStart(4, ",a,b,c", CommaSet), 0);
    EXPECT_EQ(WordStart(1, "abc", CommaSet), 1);
}

TEST(Words, LongFieldIsOneWord) {
    const std::string field(300, 'q');
    EXPECT_EQ(NthWord(2, "a," + field + ",b", CommaSet), field);
}

TEST(Words, SetMembershipUsesUnsignedBytes) {
    constexpr CharSet high{0xFF, 0x80};
    EXPECT_TRUE(high.Contains(0xFF));
    EXPECT_TRUE(high.Contains(0x80));
    EXPECT_FALSE(high.Contains(0x7F));
    EXPECT_EQ(CountWords("a\xFF" "b\x80" "c", high), 3);
}

}  // namespace
}  // namespace pm
