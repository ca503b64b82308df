// The program's modules, in start-up order: each entry's start-up step runs
// before the conversion run, its shutdown step after it, in reverse.
#pragma once

#include <cstddef>

#include "runtime/startup.h"

namespace pm {

const ModuleEntry* ProgramModules(std::size_t& count);

}  // namespace pm
