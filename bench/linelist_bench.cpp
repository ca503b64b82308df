// Measures the configuration merge on generated data of realistic shape.
//
//   linelist_bench gen DIR N M   writes DIR/fmmp0000.inf (N records),
//                                DIR/PictoCfg.cfg (M lines) and DIR/lines.txt
//                                (the lines the merge sees, for sort)
//   linelist_bench run DIR       load, prepare, merge and save, timed
//   linelist_bench convert HOME  the whole conversion run over a home folder
//                                (BMP\fmmp0000.inf, CFG\PictoCfg.cfg), timed
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "app/conversion.h"
#include "app/pictureconfig.h"
#include "app/pictureindex.h"
#include "runtime/linelist.h"
#include "runtime/startup.h"
#include "hostplatform/hostplatform.h"

namespace {

std::string Address(std::mt19937& random) {
    std::string a = std::to_string(1 + random() % 4) + ":" + std::to_string(100 + random() % 6000) + "/" +
                    std::to_string(1 + random() % 9999);
    if (random() % 3 == 0) a += "." + std::to_string(1 + random() % 50);
    return a;
}

std::string Picture(std::mt19937& random) {
    static const char* names[] = {"sysop", "ivan", "anna", "kai", "logo", "cat", "station", "node"};
    std::string p = std::string(names[random() % 8]) + std::to_string(random() % 100000) +
                    (random() % 2 ? ".bmp" : ".gif");
    if (random() % 10 == 0)
        for (char& c : p) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return p;
}

int Generate(const std::string& dir, long records, long lines) {
    std::mt19937 random(12345);
    const std::string folder = "C:\\Quernpost\\BMP\\";
    pm::IndexReader reader(folder);
    std::ofstream index(dir + "/fmmp0000.inf", std::ios::binary);
    std::ofstream config(dir + "/PictoCfg.cfg", std::ios::binary);
    std::ofstream all(dir + "/lines.txt", std::ios::binary);
    std::vector<std::string> written;
    for (long i = 0; i < lines; ++i) {
        // Some lines repeat, some differ from another only in letter case.
        std::string line;
        if (!written.empty() && random() % 20 == 0) {
            line = written[random() % written.size()];
            if (random() % 2)
                for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            line = Address(random) + "=" + folder + Picture(random);
        }
        if (written.size() < 100000) written.push_back(line);
        config << line << "\r\n";
        all << line << "\n";
    }
    for (long i = 0; i < records; ++i) {
        std::string picture = Picture(random);
        std::string addresses = Address(random);
        // Some records name addresses already configured for the same picture.
        if (!written.empty() && random() % 10 == 0) {
            const std::string& line = written[random() % written.size()];
            addresses = line.substr(0, line.find('='));
            picture = line.substr(line.rfind('\\') + 1);
        }
        index << picture << ",Sysop " << i << "," << addresses << "\r\n";
        reader.ForEachPair(picture + ",x," + addresses, [&](const std::string& a, const std::string& p) {
            all << a << "=" << p << "\n";
        });
    }
    return 0;
}

long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int RunMerge(const std::string& dir) {
    const long baseline = MaxRssKiB();
    const auto start = std::chrono::steady_clock::now();
    pm::LineList index;
    pm::LineList configuration;
    pm::Patience patience;
    configuration.ReadLines(dir + "/PictoCfg.cfg", patience);
    const long n = configuration.LineCount();
    pm::PrepareConfiguration(configuration);
    index.ReadLines(dir + "/fmmp0000.inf", patience);
    long offered = 0;
    pm::IndexReader reader("C:\\Quernpost\\BMP\\");
    pm::PairMerger merge(configuration);
    configuration.ExpectMerges(static_cast<std::size_t>(index.LineCount()));
    for (std::int32_t i = 0, count = index.LineCount(); i < count; ++i) {
        reader.ForEachPair(index.LineView(i), [&](const std::string& a, const std::string& p) {
            merge(a, p);
            ++offered;
        });
    }
    configuration.FinishMerges();
    const long total = configuration.LineCount();
    const double merged = Seconds(start);
    const std::string text = configuration.ComposeText();
    pm::SaveTextFile(dir + "/PictoCfg.out", text.data(), text.size(), patience);
    const double seconds = Seconds(start);
    std::printf("lines loaded %ld, pairs offered %ld, lines written %ld\n", n, offered, total);
    std::printf("time %.3f s (save %.3f s)\n", seconds, seconds - merged);
    std::printf("peak memory %ld KiB above a baseline of %ld KiB\n", MaxRssKiB() - baseline, baseline);
    return 0;
}

int Convert(const std::string& home) {
    pm::host::Reset();
    pm::host::SetRegistryValue(pm::HomeKey, pm::HomeValue, pm::plat::RegSz, home + "\\");
    const long baseline = MaxRssKiB();
    const auto start = std::chrono::steady_clock::now();
    pm::RunConversion();
    const double seconds = Seconds(start);
    std::printf("box: %s\n", pm::host::ShownBoxes().empty() ? "" : pm::host::ShownBoxes()[0].text.c_str());
    std::printf("time %.3f s, peak memory %ld KiB above %ld KiB\n", seconds, MaxRssKiB() - baseline, baseline);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    pm::FailureSupportStartup();
    if (argc == 5 && std::string(argv[1]) == "gen") return Generate(argv[2], std::atol(argv[3]), std::atol(argv[4]));
    if (argc == 3 && std::string(argv[1]) == "run") return RunMerge(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "convert") return Convert(argv[2]);
    std::fprintf(stderr, "usage: linelist_bench gen DIR N M | run DIR | convert HOME\n");
    return 2;
}
