#include "runtime/linelist.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "runtime/failure.h"
#include "runtime/startup.h"
#include "winsys/handles.h"
#include "winsys/platform.h"

namespace pm {
namespace {

constexpr std::uint32_t Nil = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t ChunkSize = 64 * 1024;
constexpr std::uint64_t MaxFileSize = 0x7FFFFFFF;

// The index the list's own binary search (lo := 0, hi := count - 1, middle
// first, stopping at the first equal entry) gives for a line, when `less`
// entries compare less than it and the next `equal` ones compare equal.
// Every comparison in that search depends only on where the middle falls
// against those two bounds, so the search is replayed on the numbers alone.
std::int32_t ReplaySearch(std::int64_t less, std::int64_t equal, std::int64_t count) {
    std::int64_t lo = 0, hi = count - 1;
    while (lo <= hi) {
        const std::int64_t mid = (lo + hi) / 2;
        if (mid < less) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (mid < less + equal) return static_cast<std::int32_t>(mid);
        }
    }
    return static_cast<std::int32_t>(lo);
}

// The number of lines in a NUL-ended text, by the cutting rules below.
std::size_t CountLines(const char* p) {
    std::size_t count = 0;
    while (*p != '\0') {
        while (*p != '\0' && *p != '\n' && *p != '\r') ++p;
        ++count;
        if (*p == '\r') ++p;
        if (*p == '\n') ++p;
    }
    return count;
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

LineList::LineList() : root_(Nil) {}
LineList::~LineList() = default;

LineList::Line LineList::Refer(const char* data, std::size_t length) {
    Line line{};
    line.data = data;
    line.length = static_cast<std::uint32_t>(length);
    return line;
}

const char* LineList::FullKey([[maybe_unused]] const Line& line) {
#if UINTPTR_MAX == 0xFFFFFFFFu
    return line.fullKey;
#else
    return nullptr;
#endif
}

// Order prefixes are made only for lines that take part in sorting: a list
// that is only read line by line never pays for them.
LineList::Line LineList::WithKey(Line line) {
    if (!(line.keyLow & 1)) {
        scratchKey_.clear();
        const plat::OrderPrefix key = plat::MakeOrderPrefix(line.data, line.length, &scratchKey_);
        line.key = key.high;
        line.keyLow = key.low;
#if UINTPTR_MAX == 0xFFFFFFFFu
        line.fullKey = nullptr;
        if (!scratchKey_.empty() && key.Known()) {
            if (scratchKey_.back() != '\0') scratchKey_.push_back('\0');
            line.fullKey = Store(scratchKey_).data;
        }
#endif
    }
    return line;
}

void LineList::EnsureKeys() {
    for (Line& line : lines_) line = WithKey(line);
}

int LineList::Compare(const Line& a, const Line& b) {
    ++comparisons_;
    if ((a.keyLow & b.keyLow & 1) != 0) {
        if (a.key != b.key) return a.key < b.key ? -1 : 1;
        if (a.keyLow != b.keyLow) return a.keyLow < b.keyLow ? -1 : 1;
        const char* fullA = FullKey(a);
        const char* fullB = FullKey(b);
        if (fullA && fullB) {
            const int c = std::strcmp(fullA, fullB);
            return c < 0 ? -1 : c > 0 ? 1 : 0;
        }
    }
    return CompareLines(a.View(), b.View());
}

LineList::Line LineList::Store(std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) Raise<EIntOverflow>("Integer overflow");
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
    lines_.clear();
    DropSearchTables();
    pending_.clear();
    pendingLines_.clear();
    merged_.clear();
    root_ = Nil;
    chunks_.clear();
    chunkFree_ = nullptr;
    chunkLeft_ = 0;
}

std::int32_t LineList::LineCount() {
    FoldMerged();
    return static_cast<std::int32_t>(lines_.size() + pending_.size());
}

std::string LineList::LineAt(std::int32_t index) {
    if (index < 0 || index >= LineCount()) {
        Raise<EStringListError>("List index out of bounds (" + std::to_string(index) + ")");
    }
    Fold();
    return std::string(lines_[static_cast<std::size_t>(index)].View());
}

// ---- Sorting ----

void LineList::SortLines() {
    if (sorted_ || lines_.size() < 2) return;
    DropSearchTables();
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

void LineList::SetSortedMode(bool sorted) {
    if (sorted == sorted_) return;
    if (sorted) {
        SortLines();
        EnsureKeys();
        sorted_ = true;
    } else {
        Fold();
        sorted_ = false;
    }
}

// ---- Adding ----

std::int32_t LineList::AddLine(std::string_view line) {
    if (sorted_) return AddSorted(WithKey(Refer(line.data(), line.size())), false);
    if (lines_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        Raise<EIntOverflow>("Integer overflow");
    Grow(lines_);
    lines_.push_back(Store(line));
    return static_cast<std::int32_t>(lines_.size() - 1);
}

// In sorted mode the list is the sorted `lines_` with the pending lines
// woven in; they are folded together only when the list is read or
// written, so each addition costs a binary search and a treap insertion
// instead of moving the tail of the list.
// `stored`: the line's bytes already belong to the list and need no copy.
std::int32_t LineList::AddSorted(const Line& line, bool stored) {
    const std::int64_t count = LineCount();  // folds lines given to MergeLine
    if (count >= std::numeric_limits<std::int32_t>::max()) Raise<EIntOverflow>("Integer overflow");

    // Lines of `lines_` below the new one; the last entry compared at or
    // above it is the one at `lo`, so its comparison tells equality.
    EnsureSearchTables();
    std::size_t lo = 0, hi = lines_.size();
    int atLo = 1;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        // The packed keys settle most steps without touching the line.
        const int c = keys_[mid] != line.key && (lines_[mid].keyLow & line.keyLow & 1) != 0
                          ? (++comparisons_, keys_[mid] < line.key ? -1 : 1)
                          : Compare(lines_[mid], line);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
            atLo = c;
        }
    }
    const auto gap = static_cast<std::uint32_t>(lo);
    if (lo < lines_.size() && atLo == 0) {
        return ReplaySearch(lo + PendingAtMostGap(gap), runEnd_[lo] - lo, count);
    }

    // Among the pending lines: ordered by gap first, so only those of the
    // same gap are compared.
    path_.clear();
    std::uint32_t rank = 0;
    for (std::uint32_t t = root_; t != Nil;) {
        const Pending& node = pending_[t];
        const int c = node.gap != gap ? (node.gap < gap ? -1 : 1) : Compare(pendingLines_[t], line);
        const std::uint32_t leftSize = node.left == Nil ? 0 : pending_[node.left].size;
        if (c == 0) return ReplaySearch(lo + rank + leftSize, 1, count);
        path_.push_back(c < 0);
        if (c < 0) {
            rank += leftSize + 1;
            t = node.right;
        } else {
            t = node.left;
        }
    }
    if (policy_ == DuplicatePolicy::Ignore) {
        Line kept = line;
        if (!stored) kept.data = Store(line.View()).data;
        pendingLines_.push_back(kept);
        pending_.push_back({gap, Nil, Nil, 1, NextPriority()});
        root_ = InsertPending(root_, 0, static_cast<std::uint32_t>(pending_.size() - 1));
    }
    return static_cast<std::int32_t>(lo + rank);
}

std::uint32_t LineList::NextPriority() {
    seed_ ^= seed_ << 13;
    seed_ ^= seed_ >> 17;
    seed_ ^= seed_ << 5;
    return seed_;
}

std::uint32_t LineList::PendingAtMostGap(std::uint32_t gap) const {
    std::uint32_t count = 0;
    for (std::uint32_t t = root_; t != Nil;) {
        const Pending& node = pending_[t];
        if (node.gap <= gap) {
            count += (node.left == Nil ? 0 : pending_[node.left].size) + 1;
            t = node.right;
        } else {
            t = node.left;
        }
    }
    return count;
}

// Inserts `node` along the directions recorded by the search (true: right),
// rotating it up while its priority beats its parent's.
std::uint32_t LineList::InsertPending(std::uint32_t tree, std::size_t depth, std::uint32_t node) {
    if (tree == Nil) return node;
    const auto size = [this](std::uint32_t t) { return t == Nil ? 0u : pending_[t].size; };
    const auto update = [&](std::uint32_t t) {
        pending_[t].size = size(pending_[t].left) + size(pending_[t].right) + 1;
    };
    const bool right = path_[depth];
    const std::uint32_t child =
        InsertPending(right ? pending_[tree].right : pending_[tree].left, depth + 1, node);
    (right ? pending_[tree].right : pending_[tree].left) = child;
    if (pending_[child].priority <= pending_[tree].priority) {
        update(tree);
        return tree;
    }
    if (right) {
        pending_[tree].right = pending_[child].left;
        pending_[child].left = tree;
    } else {
        pending_[tree].left = pending_[child].right;
        pending_[child].right = tree;
    }
    update(tree);
    update(child);
    return child;
}

// The search tables follow the order of `lines_`; whatever reorders or
// rebuilds it drops them, and the next sorted addition makes them anew.
void LineList::DropSearchTables() {
    runEnd_.clear();
    keys_.clear();
}

void LineList::EnsureSearchTables() {
    if (runEnd_.size() == lines_.size() && keys_.size() == lines_.size()) return;
    keys_.resize(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) keys_[i] = lines_[i].key;
    runEnd_.assign(lines_.size(), 0);
    std::size_t end = lines_.size();
    for (std::size_t i = lines_.size(); i-- > 0;) {
        if (i + 1 < lines_.size() && Compare(lines_[i], lines_[i + 1]) != 0) end = i + 1;
        runEnd_[i] = static_cast<std::uint32_t>(end);
    }
}

void LineList::MergeLine(std::string_view line) {
    if (!sorted_) {
        AddLine(line);
        return;
    }
    if (lines_.size() + pending_.size() + merged_.size() >=
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        Raise<EIntOverflow>("Integer overflow");
    // A line identical, byte for byte, to the one merged just before would
    // be dropped as its equal; runs of repeats cost nothing.
    if (!merged_.empty() && merged_.back().View() == line) return;
    Grow(merged_);
    merged_.push_back(WithKey(Store(line)));
}

// One AddLine after another inserts a line unless an equal one is present:
// of each group of equal new lines only the first added goes in, and only
// if no line of the list equals it. So: sort the new lines stably (the first
// added leads its group), then merge them with the list in one pass,
// dropping a new line equal to a line of the list or to the new line just
// taken. Every comparison of the pass moves on in one of the two.
void LineList::FoldMerged() {
    if (merged_.empty()) return;
    FoldPending();
    std::stable_sort(merged_.begin(), merged_.end(),
                     [this](const Line& a, const Line& b) { return Compare(a, b) < 0; });
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
    DropSearchTables();
}

void LineList::Fold() {
    FoldPending();
    FoldMerged();
}

void LineList::FoldPending() {
    if (pending_.empty()) return;
    std::vector<Line> merged;
    Reserve(merged, lines_.size() + pending_.size());
    std::vector<std::uint32_t> stack;
    std::size_t next = 0;
    std::uint32_t t = root_;
    while (t != Nil || !stack.empty()) {
        while (t != Nil) {
            stack.push_back(t);
            t = pending_[t].left;
        }
        t = stack.back();
        stack.pop_back();
        while (next < pending_[t].gap) merged.push_back(lines_[next++]);
        merged.push_back(pendingLines_[t]);
        t = pending_[t].right;
    }
    while (next < lines_.size()) merged.push_back(lines_[next++]);
    lines_.swap(merged);
    std::vector<Pending>().swap(pending_);
    std::vector<Line>().swap(pendingLines_);
    root_ = Nil;
    DropSearchTables();
}

// ---- Files ----

void LineList::ReadLines(const std::string& path) {
    UniqueFile file(plat::CreateFile(path, plat::GenericRead, plat::FileShareRead, plat::OpenExisting));
    if (!file.Valid()) Raise<EFOpenError>(FormatText("Cannot open file %s", path));

    std::uint64_t size = 0;
    if (!plat::FileSize(file.Get(), size) || size > MaxFileSize) Raise<EReadError>("Stream read error");
    auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(size) + 1);
    std::uint32_t done = 0;
    if (size > 0 && (!plat::ReadFile(file.Get(), buffer.get(), static_cast<std::uint32_t>(size), done) ||
                     done != size))
        Raise<EReadError>("Stream read error");
    buffer[static_cast<std::size_t>(size)] = '\0';
    file.Reset();

    const bool sorted = sorted_;
    Clear();
    const char* p = buffer.get();
    std::vector<Line> lines;
    Reserve(lines, CountLines(p));
    while (*p != '\0') {
        const char* start = p;
        while (*p != '\0' && *p != '\n' && *p != '\r') ++p;
        lines.push_back(Refer(start, static_cast<std::size_t>(p - start)));
        if (*p == '\r') ++p;
        if (*p == '\n') ++p;
    }
    // The lines stay where they were read; the buffer becomes storage.
    chunks_.push_back(std::move(buffer));
    if (sorted) {
        for (const Line& line : lines) AddSorted(WithKey(line), true);
    } else {
        lines_.swap(lines);
    }
}

void LineList::WriteLines(const std::string& path) {
    Fold();
    std::uint64_t total = 0;
    for (const Line& line : lines_) total += line.length + 2u;
    if (total > MaxFileSize) Raise<EWriteError>("Stream write error");
    auto text = std::make_unique<char[]>(static_cast<std::size_t>(total) + 1);
    char* out = text.get();
    for (const Line& line : lines_) {
        if (line.length) std::memcpy(out, line.data, line.length);
        out += line.length;
        *out++ = '\r';
        *out++ = '\n';
    }

    // The file must be one we may replace: refuse it exactly where creating
    // it over the old one would be refused (read-only, in use, denied).
    bool existed = false;
    {
        UniqueFile probe(plat::CreateFile(path, plat::GenericRead | plat::GenericWrite, 0, plat::OpenExisting));
        if (probe.Valid()) existed = true;
        else if (plat::LastError() != plat::ErrorFileNotFound)
            Raise<EFCreateError>(FormatText("Cannot create file %s", path));
    }

    std::string temporary;
    UniqueFile file;
    for (unsigned n = 0; n < 100 && !file.Valid(); ++n) {
        temporary = path + "." + std::to_string(n) + ".tmp";
        *file.Put() = plat::CreateFile(temporary, plat::GenericWrite, 0, plat::CreateNew);
        if (!file.Valid() && plat::LastError() != plat::ErrorFileExists) break;
    }
    if (!file.Valid()) Raise<EFCreateError>(FormatText("Cannot create file %s", path));

    // Until it has replaced the old file, the temporary file is removed on
    // every way out.
    struct RemoveOnFailure {
        const std::string& name;
        UniqueFile& file;
        bool keep = false;
        ~RemoveOnFailure() {
            if (keep) return;
            file.Reset();
            plat::DeleteFile(name);
        }
    } guard{temporary, file};

    std::uint32_t done = 0;
    if (total > 0 && (!plat::WriteFile(file.Get(), text.get(), static_cast<std::uint32_t>(total), done) ||
                      done != total))
        Raise<EWriteError>("Stream write error");
    if (!plat::FlushFileBuffers(file.Get())) Raise<EWriteError>("Stream write error");
    file.Reset();

    bool placed = existed && plat::ReplaceFile(path, temporary);
    if (!placed && (!existed || plat::LastError() == plat::ErrorFileNotFound))
        placed = plat::MoveFileReplace(temporary, path);
    if (!placed) Raise<EFCreateError>(FormatText("Cannot create file %s", path));
    guard.keep = true;
}

}  // namespace pm
