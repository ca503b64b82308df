// Win32 side of the platform layer: each function is the Windows call it
// is named after, with the arguments the program always passes; together
// they are the system's table of calls.
#include "winsys/windows_win32.h"

#include <string>

#include "winsys/cxxruntime_win32.h"
#include "winsys/kernelfunction_win32.h"
#include "winsys/platform.h"

namespace pm::win32 {
using namespace pm::plat;
namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

static_assert(sizeof(OSVERSIONINFOA) == 148, "version record size");

std::uint32_t LastError() { return ::GetLastError(); }

FileHandle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition) {
    const HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? InvalidFile : reinterpret_cast<FileHandle>(h);
}

bool BytesToEnd(FileHandle file, std::uint64_t& size) {
    LONG high = 0;
    const DWORD here = ::SetFilePointer(ToHandle(file), 0, &high, FILE_CURRENT);
    if (here == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return false;
    const LONG hereHigh = high;
    high = 0;
    const DWORD end = ::SetFilePointer(ToHandle(file), 0, &high, FILE_END);
    if (end == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return false;
    const std::uint64_t endAt = (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | end;
    const std::uint64_t hereAt = (static_cast<std::uint64_t>(static_cast<DWORD>(hereHigh)) << 32) | here;
    LONG backHigh = hereHigh;
    if (::SetFilePointer(ToHandle(file), static_cast<LONG>(here), &backHigh, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        ::GetLastError() != NO_ERROR)
        return false;
    size = endAt - hereAt;
    return true;
}

bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t& done) {
    DWORD n = 0;
    const BOOL ok = ::ReadFile(ToHandle(file), buffer, count, &n, nullptr);
    done = n;
    return ok != FALSE;
}

bool WriteFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t& done) {
    DWORD n = 0;
    const BOOL ok = ::WriteFile(ToHandle(file), buffer, count, &n, nullptr);
    done = n;
    return ok != FALSE;
}

bool FlushFileBuffers(FileHandle file) { return ::FlushFileBuffers(ToHandle(file)) != FALSE; }

bool SeekFile(FileHandle file, std::uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    const DWORD low = ::SetFilePointer(ToHandle(file), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return low != INVALID_SET_FILE_POINTER || ::GetLastError() == NO_ERROR;
}

bool SetEndOfFile(FileHandle file) { return ::SetEndOfFile(ToHandle(file)) != FALSE; }

bool GetFileAttributes(const std::string& path, std::uint32_t& attributes) {
    const DWORD found = ::GetFileAttributesA(path.c_str());
    if (found == INVALID_FILE_ATTRIBUTES) return false;
    attributes = found;
    return true;
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
    return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
}
void CloseFile(FileHandle file) { ::CloseHandle(ToHandle(file)); }
bool DeleteFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }
void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

// Functions that not every 32-bit Windows has are looked up when first
// needed (KernelFunction), so that the program loads everywhere: ReplaceFileA
// came with Windows 2000, IsDebuggerPresent with NT 4.0 and 98; MoveFileExA
// is there on 95, 98 and Me but answers ERROR_CALL_NOT_IMPLEMENTED.

bool ReplaceFile(const std::string& replaced, const std::string& replacement, const std::string& backup) {
    using Replace = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, DWORD, LPVOID, LPVOID);
    static const Replace replace = KernelFunction<Replace>("ReplaceFileA");
    if (!replace) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    return replace(replaced.c_str(), replacement.c_str(), backup.c_str(), 0, nullptr, nullptr) != FALSE;
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool MoveFile(const std::string& from, const std::string& to) {
    return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool FindFirst(const std::string& pattern, std::uint32_t& attributes) {
    WIN32_FIND_DATAA data;
    const HANDLE h = ::FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::FindClose(h);
    attributes = data.dwFileAttributes;
    return true;
}

bool GetFullPathName(const std::string& path, std::string& full) {
    char buffer[MAX_PATH];
    char* name = nullptr;
    const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, buffer, &name);
    if (length == 0 || length >= MAX_PATH) return false;
    full.assign(buffer, length);
    return true;
}

ObjectHandle CreateMutex(const std::string& name) {
    return reinterpret_cast<ObjectHandle>(::CreateMutexA(nullptr, FALSE, name.c_str()));
}

std::uint32_t WaitForObject(ObjectHandle object, std::uint32_t milliseconds) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(object), milliseconds);
}

