#include "runtime/linelist.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/checked.h"
#include "base/failure.h"
#include "base/runtimeerror.h"
#include "winsys/handles.h"
#include "winsys/platform.h"

namespace pm {
namespace {

constexpr std::size_t ChunkSize = 64 * 1024;
constexpr std::uint64_t MaxFileSize = 0x7FFFFFFF;

// Calls `take(start, length)` for each line of the NUL-ended text: a line
// is the longest run without NUL, LF or CR; one CR, then one LF, end it; a
// NUL ends the text.
template <class Take>
void ForEachLine(const char* p, Take take) {
    while (*p != '\0') {
        const char* start = p;
        while (*p != '\0' && *p != '\n' && *p != '\r') ++p;
        take(start, static_cast<std::size_t>(p - start));
        if (*p == '\r') ++p;
        if (*p == '\n') ++p;
    }
}

// Room for `count` entries; more than the address space can hold is memory
// exhausted, like any allocation that fails.
template <class T>
PM_NOINLINE void Reserve(std::vector<T>& entries, std::size_t count) {
    if (count > entries.max_size()) RaiseRuntimeError(RuntimeOutOfMemory, PM_RETURN_ADDRESS());
    entries.reserve(count);
}

// Makes room for one more entry: by 4 slots while the capacity is at most 8,
// by 16 while it is at most 64, then by a quarter, so that a long list
// carries little unused room.
template <class T>
void Grow(std::vector<T>& entries) {
    const std::size_t capacity = entries.capacity();
    if (entries.size() < capacity) return;
    Reserve(entries, capacity + (capacity <= 8 ? 4 : capacity <= 64 ? 16 : capacity / 4));
}

}  // namespace

// An empty line is passed as an empty text, never as a null pointer, which
// the system would refuse.
int CompareLines(std::string_view a, std::string_view b) {
    return plat::CompareStringIgnoreCase(a.empty() ? "" : a.data(), static_cast<std::int32_t>(a.size()),
                                         b.empty() ? "" : b.data(), static_cast<std::int32_t>(b.size())) - 2;
}

LineList::LineList() = default;
LineList::~LineList() = default;

LineList::Line LineList::Refer(const char* data, std::size_t length) {
    static_assert(sizeof(void*) != 4 || sizeof(Line) == 40, "the record stays small in the program");
    Line line{};
    line.data = data;
    line.length = static_cast<std::uint32_t>(length);
    return line;
}

// Order prefixes are made only for lines that take part in sorting: a list
// that is only read line by line never pays for them.
LineList::Line LineList::WithKey(Line line) {
    if (!line.key.Known() && plat::MakeSortKey(line.data, line.length, scratchKey_))
        line.key = PackOrderPrefix(scratchKey_);
    return line;
}

void LineList::EnsureKeys() {
    for (Line& line : lines_) line = WithKey(line);
}

// Made the first time it is needed, and kept with the line; empty where the
// platform makes none.
std::string_view LineList::WholeKey(const Line& line) {
    if (line.wholeKey == nullptr) {
        if (!plat::MakeSortKey(line.data, line.length, scratchKey_) || scratchKey_.empty()) return {};
        // Stored behind its length: a key may hold bytes of any value.
        const auto length = static_cast<std::uint32_t>(scratchKey_.size());
        scratchKey_.insert(0, reinterpret_cast<const char*>(&length), sizeof length);
        line.wholeKey = Store(scratchKey_).data;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, line.wholeKey, sizeof length);
    return {line.wholeKey + sizeof length, length};
}

// The prefixes settle nearly every comparison. A line equals itself, and any
// line of the very same bytes (the sort meets its pivot so, a repeat comes
// so). Where the prefixes tie, the whole keys settle it, made then; the
// system, where there are none.
int LineList::Compare(const Line& a, const Line& b) {
    if (a.key.Known() && b.key.Known()) {
        if (const int byPrefix = CompareOrderPrefixes(a.key, b.key)) return byPrefix;
        if (a.View() == b.View()) return 0;
        const std::string_view wholeA = WholeKey(a), wholeB = WholeKey(b);
        if (!wholeA.empty() && !wholeB.empty()) return CompareOrderKeys(wholeA, wholeB);
    }
    return CompareLines(a.View(), b.View());
}

LineList::Line LineList::Store(std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) RaiseIntOverflow();
    if (text.size() > chunkLeft_) {
        const std::size_t size = text.size() > ChunkSize / 4 ? text.size() : ChunkSize;
        chunks_.push_back(std::make_unique<char[]>(size));
        if (size == ChunkSize) {
            chunkFree_ = chunks_.back().get();
            chunkLeft_ = ChunkSize;
        } else {
            // A long line gets a chunk of its own; the current chunk stays open.
            std::memcpy(chunks_.back().get(), text.data(), text.size());
            return Refer(chunks_.back().get(), text.size());
        }
    }
    if (!text.empty()) std::memcpy(chunkFree_, text.data(), text.size());
    const Line line = Refer(chunkFree_, text.size());
    chunkFree_ += text.size();
    chunkLeft_ -= text.size();
    return line;
}

