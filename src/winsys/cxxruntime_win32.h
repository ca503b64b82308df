// What the C++ runtime tells the platform layer (Windows side only).
#pragma once

#include <cstdint>

namespace pm::win32 {

// Where the C++ runtime last threw from (0 if not known): its own throws
// (std::length_error, ...) carry no address of ours.
std::uintptr_t LastThrowAddress();

}  // namespace pm::win32
