// Controls of the host side of the platform layer, for native tests: an
// in-memory registry, message boxes that are recorded instead of shown, a
// settable version record, token and code page, and fault injection that
// makes one chosen platform call fail.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "winsys/platform.h"

namespace pm::host {

// ---- Registry ----
struct RegistryValue {
    std::uint32_t type = plat::RegSz;
    std::string data;  // the stored bytes, exactly
};
// Keys are paths below HKEY_LOCAL_MACHINE, compared ignoring case.
void SetRegistryValue(const std::string& key, const std::string& name, std::uint32_t type,
                      const std::string& data);
void CreateRegistryKey(const std::string& key);
// A key that may be read but not opened for full access.
void SetRegistryKeyReadOnly(const std::string& key, bool readOnly);
// Makes the next data request (the second query) on any value fail.
void FailNextDataRequest();
// Subkey names passed to RegOpenKeyEx, with their access masks.
struct RegistryOpen {
    std::string subkey;
    std::uint32_t access;
};
const std::vector<RegistryOpen>& RegistryOpens();
int OpenRegistryKeys();

// ---- Message boxes ----
struct ShownBox {
    std::string text;
    std::string caption;
    std::uint32_t style;
};
const std::vector<ShownBox>& ShownBoxes();

// ---- Code page, version, token ----
void SetDbcsLeadBytes(const std::set<unsigned char>& leadBytes);
void SetVersion(const plat::VersionInfo& info, bool succeeds = true);
int VersionQueries();
void SetTokenOpens(bool succeeds);
struct Adjustment {
    std::string privilege;
    std::uint32_t attributes;
};
const std::vector<Adjustment>& Adjustments();
int OpenTokens();  // tokens opened and not yet closed

// ---- Process ----
void SetModulePath(const std::string& path);
void SetDebuggerPresent(bool present);
// ExitProcess on the host writes the call made to fail, if any ("failed
// call <name>"), and every box shown so far to standard error, one line
// each ("box <style> [<caption>] [<text>]", line feeds in the text shown as
// |), and ends the process with the code: death tests read both. Built with
// AddressSanitizer, it first checks for leaks and ends with 99 on one.

// ---- Files ----
int OpenFiles();  // file handles opened and not yet closed

// ---- Fault injection ----
// Every platform call that can fail is counted; the call numbered `n`
// (from 1) fails, or, for a read or write, falls short. 0 turns it off.
void FailCall(std::uint64_t n);
// Name of the call that was made to fail, empty if none was.
const std::string& FailedCall();
// Makes every call of this name fail (as FailCall does), until Reset.
void FailEveryCall(const std::string& name);

// Systems without ReplaceFileA (before Windows 2000) and with a MoveFileExA
// that is not implemented (95, 98, Me) answer ErrorCallNotImplemented: the
// host answers so for "ReplaceFileA" or "MoveFileExA" until Reset.
void HideSystemFunction(const std::string& name);
// ReplaceFile refuses with `error` (0: as usual); with
// ErrorUnableToMoveReplacement it removes the replaced file first, as
// Windows may.
void SetReplaceFileAnswer(std::uint32_t error);

// ---- Cuts ----
// A cut point comes before every call that can change what is on disk
// (CreateFile that may create or empty a file, WriteFile, FlushFileBuffers,
// SetEndOfFile, MoveFile, MoveFileReplace, ReplaceFile, DeleteFile,
// SetFileAttributes) and in the middle of every write. At the cut point
// numbered `n` (from 1) the process ends at once with CutExitCode, as if
// killed. 0 turns it off.
inline constexpr int CutExitCode = 86;
void CutAt(std::uint64_t n);
// Cut points passed since CutAt.
std::uint64_t CutPoints();

// Allocations: a test program that replaces operator new with
// tests/host/failing_new.cpp asks this before each one; the allocation
// numbered `n` (from 1) after FailAllocation(n) then fails, once.
void FailAllocation(std::uint64_t n);
bool AllocationFails();

// Back to a clean state: empty registry, no boxes, default settings.
void Reset();

}  // namespace pm::host
