// A KERNEL32 function looked up when first needed, for those that not every
// 32-bit Windows has: a program that imported them would not load there.
// Null where the system lacks the function. Windows side only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace pm::win32 {

template <class Function>
Function KernelFunction(const char* name) {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernel, name))) : nullptr;
}

}  // namespace pm::win32
