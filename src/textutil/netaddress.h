// Network addresses of the form Zone:Net/Node.Point, each field a 32-bit
// signed number; a missing Point counts as 0 and -1 is never valid.
#pragma once

#include <cstdint>
#include <string>

namespace pm {

bool IsValidAddress(const std::string& text);
// Writes the fields up to and including the first one that fails (as -1).
bool SplitAddress(const std::string& text, std::int32_t& zone, std::int32_t& net,
                  std::int32_t& node, std::int32_t& point);
// The trimmed text between the two markers (see netaddress.cpp for the rules).
std::string ExtractBetween(const std::string& text, char startMarker, char endMarker);
// Reads a decimal or hexadecimal integer text; `number` is -1 when it is not one.
bool ParseAddressField(const std::string& fieldText, std::int32_t& number);

}  // namespace pm
