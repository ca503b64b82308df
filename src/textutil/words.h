// Splitting a text into words: maximal runs of bytes that are not in a set
// of delimiter bytes. Empty fields vanish and nothing is trimmed.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pm {

// A set of byte values, one bit per value.
class CharSet {
public:
    constexpr CharSet(std::initializer_list<unsigned char> members) {
        for (unsigned char c : members) Add(c);
    }
    constexpr void Add(unsigned char c) { bits_[c >> 5] |= 1u << (c & 31); }
    constexpr bool Contains(unsigned char c) const { return (bits_[c >> 5] >> (c & 31)) & 1u; }

private:
    std::array<std::uint32_t, 8> bits_{};
};

inline constexpr CharSet CommaSet{','};
inline constexpr CharSet BlankSet{' '};

// Calls `visit(word)` for each word of `text` in order, in one pass; each
// word is a view into `text`.
template <class Visit>
void ForEachWord(std::string_view text, const CharSet& delimiters, Visit&& visit) {
    const std::size_t length = text.size();
    std::size_t i = 0;
    while (i < length) {
        while (i < length && delimiters.Contains(static_cast<unsigned char>(text[i]))) ++i;
        const std::size_t start = i;
        while (i < length && !delimiters.Contains(static_cast<unsigned char>(text[i]))) ++i;
        if (i > start) visit(text.substr(start, i - start));
    }
}

}  // namespace pm
