// Reading one text value under HKEY_LOCAL_MACHINE.
#pragma once

#include <string>

namespace pm {

// The text stored in value `valueName` of key `keyPath` (one leading
// backslash allowed), or the empty text when there is nothing to read: the
// key cannot be opened, the value is missing or holds no data. A value that
// holds data but is not text (REG_SZ, REG_EXPAND_SZ), or whose data cannot
// be fetched, raises ERegistryException. Expandable text is not expanded.
std::string GetRegistryString(const std::string& keyPath, const std::string& valueName);

}  // namespace pm
