#include "runtime/textset.h"

#include <cstring>
#include <limits>

#include "base/runtimeerror.h"

namespace pm {

// Four bytes a step, each mixed in by a rotation and a multiplication, then
// the length and a final scramble, so that the low bits the table uses
// depend on every byte.
std::uint32_t TextSet::Hash(std::string_view text) {
    const auto mix = [](std::uint32_t hash, std::uint32_t word) {
        return ((hash << 5 | hash >> 27) ^ word) * 0x9E3779B9u;
    };
    std::uint32_t hash = 0;
    std::size_t i = 0;
    for (; i + 4 <= text.size(); i += 4) {
        std::uint32_t word;
        std::memcpy(&word, text.data() + i, 4);
        hash = mix(hash, word);
    }
    std::uint32_t tail = 0;
    if (i < text.size()) std::memcpy(&tail, text.data() + i, text.size() - i);
    hash = mix(mix(hash, tail), static_cast<std::uint32_t>(text.size()));
    hash ^= hash >> 16;
    hash *= 0x85EBCA6Bu;
    hash ^= hash >> 13;
    hash *= 0xC2B2AE35u;
    return hash ^ (hash >> 16);
}

const TextSet::Slot* TextSet::Find(std::string_view text, std::uint32_t hash) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.data == nullptr) return nullptr;
        if (slot.hash == hash && slot.length == text.size() &&
            (text.empty() || std::memcmp(slot.data, text.data(), text.size()) == 0))
            return &slot;
    }
}

bool TextSet::Contains(std::string_view text) const {
    return text.size() <= std::numeric_limits<std::uint32_t>::max() && Find(text, Hash(text)) != nullptr;
}

void TextSet::Place(const Slot& slot) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = slot.hash & mask;
    while (slots_[i].data != nullptr) i = (i + 1) & mask;
    slots_[i] = slot;
}

// A new table of `slotCount` slots holding what the old one held; where its
// memory cannot be had, the old table stays as it was.
bool TextSet::Rebuild(std::size_t slotCount) {
    std::vector<Slot> old;
    if (!MakeSpareRoom([&] { std::vector<Slot>(slotCount, Slot{nullptr, 0, 0}).swap(old); })) return false;
    slots_.swap(old);
    for (const Slot& slot : old)
        if (slot.data != nullptr) Place(slot);
    return true;
}

void TextSet::Expect(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / 8 - count_) return;
    const std::size_t wanted = (count_ + count) * 4 / 3 + 1;
    std::size_t slotCount = slots_.empty() ? 16 : slots_.size();
    while (slotCount < wanted) slotCount *= 2;
    if (slotCount != slots_.size()) Rebuild(slotCount);
}

void TextSet::Insert(std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) return;
    const std::uint32_t hash = Hash(text);
    if (Find(text, hash) != nullptr) return;
    if ((count_ + 1) * 4 > slots_.size() * 3) {
        if (count_ > std::numeric_limits<std::size_t>::max() / 8 ||
            !Rebuild(slots_.empty() ? 16 : slots_.size() * 2))
            return;
    }
    // A text's place is never null, even an empty one's: null marks a free slot.
    Place(Slot{text.empty() ? "" : text.data(), static_cast<std::uint32_t>(text.size()), hash});
    ++count_;
}

void TextSet::Clear() {
    std::vector<Slot>().swap(slots_);
    count_ = 0;
}

}  // namespace pm
