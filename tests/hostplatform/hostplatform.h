// Controls of the host build's stand-in for the system's calls, for native
// tests: an in-memory registry, message boxes that are recorded instead of
// shown, a settable version record, token and code page. Failing, hiding
// and cutting calls is the business of the fault layer (support/faults.h),
// which wraps this stand-in as it wraps Windows.
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
// ExitProcess on the host writes every box shown so far to standard
// error, one line each ("box <style> [<caption>] [<text>]", line feeds in the text shown as
// |), and ends the process with the code: death tests read both. Built with
// AddressSanitizer, it first checks for leaks and ends with 99 on one,
// unless told not to (until Reset): the check scans the whole heap, which
// the sweeps that fork a run at every cut need not pay each time.
void SetLeakCheckAtExit(bool check);

// ---- Files ----
int OpenFiles();  // file handles opened and not yet closed
// What Sleep was asked to wait in all since Reset (the host does not wait).
std::uint64_t SleptMilliseconds();

// Back to a clean state: empty registry, no boxes, default settings.
void Reset();

}  // namespace pm::host
