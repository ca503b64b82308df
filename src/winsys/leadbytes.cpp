#include "winsys/leadbytes.h"

#include "winsys/platform.h"

namespace pm {

LeadBytes::LeadBytes() {
    for (unsigned value = 0; value < 256; ++value)
        if (plat::IsDbcsLeadByte(static_cast<unsigned char>(value))) bits_[value >> 5] |= 1u << (value & 31);
}

}  // namespace pm
