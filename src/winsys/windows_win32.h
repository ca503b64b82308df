// <windows.h> for code that also uses the platform layer: the layer's calls
// share their names with the system's, so the system's A/W name macros are
// dropped, lest they rename ours. Windows side only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#undef CreateFile
#undef DeleteFile
#undef MoveFile
#undef ReplaceFile
#undef GetFileAttributes
#undef SetFileAttributes
#undef MessageBox
#undef GetVersionEx
#undef LookupPrivilegeValue
#undef GetModuleFileName
#undef LoadString
#undef RegOpenKeyEx
#undef RegQueryValueEx
