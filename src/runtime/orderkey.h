// The order of configuration lines by the locale's sort keys (which the
// platform makes): a key orders texts as CompareStringIgnoreCase does, byte
// by byte over its whole length. Its first 19 bytes, packed into an order
// prefix, settle nearly every comparison without the whole key: a locale's
// sort key takes about two bytes a character.
#pragma once

#include <cstdint>
#include <string_view>

namespace pm {

// Where two prefixes differ, they tell the order; equal prefixes tell
// nothing. A prefix that could not be made (its lowest bit 0) tells nothing.
struct OrderPrefix {
    std::uint64_t high = 0;  // bytes 1 to 8
    std::uint64_t mid = 0;   // bytes 9 to 16
    std::uint32_t low = 0;   // bytes 17 to 19, then 1 when known, 0 when not
};

// The prefix of a whole key; a shorter key is filled with zero bytes.
inline OrderPrefix PackOrderPrefix(std::string_view key) {
    OrderPrefix prefix;
    for (std::size_t i = 0; i < 19; ++i) {
        const unsigned char c = i < key.size() ? static_cast<unsigned char>(key[i]) : 0;
        if (i < 8) prefix.high = prefix.high << 8 | c;
        else if (i < 16) prefix.mid = prefix.mid << 8 | c;
        else prefix.low = prefix.low << 8 | c;
    }
    prefix.low = prefix.low << 8 | 1;
    return prefix;
}

// Two known prefixes: negative, 0 (they tell nothing) or positive.
inline int CompareOrderPrefixes(const OrderPrefix& a, const OrderPrefix& b) {
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    if (a.mid != b.mid) return a.mid < b.mid ? -1 : 1;
    if (a.low != b.low) return a.low < b.low ? -1 : 1;
    return 0;
}

// Whole keys, byte by byte over their whole length (a key may hold bytes of
// any value, 0 among them); a key that is the start of the other comes
// first. Negative, 0 or positive.
inline int CompareOrderKeys(std::string_view a, std::string_view b) {
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace pm
