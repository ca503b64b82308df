// The C runtime of Pictomap.exe, on KERNEL32 alone: the program imports no
// C runtime DLL (msvcrt.dll is not part of Windows 95 as first released).
// It holds what the program, the C++ runtime and the compiler's support
// library call: the start-up, the heap, the memory and string functions,
// and the few hooks the C++ runtime asks for. The program is linked without
// the compiler's start files and default libraries, so that anything else
// they would need fails the link instead of importing from a DLL.
//
// Built without the compiler's knowledge of these functions
// (-fno-builtin, -fno-tree-loop-distribute-patterns), so that their loops
// never become calls to themselves.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <exception>

#include "base/stringtable.h"
#include "winsys/kernelfunction_win32.h"

namespace {

// A machine word read or written at any alignment, as any type may alias.
using Word = std::size_t;
using LooseWord __attribute__((may_alias, aligned(1))) = Word;

constexpr std::size_t WordSize = sizeof(Word);

// Copies `count` bytes upwards with the string instructions: whole words
// first, then the bytes left. Safe for overlapping ranges with `to` below
// `from`, as each element is read before any later one is written.
void CopyUp(unsigned char* to, const unsigned char* from, std::size_t count) {
    std::size_t words = count / WordSize, bytes = count % WordSize;
#if defined(__x86_64__)
    __asm__ volatile("rep movsq" : "+D"(to), "+S"(from), "+c"(words) : : "memory");
#else
    __asm__ volatile("rep movsl" : "+D"(to), "+S"(from), "+c"(words) : : "memory");
#endif
    __asm__ volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(bytes) : : "memory");
}

// Copies downwards, from the last byte: for overlapping ranges with `to`
// above `from`.
void CopyDown(unsigned char* to, const unsigned char* from, std::size_t count) {
    while (count % WordSize) {
        --count;
        to[count] = from[count];
    }
    while (count) {
        count -= WordSize;
        *reinterpret_cast<LooseWord*>(to + count) = *reinterpret_cast<const LooseWord*>(from + count);
    }
}

HANDLE Heap() { return ::GetProcessHeap(); }

// The command line after the program's name and the blanks behind it.
char* CommandTail() {
    char* p = ::GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (static_cast<unsigned char>(*p) > ' ') ++p;
    }
    while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
    return p;
}

}  // namespace

extern "C" {

static int* __cdecl ErrorNumber() {
    static int error;
    return &error;
}

// ---- Start-up ----

// The static constructors, as the linker script lists them: a -1, the
// functions, a 0; they run from the last to the first (the exception
// frames' registration, listed last, comes first). Named by the one of the
// script's two names for the list that libgcc's _ctors.o does not define
// as well, so that no second list is ever linked in.
#if defined(__i386__)
extern void (*constructorList[])() __asm__("__CTOR_LIST__");
#else
extern void (*constructorList[])() __asm__("___CTOR_LIST__");
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);

// The program's entry point. The program ends by ExitProcess, and nothing
// registered with atexit runs: static objects free nothing the end of the
// process would not.
[[noreturn]] __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
    std::size_t count = 0;
    while (constructorList[count + 1]) ++count;
    for (std::size_t i = count; i >= 1; --i) constructorList[i]();
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    const int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : SW_SHOWDEFAULT;
    ::ExitProcess(static_cast<UINT>(WinMain(::GetModuleHandleA(nullptr), nullptr, CommandTail(), show)));
}

// Functions to run at exit: accepted and never run (see above).
int atexit(void (*)()) { return 0; }

// The C++ runtime's thread support: a second thread may run (the report
// of a fault runs on one of its own while the program's thread waits). Destructors of
// thread-local keys are not run: the process ends with its threads.
int _CRT_MT = 1;
int __mingwthr_key_dtor(DWORD, void (*)(void*)) { return 0; }

// ---- The heap: the process heap ----

void* malloc(std::size_t size) { return ::HeapAlloc(Heap(), 0, size ? size : 1); }

void free(void* block) {
    if (block) ::HeapFree(Heap(), 0, block);
}

