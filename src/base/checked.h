// Checked counts: a count that would no longer fit the 32-bit signed
// numbers the lists give out raises EIntOverflow instead of wrapping.
#pragma once

#include <cstdint>
#include <limits>
#include <cstddef>

namespace pm {

[[noreturn]] void RaiseIntOverflow();

// Raises EIntOverflow unless `count` still fits a 32-bit signed count.
inline void CheckFitsInt32(std::size_t count) {
    if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) RaiseIntOverflow();
}

}  // namespace pm
