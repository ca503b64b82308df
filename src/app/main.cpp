// Pictomap.exe: no arguments, no console, no window of its own.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "app/conversion.h"
#include "runtime/startup.h"

#ifdef PICTOMAP_TEST_FAULTS
// Test build only: PICTOMAP_FAIL_STARTUP=1 makes the network address
// module's start-up run out of memory, as if its tables could not be made,
// and =access makes it fault in the processor; PICTOMAP_FAIL_RUN=access or
// =stack makes the run fault in the processor, =length makes the C++
// runtime refuse a vector too large;
// PICTOMAP_HIDE names system functions to do without.
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "textutil/netaddress.h"
#include "winsys/platform.h"

namespace {

volatile int* volatile nowhere = nullptr;

void FailingNetAddressStartup() {
    const char* fail = std::getenv("PICTOMAP_FAIL_STARTUP");
    if (fail && *fail == '1') {
        void* tables = ::operator new(0x7FFF0000u);
        ::operator delete(tables);
    }
    if (fail && std::string(fail) == "access") *nowhere = 1;
    pm::NetAddressStartup();
}

volatile bool deeper = true;

int Deeper(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return (deeper ? Deeper(depth + 1) : 0) + frame[0];
}

void FaultingRun() {
    // PICTOMAP_HIDE=ReplaceFileA or =ReplaceFileA,MoveFileExA: the program
    // runs as on a Windows that lacks them (NT 4.0; 95, 98, Me).
    if (const char* hide = std::getenv("PICTOMAP_HIDE")) {
        const std::string names = hide;
        for (const char* name : {"ReplaceFileA", "MoveFileExA"})
            if (names.find(name) != std::string::npos) pm::plat::HideSystemFunction(name);
    }
    const char* fault = std::getenv("PICTOMAP_FAIL_RUN");
    if (fault && std::string(fault) == "access") *nowhere = 1;
    if (fault && std::string(fault) == "stack") Deeper(0);
    if (fault && std::string(fault) == "length") {
        // More elements than a vector may hold: the runtime's own failure.
        volatile std::size_t count = std::vector<int>().max_size() + 1;
        std::vector<int> tooMany(count);
    }
    pm::RunConversion();
}

}  // namespace
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::size_t count = 0;
    const pm::ModuleEntry* modules = pm::ProgramModules(count);
#ifdef PICTOMAP_TEST_FAULTS
    static pm::ModuleEntry testModules[16];
    for (std::size_t i = 0; i < count; ++i) {
        testModules[i] = modules[i];
        if (modules[i].startup == pm::NetAddressStartup) testModules[i].startup = FailingNetAddressStartup;
    }
    modules = testModules;
    pm::StartProgram(modules, count, FaultingRun);
#else
    pm::StartProgram(modules, count, pm::RunConversion);
#endif
}
