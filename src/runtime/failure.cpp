#include "runtime/failure.h"

#include "winsys/platform.h"

namespace pm {

void HandOverToDebugger(const Exception& failure) {
    if (plat::IsDebuggerPresent()) plat::RaiseForDebugger(failure.KindName(), failure.Message(), failure.RaiseAddress());
}

std::string FormatText(const char* format, const std::string& argument) {
    std::string text(format);
    const auto at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    return text;
}

}  // namespace pm
