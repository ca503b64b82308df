#if defined(_WIN32)
#include "winsys/windows_win32.h"
#endif

#include "support/faults.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <set>
#include <string_view>
#include <utility>

#include "winsys/platform.h"

namespace pm::faults {
namespace {

using namespace plat;

struct Switches {
    std::uint64_t calls = 0;
    std::uint64_t failAt = 0;
    std::uint64_t alsoFailAt = 0;
    std::uint64_t compares = 0;
    std::uint64_t throwFromCompareAt = 0;
    // Looked up without making a string: an allocation here would be one
    // the program did not make.
    std::set<std::string, std::less<>> failing;  // every call of these names fails
    std::set<std::string, std::less<>> hidden;   // functions the system lacks
    std::uint32_t replaceAnswer = 0;
    std::string refused;  // the next `refusals` calls of this name answer `refusal`
    std::uint64_t refusals = 0;
    std::uint32_t refusal = 0;
    std::string heldName;  // calls naming this file answer `holdError`
    std::uint64_t holds = 0;
    std::uint64_t holdAfter = 0;  // calls naming the held file that pass first
    std::uint32_t holdError = 0;
    std::string failedCall;
    std::uint64_t cutPoints = 0;
    std::uint64_t cutAt = 0;
    CutKind cutKind = CutKind::Process;
    bool powerCutAtExit = false;
    std::uint64_t pauseAt = 0;
    void (*pause)(void*) = nullptr;
    void* pauseContext = nullptr;
    void (*whenWaiting)(void*) = nullptr;
    void* waitingContext = nullptr;
    std::uint64_t allocations = 0;
    std::uint64_t failAllocationAt = 0;
    // The error of the last call, when it was one made to fail.
    bool injected = false;
    std::uint32_t injectedError = 0;
};

// Files opened through the layer and not closed yet (kept across Reset).
int openFiles = 0;

Switches& W() {
    static Switches switches;
    return switches;
}

const Calls* inner = nullptr;

// The wrapped calls allocate for themselves where Windows would not; those
// allocations are not the program's and never fail on purpose.
int insideSystem = 0;

struct Inside {
    Inside() { ++insideSystem; }
    ~Inside() { --insideSystem; }
};

template <class Member, class... Args>
auto Pass(Member member, Args&&... args) {
    Inside inside;
    W().injected = false;
    return (inner->*member)(std::forward<Args>(args)...);
}

// For a power cut: what is on the disk for certain. Each open file's path
// and position, and for each file written since its last flush, the bytes
// it held then; a power cut puts those back. Kept only while a power cut
// is set.
struct OpenFile {
    std::string path;
    std::uint64_t position = 0;
    bool readable = false;
};
std::map<FileHandle, OpenFile>& OpenFilesByHandle() {
    static std::map<FileHandle, OpenFile> files;
    return files;
}
std::map<std::string, std::string>& Unflushed() {
    static std::map<std::string, std::string> stable;
    return stable;
}
bool PowerCutSet() { return (W().cutAt != 0 && W().cutKind == CutKind::Power) || W().powerCutAtExit; }

// Before a write to `file` changes it: the bytes it held at its last flush,
// unless they are known already.
void BeforeChange(FileHandle file) {
    if (!PowerCutSet()) return;
    Inside inside;
    const auto open = OpenFilesByHandle().find(file);
    if (open == OpenFilesByHandle().end() || Unflushed().count(open->second.path)) return;
    std::string bytes;
    std::uint64_t size = 0;
    // A file opened for writing only is a new one: nothing of it is stable.
    if (open->second.readable && inner->SeekFile(file, 0) && inner->BytesToEnd(file, size)) {
        bytes.resize(static_cast<std::size_t>(size));
        std::uint32_t done = 0;
        if (size) inner->ReadFile(file, &bytes[0], static_cast<std::uint32_t>(size), done);
        bytes.resize(done);
    }
    inner->SeekFile(file, open->second.position);
    Unflushed()[open->second.path] = bytes;
}

// The power is lost: every file written since its last flush holds what it
// held then (renames and removals made before stay).
void DropUnflushed() {
    for (const auto& [handle, open] : OpenFilesByHandle()) inner->CloseFile(handle);
    for (const auto& [path, bytes] : Unflushed()) {
        const FileHandle file = inner->CreateFile(path, GenericWrite, 0, CreateAlways);
        std::uint32_t done = 0;
        if (file == InvalidFile) continue;
        if (!bytes.empty()) inner->WriteFile(file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), done);
        inner->CloseFile(file);
    }
}

// The file position, for putting it back after a look at the file.
void Moved(FileHandle file, std::uint64_t by, bool to) {
    if (!PowerCutSet()) return;
    const auto open = OpenFilesByHandle().find(file);
    if (open == OpenFilesByHandle().end()) return;
    open->second.position = to ? by : open->second.position + by;
}

// A file renamed or removed takes its unflushed bytes along, or loses
// them (an empty `to`).
void Renamed(const std::string& from, const std::string& to) {
    if (!PowerCutSet()) return;
    Inside inside;
    const auto it = Unflushed().find(from);
    if (!to.empty()) Unflushed().erase(to);
    if (it == Unflushed().end()) return;
    if (!to.empty()) Unflushed()[to] = it->second;
    Unflushed().erase(from);
}

// Counts a call; true when this one is to fail.
bool MadeToFail(const char* name) {
    Switches& w = W();
    ++w.calls;
    if (w.pauseAt != 0 && w.calls == w.pauseAt) {
        Inside inside;
        w.pause(w.pauseContext);
    }
    if (w.failing.count(std::string_view(name))) return true;
    if (w.failAt == 0 || (w.calls != w.failAt && w.calls != w.alsoFailAt)) return false;
    if (!w.failedCall.empty()) w.failedCall += ", ";
    w.failedCall += name;
    return true;
}

// Whether `path` names the held file (its last part, letter case aside).
bool NamesHeldFile(const std::string& path) {
    const std::string& held = W().heldName;
    if (held.empty() || path.size() < held.size()) return false;
    const std::size_t at = path.size() - held.size();
    if (at > 0 && path[at - 1] != '\\' && path[at - 1] != '/') return false;
    for (std::size_t i = 0; i < held.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(path[at + i]) != lower(held[i])) return false;
    }
    return true;
}

