#include "winsys/registry.h"

#include <cstring>
#include <vector>

#include "base/failure.h"
#include "winsys/handles.h"
#include "winsys/platform.h"

namespace pm {

std::string GetRegistryString(const std::string& keyPath, const std::string& valueName) {
    const std::string subkey = !keyPath.empty() && keyPath[0] == '\\' ? keyPath.substr(1) : keyPath;

    // Only read access is asked for: a user without administrative rights
    // may read the value but would be refused full access to the key.
    plat::RegKey opened = 0;
    if (plat::RegOpenKeyEx(plat::HkeyLocalMachine, subkey, plat::KeyQueryValue, opened) != 0) return {};
    const UniqueRegKey key(opened);

    std::uint32_t type = plat::RegNone;
    std::uint32_t size = 0;
    if (plat::RegQueryValueEx(key.Get(), valueName, type, nullptr, size) != 0) return {};
    if (static_cast<std::int32_t>(size) <= 0) return {};

    // The data with one more NUL behind it, cleared first, so that text
    // stored without its terminating NUL still ends.
    std::vector<unsigned char> buffer(static_cast<std::size_t>(size) + 1, 0);
    type = plat::RegNone;
    std::uint32_t received = size;
    if (plat::RegQueryValueEx(key.Get(), valueName, type, buffer.data(), received) != 0)
        Raise<ERegistryException>(FormatText("Failed to get data for '%s'", valueName));
    if (type != plat::RegSz && type != plat::RegExpandSz)
        Raise<ERegistryException>(FormatText("Invalid data type for '%s'", valueName));
    const char* text = reinterpret_cast<const char*>(buffer.data());
    return std::string(text, ::strnlen(text, size));
}

}  // namespace pm
