#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app/pictureindex.h"

namespace pm {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs PairsOf(const std::string& line, const std::string& folder = "C:\\M\\BMP\\") {
    Pairs pairs;
    IndexReader(folder).ForEachPair(line, [&](const std::string& a, const std::string& p) { pairs.emplace_back(a, p); });
    return pairs;
}

TEST(IndexLine, YieldsPairsAsTheRecordSays) {
    const struct {
        const char* line;
        Pairs pairs;
    } rows[] = {
        {"a.bmp,Name,2:5020/100 2:5020/100.1",
         {{"2:5020/100", "C:\\M\\BMP\\a.bmp"}, {"2:5020/100.1", "C:\\M\\BMP\\a.bmp"}}},
        {"a.gif,Name,1:2/3,9:9/9", {{"1:2/3", "C:\\M\\BMP\\a.gif"}}},
        {"A.Bmp,x,1:2/3", {{"1:2/3", "C:\\M\\BMP\\A.Bmp"}}},
        {"a.jpg,x,1:2/3", {}},
        {"a.bmp ,x,1:2/3", {}},
        {"a.bmp,,1:2/3", {}},
        {"a,x,1:2/3", {}},
        {"sub\\a.gif,x,1:2/3", {{"1:2/3", "C:\\M\\BMP\\sub\\a.gif"}}},
        {"a.bmp,x,bad 1:2/3", {{"1:2/3", "C:\\M\\BMP\\a.bmp"}}},
        {"a.bmp,x", {}},
        {"sub/a.gif,x,1:2/3", {{"1:2/3", "C:\\M\\BMP\\sub/a.gif"}}},
        {"a.,x,1:2/3", {}},
        {"", {}},
        {"a.bmp,x,1:2/3 1:2/3", {{"1:2/3", "C:\\M\\BMP\\a.bmp"}, {"1:2/3", "C:\\M\\BMP\\a.bmp"}}},
        {",a.bmp,x,,1:2/3,", {{"1:2/3", "C:\\M\\BMP\\a.bmp"}}},
        {"a.bmp,x,  1:2/3\t", {{"1:2/3\t", "C:\\M\\BMP\\a.bmp"}}},
        {"a.b.gif,x,1:2/3", {{"1:2/3", "C:\\M\\BMP\\a.b.gif"}}},
        {"d.gif\\a,x,1:2/3", {}},
        {"c:a.bmp,x,1:2/3", {{"1:2/3", "C:\\M\\BMP\\c:a.bmp"}}},
        {"x:y,x,1:2/3", {}},
        {"\xE9t\xE9.gif,x,1:2/3", {{"1:2/3", "C:\\M\\BMP\\\xE9t\xE9.gif"}}},
        {"a.bm\xF0,x,1:2/3", {}},
    };
    for (const auto& row : rows) EXPECT_EQ(PairsOf(row.line), row.pairs) << row.line;
}

TEST(IndexLine, LongFieldsAndManyAddresses) {
    const std::string name(300, 'n');
    std::string addresses;
    for (int i = 0; i < 1000; ++i) addresses += "1:2/" + std::to_string(i) + " ";
    const Pairs pairs = PairsOf(name + ".gif," + name + "," + addresses);
    ASSERT_EQ(pairs.size(), 1000u);
    EXPECT_EQ(pairs.back().first, "1:2/999");
    EXPECT_EQ(pairs.back().second, "C:\\M\\BMP\\" + name + ".gif");
}

}  // namespace
}  // namespace pm
