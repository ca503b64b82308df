// PictomapFaults.exe: Pictomap.exe with switches for the end-to-end tests,
// read from the environment (the program itself reads none):
//   PICTOMAP_FAIL_STARTUP=1       the network address module's start-up runs
//                                 out of memory; =access: it faults
//   PICTOMAP_FAIL_RUN=access      the run faults (=locked: holding the heap's
//                                 lock, which the report needs); =stack: it overflows its
//                                 stack; =length: the C++ runtime refuses a
//                                 vector too large; =terminate: the C++
//                                 runtime cannot go on (std::terminate)
//   PICTOMAP_HIDE=ReplaceFile[,MoveFileReplace]
//                                 the program runs as on a Windows that
//                                 lacks them (NT 4.0; 95, 98, Me)
//   PICTOMAP_FAIL_CALL=N          the N-th system call that can fail fails
//                                 (a read or write falls short)
//   PICTOMAP_CUT=N                the process ends at once (no clean-up, no
//                                 box) at its N-th cut point: before each
//                                 call that can change what is on disk, and
//                                 in the middle of each write
// The switches work through the fault layer, which is put in front of the
// system's calls before the program starts: the product code is unchanged.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "app/conversion.h"
#include "app/modules.h"
#include "runtime/startup.h"
#include "support/faults.h"

namespace {

// A switch's value from the environment, empty when it is not set. (The
// program is linked with its own small C runtime, whose getenv finds
// nothing: the program reads no environment.)
std::string Switch(const char* name) {
    char value[256];
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// The switches of the fault layer, from the environment.
void SetSwitches() {
    pm::faults::Install();
    const std::string hide = Switch("PICTOMAP_HIDE");
    for (std::size_t at = 0; at < hide.size();) {
        const std::size_t comma = std::min(hide.find(',', at), hide.size());
        pm::faults::HideSystemFunction(hide.substr(at, comma - at));
        at = comma + 1;
    }
    pm::faults::CutAt(std::strtoul(Switch("PICTOMAP_CUT").c_str(), nullptr, 10));
    pm::faults::FailCall(std::strtoul(Switch("PICTOMAP_FAIL_CALL").c_str(), nullptr, 10));
}

volatile int* volatile nowhere = nullptr;

void FailingNetAddressStartup() {
    const std::string fail = Switch("PICTOMAP_FAIL_STARTUP");
    if (fail == "1") {
        // Nearly half the address space: more than any process can have.
        void* tables = ::operator new(std::numeric_limits<std::size_t>::max() / 2 - 0xFFFF);
        ::operator delete(tables);
    }
    if (fail == "access") *nowhere = 1;
}

volatile bool deeper = true;

int Deeper(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return (deeper ? Deeper(depth + 1) : 0) + frame[0];
}

void FaultingRun() {
    const std::string fault = Switch("PICTOMAP_FAIL_RUN");
    if (fault == "access") *nowhere = 1;
    if (fault == "locked") {
        // The run faults holding the process heap's lock, which the
        // report's box needs: the report can never show it.
        ::HeapLock(::GetProcessHeap());
        *nowhere = 1;
    }
    if (fault == "stack") Deeper(0);
    if (fault == "terminate") std::terminate();
    if (fault == "length") {
        // More elements than a vector may hold: the runtime's own failure.
        volatile std::size_t count = std::vector<int>().max_size() + 1;
        std::vector<int> tooMany(count);
    }
    pm::RunConversion();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SetSwitches();
    std::size_t count = 0;
    const pm::ModuleEntry* program = pm::ProgramModules(count);
    static std::vector<pm::ModuleEntry> modules;
    modules.assign(program, program + count);
    for (pm::ModuleEntry& entry : modules)
        if (std::string(entry.name) == "NetAddress") entry.startup = FailingNetAddressStartup;
    pm::StartProgram(modules.data(), modules.size(), FaultingRun);
}
