#include "textutil/netaddress.h"

namespace pm {
namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
    if (c <= '9') return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// Reads an integer text into `value`; false when the text is not one.
bool ReadIntegerText(const std::string& text, std::int32_t& value) {
    std::size_t i = 0;
    const std::size_t length = text.size();
    while (i < length && text[i] == ' ') ++i;
    if (i == length) return false;

    const bool hex = text[i] == '$' || text[i] == 'x' || text[i] == 'X' ||
                     (text[i] == '0' && i + 1 < length && (text[i + 1] == 'x' || text[i + 1] == 'X'));
    if (hex) {
        i += text[i] == '0' ? 2 : 1;
        if (i == length) return false;
        std::uint64_t bits = 0;
        for (; i < length; ++i) {
            if (!IsHexDigit(text[i])) return false;
            bits = bits * 16 + static_cast<std::uint64_t>(HexValue(text[i]));
            if (bits > 0xFFFFFFFFu) return false;
        }
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
        return true;
    }

    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == length) return false;
    const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
    std::uint64_t magnitude = 0;
    for (; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > limit) return false;
    }
    const std::int64_t signedValue = negative ? -static_cast<std::int64_t>(magnitude)
                                              : static_cast<std::int64_t>(magnitude);
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

}  // namespace

// The field between the first `startMarker` and the first `endMarker`,
// both searched from the start of the text cut at its first blank. A
// missing start marker means "from the first byte", except for the Point's
// full stop, whose absence gives "0"; a missing end marker means "to the
// end". Bytes 0x20 and below are trimmed from both ends of the field.
std::string ExtractBetween(const std::string& text, char startMarker, char endMarker) {
    const std::string used = text.substr(0, text.find(' '));
    const std::size_t startAt = used.find(startMarker);
    if (startAt == std::string::npos && startMarker == '.') return "0";
    // 1-based positions: p1 = 0 when the start marker is absent.
    const std::size_t p1 = startAt == std::string::npos ? 0 : startAt + 1;
    const std::size_t endAt = used.find(endMarker);
    const std::size_t p2 = endAt == std::string::npos ? used.size() + 1 : endAt + 1;
    if (p2 <= p1 + 1) return {};
    std::size_t first = p1;       // 0-based index of position p1 + 1
    std::size_t last = p2 - 1;    // 0-based end (exclusive) of the piece
    while (first < last && static_cast<unsigned char>(used[first]) <= 0x20) ++first;
    while (last > first && static_cast<unsigned char>(used[last - 1]) <= 0x20) --last;
    return used.substr(first, last - first);
}

bool ParseAddressField(const std::string& fieldText, std::int32_t& number) {
    std::int32_t value = 0;
    number = ReadIntegerText(fieldText, value) ? value : -1;
    return number != -1;
}

bool SplitAddress(const std::string& text, std::int32_t& zone, std::int32_t& net,
                  std::int32_t& node, std::int32_t& point) {
    const std::string zoneText = ExtractBetween(text, '+', ':');
    const std::string netText = ExtractBetween(text, ':', '/');
    const std::string nodeText = ExtractBetween(text, '/', '.');
    const std::string pointText = ExtractBetween(text, '.', '+');
    return ParseAddressField(zoneText, zone) && ParseAddressField(netText, net) &&
           ParseAddressField(nodeText, node) && ParseAddressField(pointText, point);
}

bool IsValidAddress(const std::string& text) {
    std::int32_t zone = 0, net = 0, node = 0, point = 0;
    return SplitAddress(text, zone, net, node, point);
}

}  // namespace pm
