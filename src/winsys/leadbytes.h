// The lead bytes of the system's double-byte characters (IsDBCSLeadByte in
// the ANSI code page), asked for once and then looked up in a table.
#pragma once

#include <array>
#include <cstdint>

namespace pm {

class LeadBytes {
public:
    // Asks the system about each of the 256 byte values.
    LeadBytes();
    bool operator()(unsigned char byte) const { return (bits_[byte >> 5] >> (byte & 31)) & 1u; }

private:
    std::array<std::uint32_t, 8> bits_{};
};

}  // namespace pm
