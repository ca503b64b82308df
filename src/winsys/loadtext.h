// A text of the program's string table, into a buffer of the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "winsys/platform.h"

namespace pm {

// The string `id`, or `builtIn` (the same text, from base/stringtable.h)
// where the table cannot give it: a failure is reported in words even then.
template <std::size_t Capacity>
void LoadText(std::uint32_t id, const char* builtIn, char (&buffer)[Capacity]) {
    static_assert(Capacity > 1 && Capacity < 0x8000);
    if (plat::LoadString(id, buffer, static_cast<int>(Capacity)) > 0) return;
    std::strncpy(buffer, builtIn, Capacity - 1);
    buffer[Capacity - 1] = '\0';
}

}  // namespace pm
