// Room the program can do without: where memory runs out it is not made,
// and nothing is raised, not through the new handler either (which would
// hand the failure to a debugger).
#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <vector>

#include "base/failure.h"
#include "base/runtimeerror.h"
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

}  // namespace
}  // namespace pm
