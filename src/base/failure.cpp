#include "base/failure.h"

namespace pm {
namespace {
RaiseWatcher raiseWatcher = nullptr;
}  // namespace

void SetRaiseWatcher(RaiseWatcher watcher) { raiseWatcher = watcher; }

void WatchRaise(const Exception& failure) {
    if (raiseWatcher) raiseWatcher(failure);
}

std::string FormatText(const char* format, const std::string& argument) {
    std::string text(format);
    const auto at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    return text;
}

void RaiseCannotOpen(const std::string& path) {
    ThrowAt(EFOpenError(FormatText("Cannot open file %s", path)), PM_RETURN_ADDRESS());
}

}  // namespace pm
