// Saving a text file in place of the old one without losing it: the new
// text is written beside the file and then takes its place; where that
// cannot be done, the file is rewritten in place, made long enough for the
// new text before any old byte is overwritten. The save fails only where
// the file itself may not be written (EFCreateError: missing folder,
// read-only, in use, access denied) or the text does not fit (EWriteError);
// the old file then keeps its bytes. The file keeps its attributes.
#pragma once

#include <cstddef>
#include <string>

namespace pm {

// The ways a save can take, tried in this order until one has placed the
// text (for tests and measurements).
enum class SaveRoad {
    Replace,  // a temporary file beside the file replaces it (ReplaceFileA;
              // MoveFileExA where that is missing)
    InPlace,  // the file itself is rewritten (also where MoveFileExA is not
              // implemented: 95, 98, Me)
};

// Saves `length` bytes of `text` as the file at `path`; gives the road that
// placed them.
SaveRoad SaveTextFile(const std::string& path, const char* text, std::size_t length);

// The temporary file's name for try `n` (from 0): the path with the last
// three characters of its file name replaced by "~" and two digits, so it is
// never longer than the path itself. Empty when the name is too short or
// `n` is past the last try.
std::string TemporaryName(const std::string& path, unsigned n);

}  // namespace pm