void LineList::Clear() {
    ForgetKnownLines();
    lines_.clear();
    merged_.clear();
    chunks_.clear();
    chunkFree_ = nullptr;
    chunkLeft_ = 0;
}

// Counting, reading and writing come after FinishMerges: lines still
// waiting are a fault of the caller, told rather than left out.
void LineList::CheckNoneWaiting() const {
    if (!merged_.empty()) Raise<EStringListError>("Lines wait to be merged");
}

std::int32_t LineList::LineCount() const {
    CheckNoneWaiting();
    return static_cast<std::int32_t>(lines_.size());
}

std::string_view LineList::LineView(std::int32_t index) const {
    if (index < 0 || index >= LineCount()) {
        Raise<EStringListError>("List index out of bounds (" + std::to_string(index) + ")");
    }
    return lines_[static_cast<std::size_t>(index)].View();
}

// ---- Sorting ----

void LineList::SortLines() {
    if (sorted_ || lines_.size() < 2) return;
    EnsureKeys();
    Quicksort(0, static_cast<std::ptrdiff_t>(lines_.size()) - 1);
}

// The list's quicksort: middle entry as pivot, the pivot's index following
// it through exchanges. The two parts left after a partition are disjoint,
// so sorting the smaller one first (by recursion) and the larger one by the
// loop gives the same arrangement with a recursion depth of O(log n).
void LineList::Quicksort(std::ptrdiff_t left, std::ptrdiff_t right) {
    for (;;) {
        std::ptrdiff_t i = left, j = right, p = (left + right) / 2;
        do {
            // The bounds never stop a scan while comparisons are consistent
            // (the pivot stops it first); they keep a failed comparison,
            // which counts as "less", from running off the range.
            while (i < right && Compare(lines_[i], lines_[p]) < 0) ++i;
            while (j > left && Compare(lines_[j], lines_[p]) > 0) --j;
            if (i <= j) {
                std::swap(lines_[i], lines_[j]);
                if (p == i) p = j;
                else if (p == j) p = i;
                ++i;
                --j;
            }
        } while (i <= j);
        const bool leftPart = left < j, rightPart = i < right;
        if (j - left < right - i) {
            if (leftPart) Quicksort(left, j);
            if (!rightPart) return;
            left = i;
        } else {
            if (rightPart) Quicksort(i, right);
            if (!leftPart) return;
            right = j;
        }
    }
}