bool ReleaseMutex(ObjectHandle object) { return ::ReleaseMutex(reinterpret_cast<HANDLE>(object)) != FALSE; }
void CloseObject(ObjectHandle object) { ::CloseHandle(reinterpret_cast<HANDLE>(object)); }

std::int32_t RegOpenKeyEx(RegKey root, const std::string& subkey, std::uint32_t access, RegKey& key) {
    HKEY h = nullptr;
    const LONG status = ::RegOpenKeyExA(reinterpret_cast<HKEY>(root), subkey.c_str(), 0, access, &h);
    key = reinterpret_cast<RegKey>(h);
    return status;
}

std::int32_t RegQueryValueEx(RegKey key, const std::string& name, std::uint32_t& type,
                             unsigned char* data, std::uint32_t& size) {
    DWORD t = type, n = size;
    const LONG status = ::RegQueryValueExA(reinterpret_cast<HKEY>(key), name.c_str(), nullptr, &t, data, &n);
    type = t;
    size = n;
    return status;
}

std::int32_t RegCloseKey(RegKey key) { return ::RegCloseKey(reinterpret_cast<HKEY>(key)); }

int CompareStringIgnoreCase(const char* a, std::int32_t lengthA, const char* b, std::int32_t lengthB) {
    return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, lengthA, b, lengthB);
}

// The key ends in a NUL, so a shorter key comes first.
bool MakeSortKey(const char* text, std::size_t length, std::string& key) {
    constexpr DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
    if (length > 0x7FFFFFFF) return false;
    // An empty text is mapped as a NUL-ended one: a length of 0 is refused.
    const char* source = length ? text : "";
    const int sourceLength = length ? static_cast<int>(length) : -1;
    // Most keys fit in 512 bytes; the room stays with `key` for the next.
    key.resize(512);
    int n = ::LCMapStringA(LOCALE_USER_DEFAULT, flags, source, sourceLength, &key[0], static_cast<int>(key.size()));
    if (n == 0 && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        n = ::LCMapStringA(LOCALE_USER_DEFAULT, flags, source, sourceLength, nullptr, 0);
        if (n > 0) {
            key.resize(static_cast<std::size_t>(n));
            n = ::LCMapStringA(LOCALE_USER_DEFAULT, flags, source, sourceLength, &key[0], n);
        }
    }
    key.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return n > 0;
}

bool IsDbcsLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

// Set as a box is about to show: a fault's report then waits for the user.
volatile LONG boxShowing = 0;

int MessageBox(const char* text, const char* caption, std::uint32_t style) {
    boxShowing = 1;
    return ::MessageBoxA(nullptr, text, caption, style);
}

bool GetVersionEx(VersionInfo& info) {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = ::GetVersionExA(&v);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    info = {v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber, v.dwPlatformId};
    return ok != FALSE;
}

bool OpenProcessToken(std::uint32_t access, TokenHandle& token) {
    HANDLE h = nullptr;
    const BOOL ok = ::OpenProcessToken(::GetCurrentProcess(), access, &h);
    token = reinterpret_cast<TokenHandle>(h);
    return ok != FALSE;
}

bool LookupPrivilegeValue(const char* name, Luid& luid) {
    LUID l{};
    if (!::LookupPrivilegeValueA(nullptr, name, &l)) return false;
    luid = {l.LowPart, l.HighPart};
    return true;
}

bool AdjustTokenPrivilege(TokenHandle token, const Luid& luid, std::uint32_t attributes) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = luid.lowPart;
    privileges.Privileges[0].Luid.HighPart = luid.highPart;
    privileges.Privileges[0].Attributes = attributes;
    return ::AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), FALSE, &privileges, 0, nullptr,
                                   nullptr) != FALSE;
}

