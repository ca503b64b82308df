#include "runtime/startup.h"

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "base/failure.h"
#include "base/runtimeerror.h"
#include "base/stringtable.h"
#include "runtime/failurereport.h"
#include "winsys/loadtext.h"
#include "winsys/platform.h"

namespace pm {
namespace {

struct Frame {
    const ModuleEntry* modules = nullptr;
    std::size_t begun = 0;  // entries whose start-up has begun
    bool startingUp = false;  // the start-up steps are running
    std::uint32_t exitCode = 0;
    bool runtimeError = false;  // a runtime error is recorded, at this address:
    std::uintptr_t runtimeErrorAddress = 0;
};
Frame frame;

void RecordRuntimeError(std::uintptr_t address) {
    frame.runtimeError = true;
    frame.runtimeErrorAddress = address;
}

void OnNewFailure() { RaiseRuntimeError(RuntimeOutOfMemory, PM_RETURN_ADDRESS()); }

// A runtime error outside the failure support: the runtime-error box.
void ExitOnRuntimeError(std::uint32_t runtimeError, std::uintptr_t address) {
    RecordRuntimeError(address);
    EndProcess(runtimeError);
}

// With a debugger attached, a failure goes to the debugger as it is raised.
void HandOverToDebugger(const Exception& failure) {
    if (plat::IsDebuggerPresent()) plat::RaiseForDebugger(failure.KindName(), failure.Message(), failure.RaiseAddress());
}

void UndoStartup();

[[noreturn]] void OnProcessorFault(plat::Fault fault, std::uintptr_t address) {
    // In a start-up step a fault follows the start-up rule, as a failure
    // there does: every begun entry is shut down, then the runtime-error
    // box with 217.
    if (frame.startingUp) UndoStartup();
    if (!FailureSupportInstalled()) {
        RecordRuntimeError(address);
        EndProcess(RuntimeUnhandledFailure);
    }
    if (fault == plat::Fault::StackOverflow) {
        const EStackOverflow failure("Stack overflow");
        ReportFailure(&failure, failure.KindName(), address);
    } else {
        const EAccessViolation failure("Access violation");
        ReportFailure(&failure, failure.KindName(), address);
    }
    EndProcess(1);
}

// A failure that reached the top level, after every clean-up step on its
// way has run. With a debugger attached it goes on to the debugger.
[[noreturn]] void HandleTopLevel(const Exception* failure, const char* kindName, std::uintptr_t address) {
    if (plat::IsDebuggerPresent()) plat::RaiseForDebugger(kindName, failure ? failure->Message() : "", address);
    if (FailureSupportInstalled()) {
        ReportFailure(failure, kindName, address);
        EndProcess(1);
    }
    RecordRuntimeError(address);
    EndProcess(RuntimeUnhandledFailure);
}

// Memory ran out where no failure of ours was raised (before the new handler
// was installed, or a container's own limit): reported as out of memory,
// at the address the runtime threw from.
[[noreturn]] void HandleOutOfMemory() {
    const std::uintptr_t address = plat::LastThrowAddress();
    if (const EOutOfMemory* outOfMemory = PremadeOutOfMemory()) HandleTopLevel(outOfMemory, outOfMemory->KindName(), address);
    HandleTopLevel(nullptr, "EOutOfMemory", address);
}

// Runs the shutdown steps of the begun entries, the last begun first; the
// count drops before each step, so none runs twice. A step that fails does
// not keep the others from running; its failure is passed on afterwards.
void RunShutdownSteps() {
    std::exception_ptr failure;
    while (frame.begun > 0) {
        const ModuleEntry& entry = frame.modules[--frame.begun];
        if (!entry.shutdown) continue;
        try {
            entry.shutdown();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

// A failing start-up undoes every begun entry, the failing one's first;
// a failure of a shutdown step then has nowhere to go.
void UndoStartup() {
    frame.startingUp = false;
    try {
        RunShutdownSteps();
    } catch (...) {
    }
}

void RunStartupSteps(const ModuleEntry* modules, std::size_t count) {
    frame.modules = modules;
    for (std::size_t i = 0; i < count; ++i) {
        frame.begun = i + 1;
        if (!modules[i].startup) continue;
        try {
            modules[i].startup();
        } catch (...) {
            UndoStartup();
            throw;
        }
    }
}

}  // namespace

void FailureSupportStartup() {
    char intOverflowText[64], rangeErrorText[64];
    LoadText(IDS_INT_OVERFLOW, TEXT_INT_OVERFLOW, intOverflowText);
    LoadText(IDS_RANGE_ERROR, TEXT_RANGE_ERROR, rangeErrorText);
    InstallFailureSupport(intOverflowText, rangeErrorText);
    std::set_new_handler(OnNewFailure);
}

void FailureSupportShutdown() {
    std::set_new_handler(nullptr);
    RemoveFailureSupport();
}

void EndProcess(std::uint32_t code) {
    frame.exitCode = code;
    if (frame.runtimeError) {
        ShowRuntimeErrorBox(frame.exitCode, frame.runtimeErrorAddress);
        frame.runtimeError = false;
    }
    try {
        RunShutdownSteps();
    } catch (const Exception& failure) {
        // Nothing is left to report it with: the runtime-error box.
        ShowRuntimeErrorBox(RuntimeUnhandledFailure, failure.RaiseAddress());
        frame.exitCode = RuntimeUnhandledFailure;
    } catch (...) {
        ShowRuntimeErrorBox(RuntimeUnhandledFailure, 0);
        frame.exitCode = RuntimeUnhandledFailure;
    }
    plat::RemoveFaultHandler();
    plat::ExitProcess(frame.exitCode);
}

void StartProgram(const ModuleEntry* modules, std::size_t count, void (*run)()) {
    frame = Frame{};
    SetRaiseWatcher(HandOverToDebugger);
    SetRuntimeErrorExit(ExitOnRuntimeError);
    plat::InstallFaultHandler(OnProcessorFault);
    try {
        frame.startingUp = true;
        RunStartupSteps(modules, count);
        frame.startingUp = false;
        run();
    } catch (const Exception& failure) {
        HandleTopLevel(&failure, failure.KindName(), failure.RaiseAddress());
    } catch (const std::length_error&) {
        // A container asked for more than the address space: memory exhausted.
        HandleOutOfMemory();
    } catch (const std::bad_alloc&) {
        HandleOutOfMemory();
    } catch (...) {
        HandleTopLevel(nullptr, "Exception", 0);
    }
    EndProcess(0);
}

}  // namespace pm