// The error a call refused for a moment answers, 0 if it is not: the
// first calls of the refused name, and calls naming the held file, as
// long as refusals and holds last.
std::uint32_t Refusal(const char* name, const std::string& path, const std::string& other = {},
                      const std::string& third = {}, bool holdsCount = true) {
    Switches& w = W();
    if (w.refusals > 0 && w.refused == name) {
        --w.refusals;
        return w.refusal;
    }
    if (holdsCount && w.holds > 0 && (NamesHeldFile(path) || NamesHeldFile(other) || NamesHeldFile(third))) {
        if (w.holdAfter > 0) {
            --w.holdAfter;
            return 0;
        }
        --w.holds;
        return w.holdError;
    }
    return 0;
}

bool Fail(std::uint32_t error) {
    W().injected = true;
    W().injectedError = error;
    return false;
}

// The process ends here as it would when killed: no clean-up, no message.
void CutPoint() {
    Switches& w = W();
    if (w.cutAt == 0 || ++w.cutPoints != w.cutAt) return;
    if (w.cutKind == CutKind::Power) DropUnflushed();
#if defined(_WIN32)
    ::TerminateProcess(::GetCurrentProcess(), CutExitCode);
    ::ExitProcess(CutExitCode);  // not reached
#else
    std::_Exit(CutExitCode);
#endif
}

std::uint32_t LastError() { return W().injected ? W().injectedError : Pass(&Calls::LastError); }

FileHandle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition) {
    if (disposition != OpenExisting) CutPoint();
    if (MadeToFail(__func__)) {
        Fail(ErrorAccessDenied);
        return InvalidFile;
    }
    if (const std::uint32_t error = Refusal(__func__, path)) {
        Fail(error);
        return InvalidFile;
    }
    const FileHandle file = Pass(&Calls::CreateFile, path, access, share, disposition);
    if (file == InvalidFile) return file;
    ++openFiles;
    if (PowerCutSet()) {
        Inside inside;
        OpenFilesByHandle()[file] = {path, 0, (access & GenericRead) != 0};
        // A file just made holds nothing for certain yet.
        if (disposition == CreateNew) Unflushed().emplace(path, std::string());
    }
    return file;
}

bool BytesToEnd(FileHandle file, std::uint64_t& size) {
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    return Pass(&Calls::BytesToEnd, file, size);
}

// A read made to fail falls short.
bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t& done) {
    const bool cut = MadeToFail(__func__);
    const bool read = Pass(&Calls::ReadFile, file, buffer, cut ? count / 2 : count, done);
    Moved(file, done, false);
    return read;
}

