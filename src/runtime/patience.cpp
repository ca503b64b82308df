#include "runtime/patience.h"

#include <algorithm>

namespace pm {

bool HeldForAMoment(std::uint32_t error) {
    return error == plat::ErrorSharingViolation || error == plat::ErrorAccessDenied;
}

bool Patience::WaitAfter(std::uint32_t error) {
    if (!HeldForAMoment(error) || left_ == 0) return false;
    const std::uint32_t wait = std::min(next_, left_);
    plat::Sleep(wait);
    left_ -= wait;
    next_ *= 2;
    return true;
}

}  // namespace pm
