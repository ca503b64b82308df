// Fuzz target: the whole conversion over a generated home on the host side.
// The input gives the HomeDir value's form, the index and the configuration
// (separated by 0xFF bytes). Whatever the input: one box or one failure; a
// written configuration is sorted and holds every line it held before, and a
// second run over it gives the same lines; any other ending leaves it byte
// for byte as it was; no temporary file stays.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "app/conversion.h"
#include "base/failure.h"
#include "runtime/linelist.h"
#include "fuzz_support.h"
#include "support/files.h"
#include "hostplatform/hostplatform.h"

namespace fs = std::filesystem;

static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

static std::vector<std::string> Cut(const std::string& bytes) {
    pm::LineList list;
    static const std::string scratch = fs::temp_directory_path() / ("pictomap-fuzz-cut-" + std::to_string(::getpid()));
    std::ofstream(scratch, std::ios::binary | std::ios::trunc) << bytes;
    pm::test::ReadLines(list, scratch);
    return fuzz::Lines(list);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Ready();
    static const fs::path home = fs::temp_directory_path() / ("pictomap-fuzz-home-" + std::to_string(::getpid()));
    if (size == 0) return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = input.find('\xFF');
    const std::string index = input.substr(0, split);
    const bool hasConfiguration = split != std::string::npos;
    const std::string configuration = hasConfiguration ? input.substr(split + 1) : "";

    fs::remove_all(home);
    fs::create_directories(home / "BMP");
    if (data[0] & 1) fs::create_directories(home / "CFG");
    std::ofstream(home / "BMP" / "fmmp0000.inf", std::ios::binary) << index;
    if (hasConfiguration && (data[0] & 1)) std::ofstream(home / "CFG" / "PictoCfg.cfg", std::ios::binary) << configuration;
    const fs::path cfg = home / "CFG" / "PictoCfg.cfg";
    const bool existed = fs::exists(cfg);
    const std::string before = existed ? Read(cfg) : "";

    pm::host::Reset();
    const std::uint32_t types[] = {pm::plat::RegSz, pm::plat::RegExpandSz, pm::plat::RegDword, pm::plat::RegMultiSz};
    pm::host::SetRegistryValue(pm::HomeKey, pm::HomeValue, types[(data[0] >> 1) & 3], home.string() + "\\");
    bool failed = false;
    try {
        pm::RunConversion();
    } catch (const pm::Exception&) {
        failed = true;
    }
    const auto& boxes = pm::host::ShownBoxes();
    if (failed ? !boxes.empty() : boxes.size() != 1) std::abort();
    if (pm::host::OpenFiles() != 0) std::abort();
    const bool converted = !failed && boxes[0].text == pm::TextConverted;
    if (!converted) {
        if (fs::exists(cfg) != existed || (existed && Read(cfg) != before)) std::abort();
    } else {
        const std::vector<std::string> lines = Cut(Read(cfg));
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (pm::CompareLines(lines[i - 1], lines[i]) > 0) std::abort();
        std::map<std::string, int> count;
        for (const std::string& line : lines) ++count[line];
        for (const std::string& line : Cut(before))
            if (--count[line] < 0) std::abort();
        // Run again over its own result: every line offered is there now,
        // so the same lines come out, none added and none lost.
        pm::host::Reset();
        pm::host::SetRegistryValue(pm::HomeKey, pm::HomeValue, types[(data[0] >> 1) & 3], home.string() + "\\");
        pm::RunConversion();
        std::vector<std::string> again = Cut(Read(cfg)), first = lines;
        std::sort(again.begin(), again.end());
        std::sort(first.begin(), first.end());
        if (again != first) std::abort();
    }
    if (fs::exists(home / "CFG"))
        for (const auto& entry : fs::directory_iterator(home / "CFG"))
            if (entry.path().filename() != "PictoCfg.cfg") std::abort();
    return 0;
}
