// How many comparisons of configuration lines the order prefix leaves to the
// whole sort key (which the line list makes only then), by the prefix's
// width: the locale's sort keys of the lines in FILE (LF ended), sorted with
// a comparison that counts those where the first W bytes of the two keys
// (padded with zeros) are equal. Windows side: run under Wine or on
// Windows.
//
//   prefix_width FILE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: prefix_width FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<std::string> keys;
    for (std::string line; std::getline(in, line);) {
        const int n = ::LCMapStringA(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, line.data(),
                                     line.empty() ? -1 : static_cast<int>(line.size()), nullptr, 0);
        std::string key(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
        if (n > 0)
            ::LCMapStringA(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, line.data(),
                           line.empty() ? -1 : static_cast<int>(line.size()), &key[0], n);
        keys.push_back(key);
    }
    double bytes = 0;
    for (const std::string& key : keys) bytes += static_cast<double>(key.size());
    std::printf("%zu lines, sort keys of %.1f bytes on average\n", keys.size(), bytes / static_cast<double>(keys.size()));
    for (const std::size_t width : {std::size_t{11}, std::size_t{19}, std::size_t{27}}) {
        const auto prefix = [width](const std::string& key) {
            std::string p = key.substr(0, width);
            p.resize(width, '\0');
            return p;
        };
        unsigned long long comparisons = 0, open = 0;
        std::vector<std::size_t> order(keys.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            ++comparisons;
            if (prefix(keys[a]) == prefix(keys[b])) ++open;
            return keys[a] < keys[b];
        });
        std::printf("prefix of %zu bytes: %llu comparisons, %llu (%.1f%%) left to the whole key\n", width, comparisons,
                    open, 100.0 * static_cast<double>(open) / static_cast<double>(comparisons));
    }
    return 0;
}
