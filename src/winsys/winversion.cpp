#include "winsys/winversion.h"

#include "winsys/handles.h"

namespace pm {
namespace {

constexpr std::uint32_t PlatformWin32s = 0;
constexpr std::uint32_t PlatformWindows = 1;
constexpr std::uint32_t PlatformNT = 2;

bool classified = false;
WindowsVersion cachedVersion = VersionUnrecognised;

}  // namespace

WindowsVersion ClassifyVersion(const plat::VersionInfo& info) {
    switch (info.platformId) {
    case PlatformWin32s:
        return VersionWin32s;
    case PlatformWindows:
        switch (info.minorVersion) {
        case 0: return VersionWin95;
        case 10: return VersionWin98;
        case 90: return VersionWinMe;
        default: return VersionUnrecognised;
        }
    case PlatformNT:
        if (info.majorVersion == 4) return VersionWinNT4;
        if (info.majorVersion == 5)
            return static_cast<std::uint16_t>(info.buildNumber & 0xFFFF) >= 2462 ? VersionWinXP : VersionWin2000;
        return VersionUnrecognised;
    default:
        return VersionUnrecognised;
    }
}

WindowsVersion GetWindowsVersion() {
    if (!classified) {
        plat::VersionInfo info;
        // A failed query leaves the record undefined: count it unrecognised.
        cachedVersion = plat::GetVersionEx(info) ? ClassifyVersion(info) : VersionUnrecognised;
        classified = true;
    }
    return cachedVersion;
}

bool IsWindowsNT4Or5() {
    const WindowsVersion v = GetWindowsVersion();
    return v == VersionWinNT4 || v == VersionWin2000 || v == VersionWinXP;
}

bool SetProcessPrivilege(const char* name, bool enable) {
    if (!IsWindowsNT4Or5()) return false;
    plat::TokenHandle opened = 0;
    if (!plat::OpenProcessToken(plat::TokenAdjustPrivileges, opened)) return false;
    const UniqueToken token(opened);
    plat::Luid luid;
    if (!plat::LookupPrivilegeValue(name, luid)) return false;
    return plat::AdjustTokenPrivilege(token.Get(), luid, enable ? plat::SePrivilegeEnabled : 0);
}

void EnableStartupPrivileges() {
    SetProcessPrivilege("SeTakeOwnershipPrivilege", true);
    SetProcessPrivilege("SeChangeNotifyPrivilege", true);
}

}  // namespace pm