void* calloc(std::size_t count, std::size_t size) {
    if (size && count > SIZE_MAX / size) return nullptr;
    const std::size_t total = count * size;
    return ::HeapAlloc(Heap(), HEAP_ZERO_MEMORY, total ? total : 1);
}

void* realloc(void* block, std::size_t size) {
    if (!block) return malloc(size);
    return ::HeapReAlloc(Heap(), 0, block, size ? size : 1);
}

// ---- Ending ----

// What the C++ runtime calls when it cannot go on (an exception with no
// handler, a broken unwind): the program shows its one box, a fixed text
// from its string table, and ends with the exit code the C runtimes give
// abort. Once only: should the box itself end here, the process just ends.
[[noreturn]] void abort() {
    static bool ending = false;
    if (!ending) {
        ending = true;
        const HMODULE program = ::GetModuleHandleA(nullptr);
        char text[128], caption[64];
        const bool loaded = ::LoadStringA(program, IDS_ABNORMAL_END, text, sizeof text) > 0 &&
                            ::LoadStringA(program, IDS_FAILURE_TITLE, caption, sizeof caption) > 0;
        ::MessageBoxA(nullptr, loaded ? text : TEXT_ABNORMAL_END, loaded ? caption : TEXT_FAILURE_TITLE,
                      MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
    ::ExitProcess(3);
}

// ---- Memory and strings ----

void* memcpy(void* to, const void* from, std::size_t count) {
    CopyUp(static_cast<unsigned char*>(to), static_cast<const unsigned char*>(from), count);
    return to;
}

void* memmove(void* to, const void* from, std::size_t count) {
    auto* t = static_cast<unsigned char*>(to);
    const auto* f = static_cast<const unsigned char*>(from);
    if (t <= f || t >= f + count) CopyUp(t, f, count);
    else CopyDown(t, f, count);
    return to;
}

void* memset(void* to, int value, std::size_t count) {
    auto* t = static_cast<unsigned char*>(to);
    __asm__ volatile("rep stosb" : "+D"(t), "+c"(count) : "a"(value) : "memory");
    return to;
}

int memcmp(const void* a, const void* b, std::size_t count) {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    while (count >= WordSize &&
           *reinterpret_cast<const LooseWord*>(x) == *reinterpret_cast<const LooseWord*>(y)) {
        x += WordSize;
        y += WordSize;
        count -= WordSize;
    }
    for (; count; --count, ++x, ++y)
        if (*x != *y) return *x < *y ? -1 : 1;
    return 0;
}

void* memchr(const void* where, int value, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(where);
    for (; count; --count, ++p)
        if (*p == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(p);
    return nullptr;
}

std::size_t strlen(const char* text) {
    const char* p = text;
    while (*p) ++p;
    return static_cast<std::size_t>(p - text);
}

std::size_t strnlen(const char* text, std::size_t most) {
    std::size_t n = 0;
    while (n < most && text[n]) ++n;
    return n;
}

int strcmp(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const auto x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
}

int strncmp(const char* a, const char* b, std::size_t count) {
    for (; count; --count, ++a, ++b) {
        const auto x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
    return 0;
}

char* strchr(const char* text, int value) {
    const char c = static_cast<char>(value);
    for (;; ++text) {
        if (*text == c) return const_cast<char*>(text);
        if (!*text) return nullptr;
    }
}

// As the standard says for bases 0 and 2 to 36; on overflow ULONG_MAX and
// ERANGE.
unsigned long strtoul(const char* text, char** end, int base) {
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        c = static_cast<char>(c | 0x20);
        return c >= 'a' && c <= 'z' ? c - 'a' + 10 : 99;
    };
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] | 0x20) == 'x' && digit(p[2]) < 16) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = *p == '0' ? 8 : 10;
    }
    unsigned long value = 0;
    bool any = false, overflow = false;
    for (; base >= 2 && base <= 36 && digit(*p) < base; ++p) {
        const auto d = static_cast<unsigned long>(digit(*p));
        any = true;
        if (value > (ULONG_MAX - d) / static_cast<unsigned long>(base)) overflow = true;
        else value = value * static_cast<unsigned long>(base) + d;
    }
    if (end) *end = const_cast<char*>(any ? p : text);
    if (overflow) {
        *ErrorNumber() = ERANGE;
        return ULONG_MAX;
    }
    return negative ? 0 - value : value;
}

