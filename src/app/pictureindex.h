// The mail program's picture index, BMP\fmmp0000.inf: one record a line,
// comma-separated fields; field 1 names the picture (relative to the picture
// folder), field 3 lists the network addresses it belongs to, separated by
// blanks. Empty fields vanish and nothing is trimmed.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "textutil/netaddress.h"
#include "textutil/words.h"

namespace pm {

inline constexpr const char* IndexFileName = "fmmp0000.inf";

// The lead bytes of the system's double-byte characters (IsDBCSLeadByte in
// the ANSI code page), asked about each byte value: made once, then looked
// up in the set.
CharSet SystemLeadBytes();

// True when the picture's extension, upper-cased (a to z only), is exactly
// ".BMP" or ".GIF". The extension runs from the path's last full stop to its
// end; there is none when a backslash or colon comes after the last full
// stop. Aware of double-byte characters in the code page.
bool PassesPictureFilter(std::string_view picturePath, const CharSet& leadBytes = SystemLeadBytes());

// Reads index lines into pairs of (address, picture path). It asks the
// system for the code page's lead bytes once and keeps its buffers from one
// line to the next, so that reading a line allocates nothing once the
// buffers have grown to the longest path and address.
class IndexReader {
public:
    explicit IndexReader(std::string pictureFolder) : folder_(std::move(pictureFolder)) {}

    // Calls `emit(address, picturePath)` for every pair that one index line
    // yields, in the order of the addresses in field 3. Both are this
    // reader's buffers, valid during the call.
    template <class Emit>
    void ForEachPair(std::string_view line, Emit&& emit) {
        int field = 0;
        ForEachWord(line, CommaSet, [&](std::string_view text) {
            ++field;
            if (field == 1) path_.assign(folder_).append(text);
            if (field != 3 || !PassesPictureFilter(path_, leadBytes_)) return;
            ForEachWord(text, BlankSet, [&](std::string_view address) {
                address_.assign(address);
                if (IsValidAddress(address_)) emit(static_cast<const std::string&>(address_),
                                                   static_cast<const std::string&>(path_));
            });
        });
    }

private:
    std::string folder_;
    CharSet leadBytes_ = SystemLeadBytes();
    std::string path_;
    std::string address_;
};

}  // namespace pm
