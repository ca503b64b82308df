// The fault layer: a table of the system's calls that wraps another (the
// host stand-in, or Windows itself) and, when told, makes a call fail, hides
// a function a system lacks, or ends the process at once as if it had been
// killed or the power lost (a cut). Installed, it changes nothing until it
// is told something. Test machinery only: Pictomap.exe never carries it.
#pragma once

#include <cstdint>
#include <string>

namespace pm::faults {

// Puts the fault layer in front of the system's calls; Reset turns every
// switch off.
void Install();
void Reset();

// Every call that can fail is counted; the call numbered `n` (from 1)
// fails, or, for a read or write, falls short (a write half done is a full
// disk). 0 turns it off.
void FailCall(std::uint64_t n);
// With FailCall(n), the call numbered `m` fails too (0: none).
void AlsoFailCall(std::uint64_t m);
// The comparison numbered `n` (from 1; 0: none) made through
// CompareStringIgnoreCase throws std::bad_alloc, as anything that stops a
// sort partway; meanwhile no sort key is made, so that every order is the
// comparison's.
void ThrowFromCompare(std::uint64_t n);
// Names of the calls that were made to fail (", " between two), empty if
// none was.
const std::string& FailedCall();
// Calls are named as in the platform table (PM_PLATFORM_CALLS); a name of
// none ends the test program with a message.
// Makes every call of this name fail (as FailCall does), until Reset.
void FailEveryCall(const std::string& name);

// Systems without ReplaceFileA (before Windows 2000) and with a MoveFileExA
// that is not implemented (95, 98, Me) answer ErrorCallNotImplemented: so
// do the calls "ReplaceFile" or "MoveFileReplace" until Reset.
void HideSystemFunction(const std::string& name);
// ReplaceFile refuses with `error` (0: as usual); with
// ErrorUnableToMoveReplacement2 it gives the replaced file the backup name
// first, as Windows may.
void SetReplaceFileAnswer(std::uint32_t error);
// The next `count` calls named `name` ("CreateFile", "ReplaceFile",
// "MoveFileReplace", "MoveFile", "DeleteFile", "GetFileAttributes") are refused with `error`, as
// while a virus scanner holds the file (ErrorSharingViolation,
// ErrorAccessDenied); not counted as failing calls.
void RefuseCalls(const std::string& name, std::uint32_t error, std::uint64_t count);
// The next `count` of those calls that name the file `name` (its name
// alone, "PictoCfg.~00") are refused with `error`: a file a scanner holds
// (ErrorSharingViolation), or one whose removal waits for it, which also
// answers a question for its attributes (ErrorAccessDenied). The first
// `after` such calls pass: the hold begins once the file is made. Not
// counted as failing calls.
void HoldFile(const std::string& name, std::uint32_t error, std::uint64_t count, std::uint64_t after = 0);

// A cut point comes before every call that can change what is on disk
// (CreateFile that may create or empty a file, WriteFile, FlushFileBuffers,
// SetEndOfFile, MoveFile, MoveFileReplace, ReplaceFile, DeleteFile,
// SetFileAttributes) and in the middle of every write. At the cut point
// numbered `n` (from 1) the process ends at once with CutExitCode. 0 turns
// it off. A power cut also loses what was written to any file since its
// last FlushFileBuffers, as a disk cache or FAT on 95 and 98 may: the file
// holds what it held then (nothing, for a file made since); renames and
// removals made before the cut stay.
inline constexpr int CutExitCode = 86;
enum class CutKind { Process, Power };
void CutAt(std::uint64_t n, CutKind kind = CutKind::Process);
// The power is lost as the process ends (ExitProcess): what a run that
// reported success wrote and did not flush is lost.
void PowerCutAtExit();

// At the call numbered `n` (from 1, counted as FailCall counts them),
// `pause(context)` is called first: another run may go on meanwhile.
// (Plain functions: the test build of the program has no std::function.)
void PauseAtCall(std::uint64_t n, void (*pause)(void*), void* context);
// `told(context)` is called before a wait for a named object that another
// holds.
void WhenWaiting(void (*told)(void*), void* context);

// Files opened through the layer and not yet closed.
int OpenFiles();

// Allocations: a test program that replaces operator new with
// tests/host/failing_new.cpp asks this before each one; the allocation
// numbered `n` (from 1) after FailAllocation(n) then fails, once. Those the
// system's calls make for themselves never do.
void FailAllocation(std::uint64_t n);
bool AllocationFails();

}  // namespace pm::faults