// A write is made in two halves, with a cut point between them; one made to
// fail writes half and reports a full disk.
bool WriteFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t& done) {
    CutPoint();
    BeforeChange(file);
    const bool full = MadeToFail(__func__);
    const std::uint32_t want = full ? count / 2 : count;
    std::uint32_t first = 0, second = 0;
    if (!Pass(&Calls::WriteFile, file, buffer, want / 2, first)) {
        done = first;
        Moved(file, done, false);
        return false;
    }
    Moved(file, first, false);
    CutPoint();
    const bool written = Pass(&Calls::WriteFile, file, static_cast<const char*>(buffer) + first, want - first, second);
    Moved(file, second, false);
    done = first + second;
    if (written && full) Fail(ErrorDiskFull);
    return written;
}

bool FlushFileBuffers(FileHandle file) {
    CutPoint();
    if (MadeToFail(__func__)) return Fail(ErrorDiskFull);
    if (!Pass(&Calls::FlushFileBuffers, file)) return false;
    if (PowerCutSet()) {
        Inside inside;
        const auto open = OpenFilesByHandle().find(file);
        if (open != OpenFilesByHandle().end()) Unflushed().erase(open->second.path);
    }
    return true;
}

bool SeekFile(FileHandle file, std::uint64_t offset) {
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    if (!Pass(&Calls::SeekFile, file, offset)) return false;
    Moved(file, offset, true);
    return true;
}

bool SetEndOfFile(FileHandle file) {
    CutPoint();
    if (MadeToFail(__func__)) return Fail(ErrorDiskFull);
    BeforeChange(file);
    return Pass(&Calls::SetEndOfFile, file);
}

void CloseFile(FileHandle file) {
    --openFiles;
    if (PowerCutSet()) {
        Inside inside;
        OpenFilesByHandle().erase(file);
    }
    Pass(&Calls::CloseFile, file);
}

void Sleep(std::uint32_t milliseconds) { Pass(&Calls::Sleep, milliseconds); }

bool DeleteFile(const std::string& path) {
    CutPoint();
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    if (const std::uint32_t error = Refusal(__func__, path)) return Fail(error);
    if (!Pass(&Calls::DeleteFile, path)) return false;
    Renamed(path, "");
    return true;
}

bool ReplaceFile(const std::string& replaced, const std::string& replacement, const std::string& backup) {
    if (W().hidden.count(std::string_view(__func__))) return Fail(ErrorCallNotImplemented);
    CutPoint();
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    if (const std::uint32_t error = Refusal(__func__, replaced, replacement, backup)) return Fail(error);
    if (const std::uint32_t answer = W().replaceAnswer) {
        // Refused after the replaced file took the backup name: the
        // replacement stays under its own.
        if (answer == ErrorUnableToMoveReplacement2 && Pass(&Calls::MoveFileReplace, replaced, backup))
            Renamed(replaced, backup);
        return Fail(answer);
    }
    if (!Pass(&Calls::ReplaceFile, replaced, replacement, backup)) return false;
    Renamed(replaced, backup);
    Renamed(replacement, replaced);
    return true;
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
    if (W().hidden.count(std::string_view(__func__))) return Fail(ErrorCallNotImplemented);
    CutPoint();
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    if (const std::uint32_t error = Refusal(__func__, from, to)) return Fail(error);
    if (!Pass(&Calls::MoveFileReplace, from, to)) return false;
    Renamed(from, to);
    return true;
}

bool MoveFile(const std::string& from, const std::string& to) {
    CutPoint();
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    if (const std::uint32_t error = Refusal(__func__, from, to)) return Fail(error);
    if (!Pass(&Calls::MoveFile, from, to)) return false;
    Renamed(from, to);
    return true;
}

bool GetFileAttributes(const std::string& path, std::uint32_t& attributes) {
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    // A file held open answers for its attributes; one whose removal waits
    // does not.
    const bool pending = W().holdError == ErrorAccessDenied;
    if (const std::uint32_t error = Refusal(__func__, path, {}, {}, pending)) return Fail(error);
    return Pass(&Calls::GetFileAttributes, path, attributes);
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
    CutPoint();
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    return Pass(&Calls::SetFileAttributes, path, attributes);
}

bool FindFirst(const std::string& pattern, std::uint32_t& attributes) {
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    return Pass(&Calls::FindFirst, pattern, attributes);
}