std::int32_t LineList::SortAndAddMissingLinesOf(LineList& other) {
    SetSortedMode(true);
    FinishMerges();
    other.SortLines();
    other.EnsureKeys();
    // One pass over both: the lines here are taken over in their order,
    // and behind each run of lines equal to a line of `other` go the
    // copies of it that `other` holds beyond that run.
    std::vector<Line> result;
    Reserve(result, lines_.size() + other.lines_.size());
    const std::size_t count = lines_.size(), otherCount = other.lines_.size();
    std::size_t i = 0, added = 0;
    for (std::size_t j = 0; j < otherCount;) {
        const Line& line = other.lines_[j];
        while (i < count && Compare(lines_[i], line) < 0) result.push_back(lines_[i++]);
        std::size_t here = 0, there = 1;
        for (; i < count && Compare(lines_[i], line) == 0; ++here) result.push_back(lines_[i++]);
        while (j + there < otherCount && Compare(other.lines_[j + there], line) == 0) ++there;
        for (std::size_t k = here; k < there; ++k, ++added) result.push_back(WithKey(Store(other.lines_[j + k].View())));
        j += there;
    }
    CheckFitsInt32(count + added);
    result.insert(result.end(), lines_.begin() + static_cast<std::ptrdiff_t>(i), lines_.end());
    lines_.swap(result);
    // Whole keys this pass made for the other list's lines are in this
    // list's storage: the other list forgets them.
    for (const Line& line : other.lines_) line.wholeKey = nullptr;
    return static_cast<std::int32_t>(added);
}

void LineList::SetSortedMode(bool sorted) {
    if (sorted == sorted_) return;
    if (sorted) {
        SortLines();
        EnsureKeys();
        sorted_ = true;
    } else {
        FinishMerges();
        sorted_ = false;
    }
}

// ---- Adding ----

std::int32_t LineList::AddLine(std::string_view line) {
    if (sorted_) return AddSorted(WithKey(Refer(line.data(), line.size())));
    CheckFitsInt32(lines_.size() + 1);
    Grow(lines_);
    lines_.push_back(Store(line));
    return static_cast<std::int32_t>(lines_.size() - 1);
}

// The list's binary search: the middle entry first, the list's entry as the
// first operand, stopping at the first equal entry met. A line equal to one
// present is not added; any other goes in front of the first entry above it.
std::int32_t LineList::AddSorted(const Line& line) {
    FinishMerges();
    CheckFitsInt32(lines_.size() + 1);
    std::ptrdiff_t lo = 0, hi = static_cast<std::ptrdiff_t>(lines_.size()) - 1;
    while (lo <= hi) {
        const std::ptrdiff_t mid = (lo + hi) / 2;
        const int c = Compare(lines_[static_cast<std::size_t>(mid)], line);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) return static_cast<std::int32_t>(mid);
        }
    }
    Line kept = line;
    kept.data = Store(line.View()).data;
    Grow(lines_);
    lines_.insert(lines_.begin() + lo, kept);
    return static_cast<std::int32_t>(lo);
}

void LineList::MergeLine(std::string_view line) {
    if (!sorted_) {
        AddLine(line);
        return;
    }
    CheckFitsInt32(lines_.size() + merged_.size() + 1);
    // A line with the very bytes of one present, or of the one given just
    // before, would be dropped as its equal: it costs no sort key and no
    // storage. (A program run again on the same index gives nothing but
    // lines already present.)
    if (!knownHoldsList_) {
        known_.Expect(lines_.size());
        for (const Line& present : lines_) known_.Insert(present.View());
        knownHoldsList_ = true;
    }
    if (known_.Contains(line) || (!merged_.empty() && merged_.back().View() == line)) return;
    Grow(merged_);
    merged_.push_back(WithKey(Store(line)));
}

// The table points into the list's storage and is rebuilt when lines next
// wait to be merged; a list only read line by line never has one to free.
void LineList::ForgetKnownLines() {
    if (!knownHoldsList_) return;
    known_.Clear();
    knownHoldsList_ = false;
}

void LineList::ExpectMerges(std::size_t count) {
    if (!sorted_ || count <= merged_.capacity() - merged_.size() || count > merged_.max_size() - merged_.size())
        return;
    MakeSpareRoom([&] { merged_.reserve(merged_.size() + count); });
}

