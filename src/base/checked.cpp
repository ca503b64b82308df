#include "base/checked.h"

#include "base/failure.h"
#include "base/runtimeerror.h"

namespace pm {

// Raised on behalf of the code that asked for the check, so the address
// reported is just after that call.
PM_NOINLINE void RaiseIntOverflow() { RaiseRuntimeError(RuntimeIntOverflow, PM_RETURN_ADDRESS()); }

}  // namespace pm
