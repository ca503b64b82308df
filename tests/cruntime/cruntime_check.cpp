// cruntime_check.exe: the program's own C runtime, linked as Pictomap.exe
// is, against what the standard functions do on the cases the program and
// the C++ runtime meet. Run with the arguments "one two"; exits with 0, or
// with the line number of the first check that failed. Checks whose
// results the compiler could work out itself go through `Opaque`.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace {

#define CHECK(condition)                       \
    do {                                       \
        if (!(condition)) ::ExitProcess(__LINE__); \
    } while (false)

// Hides a value from the optimizer, so that the call is really made.
template <class T>
T Opaque(T value) {
    __asm__ volatile("" : "+r"(value));
    return value;
}

int Sign(int value) { return value < 0 ? -1 : value > 0; }

// Every overlapping move of up to 40 bytes, each way, against a copy made
// through a second buffer.
bool MovesOverlapping() {
    unsigned char buffer[64], expected[64], through[64];
    for (std::size_t count = 0; count <= 40; ++count)
        for (std::size_t from = 0; from < 12; ++from)
            for (std::size_t to = 0; to < 12; ++to) {
                for (std::size_t i = 0; i < sizeof buffer; ++i) buffer[i] = expected[i] = static_cast<unsigned char>(i * 7 + 1);
                for (std::size_t i = 0; i < count; ++i) through[i] = expected[from + i];
                for (std::size_t i = 0; i < count; ++i) expected[to + i] = through[i];
                if (std::memmove(Opaque(buffer + to), Opaque(buffer + from), Opaque(count)) != buffer + to ||
                    std::memcmp(buffer, expected, sizeof buffer) != 0)
                    return false;
            }
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandTail, int) {
    // The command line after the program's name.
    CHECK(std::strcmp(commandTail, "one two") == 0);

    // Allocation: failure is a null pointer (or std::bad_alloc), never a
    // small block; zero bytes is a block of its own; growing keeps the bytes.
    const std::size_t huge = Opaque(SIZE_MAX / 2);
    CHECK(std::malloc(huge) == nullptr);
    CHECK(std::calloc(huge, 4) == nullptr);
    CHECK(std::calloc(4, huge) == nullptr);
    // A product that wraps round to 16 bytes, which the heap would give.
    CHECK(std::calloc(Opaque(SIZE_MAX / 16 + 2), 16) == nullptr);
    bool refused = false;
    try {
        delete[] Opaque(new char[huge]);
    } catch (const std::bad_alloc&) {
        refused = true;
    }
    CHECK(refused);
    void* a = std::malloc(Opaque<std::size_t>(0));
    void* b = std::malloc(Opaque<std::size_t>(0));
    CHECK(a && b && a != b);
    std::free(a);
    std::free(b);
    std::free(nullptr);
    auto* zeroed = static_cast<unsigned char*>(std::calloc(Opaque<std::size_t>(1000), 3));
    CHECK(zeroed);
    for (int i = 0; i < 3000; ++i) CHECK(zeroed[i] == 0);
    zeroed[2999] = 0x5A;
    zeroed = static_cast<unsigned char*>(std::realloc(zeroed, Opaque<std::size_t>(1 << 20)));
    CHECK(zeroed && zeroed[2999] == 0x5A && zeroed[0] == 0);
    CHECK(std::realloc(zeroed, huge) == nullptr);  // the block is kept
    std::free(zeroed);
    void* fresh = std::realloc(nullptr, Opaque<std::size_t>(16));
    CHECK(fresh);
    std::free(fresh);

    // Copies: zero bytes change nothing; moves overlap either way.
    char text[8] = "abcdefg";
    CHECK(std::memcpy(Opaque(text), Opaque("xyz"), Opaque<std::size_t>(0)) == text && std::strcmp(text, "abcdefg") == 0);
    CHECK(std::memmove(Opaque(text), Opaque(text + 1), Opaque<std::size_t>(0)) == text);
    CHECK(MovesOverlapping());
    CHECK(std::memset(Opaque(text), Opaque(0x141), Opaque<std::size_t>(3)) == text && std::strcmp(text, "AAAdefg") == 0);

    // Comparisons count bytes as unsigned, at every position of a word.
    const struct {
        const char* a;
        const char* b;
        std::size_t count;
        int sign;
    } compares[] = {
        {"", "", 0, 0},          {"abc", "abd", 3, -1},       {"abc", "abd", 2, 0},
        {"\x80", "\x7F", 1, 1},  {"abcdefghi", "abcdefghj", 9, -1}, {"abcdefgh\xFF", "abcdefgh\x01", 9, 1},
        {"abcdefghijklmnop", "abcdefghijklmnop", 16, 0},
        // Decided by the first byte, though the word read as a number
        // would say otherwise.
        {"\1\2\0\0", "\2\1\0\0", 4, -1},
    };
    for (const auto& c : compares) {
        CHECK(Sign(std::memcmp(Opaque(c.a), Opaque(c.b), Opaque(c.count))) == c.sign);
        CHECK(Sign(std::strncmp(Opaque(c.a), Opaque(c.b), Opaque(c.count))) == c.sign);
    }
    CHECK(Sign(std::strcmp(Opaque("ab"), Opaque("abc"))) == -1);
    CHECK(Sign(std::strcmp(Opaque("\xE4"), Opaque("z"))) == 1);
    CHECK(std::strlen(Opaque("")) == 0 && std::strlen(Opaque("four")) == 4);
    CHECK(strnlen(Opaque("four"), 2) == 2 && strnlen(Opaque("four"), 9) == 4);
    const char bytes[] = {'a', '\0', 'b', '\xFF'};
    CHECK(std::memchr(Opaque(bytes), 0xFF, 4) == bytes + 3 && std::memchr(Opaque(bytes), 0, 4) == bytes + 1);
    CHECK(std::memchr(Opaque(bytes), 'b', 2) == nullptr);
    const char* abca = Opaque("abca");
    CHECK(std::strchr(abca, 'a') == abca && std::strchr(abca, 'c') == abca + 2);
    CHECK(std::strchr(abca, 'x') == nullptr && std::strchr(abca, '\0') == abca + 4);

    // Numbers as the C++ runtime's tunables are read.
    const struct {
        const char* text;
        int base;
        unsigned long value;
        std::size_t used;
    } numbers[] = {
        {"42", 10, 42, 2},  {"  +17x", 10, 17, 5}, {"0x1F", 0, 31, 4},  {"0x", 16, 0, 1},
        {"017", 0, 15, 3},  {"zz", 36, 1295, 2},   {"", 10, 0, 0},      {"-1", 10, ULONG_MAX, 2},
        {"99999999999999999999999", 10, ULONG_MAX, 23},
    };
    for (const auto& n : numbers) {
        char* end = nullptr;
        errno = 0;
        CHECK(std::strtoul(Opaque(n.text), &end, n.base) == n.value && end == n.text + n.used);
        // Only a value too large says so.
        CHECK(errno == (n.used == 23 ? ERANGE : 0));
    }
    CHECK(std::getenv(Opaque("PATH")) == nullptr);  // the program reads no environment
    CHECK(std::strerror(2) != nullptr);
    char padded[6];
    CHECK(std::strncpy(Opaque(padded), Opaque("ab"), 6) == padded && std::memcmp(padded, "ab\0\0\0\0", 6) == 0);

    // The C++ runtime on top: a thrown exception is caught, with its text.
    try {
        throw std::runtime_error(std::string(Opaque("thrown ")) + "and caught");
    } catch (const std::exception& failure) {
        CHECK(std::strcmp(failure.what(), "thrown and caught") == 0);
        return 0;
    }
    return 1;
}
