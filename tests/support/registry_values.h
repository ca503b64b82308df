// Values in the registry under HKEY_LOCAL_MACHINE for the tests, on either
// side: the host stand-in's registry, or the real one under Windows and
// Wine (which the test removes again).
#pragma once

#include <cstdint>
#include <string>

namespace pm::test {

// Sets the value `name` of `key` (made if missing) to `data`, exactly, with
// the type.
void SetRegistryValue(const std::string& key, const std::string& name, std::uint32_t type, const std::string& data);
// Removes the key and its values.
void DeleteRegistryKey(const std::string& key);

}  // namespace pm::test
