// Fuzz target: the network address check. Invariants: an accepted address
// has no field -1 and, written out plainly, splits again to the same four
// numbers; a field text never starts or ends with a byte of 0x20 or less.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "textutil/netaddress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Ready();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::int32_t zone = 7, net = 7, node = 7, point = 7;
    const bool valid = pm::SplitAddress(text, zone, net, node, point);
    if (valid != pm::IsValidAddress(text)) std::abort();
    if (valid) {
        if (zone == -1 || net == -1 || node == -1 || point == -1) std::abort();
        const std::string plain = std::to_string(zone) + ":" + std::to_string(net) + "/" + std::to_string(node) +
                                  "." + std::to_string(point);
        std::int32_t z = 0, n = 0, f = 0, p = 0;
        if (!pm::SplitAddress(plain, z, n, f, p) || z != zone || n != net || f != node || p != point) std::abort();
    }
    const char markers[] = "+:/.";
    for (char start : markers) {
        for (char end : markers) {
            if (!start || !end) continue;
            const std::string field = pm::ExtractBetween(text, start, end);
            if (!field.empty() && (static_cast<unsigned char>(field.front()) <= 0x20 ||
                                   static_cast<unsigned char>(field.back()) <= 0x20))
                std::abort();
            if (field.find(' ') != std::string::npos) std::abort();
        }
    }
    std::int32_t number = 5;
    if (pm::ParseAddressField(text, number) != (number != -1)) std::abort();
    return 0;
}
