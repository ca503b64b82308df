// An ordered list of text lines with an unsorted and a sorted mode, read
// from and written to text files. Lines are compared ignoring letter case in
// the user's locale. Files are bytes in the ANSI code page: CR, LF and CR LF
// end a line on input, a NUL byte ends the text; every line written ends in
// CR LF.
//
// Memory, a line at a time (the 32-bit program; a 64-bit build's two
// pointers add 8 bytes):
// - a record of 40 bytes: where the text is (4), its length (4), the order
//   prefix (28, orderkey.h) and where its whole sort key is (4). The whole
//   key, about two bytes a character, is made and kept only for a line
//   whose prefix tied with another's: a few in a hundred.
// - the text: a file's lines stay in the bytes read, CR LF and all; a line
//   added is copied into chunks of 64 KiB (a long one gets its own).
// - while lines wait to be merged: their records, a set of the lines
//   present (12 bytes a slot, at most 3/4 of the slots taken), and then,
//   for the merge itself, the stable sort's buffer of up to one record a
//   waiting line and the merged list's records beside the two it is made
//   from. Vectors grow by a quarter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/orderkey.h"
#include "runtime/patience.h"
#include "runtime/textset.h"

namespace pm {

// Case-insensitive comparison of two lines: negative, 0 or positive.
int CompareLines(std::string_view a, std::string_view b);

class LineList {
public:
    LineList();
    ~LineList();
    LineList(const LineList&) = delete;
    LineList& operator=(const LineList&) = delete;

    // Replaces the contents with the lines of the file at `path`. An open
    // refused for a moment (a scanner holding the file) is tried again
    // within the run's patience.
    void ReadLines(const std::string& path, Patience& patience);
    // The text of a file of every line, each followed by CR LF; what a
    // file of the list is written as.
    std::string ComposeText() const;

    void SortLines();
    void SetSortedMode(bool sorted);

    // Unsorted mode: appends and gives the old count. Sorted mode: inserts
    // at the line's place and gives its index, or, when an equal line is
    // present, changes nothing and gives the index of the equal line met.
    std::int32_t AddLine(std::string_view line);
    // Adds the line as AddLine does, without telling where. In sorted mode
    // the lines so added wait, and are merged in together, in one pass, by
    // FinishMerges (or the next change of the list): the list then holds
    // exactly what one AddLine after another would have left.
    void MergeLine(std::string_view line);
    // Merges in the lines waiting: it may allocate, and so raise. Counting,
    // reading and composing the list (LineCount, LineView, ComposeText)
    // come after it; while lines wait they raise EStringListError.
    void FinishMerges();
    // Makes room at once for `count` lines about to be given to MergeLine,
    // so that the waiting lines are not copied over and over as they come.
    // Only a hint: where that room cannot be had, or is not needed, nothing
    // changes, and room not used is given back before the lines are merged.
    void ExpectMerges(std::size_t count);
    // Sorts `other`, then adds here each of its lines as often as `other`
    // holds it beyond the lines here equal to it (as the sorted list
    // compares: letter case aside), so that a repeat is kept and a case
    // variant is not added. This list is switched to sorted mode first; the
    // lines it holds keep their order, each added line goes behind the
    // lines equal to it. Gives how many were added.
    std::int32_t SortAndAddMissingLinesOf(LineList& other);
    std::int32_t LineCount() const;
    // The line at `index`, without a copy, valid until the list is next
    // changed; an index outside the list raises EStringListError.
    std::string_view LineView(std::int32_t index) const;

private:
    // The same fields on every platform (40 bytes in the 32-bit program,
    // 48 in a 64-bit build), so that the native tests run the record the
    // program uses.
    struct Line {
        const char* data;
        // The order prefix (orderkey.h), which settles nearly every
        // comparison; not known until it is made.
        OrderPrefix key;
        std::uint32_t length;
        // The whole sort key, stored behind its length (4 bytes), made the
        // first time the line's prefix ties with another's; null until then.
        mutable const char* wholeKey;
        std::string_view View() const { return {data, length}; }
    };
    static Line Refer(const char* data, std::size_t length);
    std::string_view WholeKey(const Line& line);
    Line WithKey(Line line);
    void EnsureKeys();
    int Compare(const Line& a, const Line& b);
    Line Store(std::string_view text);
    void Clear();
    void Quicksort(std::ptrdiff_t left, std::ptrdiff_t right);
    std::int32_t AddSorted(const Line& line);
    void CheckNoneWaiting() const;
    void ForgetKnownLines();

    std::vector<Line> lines_;
    std::vector<Line> merged_;  // lines given to MergeLine, not yet in
    // While lines wait to be merged: the bytes of the lines present, so
    // that a line given again costs no sort key.
    TextSet known_;
    bool knownHoldsList_ = false;
    std::vector<std::unique_ptr<char[]>> chunks_;
    char* chunkFree_ = nullptr;
    std::size_t chunkLeft_ = 0;
    bool sorted_ = false;
    std::string scratchKey_;
};

}  // namespace pm
