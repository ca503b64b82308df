// The platform layer: the one narrow door through which the program reaches
// the operating system. It mirrors the Windows calls the program makes, with
// portable types, so the rest of the code includes no Windows header.
//
// The calls form one table of functions, as SQLite's OS layer does. The
// system's own table (SystemCalls) is Windows in the Win32 build
// (platform_win32.cpp) and, in the host build, the stand-in that the tests
// bring. A table that wraps another may be put in its place (UseCalls): the
// tests do so to fail, hide or cut any call, on either side. The program
// reaches the calls through the functions at the end of this file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pm::plat {

// ---- Error codes (GetLastError values the program tells apart) ----
inline constexpr std::uint32_t ErrorSuccess = 0;
inline constexpr std::uint32_t ErrorFileNotFound = 2;
inline constexpr std::uint32_t ErrorPathNotFound = 3;
inline constexpr std::uint32_t ErrorAccessDenied = 5;
inline constexpr std::uint32_t ErrorSharingViolation = 32;
inline constexpr std::uint32_t ErrorNoMoreFiles = 18;
inline constexpr std::uint32_t ErrorFileExists = 80;
inline constexpr std::uint32_t ErrorInvalidName = 123;
inline constexpr std::uint32_t ErrorDiskFull = 112;
inline constexpr std::uint32_t ErrorMoreData = 234;
inline constexpr std::uint32_t ErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t ErrorCallNotImplemented = 120;
inline constexpr std::uint32_t ErrorAlreadyExists = 183;
inline constexpr std::uint32_t ErrorFilenameExcedRange = 206;
inline constexpr std::uint32_t ErrorUnableToRemoveReplaced = 1175;
inline constexpr std::uint32_t ErrorUnableToMoveReplacement = 1176;
inline constexpr std::uint32_t ErrorUnableToMoveReplacement2 = 1177;
// The answers of a lookup that mean there is no such file: the file or its
// folder is not there, a search found nothing, or the name cannot be one.
inline bool NoSuchFile(std::uint32_t error) {
    return error == ErrorFileNotFound || error == ErrorPathNotFound || error == ErrorNoMoreFiles ||
           error == ErrorInvalidName;
}

// ---- Files ----
using FileHandle = std::uintptr_t;
inline constexpr FileHandle InvalidFile = ~static_cast<FileHandle>(0);

inline constexpr std::uint32_t GenericRead = 0x80000000u;
inline constexpr std::uint32_t GenericWrite = 0x40000000u;
inline constexpr std::uint32_t FileShareRead = 1;
inline constexpr std::uint32_t FileShareWrite = 2;
inline constexpr std::uint32_t CreateNew = 1;
inline constexpr std::uint32_t CreateAlways = 2;
inline constexpr std::uint32_t OpenExisting = 3;
inline constexpr std::uint32_t OpenAlways = 4;
inline constexpr std::uint32_t AttributeReadOnly = 0x01;
inline constexpr std::uint32_t AttributeHidden = 0x02;
inline constexpr std::uint32_t AttributeSystem = 0x04;
inline constexpr std::uint32_t AttributeDirectory = 0x10;
inline constexpr std::uint32_t AttributeArchive = 0x20;
inline constexpr std::uint32_t AttributeNormal = 0x80;

// ---- Named objects ----
using ObjectHandle = std::uintptr_t;
inline constexpr std::uint32_t WaitObject0 = 0;
inline constexpr std::uint32_t WaitAbandoned = 0x80;
inline constexpr std::uint32_t WaitTimeout = 0x102;
inline constexpr std::uint32_t WaitFailed = 0xFFFFFFFFu;

// ---- Registry ----
using RegKey = std::uintptr_t;
inline constexpr RegKey HkeyLocalMachine = 0x80000002u;
inline constexpr std::uint32_t KeyQueryValue = 0x0001;
inline constexpr std::uint32_t RegNone = 0;
inline constexpr std::uint32_t RegSz = 1;
inline constexpr std::uint32_t RegExpandSz = 2;
inline constexpr std::uint32_t RegBinary = 3;
inline constexpr std::uint32_t RegDword = 4;
inline constexpr std::uint32_t RegMultiSz = 7;

