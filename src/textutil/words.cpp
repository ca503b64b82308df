#include "textutil/words.h"

#include "base/checked.h"

namespace pm {
namespace {

// Advances `i` over bytes whose membership in `delimiters` equals `inSet`.
std::int32_t Skip(const std::string& text, std::int32_t i, std::int32_t length,
                  const CharSet& delimiters, bool inSet) {
    while (i <= length && delimiters.Contains(CharAt(text, i)) == inSet) i = CheckedAdd(i, 1);
    return i;
}

}  // namespace

std::int32_t CountWords(const std::string& text, const CharSet& delimiters) {
    const std::int32_t length = TextLength(text);
    std::int32_t count = 0;
    std::int32_t i = 1;
    while (i <= length) {
        i = Skip(text, i, length, delimiters, true);
        if (i <= length) count = CheckedAdd(count, 1);
        i = Skip(text, i, length, delimiters, false);
    }
    return count;
}

std::int32_t WordStart(std::int32_t n, const std::string& text, const CharSet& delimiters) {
    const std::int32_t length = TextLength(text);
    std::int32_t count = 0;
    std::int32_t i = 1;
    while (i <= length && count != n) {
        i = Skip(text, i, length, delimiters, true);
        if (i <= length) count = CheckedAdd(count, 1);
        if (count == n) return i;
        i = Skip(text, i, length, delimiters, false);
    }
    return 0;
}

std::string NthWord(std::int32_t n, const std::string& text, const CharSet& delimiters) {
    const std::int32_t start = WordStart(n, text, delimiters);
    if (start == 0) return {};
    const std::int32_t end = Skip(text, start, TextLength(text), delimiters, false);
    return text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(end - start));
}

}  // namespace pm
