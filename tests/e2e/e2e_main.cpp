// The end-to-end tests' program:
//
//   e2e_tests Pictomap.exe PictomapFaults.exe [--full-disk DRIVE] [--relay-log FILE] [--stride N]
//             [GoogleTest flags]
//
// --full-disk names a drive of a few KiB for the disk-full cases (skipped
// without it). --stride N makes the long sweeps (a cut at every moment of
// a save, every failing call) try every N-th step only, where each run is
// slow (an emulated PC). Under Wine, --relay-log names the file that receives the
// tests' (and so the programs') standard error: Wine's relay trace of
// MessageBoxA and the privilege functions, where each box's exact style and
// the privilege steps are read.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harness.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string relayLog;
    // The options, each with what it sets: the usage line is made from the
    // same table, so it names every option there is.
    const struct {
        const char* name;
        const char* value;
        void (*set)(std::string& relayLog, const char* value);
    } options[] = {
        {"--full-disk", "DRIVE", [](std::string&, const char* v) { e2e::settings.fullDisk = v; }},
        {"--relay-log", "FILE", [](std::string& log, const char* v) { log = v; }},
        {"--stride", "N", [](std::string&, const char* v) { e2e::settings.stride = std::max(1, std::atoi(v)); }},
    };
    if (argc < 3) {
        std::printf("usage: e2e_tests Pictomap.exe PictomapFaults.exe");
        for (const auto& option : options) std::printf(" [%s %s]", option.name, option.value);
        std::printf("\n");
        return 2;
    }
    char full[MAX_PATH];
    ::GetFullPathNameA(argv[1], MAX_PATH, full, nullptr);
    e2e::settings.program = full;
    ::GetFullPathNameA(argv[2], MAX_PATH, full, nullptr);
    e2e::settings.faultProgram = full;
    for (int i = 3; i + 1 < argc; i += 2)
        for (const auto& option : options)
            if (std::strcmp(argv[i], option.name) == 0) option.set(relayLog, argv[i + 1]);
    if (!relayLog.empty()) {
        e2e::TraceFunctions(
            "MessageBoxA;GetVersionExA;OpenProcessToken;LookupPrivilegeValueA;AdjustTokenPrivileges;CloseHandle");
        ::SetEnvironmentVariableA("WINEDEBUG", "+relay");
        e2e::SetRelayLog(relayLog);
    }
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    e2e::settings.scratch = e2e::Join(std::string(temp).substr(0, std::strlen(temp) - 1),
                                      "pictomap-e2e-" + std::to_string(::GetCurrentProcessId()));
    ::CreateDirectoryA(e2e::settings.scratch.c_str(), nullptr);

    const int result = RUN_ALL_TESTS();

    e2e::RemoveTree(e2e::settings.scratch);
    e2e::DeleteKey();
    return result;
}
