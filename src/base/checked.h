// Checked counts and positions: text code goes through these instead of
// indexing raw, so a position outside its text raises ERangeError and a
// count that would wrap raises EIntOverflow.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace pm {

[[noreturn]] void RaiseRangeError();
[[noreturn]] void RaiseIntOverflow();

// a + b in 32-bit signed arithmetic, raising EIntOverflow instead of wrapping.
inline std::int32_t CheckedAdd(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    if (sum > std::numeric_limits<std::int32_t>::max() ||
        sum < std::numeric_limits<std::int32_t>::min())
        RaiseIntOverflow();
    return static_cast<std::int32_t>(sum);
}

// Length of a text as a 32-bit signed count.
inline std::int32_t TextLength(const std::string& text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        RaiseIntOverflow();
    return static_cast<std::int32_t>(text.size());
}

// The byte at 1-based position `pos` of `text`, as an unsigned value.
inline unsigned char CharAt(const std::string& text, std::int32_t pos) {
    if (pos < 1 || static_cast<std::size_t>(pos) > text.size()) RaiseRangeError();
    return static_cast<unsigned char>(text[static_cast<std::size_t>(pos) - 1]);
}

}  // namespace pm
