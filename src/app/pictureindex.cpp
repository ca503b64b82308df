#include "app/pictureindex.h"

#include "winsys/platform.h"

namespace pm {

std::string UpperExtension(const std::string& path) {
    // Walk forward so that the second byte of a double-byte character, which
    // may look like a backslash, is never taken for a delimiter.
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c == '.' || c == '\\' || c == ':') last = i;
        if (c != 0 && i + 1 < path.size() && plat::IsDbcsLeadByte(c)) ++i;
    }
    if (last == std::string::npos || path[last] != '.') return {};
    std::string extension = path.substr(last);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return extension;
}

bool PassesPictureFilter(const std::string& picturePath) {
    const std::string extension = UpperExtension(picturePath);
    return extension == ".BMP" || extension == ".GIF";
}

}  // namespace pm