// ---- Message boxes ----
inline constexpr std::uint32_t MbOk = 0x0;
inline constexpr std::uint32_t MbIconError = 0x10;
inline constexpr std::uint32_t MbIconInformation = 0x40;
inline constexpr std::uint32_t MbTaskModal = 0x2000;

// ---- Version and privileges ----
struct VersionInfo {
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint32_t buildNumber = 0;
    std::uint32_t platformId = 0;
};
using TokenHandle = std::uintptr_t;
inline constexpr std::uint32_t TokenAdjustPrivileges = 0x20;
inline constexpr std::uint32_t SePrivilegeEnabled = 2;
struct Luid {
    std::uint32_t lowPart = 0;
    std::int32_t highPart = 0;
};

// ---- Process and modules ----
using ModuleHandle = std::uintptr_t;
// The code of the system exception that hands a failure to a debugger.
inline constexpr std::uint32_t FailureExceptionCode = 0xE0504D31u;  // 'PM1'
// Faults signalled by the processor that nobody handled. The handler is
// called (on a thread with a fresh stack) with the fault and its address;
// it does not return. With a debugger attached faults go to the debugger.
enum class Fault { AccessViolation, StackOverflow };
using FaultHandler = void (*)(Fault fault, std::uintptr_t address);

// ---- The table ----
// One row per call: PM_PLATFORM_CALLS(F, N) is F(Return, Name, (Parameters),
// (Arguments)) for each call in the table's order, and N(...) alike for
// the two that never return. From it come the table's fields, the
// functions the program calls, and the names the tests' fault layer knows
// the calls by. Each side fills the table with functions of the same names
// (PM_PLATFORM_CALL_ENTRY).
#define PM_PLATFORM_CALLS(F, N)                                                                                      \
    F(std::uint32_t, LastError, (), ())                                                                              \
    /* CreateFileA with FILE_ATTRIBUTE_NORMAL, no security attributes, no template. */                              \
    F(FileHandle, CreateFile,                                                                                        \
      (const std::string& path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition),              \
      (path, access, share, disposition))                                                                            \
    /* The bytes from the file pointer to the end of the file (SetFilePointer to the end and back): the file's      \
       size, just after it is opened. */                                                                             \
    F(bool, BytesToEnd, (FileHandle file, std::uint64_t & size), (file, size))                                       \
    F(bool, ReadFile, (FileHandle file, void* buffer, std::uint32_t count, std::uint32_t& done),                     \
      (file, buffer, count, done))                                                                                   \
    F(bool, WriteFile, (FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t& done),              \
      (file, buffer, count, done))                                                                                   \
    F(bool, FlushFileBuffers, (FileHandle file), (file))                                                             \
    /* SetFilePointer to `offset` bytes from the start. */                                                          \
    F(bool, SeekFile, (FileHandle file, std::uint64_t offset), (file, offset))                                       \
    /* SetEndOfFile: the file ends at the file pointer. */                                                          \
    F(bool, SetEndOfFile, (FileHandle file), (file))                                                                 \
    F(void, CloseFile, (FileHandle file), (file))                                                                    \
    F(bool, DeleteFile, (const std::string& path), (path))                                                           \
    /* Sleep: waits, for a file that another program holds for a moment. */                                         \
    F(void, Sleep, (std::uint32_t milliseconds), (milliseconds))                                                     \
    /* ReplaceFileA(replaced, replacement, backup): the replacement takes the replaced file's name, attributes and   \
       security, and the replaced file the backup name. Answers ErrorCallNotImplemented before Windows 2000, which   \
       lacks it. Refused with ErrorUnableToMoveReplacement, both files keep their names; with                       \
       ErrorUnableToMoveReplacement2 the replaced file stands under the backup name and the replacement under its    \
       own. */                                                                                                       \
    F(bool, ReplaceFile, (const std::string& replaced, const std::string& replacement, const std::string& backup),   \
      (replaced, replacement, backup))                                                                               \
    /* MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; answers ErrorCallNotImplemented on 95,   \
       98 and Me. */                                                                                                 \
    F(bool, MoveFileReplace, (const std::string& from, const std::string& to), (from, to))                           \
    /* MoveFileA: renames a file; refused when `to` exists. Every Windows has it. */                                 \
    F(bool, MoveFile, (const std::string& from, const std::string& to), (from, to))                                  \
    F(bool, GetFileAttributes, (const std::string& path, std::uint32_t& attributes), (path, attributes))             \
    F(bool, SetFileAttributes, (const std::string& path, std::uint32_t attributes), (path, attributes))              \
    /* FindFirstFileA, then FindClose: true when an entry matches `pattern`, with its attributes; LastError tells    \
       why there is none. */                                                                                         \
    F(bool, FindFirst, (const std::string& pattern, std::uint32_t& attributes), (pattern, attributes))               \
    /* GetFullPathNameA: `path` made absolute against the current folder. */                                        \
    F(bool, GetFullPathName, (const std::string& path, std::string& full), (path, full))                             \
                                                                                                                     \
    /* CreateMutexA with no security attributes, not owned: the mutex of that name, made where there is none; 0 on   \
       failure. */                                                                                                   \
    F(ObjectHandle, CreateMutex, (const std::string& name), (name))                                                  \
    /* WaitForSingleObject: WaitObject0, WaitAbandoned (its last owner ended without releasing it; it is now ours),  \
       WaitTimeout or WaitFailed. */                                                                                 \
    F(std::uint32_t, WaitForObject, (ObjectHandle object, std::uint32_t milliseconds), (object, milliseconds))       \
    F(bool, ReleaseMutex, (ObjectHandle object), (object))                                                           \
    F(void, CloseObject, (ObjectHandle object), (object))                                                            \
                                                                                                                     \
    /* The registry's calls return the system's status code: 0 for success. For RegQueryValueEx `data` may be null  \
       (size request); `size` is in and out. */                                                                      \
    F(std::int32_t, RegOpenKeyEx, (RegKey root, const std::string& subkey, std::uint32_t access, RegKey& key),       \
      (root, subkey, access, key))                                                                                   \
    F(std::int32_t, RegQueryValueEx,                                                                                 \
      (RegKey key, const std::string& name, std::uint32_t& type, unsigned char* data, std::uint32_t& size),         \
      (key, name, type, data, size))                                                                                 \
    F(std::int32_t, RegCloseKey, (RegKey key), (key))                                                                \
                                                                                                                     \
    /* CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, ...): 1, 2 or 3; 0 on failure. */                        \
    F(int, CompareStringIgnoreCase, (const char* a, std::int32_t lengthA, const char* b, std::int32_t lengthB),      \
      (a, lengthA, b, lengthB))                                                                                      \
    /* The locale's sort key of a text into `key` (LCMapStringA with LCMAP_SORTKEY | NORM_IGNORECASE): two keys,     \
       compared byte by byte over their whole length, order as CompareStringIgnoreCase orders their texts. False     \
       where none can be made. */                                                                                    \
    F(bool, MakeSortKey, (const char* text, std::size_t length, std::string& key), (text, length, key))              \
    /* IsDBCSLeadByte in the ANSI code page. */                                                                      \
    F(bool, IsDbcsLeadByte, (unsigned char byte), (byte))                                                            \
                                                                                                                     \
    /* MessageBoxA with no owner window. */                                                                          \
    F(int, MessageBox, (const char* text, const char* caption, std::uint32_t style), (text, caption, style))         \
                                                                                                                     \
    /* GetVersionExA with an OSVERSIONINFOA of 148 bytes. */                                                         \
    F(bool, GetVersionEx, (VersionInfo & info), (info))                                                              \
    /* OpenProcessToken(GetCurrentProcess(), access, &token). */                                                     \
    F(bool, OpenProcessToken, (std::uint32_t access, TokenHandle & token), (access, token))                          \
    F(bool, LookupPrivilegeValue, (const char* name, Luid& luid), (name, luid))                                      \
    /* AdjustTokenPrivileges with one entry, no previous state. */                                                   \
    F(bool, AdjustTokenPrivilege, (TokenHandle token, const Luid& luid, std::uint32_t attributes),                   \
      (token, luid, attributes))                                                                                     \
    F(void, CloseToken, (TokenHandle token), (token))                                                                \
                                                                                                                     \
    F(ModuleHandle, GetOwnModule, (), ())                                                                            \
    /* VirtualQuery: the allocation base of the region holding `address`, if committed. */                          \
    F(bool, FindCommittedRegion, (std::uintptr_t address, std::uintptr_t & allocationBase),                          \
      (address, allocationBase))                                                                                     \
    /* GetModuleFileNameA into `buffer` of `capacity` bytes; returns the length, 0 on failure. */                    \
    F(std::uint32_t, GetModuleFileName, (ModuleHandle module, char* buffer, std::uint32_t capacity),                 \
      (module, buffer, capacity))                                                                                    \
    /* LoadStringA from the program's string table; returns the length, 0 when there is no such string. */          \
    F(int, LoadString, (std::uint32_t id, char* buffer, int capacity), (id, buffer, capacity))                       \
    F(bool, IsDebuggerPresent, (), ())                                                                               \
    /* RaiseException(FailureExceptionCode, EXCEPTION_NONCONTINUABLE) with the raise address, kind name and message   \
       as its arguments, for a debugger; unhandled, the system ends the process with that code. */                   \
    N(void, RaiseForDebugger, (const char* kindName, const char* message, std::uintptr_t address),                  \
      (kindName, message, address))                                                                                  \
    /* Where the last C++ exception was thrown from (0 if not known): the runtime's own throws (std::length_error,   \
       ...) carry no address of ours. */                                                                             \
    F(std::uintptr_t, LastThrowAddress, (), ())                                                                      \
    N(void, ExitProcess, (std::uint32_t code), (code))                                                               \
    F(void, InstallFaultHandler, (FaultHandler handler), (handler))                                                  \
    F(void, RemoveFaultHandler, (), ())

