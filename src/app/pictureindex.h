// The mail program's picture index, BMP\fmmp0000.inf: one record a line,
// comma-separated fields; field 1 names the picture (relative to the picture
// folder), field 3 lists the network addresses it belongs to, separated by
// blanks. Empty fields vanish and nothing is trimmed.
#pragma once

#include <string>

#include "textutil/netaddress.h"
#include "textutil/words.h"

namespace pm {

inline constexpr const char* IndexFileName = "fmmp0000.inf";

// The extension of `path` upper-cased (a to z only): from its last full stop
// to the end, or empty when a backslash or colon comes after the last full
// stop or there is none. Aware of double-byte characters in the code page.
std::string UpperExtension(const std::string& path);

// True when the picture's extension is exactly ".BMP" or ".GIF".
bool PassesPictureFilter(const std::string& picturePath);

// Calls `emit(address, picturePath)` for every pair that one index line
// yields, in the order of the addresses in field 3.
template <class Emit>
void ForEachIndexPair(const std::string& line, const std::string& pictureFolder, Emit&& emit) {
    std::string picturePath;
    int field = 0;
    ForEachWord(line, CommaSet, [&](const std::string& text) {
        ++field;
        if (field == 1) picturePath = pictureFolder + text;
        if (field != 3 || !PassesPictureFilter(picturePath)) return;
        ForEachWord(text, BlankSet, [&](const std::string& address) {
            if (IsValidAddress(address)) emit(address, picturePath);
        });
    });
}

}  // namespace pm
