// probe: the scripts' look at a Windows program, run by hand or by the
// example, the release check and the benchmarks (not a test):
//
//   probe run Pictomap.exe FOLDER   runs the program once in FOLDER, answers
//                                   its box, and tells what it said, the
//                                   exit code, time and peak memory; fails
//                                   unless exactly one box appeared
//   probe inspect Pictomap.exe      prints the version information and
//                                   whether the program carries a manifest
#include <cstdio>
#include <string>

#include "process.h"

namespace {

int RunOnce(const char* exe, const char* folder) {
    char full[MAX_PATH];
    ::GetFullPathNameA(exe, MAX_PATH, full, nullptr);
    const e2e::Run run = e2e::RunProgram(full, folder);
    if (!run.problem.empty()) std::printf("FAILED: %s\n", run.problem.c_str());
    for (const e2e::Box& box : run.boxes) std::printf("Message box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
    std::printf("Exit code: %lu\n", run.exitCode);
    std::printf("Time: %lu ms, peak memory: %lu KiB\n", run.milliseconds,
                static_cast<unsigned long>(run.peakBytes / 1024));
    // The program always ends after exactly one box: a run that showed
    // none (no display, a box that returned at once) did not work.
    if (run.boxes.size() != 1) {
        std::printf("FAILED: the program showed %u message boxes, expected one\n",
                    static_cast<unsigned>(run.boxes.size()));
        return 1;
    }
    return run.problem.empty() ? 0 : 1;
}

int Inspect(const char* exe) {
    const HMODULE module = ::LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        std::printf("cannot load %s\n", exe);
        return 1;
    }
    const bool manifest = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) != nullptr ||
                          ::FindResourceA(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24)) != nullptr;
    ::FreeLibrary(module);
    std::printf("Manifest: %s\n", manifest ? "yes" : "no");
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(exe, &ignored);
    std::string data(size, '\0');
    if (size == 0 || !::GetFileVersionInfoA(exe, 0, size, &data[0])) {
        std::printf("Version information: none\n");
        return 1;
    }
    for (const char* name : {"ProductName", "ProductVersion", "FileVersion", "FileDescription", "OriginalFilename",
                             "LegalCopyright"}) {
        char* value = nullptr;
        UINT length = 0;
        const std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
        if (::VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value)
            std::printf("%s: %s\n", name, value);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "run" && argc == 4) return RunOnce(argv[2], argv[3]);
    if (verb == "inspect" && argc == 3) return Inspect(argv[2]);
    std::printf("usage: probe run PROGRAM FOLDER\n       probe inspect PROGRAM\n");
    return 2;
}
