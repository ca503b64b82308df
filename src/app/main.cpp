// Pictomap.exe: no arguments, no console, no window of its own.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "app/conversion.h"
#include "app/modules.h"
#include "runtime/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::size_t count = 0;
    const pm::ModuleEntry* modules = pm::ProgramModules(count);
    pm::StartProgram(modules, count, pm::RunConversion);
}
