#include "hostplatform/hostplatform.h"
#include "support/registry_values.h"

namespace pm::test {

void SetRegistryValue(const std::string& key, const std::string& name, std::uint32_t type, const std::string& data) {
    host::SetRegistryValue(key, name, type, data);
}

void DeleteRegistryKey(const std::string&) { host::Reset(); }

}  // namespace pm::test