#define PM_PLATFORM_CALL_FIELD(Return, Name, Parameters, Arguments) Return(*Name) Parameters;
struct Calls {
    PM_PLATFORM_CALLS(PM_PLATFORM_CALL_FIELD, PM_PLATFORM_CALL_FIELD)
};
#undef PM_PLATFORM_CALL_FIELD
// A side's table: `const Calls calls{PM_PLATFORM_CALLS(PM_PLATFORM_CALL_ENTRY, PM_PLATFORM_CALL_ENTRY)};`
#define PM_PLATFORM_CALL_ENTRY(Return, Name, Parameters, Arguments) Name,

// The system's own calls: Windows, or in the host build the tests' stand-in.
const Calls& SystemCalls();
// Puts `calls` in the place of the system's (null: the system's again). A
// wrapping table keeps the one it wraps and calls on to it.
void UseCalls(const Calls* calls);
extern const Calls* activeCalls;
inline const Calls& Active() { return activeCalls ? *activeCalls : SystemCalls(); }

// ---- The calls the program makes ----
// The table's entries cannot be marked as not returning, so the two calls
// that never return are made in a loop. Its body is the call itself, not a
// jump to itself: an unwinder that reads the code after a call (Wine's on
// x86_64, looking for an epilogue) follows such a jump for ever.
#define PM_PLATFORM_CALL(Return, Name, Parameters, Arguments) \
    inline Return Name Parameters { return Active().Name Arguments; }
#define PM_PLATFORM_CALL_ENDING(Return, Name, Parameters, Arguments) \
    [[noreturn]] inline void Name Parameters {                       \
        for (;;) Active().Name Arguments;                            \
    }
PM_PLATFORM_CALLS(PM_PLATFORM_CALL, PM_PLATFORM_CALL_ENDING)
#undef PM_PLATFORM_CALL
#undef PM_PLATFORM_CALL_ENDING

}  // namespace pm::plat
