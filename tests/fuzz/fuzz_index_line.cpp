// Fuzz target: one index line to its pairs. The one-pass walk must give
// exactly the pairs of the plain word-by-word reading (CountWords and
// NthWord), and every pair must hold: the path starts with the picture
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

static Pairs Reference(const std::string& line, const std::string& folder) {
    Pairs pairs;
    std::string path;
    const std::int32_t n = pm::CountWords(line, pm::CommaSet);
    for (std::int32_t k = 1; k <= n; ++k) {
        const std::string field = pm::NthWord(k, line, pm::CommaSet);
        if (k == 1) path = folder + field;
        if (k != 3) continue;
        const std::string extension = pm::UpperExtension(path);
        if (extension != ".BMP" && extension != ".GIF") continue;
        const std::int32_t m = pm::CountWords(field, pm::BlankSet);
        for (std::int32_t j = 1; j <= m; ++j) {
            const std::string address = pm::NthWord(j, field, pm::BlankSet);
            if (pm::IsValidAddress(address)) pairs.emplace_back(address, path);
        }
    }
    return pairs;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Ready();
    const std::string line(reinterpret_cast<const char*>(data), size);
    const std::string folder = "C:\\Mail\\BMP\\";
    Pairs pairs;
    pm::ForEachIndexPair(line, folder, [&](const std::string& a, const std::string& p) { pairs.emplace_back(a, p); });
    if (pairs != Reference(line, folder)) std::abort();
    for (const auto& [address, path] : pairs) {
        if (path.compare(0, folder.size(), folder) != 0 || !pm::PassesPictureFilter(path)) std::abort();
        if (!pm::IsValidAddress(address) || address.find_first_of(" ,") != std::string::npos) std::abort();
    }
    return 0;
}