bool GetFullPathName(const std::string& path, std::string& full) {
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    return Pass(&Calls::GetFullPathName, path, full);
}

ObjectHandle CreateMutex(const std::string& name) {
    if (MadeToFail(__func__)) {
        Fail(ErrorAccessDenied);
        return 0;
    }
    return Pass(&Calls::CreateMutex, name);
}

// With WhenWaiting set, a wait that cannot be had at once tells so first.
std::uint32_t WaitForObject(ObjectHandle object, std::uint32_t milliseconds) {
    if (MadeToFail(__func__)) {
        Fail(ErrorAccessDenied);
        return WaitFailed;
    }
    if (W().whenWaiting) {
        const std::uint32_t now = Pass(&Calls::WaitForObject, object, 0);
        if (now != WaitTimeout) return now;
        Inside inside;
        W().whenWaiting(W().waitingContext);
    }
    return Pass(&Calls::WaitForObject, object, milliseconds);
}

bool ReleaseMutex(ObjectHandle object) {
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    return Pass(&Calls::ReleaseMutex, object);
}

void CloseObject(ObjectHandle object) { Pass(&Calls::CloseObject, object); }

std::int32_t RegOpenKeyEx(RegKey root, const std::string& subkey, std::uint32_t access, RegKey& key) {
    if (MadeToFail(__func__)) return ErrorAccessDenied;
    return Pass(&Calls::RegOpenKeyEx, root, subkey, access, key);
}

std::int32_t RegQueryValueEx(RegKey key, const std::string& name, std::uint32_t& type, unsigned char* data,
                             std::uint32_t& size) {
    if (MadeToFail(__func__)) return ErrorAccessDenied;
    return Pass(&Calls::RegQueryValueEx, key, name, type, data, size);
}

std::int32_t RegCloseKey(RegKey key) { return Pass(&Calls::RegCloseKey, key); }

int CompareStringIgnoreCase(const char* a, std::int32_t lengthA, const char* b, std::int32_t lengthB) {
    if (W().throwFromCompareAt != 0 && ++W().compares == W().throwFromCompareAt) throw std::bad_alloc();
    return Pass(&Calls::CompareStringIgnoreCase, a, lengthA, b, lengthB);
}

bool MakeSortKey(const char* text, std::size_t length, std::string& key) {
    if (W().throwFromCompareAt != 0) return false;  // every order is the comparison's
    return Pass(&Calls::MakeSortKey, text, length, key);
}

bool IsDbcsLeadByte(unsigned char byte) { return Pass(&Calls::IsDbcsLeadByte, byte); }

int MessageBox(const char* text, const char* caption, std::uint32_t style) {
    return Pass(&Calls::MessageBox, text, caption, style);
}

bool GetVersionEx(VersionInfo& info) { return Pass(&Calls::GetVersionEx, info); }

bool OpenProcessToken(std::uint32_t access, TokenHandle& token) {
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    return Pass(&Calls::OpenProcessToken, access, token);
}

bool LookupPrivilegeValue(const char* name, Luid& luid) {
    if (MadeToFail(__func__)) return Fail(1313);  // ERROR_NO_SUCH_PRIVILEGE
    return Pass(&Calls::LookupPrivilegeValue, name, luid);
}

bool AdjustTokenPrivilege(TokenHandle token, const Luid& luid, std::uint32_t attributes) {
    if (MadeToFail(__func__)) return Fail(ErrorAccessDenied);
    return Pass(&Calls::AdjustTokenPrivilege, token, luid, attributes);
}

void CloseToken(TokenHandle token) { Pass(&Calls::CloseToken, token); }
ModuleHandle GetOwnModule() { return Pass(&Calls::GetOwnModule); }
bool FindCommittedRegion(std::uintptr_t address, std::uintptr_t& base) {
    return Pass(&Calls::FindCommittedRegion, address, base);
}
std::uint32_t GetModuleFileName(ModuleHandle module, char* buffer, std::uint32_t capacity) {
    return Pass(&Calls::GetModuleFileName, module, buffer, capacity);
}
int LoadString(std::uint32_t id, char* buffer, int capacity) {
    if (MadeToFail(__func__)) {
        Fail(1814);  // ERROR_RESOURCE_NAME_NOT_FOUND
        return 0;
    }
    return Pass(&Calls::LoadString, id, buffer, capacity);
}
bool IsDebuggerPresent() { return Pass(&Calls::IsDebuggerPresent); }

