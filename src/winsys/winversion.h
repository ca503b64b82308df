// Which Windows the program runs on, and enabling privileges in the
// process's own token.
#pragma once

#include <cstdint>

#include "winsys/platform.h"

namespace pm {

enum WindowsVersion : std::int32_t {
    VersionUnrecognised = 0,
    VersionWin32s = 1,
    VersionWin95 = 2,
    VersionWin98 = 3,
    VersionWinNT4 = 4,
    VersionWin2000 = 5,
    VersionWinMe = 6,
    VersionWinXP = 7,
};

// The version code for a version record (no system call).
WindowsVersion ClassifyVersion(const plat::VersionInfo& info);
// Asks the system once per process and remembers the answer.
WindowsVersion GetWindowsVersion();
// True for NT 4, Windows 2000 and XP/Server 2003 only (NT of major version
// 4 or 5): the systems on which the start-up step enables privileges. False
// on Vista to 11, which are NT too.
bool IsWindowsNT4Or5();
// Enables (or disables) one named privilege in the process token; false
// when the system is not classified as NT or any step is refused.
bool SetProcessPrivilege(const char* name, bool enable);

// Start-up step: enables SeTakeOwnershipPrivilege, then SeChangeNotifyPrivilege.
// SeTakeOwnershipPrivilege: so that an administrator's run holds the right
// to take a file's ownership whatever its access list grants, as the
// program has always set up; the conversion never uses it, and runs the
// same whether or not either privilege was granted.
void EnableStartupPrivileges();

}  // namespace pm
