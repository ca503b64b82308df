#include "runtime/patience.h"

#include <algorithm>

namespace pm {

bool HeldForAMoment(std::uint32_t error) {
    return error == plat::ErrorSharingViolation || error == plat::ErrorAccessDenied;
}

bool AskIfHeldByAnother(const std::string& path, std::uint32_t error) {
    if (error == plat::ErrorSharingViolation) return true;
    std::uint32_t attributes = 0;
    return error == plat::ErrorAccessDenied && !plat::GetFileAttributes(path, attributes) &&
           HeldForAMoment(plat::LastError());
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
