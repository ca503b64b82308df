// What the fuzz targets share: setting up the failure support once, and
// reading a list's lines out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/linelist.h"
#include "runtime/startup.h"

namespace fuzz {

inline void Ready() {
    static const bool ready = (pm::FailureSupportStartup(), true);
    (void)ready;
}

inline std::vector<std::string> Lines(pm::LineList& list) {
    std::vector<std::string> lines;
    for (std::int32_t i = 0; i < list.LineCount(); ++i) lines.emplace_back(list.LineView(i));
    return lines;
}

}  // namespace fuzz