char* strncpy(char* to, const char* from, std::size_t count) {
    std::size_t i = 0;
    for (; i < count && from[i]; ++i) to[i] = from[i];
    for (; i < count; ++i) to[i] = '\0';
    return to;
}

// ---- What the C++ runtime's library parts link to and never use here ----

// The program reads no environment: the C++ runtime's tunables (the
// emergency exception pool's size) keep their defaults.
char* getenv(const char*) { return nullptr; }

// The system's error texts: the program shows none.
char* strerror(int) { return const_cast<char*>("Unknown error"); }

// std::random_device comes with the library's string instantiations; the
// program makes no random numbers. Its entropy sources are said to be
// missing.
static errno_t __cdecl NoRandom(unsigned int*) { return 1; }
int read(int, void*, unsigned int) { return -1; }
int close(int) { return -1; }

// A call of a pure virtual function: nothing can go on.
[[noreturn]] void __cxa_pure_virtual() { abort(); }

}  // extern "C"

// ---- Import slots ----

// The C++ runtime calls a few functions through import slots, as if from a
// DLL: the C runtime DLL's errno and rand_s, which the functions above
// stand for, and, in the C++ runtime of newer mingw-w64 compilers (its
// thread support, which exceptions need), GetThreadId (Vista) and
// TryEnterCriticalSection (NT 4.0, not 95, 98 or Me). A program that
// imported those two would not load on older systems. Every such slot is
// defined here, pointing to a function of ours; the two of KERNEL32 look
// the system's own up and stand in for it where it is missing. The
// program's work runs on one thread, so entering a critical section can
// stand in for trying to. The only other thread, a fault's report, runs
// while that one is stopped: where it would block on a section the stopped
// thread holds, the wait for the report is bounded (platform_win32.cpp). A slot's name is the function's as the compiler writes it: with a
// leading underscore (and stdcall's argument bytes) in the 32-bit program.
#if defined(__i386__)
#define PM_IMPORT_SLOT(name) "__imp__" name
#else
#define PM_IMPORT_SLOT(name) "__imp_" name
#endif

namespace {

#if defined(__i386__)
DWORD WINAPI ThreadIdOf(HANDLE thread) {
    using GetId = DWORD(WINAPI*)(HANDLE);
    if (const GetId system = pm::win32::KernelFunction<GetId>("GetThreadId")) return system(thread);
    if (thread == ::GetCurrentThread()) return ::GetCurrentThreadId();
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}

BOOL WINAPI TryEnter(LPCRITICAL_SECTION section) {
    using Try = BOOL(WINAPI*)(LPCRITICAL_SECTION);
    if (const Try system = pm::win32::KernelFunction<Try>("TryEnterCriticalSection")) return system(section);
    ::EnterCriticalSection(section);
    return TRUE;
}
#endif

}  // namespace

extern "C" {
int*(__cdecl* importErrno)() __asm__(PM_IMPORT_SLOT("_errno")) = ErrorNumber;
errno_t(__cdecl* importRandS)(unsigned int*) __asm__(PM_IMPORT_SLOT("rand_s")) = NoRandom;
#if defined(__i386__)
DWORD(WINAPI* importGetThreadId)(HANDLE) __asm__(PM_IMPORT_SLOT("GetThreadId@4")) = ThreadIdOf;
BOOL(WINAPI* importTryEnterCriticalSection)(LPCRITICAL_SECTION) __asm__(PM_IMPORT_SLOT("TryEnterCriticalSection@4")) =
    TryEnter;
#endif
}

// The C++ runtime's default terminate handler, which would write the
// exception's name to a console the program does not have: the process
// ends as by abort.
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx
