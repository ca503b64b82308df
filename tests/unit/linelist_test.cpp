#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/failure.h"
#include "support/failure_of.h"
#include "runtime/linelist.h"
#include "support/files.h"
#include "support.h"

namespace pm {
namespace {

using Lines = std::vector<std::string>;

Lines Contents(LineList& list) {
    Lines lines;
    for (std::int32_t i = 0; i < list.LineCount(); ++i) lines.emplace_back(list.LineView(i));
    return lines;
}

// The list's rules written out plainly, one step at a time: the reference
// the real list must match line for line and result for result.
struct ReferenceList {
    Lines lines;
    bool sorted = false;

    static int Cmp(const std::string& a, const std::string& b) { return CompareLines(a, b); }

    void Quicksort(long l, long r) {
        long i, j, p;
        do {
            i = l;
            j = r;
            p = (l + r) / 2;
            do {
                while (Cmp(lines[i], lines[p]) < 0) ++i;
                while (Cmp(lines[j], lines[p]) > 0) --j;
                if (i <= j) {
                    std::swap(lines[i], lines[j]);
                    if (p == i) p = j;
                    else if (p == j) p = i;
                    ++i;
                    --j;
                }
            } while (i <= j);
            if (l < j) Quicksort(l, j);
            l = i;
        } while (i < r);
    }
    void Sort() {
        if (!sorted && lines.size() >= 2) Quicksort(0, static_cast<long>(lines.size()) - 1);
    }
    void SetSorted() {
        if (sorted) return;
        Sort();
        sorted = true;
    }
    int Add(const std::string& line) {
        if (!sorted) {
            lines.push_back(line);
            return static_cast<int>(lines.size()) - 1;
        }
        long lo = 0, hi = static_cast<long>(lines.size()) - 1;
        bool found = false;
        while (lo <= hi) {
            const long mid = (lo + hi) / 2;
            const int c = Cmp(lines[mid], line);
            if (c < 0) {
                lo = mid + 1;
            } else {
                hi = mid - 1;
                if (c == 0) {
                    found = true;
                    lo = mid;
                }
            }
        }
        if (!found) lines.insert(lines.begin() + lo, line);
        return static_cast<int>(lo);
    }
};

TEST(LineList, MatchesThePlainRulesOnRandomInput) {
    std::mt19937 random(20261207);
    // The last piece is longer than the order prefix: lines that begin with
    // it are ordered by their whole keys.
    const char* pieces[] = {"",  "a", "A", "b", "B", "1:2/3", "1:2/3=C:\\A.BMP", "1:2/3=c:\\a.bmp", "x", "X", "=", "z z",
                            "2:5020/1234.5=C:\\Quernpost\\BMP\\"};
    for (int round = 0; round < 400; ++round) {
        const auto pick = [&] {
            std::string s;
            const int parts = static_cast<int>(random() % 3);
            for (int k = 0; k <= parts; ++k) s += pieces[random() % std::size(pieces)];
            return s;
        };
        LineList list;
        ReferenceList reference;
        const int loaded = static_cast<int>(random() % 40);
        for (int i = 0; i < loaded; ++i) {
            const std::string line = pick();
            EXPECT_EQ(list.AddLine(line), reference.Add(line));
        }
        list.SortLines();
        reference.Sort();
        list.SetSortedMode(true);
        reference.SetSorted();
        const int added = static_cast<int>(random() % 60);
        for (int i = 0; i < added; ++i) {
            const std::string line = pick();
            ASSERT_EQ(list.AddLine(line), reference.Add(line)) << "round " << round << " line " << line;
            ASSERT_EQ(list.LineCount(), static_cast<std::int32_t>(reference.lines.size()));
            if (random() % 16 == 0) {
                ASSERT_EQ(Contents(list), reference.lines) << "round " << round;
            }
        }
        ASSERT_EQ(Contents(list), reference.lines) << "round " << round;
    }
}

TEST(LineList, MergedLinesEndAsAddedLinesWouldWithOrWithoutRoomMade) {
    std::mt19937 random(7);
    const char* pieces[] = {"", "a", "A", "b", "B", "1:2/3", "=x", "=X", "q", "longer text than sixteen bytes "};
    for (int round = 0; round < 300; ++round) {
        const auto pick = [&] {
            std::string s;
            for (int k = static_cast<int>(random() % 4); k >= 0; --k) s += pieces[random() % std::size(pieces)];
            return s;
        };
        LineList list;
        ReferenceList reference;
        for (int i = static_cast<int>(random() % 30); i > 0; --i) {
            const std::string line = pick();
            list.AddLine(line);
            reference.Add(line);
        }
        list.SetSortedMode(true);
        reference.SetSorted();
        // Room expected for none, some, all or far more than the lines merged:
        // the room never changes what the list ends with.
        if (round % 4 != 0) list.ExpectMerges(static_cast<std::size_t>(random() % (round % 2 ? 40 : 4000)));
        for (int i = static_cast<int>(random() % 80); i > 0; --i) {
            const std::string line = pick();
            if (random() % 8 == 0) {
                // An AddLine among merged lines sees them all in place.
                EXPECT_EQ(list.AddLine(line), reference.Add(line)) << "round " << round;
            } else {
                list.MergeLine(line);
                reference.Add(line);
            }
        }
        list.FinishMerges();
        ASSERT_EQ(list.LineCount(), static_cast<std::int32_t>(reference.lines.size()));
        ASSERT_EQ(Contents(list), reference.lines) << "round " << round;
    }
}

// A line given again with the very bytes of a line present is dropped at
// once; the list knows a line only while it holds it: after a fresh read,
// lines of the old contents are new again.
TEST(LineList, ALineGivenAgainIsKnownOnlyWhileTheListHoldsIt) {
    test::ScratchDir dir;
    dir.Write("c.txt", "c\r\n");
    LineList list;
    list.AddLine("b");
    list.SetSortedMode(true);
    for (const char* line : {"b", "a", "B", "a", "b"}) list.MergeLine(line);
    // Counted before they are merged in, waiting lines are a caller's fault.
    EXPECT_EQ(test::FailureOf([&] { list.LineCount(); }), "EStringListError: Lines wait to be merged");
    list.FinishMerges();
    EXPECT_EQ(Contents(list), (Lines{"a", "b"}));
    list.MergeLine("a");
    list.MergeLine("c");
    list.FinishMerges();
    EXPECT_EQ(Contents(list), (Lines{"a", "b", "c"}));
    test::ReadLines(list, dir.Path("c.txt"));
    for (const char* line : {"b", "c", "a"}) list.MergeLine(line);
    list.FinishMerges();
    EXPECT_EQ(Contents(list), (Lines{"a", "b", "c"}));
}

// Lines of another list whose prefixes tie with this list's get their whole
// keys made in this list's storage; the other list must not keep them.
TEST(LineList, AListWhoseMissingLinesWereAddedElsewhereStaysSound) {
    const std::string prefix = "2:5020/1234.5=C:\\Quernpost\\BMP\\";
    LineList other;
    other.AddLine(prefix + "a.bmp");
    other.AddLine("3:1/1=C:\\x.bmp");
    {
        LineList list;
        list.AddLine(prefix + "B.BMP");
        EXPECT_EQ(list.SortAndAddMissingLinesOf(other), 2);
        EXPECT_EQ(Contents(list), (Lines{prefix + "a.bmp", prefix + "B.BMP", "3:1/1=C:\\x.bmp"}));
    }
    other.AddLine(prefix + "c.bmp");
    other.SortLines();
    EXPECT_EQ(Contents(other), (Lines{prefix + "a.bmp", prefix + "c.bmp", "3:1/1=C:\\x.bmp"}));
}

TEST(LineList, SortingPassesArrangeEqualLinesAsTheListDoes) {
    const struct {
        Lines input, afterSortLines, afterSortedMode;
    } rows[] = {
        {{"B", "a", "A", "b"}, {"A", "a", "b", "B"}, {"a", "A", "B", "b"}},
        {{"A", "a"}, {"a", "A"}, {"A", "a"}},
        {{"x", "x", ""}, {"", "x", "x"}, {"", "x", "x"}},
    };
    for (const auto& row : rows) {
        LineList list;
        for (const auto& line : row.input) list.AddLine(line);
        list.SortLines();
        EXPECT_EQ(Contents(list), row.afterSortLines);
        list.SetSortedMode(true);
        EXPECT_EQ(Contents(list), row.afterSortedMode);
        list.SortLines();  // no effect in sorted mode
        EXPECT_EQ(Contents(list), row.afterSortedMode);
    }
}

TEST(LineList, AddingInSortedMode) {
    LineList list;
    list.AddLine("X");
    list.SetSortedMode(true);
    EXPECT_EQ(list.AddLine("x"), 0);
    EXPECT_EQ(Contents(list), Lines{"X"});

    LineList bd;
    bd.AddLine("b");
    bd.AddLine("d");
    bd.SetSortedMode(true);
    EXPECT_EQ(bd.AddLine("c"), 1);
    EXPECT_EQ(bd.AddLine("a"), 0);
    EXPECT_EQ(bd.AddLine("e"), 4);
    EXPECT_EQ(bd.AddLine("C"), 2);
    EXPECT_EQ(Contents(bd), (Lines{"a", "b", "c", "d", "e"}));
}

TEST(LineList, IndexOutsideTheListFails) {
    LineList list;
    list.AddLine("only");
    for (const std::int32_t index : {1, -1}) {
        try {
            list.LineView(index);
            ADD_FAILURE() << "no failure for " << index;
        } catch (const EStringListError& failure) {
            EXPECT_EQ(std::string(failure.Message()), "List index out of bounds (" + std::to_string(index) + ")");
            EXPECT_STREQ(failure.KindName(), "EStringListError");
        }
    }
}

TEST(LineList, ReadingCutsLinesByTheTextRules) {
    const struct {
        std::string bytes;
        Lines lines;
    } rows[] = {
        {"A\r\nB", {"A", "B"}},
        {"A\r\nB\r\n", {"A", "B"}},
        {"A\n\rB", {"A", "", "B"}},
        {"A\r\rB", {"A", "", "B"}},
        {"A\rB\nC", {"A", "B", "C"}},
        {"A\n\nB\n", {"A", "", "B"}},
        {"\r\n", {""}},
        {std::string("AB\0CD\r\nE", 8), {"AB"}},
        {"", {}},
        {std::string("\0AB", 3), {}},
        {"\xEF\xBB\xBFx\t\x1A\xFF\r\n", {"\xEF\xBB\xBFx\t\x1A\xFF"}},
    };
    test::ScratchDir dir;
    for (const auto& row : rows) {
        dir.Write("f.txt", row.bytes);
        LineList list;
        list.AddLine("old");
        test::ReadLines(list, dir.Path("f.txt"));
        EXPECT_EQ(Contents(list), row.lines);
    }
}

TEST(LineList, WritingEndsEveryLineWithCrLfAndKeepsBytes) {
    test::ScratchDir dir;
    const std::string bytes = "\xEF\xBB\xBFx\t\x1A\xFF\r\n\r\nlast\r\n";
    dir.Write("in.txt", bytes);
    LineList list;
    test::ReadLines(list, dir.Path("in.txt"));
    test::WriteLines(list, dir.Path("out.txt"));
    EXPECT_EQ(dir.Read("out.txt"), bytes);

    dir.Write("old.txt", "something long that goes away");
    LineList empty;
    test::WriteLines(empty, dir.Path("old.txt"));
    EXPECT_EQ(dir.Read("old.txt"), "");

    LineList unterminated;
    dir.Write("u.txt", "a\rb");
    test::ReadLines(unterminated, dir.Path("u.txt"));
    test::WriteLines(unterminated, dir.Path("u.txt"));
    EXPECT_EQ(dir.Read("u.txt"), "a\r\nb\r\n");
    EXPECT_EQ(dir.EntryCount(), 4u) << "a temporary file was left behind";
}

TEST(LineList, FileFailuresNameThePathAndKeepTheList) {
    test::ScratchDir dir;
    LineList list;
    list.AddLine("kept");
    const std::string missing = dir.Path("missing.txt");
    try {
        test::ReadLines(list, missing);
        ADD_FAILURE() << "read a missing file";
    } catch (const EFOpenError& failure) {
        EXPECT_EQ(std::string(failure.Message()), "Cannot open file " + missing);
    }
    EXPECT_EQ(Contents(list), Lines{"kept"});

    const std::string nowhere = dir.Path("no\\such\\folder.cfg");
    try {
        test::WriteLines(list, nowhere);
        ADD_FAILURE() << "wrote into a missing folder";
    } catch (const EFCreateError& failure) {
        EXPECT_EQ(std::string(failure.Message()), "Cannot create file " + nowhere);
    }
    EXPECT_EQ(dir.EntryCount(), 0u);
}

}  // namespace
}  // namespace pm
