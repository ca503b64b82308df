#include "runtime/failurereport.h"

#include <cstring>

#include "base/failure.h"
#include "base/stringtable.h"
#include "winsys/loadtext.h"
#include "winsys/platform.h"

namespace pm {
namespace {

constexpr std::size_t PathCapacity = 261;

// Appends to a fixed buffer, cutting at its capacity.
struct FixedText {
    char* buffer;
    std::size_t capacity;
    std::size_t length = 0;

    void Append(const char* text, std::size_t n) {
        while (n-- && length + 1 < capacity) buffer[length++] = *text++;
        buffer[length] = '\0';
    }
    void Append(const char* text) { Append(text, std::strlen(text)); }
};

void HexDigits(std::uint32_t value, char (&digits)[9]) {
    for (int i = 7; i >= 0; --i, value >>= 4) digits[i] = "0123456789ABCDEF"[value & 15];
    digits[8] = '\0';
}

// The part of `path` after its last backslash; a trail byte of a
// double-byte character is never taken for one.
const char* AfterLastBackslash(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\') name = p + 1;
        else if (plat::IsDbcsLeadByte(static_cast<unsigned char>(*p)) && p[1]) ++p;
    }
    return name;
}

}  // namespace

std::size_t ComposeFailureText(const Exception* failure, const char* kindName, std::uintptr_t raiseAddress,
                               char* buffer, std::size_t capacity) {
    if (capacity == 0) return 0;
    char modulePath[PathCapacity] = "";
    std::uintptr_t base = 0;
    std::uint32_t shown = 0;
    if (plat::FindCommittedRegion(raiseAddress, base) &&
        plat::GetModuleFileName(base, modulePath, sizeof modulePath) > 0) {
        shown = static_cast<std::uint32_t>(raiseAddress - base);
    } else {
        plat::GetModuleFileName(plat::GetOwnModule(), modulePath, sizeof modulePath);
        shown = raiseAddress == 0 ? 0 : static_cast<std::uint32_t>(raiseAddress - 4096);
    }
    char moduleName[PathCapacity];
    std::strncpy(moduleName, AfterLastBackslash(modulePath), sizeof moduleName - 1);
    moduleName[sizeof moduleName - 1] = '\0';

    const char* message = failure ? failure->Message() : "";
    const std::size_t messageLength = std::strlen(message);
    const char* ending = messageLength > 0 && message[messageLength - 1] != '.' ? "." : "";

    char format[256];
    LoadText(IDS_FAILURE_FORMAT, TEXT_FAILURE_FORMAT, format);
    char digits[9];
    HexDigits(shown, digits);

    const char* strings[] = {kindName, moduleName, message, ending};
    std::size_t next = 0;
    FixedText out{buffer, capacity};
    out.Append("", 0);
    for (const char* f = format; *f; ++f) {
        if (f[0] == '%' && f[1] == 's') {
            out.Append(next < 4 ? strings[next++] : "");
            ++f;
        } else if (f[0] == '%' && f[1] == 'p') {
            out.Append(digits);
            ++f;
        } else {
            out.Append(f, 1);
        }
    }
    return out.length;
}

void ReportFailure(const Exception* failure, const char* kindName, std::uintptr_t raiseAddress) {
    char text[1024];
    ComposeFailureText(failure, kindName, raiseAddress, text, sizeof text);
    char title[64];
    LoadText(IDS_FAILURE_TITLE, TEXT_FAILURE_TITLE, title);
    plat::MessageBox(text, title, plat::MbOk | plat::MbIconError | plat::MbTaskModal);
}

void FormatRuntimeError(std::uint32_t exitCode, std::uintptr_t address, char (&text)[30]) {
    std::memcpy(text, "Runtime error     at 00000000", sizeof text);
    // Positions count from 1: the code ends at 17, the address at 29.
    int at = 16;
    do {
        text[at--] = static_cast<char>('0' + exitCode % 10);
        exitCode /= 10;
    } while (exitCode != 0 && at >= 0);
    auto value = static_cast<std::uint32_t>(address);
    for (at = 28; value != 0; --at, value >>= 4) text[at] = "0123456789ABCDEF"[value & 15];
}

void ShowRuntimeErrorBox(std::uint32_t exitCode, std::uintptr_t address) {
    char text[30];
    FormatRuntimeError(exitCode, address, text);
    plat::MessageBox(text, "Error", plat::MbOk);
}

}  // namespace pm
