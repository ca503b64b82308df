#include "app/pictureindex.h"

#include "winsys/platform.h"

namespace pm {

namespace {

// Where the extension of `path` starts (its last full stop), or npos.
// Walks forward so that the second byte of a double-byte character, which
// may look like a backslash, is never taken for a delimiter.
std::size_t ExtensionStart(std::string_view path, const CharSet& leadBytes) {
    std::size_t last = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c == '.' || c == '\\' || c == ':') last = i;
        if (c != 0 && i + 1 < path.size() && leadBytes.Contains(c)) ++i;
    }
    return last != std::string_view::npos && path[last] == '.' ? last : std::string_view::npos;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

CharSet SystemLeadBytes() {
    CharSet leadBytes{};
    for (unsigned value = 0; value < 256; ++value)
        if (plat::IsDbcsLeadByte(static_cast<unsigned char>(value))) leadBytes.Add(static_cast<unsigned char>(value));
    return leadBytes;
}

bool PassesPictureFilter(std::string_view picturePath, const CharSet& leadBytes) {
    const std::size_t start = ExtensionStart(picturePath, leadBytes);
    if (start == std::string_view::npos || picturePath.size() - start != 4) return false;
    char extension[4];
    for (std::size_t i = 0; i < 4; ++i) extension[i] = Upper(picturePath[start + i]);
    const std::string_view upper(extension, 4);
    return upper == ".BMP" || upper == ".GIF";
}

}  // namespace pm
