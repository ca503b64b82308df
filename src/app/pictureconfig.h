// The picture configuration, CFG\PictoCfg.cfg: one "Address=PicturePath"
// line per entry, kept in case-insensitive order without repeated lines
// being added. Existing lines are never removed, rewritten or validated.
#pragma once

#include <string>
#include <string_view>

#include "runtime/filesave.h"
#include "runtime/linelist.h"

namespace pm {

inline constexpr const char* ConfigurationFileName = "CFG\\PictoCfg.cfg";

// Loads the existing file's lines as they are, in file order.
void LoadConfiguration(LineList& configuration, const std::string& path);
// Sorts the lines and switches the list to sorted mode, repeats ignored.
void PrepareConfiguration(LineList& configuration);
// Adds the line Address=Path at its place unless an equal line is present
// (merged in with the others when the list is next counted or written). It
// keeps its line buffer from one pair to the next.
class PairMerger {
public:
    explicit PairMerger(LineList& configuration) : configuration_(configuration) {}
    void operator()(std::string_view address, std::string_view picturePath);

private:
    LineList& configuration_;
    std::string line_;
};
// Writes every line, CR LF ended, in place of the file, with the run's
// patience for refused calls.
void SaveConfiguration(LineList& configuration, const std::string& path, Patience& patience);

}  // namespace pm
