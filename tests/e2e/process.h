// Starting a Windows program the way a user does and reading what it shows:
// its message boxes (caption, text, icon), answered with OK; its exit code,
// time and peak memory; under Wine, its traced calls. Used by the
// end-to-end tests and by the small tool the scripts run.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

struct Box {
    std::string caption, text, icon;  // icon: "error", "information", "none", "other"
};

// A call that Wine's relay trace logged: function, arguments as printed,
// return address.
struct TracedCall {
    std::string function, arguments;
    std::uintptr_t returnAddress;
};

struct Run {
    std::vector<Box> boxes;
    std::vector<unsigned long> styles;  // from the relay trace, when there is one
    std::vector<TracedCall> calls;      // traced calls made by the program's own module
    DWORD exitCode = 0xFFFFFFFF;
    DWORD milliseconds = 0;             // from start to exit, boxes answered at once
    SIZE_T peakBytes = 0;               // peak private memory of the program
    std::string problem;                // empty, or why the run did not work
};

// Starts `exe` in `folder` and answers every box it shows with OK, after
// calling `whileShown` with the box on the screen.
Run RunProgram(const std::string& exe, const std::string& folder, const std::function<void()>& whileShown = {});

// Runs `exe` under a minimal debugger: every exception is passed on to the
// program; the failure exception is read, boxes are counted (and closed).
struct Debugged {
    int failures = 0;
    std::string kind, message;
    std::uintptr_t address = 0, moduleStart = 0, moduleEnd = 0;
    int boxes = 0;
    DWORD exitCode = 0;
    std::string problem;
};
Debugged DebugProgram(const std::string& exe, const std::string& folder);

// Wine's relay trace: the file that receives it (the standard error the
// programs share; empty: none is read, as while two programs run at once),
// and the functions traced in the programs started from now on (';'
// between names).
void SetRelayLog(const std::string& path);
const std::string& RelayLog();
bool Tracing();
void TraceFunctions(const char* functions);

}  // namespace e2e
