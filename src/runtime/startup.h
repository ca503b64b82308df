// The frame around the conversion run: the modules' start-up steps in a
// fixed order, the run, the shutdown steps in reverse, the top-level
// handling of failures and the exit code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/runtimeerror.h"

namespace pm {

struct ModuleEntry {
    const char* name;
    void (*startup)();   // may be null: the entry is only counted
    void (*shutdown)();  // may be null
};

// Starts the process: runs the start-up steps of `modules`, then `run`,
// then ends the process through EndProcess. Does not return.
[[noreturn]] void StartProgram(const ModuleEntry* modules, std::size_t count, void (*run)());
// Runs the shutdown steps of the begun entries, last first, then exits.
[[noreturn]] void EndProcess(std::uint32_t code);
// The failure support's own steps (the program's module table runs them;
// test programs call them directly).
void FailureSupportStartup();
void FailureSupportShutdown();

}  // namespace pm
