#include "winsys/platform.h"

namespace pm::plat {

const Calls* activeCalls = nullptr;

void UseCalls(const Calls* calls) { activeCalls = calls; }

}  // namespace pm::plat
