// Fuzz target: one index line to its pairs. The one-pass walk must give
// exactly the pairs of the plain reading (split at every comma and blank,
// empty pieces dropped), and every pair must hold: the path starts with the picture
// folder and passes the picture filter, the address is valid and has no
// blank or comma.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/pictureindex.h"
#include "fuzz_support.h"

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The words of `text` by the plain reading: split at every delimiter, drop
// the empty pieces.
static std::vector<std::string> Words(const std::string& text, char delimiter) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(delimiter, start);
        const std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!piece.empty()) words.push_back(piece);
        if (end == std::string::npos) return words;
        start = end + 1;
    }
}

// The extension as the filter sees it with no lead bytes: from the last
// full stop, unless a backslash or colon follows it.
static bool PassesPlainFilter(const std::string& path) {
    const std::size_t last = path.find_last_of(".\\:");
    if (last == std::string::npos || path[last] != '.' || path.size() - last != 4) return false;
    std::string extension = path.substr(last);
    for (char& c : extension) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return extension == ".BMP" || extension == ".GIF";
}

static Pairs Reference(const std::string& line, const std::string& folder) {
    Pairs pairs;
    const std::vector<std::string> fields = Words(line, ',');
    if (fields.size() < 3) return pairs;
    const std::string path = folder + fields[0];
    if (!PassesPlainFilter(path)) return pairs;
    for (const std::string& address : Words(fields[2], ' '))
        if (pm::IsValidAddress(address)) pairs.emplace_back(address, path);
    return pairs;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Ready();
    const std::string line(reinterpret_cast<const char*>(data), size);
    const std::string folder = "C:\\Mail\\BMP\\";
    Pairs pairs;
    pm::IndexReader(folder).ForEachPair(line, [&](const std::string& a, const std::string& p) { pairs.emplace_back(a, p); });
    if (pairs != Reference(line, folder)) std::abort();
    for (const auto& [address, path] : pairs) {
        if (path.compare(0, folder.size(), folder) != 0 || !pm::PassesPictureFilter(path)) std::abort();
        if (!pm::IsValidAddress(address) || address.find_first_of(" ,") != std::string::npos) std::abort();
    }
    return 0;
}
