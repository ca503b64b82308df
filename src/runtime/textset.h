// A set of texts held elsewhere, by their bytes: it keeps where each text
// is, not a copy, so the texts must stay in place while the set knows them.
// It answers one question quickly: was a text with the very same bytes put
// in? It never answers yes wrongly; a text it cannot take (longer than 4 GiB,
// or no memory for a bigger table) is left out, and the answer for it is no.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pm {

class TextSet {
public:
    bool Contains(std::string_view text) const;
    // Puts `text` in unless a text with the same bytes is there already.
    void Insert(std::string_view text);
    // Makes room for `count` more texts at once (a hint, as for Insert).
    void Expect(std::size_t count);
    void Clear();

private:
    struct Slot {
        const char* data;  // null while the slot is free
        std::uint32_t length;
        std::uint32_t hash;
    };
    static std::uint32_t Hash(std::string_view text);
    const Slot* Find(std::string_view text, std::uint32_t hash) const;
    bool Rebuild(std::size_t slotCount);
    void Place(const Slot& slot);

    std::vector<Slot> slots_;  // a power of two of them, at most 3/4 taken
    std::size_t count_ = 0;
};

}  // namespace pm
