#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "support/registry_values.h"

namespace pm::test {

void SetRegistryValue(const std::string& key, const std::string& name, std::uint32_t type, const std::string& data) {
    HKEY handle = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    ::RegDeleteValueA(handle, name.c_str());
    ::RegSetValueExA(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size()));
    ::RegCloseKey(handle);
}

void DeleteRegistryKey(const std::string& key) { ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()); }

}  // namespace pm::test
