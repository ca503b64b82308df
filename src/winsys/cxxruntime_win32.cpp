// What the C++ runtime needs from Windows beyond the platform layer, for a
// program that loads on every 32-bit Windows and reports the runtime's own
// failures where they arose.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

#include "winsys/cxxruntime_win32.h"

// The C++ runtime's throws pass through here (the program is linked with
// --wrap=__cxa_throw): the address after the call that threw is kept, so
// that a failure the runtime raised (std::length_error) is reported where
// it arose.
#if defined(PICTOMAP_WRAP_CXA_THROW)
namespace {
std::uintptr_t lastThrowAddress = 0;
}  // namespace

extern "C" {
[[noreturn]] void __real___cxa_throw(void* object, void* type, void (*destroy)(void*));
[[noreturn]] __attribute__((noinline)) void __wrap___cxa_throw(void* object, void* type, void (*destroy)(void*)) {
    lastThrowAddress = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    __real___cxa_throw(object, type, destroy);
}
}

std::uintptr_t pm::win32::LastThrowAddress() { return lastThrowAddress; }
#else
std::uintptr_t pm::win32::LastThrowAddress() { return 0; }
#endif
