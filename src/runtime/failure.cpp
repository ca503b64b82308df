#include "runtime/failure.h"

namespace pm {

std::string FormatText(const char* format, const std::string& argument) {
    std::string text(format);
    const auto at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    return text;
}

}  // namespace pm
