// The order of configuration lines by the locale's sort keys (which the
// platform makes): a key orders texts as CompareStringIgnoreCase does, byte
// by byte over its whole length. Its first 27 bytes, packed into an order
// prefix, settle nearly every comparison without the whole key, which takes
// about two bytes a character, more than the line itself. 27 bytes of a
// Windows key are 13 characters and a half: most addresses whole, so that
// lines of different addresses seldom need it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pm {

// Where two prefixes differ, they tell the order; equal prefixes tell
// nothing. A prefix that could not be made (its lowest bit 0) tells nothing.
// Words of 4 bytes, so that a line's record holding one needs no 8-byte
// alignment in the 32-bit program.
constexpr std::size_t OrderPrefixWords = 7;
constexpr std::size_t OrderPrefixBytes = OrderPrefixWords * 4 - 1;
struct OrderPrefix {
    // The key's bytes from the first, 4 a word, big-endian; the last word
    // ends in 1 when the prefix is known, 0 when not.
    std::uint32_t words[OrderPrefixWords] = {};
    bool Known() const { return (words[OrderPrefixWords - 1] & 1) != 0; }
};

// The prefix of a whole key; a shorter key is filled with zero bytes.
inline OrderPrefix PackOrderPrefix(std::string_view key) {
    OrderPrefix prefix;
    for (std::size_t i = 0; i < OrderPrefixBytes; ++i) {
        const unsigned char c = i < key.size() ? static_cast<unsigned char>(key[i]) : 0;
        prefix.words[i / 4] = prefix.words[i / 4] << 8 | c;
    }
    std::uint32_t& last = prefix.words[OrderPrefixWords - 1];
    last = last << 8 | 1;
    return prefix;
}

// Two known prefixes: negative, 0 (they tell nothing) or positive.
inline int CompareOrderPrefixes(const OrderPrefix& a, const OrderPrefix& b) {
    for (std::size_t i = 0; i < OrderPrefixWords; ++i)
        if (a.words[i] != b.words[i]) return a.words[i] < b.words[i] ? -1 : 1;
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
