// Splitting a text into words: maximal runs of bytes that are not in a set
// of delimiter bytes. Positions and word numbers count from 1.
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

std::int32_t CountWords(const std::string& text, const CharSet& delimiters);
// Position of the first byte of word `n`, or 0 when there is no such word.
std::int32_t WordStart(std::int32_t n, const std::string& text, const CharSet& delimiters);
// Word `n`, or the empty text when there is no such word.
std::string NthWord(std::int32_t n, const std::string& text, const CharSet& delimiters);

// Calls `visit(word)` for words 1 to CountWords(text) in order, in one pass:
// the same words NthWord gives, without rescanning the text for each one or
// copying it (each word is a view into `text`).
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