[[noreturn]] void RaiseForDebugger(const char* kindName, const char* message, std::uintptr_t address) {
    Pass(&Calls::RaiseForDebugger, kindName, message, address);
    std::abort();
}

std::uintptr_t LastThrowAddress() { return Pass(&Calls::LastThrowAddress); }

// Says which call was made to fail ("failed call <name>" on standard error),
// for the host tests that read how a process ended.
[[noreturn]] void ExitProcess(std::uint32_t code) {
#if !defined(_WIN32)
    if (!W().failedCall.empty()) {
        std::fprintf(stderr, "failed call %s\n", W().failedCall.c_str());
        std::fflush(stderr);
    }
#endif
    if (W().powerCutAtExit) DropUnflushed();
    Pass(&Calls::ExitProcess, code);
    std::abort();
}

void InstallFaultHandler(FaultHandler handler) { Pass(&Calls::InstallFaultHandler, handler); }
void RemoveFaultHandler() { Pass(&Calls::RemoveFaultHandler); }

const Calls calls{PM_PLATFORM_CALLS(PM_PLATFORM_CALL_ENTRY, PM_PLATFORM_CALL_ENTRY)};

// The wrappers above take their names for the switches from `__func__`,
// which is the table's own name for each (the entries are filled by name).
// A switch naming no call would make no call fail and pass unseen.
#define PM_CALL_NAME(Return, Name, Parameters, Arguments) #Name,
constexpr std::string_view callNames[] = {PM_PLATFORM_CALLS(PM_CALL_NAME, PM_CALL_NAME)};
#undef PM_CALL_NAME

// (Written without stdio: the test build of the program has none.)
[[noreturn]] void Unknown(const std::string& name) {
    const std::string text = "fault layer: no call of the platform table is named \"" + name + "\"\n";
#if defined(_WIN32)
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
#else
    std::fputs(text.c_str(), stderr);
#endif
    std::abort();
}

const std::string& Known(const std::string& name) {
    for (const std::string_view known : callNames)
        if (known == name) return name;
    Unknown(name);
}

}  // namespace

void Install() {
    inner = &SystemCalls();
    UseCalls(&calls);
}

void Reset() {
    W() = Switches{};
    OpenFilesByHandle().clear();
    Unflushed().clear();
}

int OpenFiles() { return openFiles; }

void AlsoFailCall(std::uint64_t m) { W().alsoFailAt = m; }

void ThrowFromCompare(std::uint64_t n) {
    W().compares = 0;
    W().throwFromCompareAt = n;
}

void FailCall(std::uint64_t n) {
    W().failAt = n;
    W().calls = 0;
    W().failedCall.clear();
}
const std::string& FailedCall() { return W().failedCall; }
void FailEveryCall(const std::string& name) { W().failing.insert(Known(name)); }
void HideSystemFunction(const std::string& name) {
    if (name != "ReplaceFile" && name != "MoveFileReplace") Unknown(name);
    W().hidden.insert(name);
}
void SetReplaceFileAnswer(std::uint32_t error) { W().replaceAnswer = error; }

void RefuseCalls(const std::string& name, std::uint32_t error, std::uint64_t count) {
    W().refused = Known(name);
    W().refusal = error;
    W().refusals = count;
}

void HoldFile(const std::string& name, std::uint32_t error, std::uint64_t count, std::uint64_t after) {
    W().heldName = name;
    W().holdAfter = after;
    W().holdError = error;
    W().holds = count;
}

void CutAt(std::uint64_t n, CutKind kind) {
    W().cutAt = n;
    W().cutKind = kind;
    W().cutPoints = 0;
}

void PowerCutAtExit() { W().powerCutAtExit = true; }

void PauseAtCall(std::uint64_t n, void (*pause)(void*), void* context) {
    W().calls = 0;
    W().pauseAt = pause ? n : 0;
    W().pause = pause;
    W().pauseContext = context;
}

void WhenWaiting(void (*told)(void*), void* context) {
    W().whenWaiting = told;
    W().waitingContext = context;
}

void FailAllocation(std::uint64_t n) {
    W().allocations = 0;
    W().failAllocationAt = n;
}

bool AllocationFails() {
    if (insideSystem > 0 || inner == nullptr) return false;
    Switches& w = W();
    if (w.failAllocationAt == 0 || ++w.allocations != w.failAllocationAt) return false;
    w.failAllocationAt = 0;
    w.failedCall = "allocation";
    return true;
}

}  // namespace pm::faults