void CloseToken(TokenHandle token) { ::CloseHandle(reinterpret_cast<HANDLE>(token)); }

ModuleHandle GetOwnModule() { return reinterpret_cast<ModuleHandle>(::GetModuleHandleA(nullptr)); }

bool FindCommittedRegion(std::uintptr_t address, std::uintptr_t& allocationBase) {
    MEMORY_BASIC_INFORMATION info{};
    if (::VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT) return false;
    allocationBase = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
    return true;
}

std::uint32_t GetModuleFileName(ModuleHandle module, char* buffer, std::uint32_t capacity) {
    return ::GetModuleFileNameA(reinterpret_cast<HMODULE>(module), buffer, capacity);
}

int LoadString(std::uint32_t id, char* buffer, int capacity) {
    return ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, capacity);
}

// Where the system lacks IsDebuggerPresent (Windows 95), no debugger can
// take failures over.
bool IsDebuggerPresent() {
    using Present = BOOL(WINAPI*)();
    static const Present present = KernelFunction<Present>("IsDebuggerPresent");
    return present && present() != FALSE;
}

[[noreturn]] void RaiseForDebugger(const char* kindName, const char* message, std::uintptr_t address) {
    const ULONG_PTR arguments[3] = {address, reinterpret_cast<ULONG_PTR>(kindName),
                                    reinterpret_cast<ULONG_PTR>(message)};
    for (;;) ::RaiseException(FailureExceptionCode, EXCEPTION_NONCONTINUABLE, 3, arguments);
}

[[noreturn]] void ExitProcess(std::uint32_t code) { ::ExitProcess(code); }

namespace {

FaultHandler faultHandler = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

// Time for a fault's report to reach its box.
constexpr DWORD ReportStartMilliseconds = 15000;

struct FaultReport {
    Fault fault;
    std::uintptr_t address;
};

DWORD WINAPI ReportOnFreshStack(LPVOID parameter) {
    const auto* report = static_cast<const FaultReport*>(parameter);
    faultHandler(report->fault, report->address);
    return 0;
}

LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* pointers) {
    if (IsDebuggerPresent() || faultHandler == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    FaultReport report{Fault::AccessViolation,
                       reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress)};
    switch (pointers->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION: report.fault = Fault::AccessViolation; break;
    case EXCEPTION_STACK_OVERFLOW: report.fault = Fault::StackOverflow; break;
    default: return EXCEPTION_CONTINUE_SEARCH;
    }
    // The faulting thread's stack may be all but used up (a stack overflow),
    // so the report is made on a thread of its own; the handler ends the
    // process from there. That thread may block for good on a lock this one
    // holds (the heap's, or a critical section: on 95, 98 and Me the stand-in
    // for TryEnterCriticalSection enters it). So it is given a while to show
    // its box, and waited for as long as the user takes only once it has;
    // else the process ends here, without a box rather than hung. Ended so,
    // not by ExitProcess: that would wait for the loader's lock, which a
    // thread blocked while it starts holds.
    boxShowing = 0;
    const HANDLE thread = ::CreateThread(nullptr, 256 * 1024, ReportOnFreshStack, &report, 0, nullptr);
    if (thread != nullptr && ::WaitForSingleObject(thread, ReportStartMilliseconds) == WAIT_TIMEOUT) {
        if (!boxShowing) ::TerminateProcess(::GetCurrentProcess(), 1);
        ::WaitForSingleObject(thread, INFINITE);
    }
    ::ExitProcess(1);
}

}  // namespace

void InstallFaultHandler(FaultHandler handler) {
    faultHandler = handler;
    previousFilter = ::SetUnhandledExceptionFilter(TopLevelFilter);
}

void RemoveFaultHandler() {
    ::SetUnhandledExceptionFilter(previousFilter);
    faultHandler = nullptr;
}

const Calls calls{PM_PLATFORM_CALLS(PM_PLATFORM_CALL_ENTRY, PM_PLATFORM_CALL_ENTRY)};

}  // namespace pm::win32

const pm::plat::Calls& pm::plat::SystemCalls() { return pm::win32::calls; }
