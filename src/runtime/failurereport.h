// The failure report: the one message box that tells the user about a
// failure nobody handled, and the runtime-error box used when the failure
// support is not (or no longer) installed. Both work from fixed buffers, so
// they can report exhausted memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pm {

class Exception;

// Fills `buffer` (at most capacity - 1 characters and a NUL) with
// "Exception <kind> in module <module> at <address>.", a line feed, then
// the message and a full stop unless it already ends in one. `failure`
// may be null for a failure outside the family: no message then.
// Returns the length of the text.
std::size_t ComposeFailureText(const Exception* failure, const char* kindName, std::uintptr_t raiseAddress,
                               char* buffer, std::size_t capacity);
void ReportFailure(const Exception* failure, const char* kindName, std::uintptr_t raiseAddress);
// "Runtime error NNN at XXXXXXXX" for the given exit code and address.
void FormatRuntimeError(std::uint32_t exitCode, std::uintptr_t address, char (&text)[30]);
void ShowRuntimeErrorBox(std::uint32_t exitCode, std::uintptr_t address);

}  // namespace pm
