// The frame around the conversion run: the modules' start-up steps in a
// fixed order, the run, the shutdown steps in reverse, the top-level
// handling of failures and the exit code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pm {

struct ModuleEntry {
    const char* name;
    void (*startup)();   // may be null: the entry is only counted
    void (*shutdown)();  // may be null
};

// Runtime errors: their numbers are the exit codes used when no failure
// support is installed.
inline constexpr std::uint32_t RuntimeOutOfMemory = 203;
inline constexpr std::uint32_t RuntimeIntOverflow = 215;
inline constexpr std::uint32_t RuntimeRangeError = 201;
inline constexpr std::uint32_t RuntimeUnhandledFailure = 217;

// The program's own module table, in start-up order.
const ModuleEntry* ProgramModules(std::size_t& count);

// Starts the process: runs the start-up steps of `modules`, then `run`,
// then ends the process through EndProcess. Does not return.
[[noreturn]] void StartProgram(const ModuleEntry* modules, std::size_t count, void (*run)());
// Runs the shutdown steps of the begun entries, last first, then exits.
[[noreturn]] void EndProcess(std::uint32_t code);
// Raises the failure of a runtime error, or ends the process with its
// number when no failure support is installed.
[[noreturn]] void RaiseRuntimeError(std::uint32_t runtimeError, std::uintptr_t address);

// The failure support's own steps (the program's module table runs them;
// test programs call them directly).
void FailureSupportStartup();
void FailureSupportShutdown();

}  // namespace pm
