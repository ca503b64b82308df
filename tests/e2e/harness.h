// What the end-to-end tests share: the programs under test and the places
// they run in, the home folder and registry value they are given, the bytes
// on disk, and the expectations on the one box a run shows. Failures are
// GoogleTest's (ADD_FAILURE), so a case goes on after a failed check.
#pragma once

#include "process.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace e2e {

// Set once by main from the command line.
struct Settings {
    std::string program;       // Pictomap.exe
    std::string faultProgram;  // PictomapFaults.exe
    std::string fullDisk;      // a drive of a few KiB, or empty
    int stride = 1;            // the long sweeps try every stride-th step
    std::string scratch;       // a folder of this run's own
};
extern Settings settings;

// ---- Checks ----
std::string Show(const std::string& bytes);  // printable, cut when long
void Check(bool ok, const std::string& what);
void CheckEqual(const std::string& actual, const std::string& expected, const std::string& what);

// ---- Files ----
std::string Join(const std::string& folder, const std::string& name);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
std::string ReadBytes(const std::string& path);  // "<missing>" when there is no file
void RemoveTree(const std::string& folder);
int CountEntries(const std::string& folder);
// Under Wine, takes rights from a folder as an access list would on
// Windows (the Unix chmod call); false where that cannot be done.
bool SetUnixMode(const std::string& path, unsigned mode);

// ---- Registry ----
void DeleteKey();
void SetHome(DWORD type, const std::string& data);
void SetHomeText(const std::string& home);  // REG_SZ with its NUL
// Makes Wine report another Windows version to the program (null: the
// prefix's own).
void SetProgramVersion(const char* version);

// ---- The home folder ----
struct Home {
    std::string root;  // the home folder, without a trailing backslash
    std::string Cfg() const { return Join(root, "CFG\\PictoCfg.cfg"); }
    std::string Inf() const { return Join(root, "BMP\\fmmp0000.inf"); }
    std::string Picture(const std::string& name) const { return root + "\\BMP\\" + name; }
};
// An empty home at `root` (BMP, and CFG unless told not to), made the
// registry's HomeDir.
Home MakeHome(const std::string& root, bool withCfg = true);
// The same in the scratch folder.
Home FreshHome(bool withCfg = true);

// ---- Runs ----
Run Start(const std::string& exe, const std::string& folder, const std::function<void()>& whileShown = {});
// The test build in the scratch folder with switches set (variable, value).
Run StartFaulty(std::initializer_list<std::pair<const char*, std::string>> switches);
Debugged Debug(const std::string& exe, const std::string& folder);

inline constexpr unsigned long Error = MB_OK | MB_ICONERROR;
inline constexpr unsigned long Information = MB_OK | MB_ICONINFORMATION;
inline constexpr unsigned long Report = MB_OK | MB_ICONERROR | MB_TASKMODAL;
inline constexpr unsigned long Plain = MB_OK;

// Texts as regular expressions.
inline const char* const TextIndexMissing = "Fmmp0000\\.inf not Found\\. See Pictomap\\.txt for Details\\.";
inline const char* const TextNothingFound = "No Info in fmmp0000\\.inf\\.";
inline const char* const TextConverted = "Convert Complete!\\.";
std::string Escape(const std::string& text);
std::string FailureText(const std::string& kind, const std::string& message, const std::string& module = "Pictomap");

// Exactly one box, with this caption, text, style (from the relay trace
// under Wine, else by its icon), and this exit code.
void ExpectOneBox(const Run& run, const std::string& caption, const std::string& textPattern, unsigned long style,
                  DWORD exitCode);
// The program's calls to the version and privilege functions, in order
// (needs the relay trace).
void CheckPrivilegeCalls(const Run& run, bool nt);

}  // namespace e2e
