#include "base/checked.h"

#include "base/failure.h"
#include "base/runtimeerror.h"

namespace pm {

// Both are raised on behalf of the code that asked for the check, so the
// address reported is just after that call.
PM_NOINLINE void RaiseRangeError() { RaiseRuntimeError(RuntimeRangeError, PM_RETURN_ADDRESS()); }

PM_NOINLINE void RaiseIntOverflow() { RaiseRuntimeError(RuntimeIntOverflow, PM_RETURN_ADDRESS()); }

}  // namespace pm
