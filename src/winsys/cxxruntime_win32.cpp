// What the C++ runtime needs from Windows beyond the platform layer, for a
// program that loads on every 32-bit Windows and reports the runtime's own
// failures where they arose.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

#include "winsys/cxxruntime_win32.h"
#include "winsys/kernelfunction_win32.h"

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

// The C++ runtime of newer mingw-w64 compilers (its thread support, which
// exceptions need) imports GetThreadId (Vista) and TryEnterCriticalSection
// (NT 4.0, not 95, 98 or Me). A program that imports them does not load on
// older systems, so their import slots are defined here: each points to a
// function that looks the system's own up and stands in for it where it is
// missing. One thread runs the program, so entering a critical section can
// stand in for trying to.
#if defined(__GNUC__) && defined(__i386__)
namespace {

DWORD WINAPI ThreadIdOf(HANDLE thread) {
    using GetId = DWORD(WINAPI*)(HANDLE);
    static const GetId system = pm::win32::KernelFunction<GetId>("GetThreadId");
    if (system) return system(thread);
    if (thread == ::GetCurrentThread()) return ::GetCurrentThreadId();
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}

BOOL WINAPI TryEnter(LPCRITICAL_SECTION section) {
    using Try = BOOL(WINAPI*)(LPCRITICAL_SECTION);
    static const Try system = pm::win32::KernelFunction<Try>("TryEnterCriticalSection");
    if (system) return system(section);
    ::EnterCriticalSection(section);
    return TRUE;
}

}  // namespace

extern "C" {
DWORD(WINAPI* importGetThreadId)(HANDLE) __asm__("__imp__GetThreadId@4") = ThreadIdOf;
BOOL(WINAPI* importTryEnterCriticalSection)(LPCRITICAL_SECTION) __asm__("__imp__TryEnterCriticalSection@4") = TryEnter;
}
#endif
