// Hostile and large input for the whole conversion, on the host side, in an
// optimised build without sanitizers: no crash, the right result. Time and
// peak memory are printed, not judged (a busy machine would fail a bound);
// the benchmarks (bench/) hold the goals.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <random>

#include "app/conversion.h"
#include "base/failure.h"
#include "support/failure_of.h"
#include "runtime/startup.h"
#include "support.h"
#include "hostplatform/hostplatform.h"

namespace pm {
namespace {

constexpr const char* Cfg = "CFG\\PictoCfg.cfg";
constexpr const char* Inf = "BMP\\fmmp0000.inf";

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Result {
    std::string box;
    std::string failure;
    double seconds = 0;
};

Result Convert(const test::ScratchDir& dir) {
    host::Reset();
    host::SetRegistryValue(HomeKey, HomeValue, plat::RegSz, dir.Home());
    Result result;
    const auto start = std::chrono::steady_clock::now();
    result.failure = test::FailureOf(RunConversion);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!host::ShownBoxes().empty()) result.box = host::ShownBoxes()[0].text;
    return result;
}

std::size_t CountLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class LargeInput : public ::testing::Test {
protected:
    void SetUp() override {
        dir.MakeDir("BMP");
        dir.MakeDir("CFG");
    }
    test::ScratchDir dir;
};

TEST_F(LargeInput, IndexOf200MegabytesWithAMillionRecordsPerFifth) {
    // 5 million records, one address each, 40 bytes a record.
    {
        std::ofstream index(dir.Native(Inf), std::ios::binary);
        std::string record;
        for (int i = 0; i < 5'000'000; ++i) {
            record = "pic" + std::to_string(i % 100000) + ".bmp,Sysop Name Surname," + std::to_string(1 + i % 4) + ":" +
                     std::to_string(i / 1000) + "/" + std::to_string(i % 1000) + "\r\n";
            index << record;
        }
    }
    const auto bytes = std::filesystem::file_size(dir.Native(Inf));
    ASSERT_GT(bytes, 200u * 1000 * 1000);
    const long before = PeakKiB();
    const Result result = Convert(dir);
    const long peak = PeakKiB();
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.box, TextConverted);
    EXPECT_EQ(CountLines(dir.Read(Cfg)), 5'000'000u);
    const auto written = std::filesystem::file_size(dir.Native(Cfg));
    std::printf("200 MB index: %.1f s, peak %ld MiB above %ld MiB, for %ju bytes read and %ju written\n",
                result.seconds, (peak - before) / 1024, before / 1024, static_cast<std::uintmax_t>(bytes),
                static_cast<std::uintmax_t>(written));
}

TEST_F(LargeInput, OneLineOf50Megabytes) {
    // One record whose address list is 50 MB of the same address.
    std::string line = "a.bmp,N,";
    while (line.size() < 50u * 1000 * 1000) line += "1:2/3 ";
    dir.Write(Inf, line);
    Result result = Convert(dir);
    EXPECT_EQ(result.box, TextConverted);
    EXPECT_EQ(dir.Read(Cfg), "1:2/3=" + dir.Home() + "BMP\\a.bmp\r\n");
    // And 50 MB without a single separator.
    std::filesystem::remove(dir.Native(Cfg));
    dir.Write(Inf, std::string(50u * 1000 * 1000, 'x'));
    result = Convert(dir);
    EXPECT_EQ(result.box, TextNothingFound);
}

TEST_F(LargeInput, BinaryBytesNulsAndLoneCarriageReturns) {
    std::mt19937 random(99);
    std::string bytes;
    for (int i = 0; i < 20'000'000; ++i) {
        const unsigned r = random() % 64;
        bytes += r == 0 ? '\r' : r == 1 ? '\n' : r == 2 ? ',' : r == 3 ? ' ' : static_cast<char>(1 + random() % 255);
    }
    // A record in the noise between lone CRs; a NUL ends the text at 15 MB.
    bytes.insert(1000, "\rq.gif,N,7:7/7\r");
    bytes[15'000'000] = '\0';
    bytes.insert(15'000'001, "\rz.gif,N,8:8/8\r");
    dir.Write(Inf, bytes);
    dir.Write(Cfg, "keep=1\r\n");
    const Result result = Convert(dir);
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.box, TextConverted);
    const std::string written = dir.Read(Cfg);
    EXPECT_NE(written.find("keep=1\r\n"), std::string::npos);
    EXPECT_NE(written.find("7:7/7=" + dir.Home() + "BMP\\q.gif\r\n"), std::string::npos);
    EXPECT_EQ(written.find("8:8/8="), std::string::npos) << "read past the NUL";
}

TEST_F(LargeInput, MillionRecordsIntoAMillionLines) {
    {
        std::ofstream index(dir.Native(Inf), std::ios::binary);
        std::ofstream config(dir.Native(Cfg), std::ios::binary);
        for (int i = 0; i < 1'000'000; ++i) {
            index << "p" << i << ".gif,N," << 1 + i % 4 << ":" << i % 6000 << "/" << i << "\r\n";
            config << 1 + i % 4 << ":" << i % 6000 << "/" << i << "=C:\\OLD\\P" << i << ".GIF\r\n";
        }
    }
    const Result result = Convert(dir);
    EXPECT_EQ(result.box, TextConverted);
    EXPECT_EQ(CountLines(dir.Read(Cfg)), 2'000'000u);
    std::printf("10^6 records into 10^6 lines: %.2f s\n", result.seconds);
}

}  // namespace
}  // namespace pm
