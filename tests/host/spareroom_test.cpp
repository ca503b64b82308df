// Room the program can do without: where memory runs out it is not made,
// and nothing is raised, not through the new handler either (which would
// hand the failure to a debugger).
#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <vector>

#include "base/failure.h"
#include "base/runtimeerror.h"
#include "runtime/linelist.h"
#include "support/failure_of.h"
#include "support/faults.h"

namespace pm {
namespace {

int handlerCalls = 0;
void CountingHandler() {
    ++handlerCalls;
    throw std::bad_alloc();
}

TEST(SpareRoom, MadeWhereMemoryAllowsAndQuietlyNotWhereItRunsOut) {
    const struct {
        const char* name;
        bool failAllocation;
        std::size_t count;
        bool made;
    } rows[] = {
        {"room there", false, 1000, true},
        {"memory exhausted", true, 1000, false},
        {"more than the address space", false, std::numeric_limits<std::size_t>::max(), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        faults::Reset();
        handlerCalls = 0;
        const std::new_handler before = std::set_new_handler(CountingHandler);
        if (row.failAllocation) faults::FailAllocation(1);
        std::vector<int> room;
        EXPECT_EQ(MakeSpareRoom([&] { room.reserve(row.count); }), row.made);
        EXPECT_EQ(room.capacity() >= row.count, row.made);
        EXPECT_EQ(handlerCalls, 0);
        EXPECT_EQ(std::set_new_handler(before), CountingHandler) << "the handler is put back";
        faults::Reset();
    }
}

TEST(SpareRoom, AnyOtherFailurePassesOnWithTheHandlerPutBack) {
    const std::new_handler before = std::set_new_handler(CountingHandler);
    EXPECT_THROW(MakeSpareRoom([] { throw EIntOverflow("Integer overflow"); }), EIntOverflow);
    EXPECT_EQ(std::set_new_handler(before), CountingHandler);
}

// The sort of the lines waiting to be merged is made as spare room, yet a
// sort stopped partway never reaches the merge: the list is never left out
// of order, the run fails as out of memory. Lines alike in their first 19
// bytes leave their order to the system's comparison, made to stop the sort
// at each step in turn.
TEST(SpareRoom, ASortStoppedPartwayIsNeverMerged) {
    std::vector<std::string> offered;
    for (int i = 0; i < 40; ++i)
        offered.push_back("2:5020/1234=C:\\Quernpost\\BMP\\picture-" + std::to_string(i * 17 % 40 + 10) + ".bmp");
    bool whole = false;  // a merge with no comparison left to stop was reached
    int stopped = 0;
    for (std::uint64_t n = 1; n < 2000 && !whole; ++n) {
        SCOPED_TRACE("comparison " + std::to_string(n));
        faults::ThrowFromCompare(n);
        LineList list;
        list.SetSortedMode(true);
        list.AddLine("1:1/1=C:\\old.bmp");
        for (const std::string& line : offered) list.MergeLine(line);
        std::string failure;
        try {
            failure = test::FailureOf([&] { list.FinishMerges(); });
        } catch (const std::bad_alloc&) {
            failure = "bad_alloc";
        }
        faults::ThrowFromCompare(0);
        if (!failure.empty()) {
            EXPECT_TRUE(failure == "EOutOfMemory: Out of memory" || failure == "bad_alloc") << failure;
            ++stopped;
            continue;
        }
        whole = true;
        ASSERT_EQ(list.LineCount(), 41);
        for (std::int32_t i = 1; i < list.LineCount(); ++i)
            EXPECT_LT(list.LineView(i - 1), list.LineView(i)) << "merged out of order";
    }
    EXPECT_TRUE(whole) << "more comparisons than tried";
    EXPECT_GT(stopped, 40);
}

}  // namespace
}  // namespace pm
