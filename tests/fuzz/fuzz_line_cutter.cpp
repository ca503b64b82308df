// Fuzz target: reading a text file into lines and writing it back. The
// lines must be those of a plain reading of the rules (CR, LF, CR LF end a
// line, NUL ends the text); writing them and reading again gives the same
// lines, and the bytes written are each line followed by CR LF.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/linelist.h"
#include "fuzz_support.h"
#include "support/files.h"

static std::vector<std::string> Reference(const std::string& bytes) {
    std::vector<std::string> lines;
    const std::string text = bytes.substr(0, bytes.find('\0'));
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", i);
        lines.push_back(text.substr(i, end == std::string::npos ? std::string::npos : end - i));
        if (end == std::string::npos) break;
        i = end;
        if (text[i] == '\r') ++i;
        if (i < text.size() && text[i] == '\n') ++i;
    }
    return lines;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Ready();
    // In the scratch folder the run gives (TMPDIR; scripts/fuzz removes it).
    static const std::string stem =
        std::filesystem::temp_directory_path() / ("pictomap-fuzz-" + std::to_string(::getpid()));
    static const std::string in = stem + ".in", out = stem + ".out";
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(in, std::ios::binary | std::ios::trunc) << bytes;

    pm::LineList list;
    pm::test::ReadLines(list, in);
    const std::vector<std::string> lines = fuzz::Lines(list);
    if (lines != Reference(bytes)) std::abort();
    pm::test::WriteLines(list, out);
    std::ifstream written(out, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>()};
    std::string expected;
    for (const std::string& line : lines) expected += line + "\r\n";
    if (text != expected) std::abort();
    pm::LineList again;
    pm::test::ReadLines(again, out);
    if (fuzz::Lines(again) != lines) std::abort();
    return 0;
}