// One AddLine after another inserts a line unless an equal one is present:
// of each group of equal new lines only the first added goes in, and only
// if no line of the list equals it. So: sort the new lines stably (the first
// added leads its group), then merge them with the list in one pass,
// dropping a new line equal to a line of the list or to the new line just
// taken. Every comparison of the pass moves on in one of the two.
void LineList::FinishMerges() {
    ForgetKnownLines();
    if (merged_.empty()) return;
    // Room expected but left unused (lines that gave nothing to merge) goes
    // back first, so that the merge holds no more than growing would have.
    // Giving it back is itself only a hint: it fails quietly.
    if (merged_.capacity() - merged_.size() > merged_.size() / 4 + 16) MakeSpareRoom([&] { merged_.shrink_to_fit(); });
    // The sort's scratch buffer is spare room too: without it the sort
    // works in place, more slowly. A sort stopped partway by anything else
    // leaves the lines in no order: they are never merged so, memory has
    // run out.
    if (!MakeSpareRoom([&] {
            std::stable_sort(merged_.begin(), merged_.end(),
                             [this](const Line& a, const Line& b) { return Compare(a, b) < 0; });
        }))
        RaiseRuntimeError(RuntimeOutOfMemory, PM_RETURN_ADDRESS());
    std::vector<Line> result;
    Reserve(result, lines_.size() + merged_.size());
    std::size_t i = 0, j = 0;
    while (j < merged_.size()) {
        if (i < lines_.size()) {
            const int c = Compare(lines_[i], merged_[j]);
            if (c < 0) {
                result.push_back(lines_[i++]);
                continue;
            }
            if (c == 0) {
                ++j;
                continue;
            }
        }
        const std::size_t taken = j++;
        result.push_back(merged_[taken]);
        while (j < merged_.size() && Compare(merged_[taken], merged_[j]) == 0) ++j;
    }
    result.insert(result.end(), lines_.begin() + static_cast<std::ptrdiff_t>(i), lines_.end());
    lines_.swap(result);
    std::vector<Line>().swap(merged_);
}

// ---- Files ----

void LineList::ReadLines(const std::string& path, Patience& patience) {
    UniqueFile file;
    if (!Retried(patience, [&] {
            *file.Put() = plat::CreateFile(path, plat::GenericRead, plat::FileShareRead, plat::OpenExisting);
            return file.Valid();
        }))
        RaiseCannotOpen(path);

    std::uint64_t size = 0;
    if (!plat::BytesToEnd(file.Get(), size) || size > MaxFileSize) Raise<EReadError>("Stream read error");
    auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(size) + 1);
    std::uint32_t done = 0;
    if (size > 0 && (!plat::ReadFile(file.Get(), buffer.get(), static_cast<std::uint32_t>(size), done) ||
                     done != size))
        Raise<EReadError>("Stream read error");
    buffer[static_cast<std::size_t>(size)] = '\0';
    file.Reset();

    const bool sorted = sorted_;
    Clear();
    std::size_t count = 0;
    ForEachLine(buffer.get(), [&](const char*, std::size_t) { ++count; });
    std::vector<Line> lines;
    Reserve(lines, count);
    ForEachLine(buffer.get(), [&](const char* start, std::size_t length) { lines.push_back(Refer(start, length)); });
    // The lines stay where they were read; the buffer becomes storage.
    chunks_.push_back(std::move(buffer));
    if (sorted) {
        // One addition after another, as MergeLine folds them in.
        Reserve(merged_, lines.size());
        for (const Line& line : lines) merged_.push_back(WithKey(line));
        FinishMerges();
    } else {
        lines_.swap(lines);
    }
}

std::string LineList::ComposeText() const {
    CheckNoneWaiting();
    std::uint64_t total = 0;
    for (const Line& line : lines_) total += line.length + 2u;
    if (total > MaxFileSize) Raise<EWriteError>("Stream write error");
    std::string text;
    text.reserve(static_cast<std::size_t>(total));
    for (const Line& line : lines_) {
        if (line.length) text.append(line.data, line.length);
        text.append("\r\n", 2);
    }
    return text;
}

}  // namespace pm
