// probe: the scripts' look at a Windows program, run by hand or by the
// example, the release check and the benchmarks (not a test):
//
//   probe run Pictomap.exe FOLDER   runs the program once in FOLDER, answers
//                                   its box, and tells what it said, the
//                                   exit code, time and peak memory; fails
//                                   unless exactly one box appeared
//   probe inspect Pictomap.exe      prints the version information, its
//                                   FILEOS, the icons and whether the
//                                   program carries a manifest
#include <cstdio>
#include <string>
#include <vector>

#include "process.h"

namespace {

// An icon group's entry, as the resource holds it (2-byte packing).
#pragma pack(push, 2)
struct IconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

BOOL CALLBACK CountGroup(HMODULE, LPCSTR, LPSTR name, LONG_PTR context) {
    auto& names = *reinterpret_cast<std::vector<std::string>*>(context);
    names.push_back(IS_INTRESOURCE(name) ? std::to_string(reinterpret_cast<ULONG_PTR>(name)) : std::string(name));
    return TRUE;
}

// The icon groups in the order of the resource table, whose first Explorer
// shows; then each image of the first, as Windows makes an icon of it.
// False when an image is not what its group entry says.
bool PrintIcons(HMODULE module) {
    std::vector<std::string> names;
    ::EnumResourceNamesA(module, MAKEINTRESOURCEA(14), CountGroup, reinterpret_cast<LONG_PTR>(&names));
    std::printf("Icon groups:");
    for (const std::string& name : names) std::printf(" %s", name.c_str());
    std::printf("\n");
    if (names.empty()) return true;
    const char* first = names[0].find_first_not_of("0123456789") == std::string::npos
                            ? MAKEINTRESOURCEA(std::stoi(names[0]))
                            : names[0].c_str();
    const HRSRC group = ::FindResourceA(module, first, MAKEINTRESOURCEA(14));
    const auto* header = static_cast<const WORD*>(::LockResource(::LoadResource(module, group)));
    if (!header || ::SizeofResource(module, group) < 6 + header[2] * sizeof(IconEntry)) return false;
    const auto* entries = reinterpret_cast<const IconEntry*>(header + 3);
    bool sound = true;
    for (WORD i = 0; i < header[2]; ++i) {
        const IconEntry& entry = entries[i];
        const unsigned size = entry.width ? entry.width : 256;
        const HRSRC image = ::FindResourceA(module, MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3));
        auto* bytes = static_cast<BYTE*>(::LockResource(::LoadResource(module, image)));
        const DWORD length = image ? ::SizeofResource(module, image) : 0;
        const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(bytes);
        const bool agrees = bytes && length == entry.bytes && length >= sizeof(BITMAPINFOHEADER) &&
                            info->biWidth == static_cast<LONG>(size) && info->biHeight == 2 * static_cast<LONG>(size) &&
                            info->biBitCount == entry.bits;
        const HICON icon = agrees ? ::CreateIconFromResourceEx(bytes, length, TRUE, 0x00030000, static_cast<int>(size),
                                                               static_cast<int>(size), 0)
                                  : nullptr;
        std::printf("Icon: %ux%u, %u bits%s\n", size, size, entry.bits,
                    !agrees ? ": the image differs from its entry" : icon ? "" : ": Windows makes no icon of it");
        if (icon) ::DestroyIcon(icon);
        sound = sound && icon;
    }
    return sound;
}

const char* NameOfFileOS(DWORD os) {
    switch (os) {
        case VOS__WINDOWS32: return "VOS__WINDOWS32";
        case VOS_NT_WINDOWS32: return "VOS_NT_WINDOWS32";
        case VOS_NT: return "VOS_NT";
        default: return "other";
    }
}

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
    const bool icons = PrintIcons(module);
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
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed)
        std::printf("FileOS: %s (0x%08lx)\n", NameOfFileOS(fixed->dwFileOS), static_cast<unsigned long>(fixed->dwFileOS));
    return icons ? 0 : 1;
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
