// Pictomap.exe: no arguments, no console, no window of its own.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "app/conversion.h"
#include "runtime/startup.h"

#ifdef PICTOMAP_TEST_FAULTS
// Test build only: PICTOMAP_FAIL_STARTUP=1 makes the network address
// module's start-up run out of memory, as if its tables could not be made.
#include <cstdlib>
#include <new>

#include "textutil/netaddress.h"

namespace {

void FailingNetAddressStartup() {
    const char* fail = std::getenv("PICTOMAP_FAIL_STARTUP");
    if (fail && *fail == '1') {
        void* tables = ::operator new(0x7FFF0000u);
        ::operator delete(tables);
    }
    pm::NetAddressStartup();
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
#endif
    pm::StartProgram(modules, count, pm::RunConversion);
}
