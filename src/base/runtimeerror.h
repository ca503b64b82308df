// Runtime errors: numbered errors found by the program's own tests (memory
// exhausted, an overflow test, an index test). While the failure support is
// installed they are raised as failures of fixed kinds; outside it they end
// the process with their number, in the way the start-up frame sets.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>

namespace pm {

class EOutOfMemory;

inline constexpr std::uint32_t RuntimeOutOfMemory = 203;
inline constexpr std::uint32_t RuntimeIntOverflow = 215;
inline constexpr std::uint32_t RuntimeRangeError = 201;
inline constexpr std::uint32_t RuntimeUnhandledFailure = 217;

// Raises the failure of a runtime error, stamped with `address`, or ends
// the process with its number when no failure support is installed.
[[noreturn]] void RaiseRuntimeError(std::uint32_t runtimeError, std::uintptr_t address);

// How a runtime error ends the process outside the failure support; it
// must not return.
using RuntimeErrorExit = void (*)(std::uint32_t runtimeError, std::uintptr_t address);
void SetRuntimeErrorExit(RuntimeErrorExit exit);

// The failure support: the messages of the runtime-error failures (copied)
// and the out-of-memory failure made in advance, so that raising it needs
// no memory.
void InstallFailureSupport(const char* intOverflowText, const char* rangeErrorText);
void RemoveFailureSupport();
bool FailureSupportInstalled();
// The failure made in advance; null outside the failure support.
const EOutOfMemory* PremadeOutOfMemory();

// Runs `make`, which makes room the program can do without (a reservation
// made ahead, a table that only saves work). It runs without the new
// handler, so that where memory runs out nothing is raised, not even to a
// debugger: the room is simply not made, and the answer is false.
// Any other failure passes on, with the handler put back.
template <class Make>
bool MakeSpareRoom(Make make) {
    struct HandlerBack {
        std::new_handler handler;
        ~HandlerBack() { std::set_new_handler(handler); }
    } back{std::set_new_handler(nullptr)};
    try {
        make();
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

}  // namespace pm
