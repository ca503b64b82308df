// The system's calls in the host build: our stand-in for Windows in native
// tests. What each Windows call does, as far as the program relies on it,
// on a POSIX system. Files are real files (a backslash in a path is a
// folder separator); Windows share modes and the read-only attribute are
// enforced here, as Windows would, also for root.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "base/stringtable.h"
#include "hostplatform/hostplatform.h"

namespace pm {
namespace {

struct OpenFile {
    int fd;
    std::string path;
    std::uint32_t access;
    std::uint32_t share;
};

struct RegistryKey {
    bool readOnly = false;
    std::map<std::string, host::RegistryValue> values;  // lower-case names
};

struct State {
    std::uint32_t lastError = 0;
    std::map<plat::FileHandle, OpenFile> files;
    plat::FileHandle nextFile = 1;
    std::map<plat::ObjectHandle, int> mutexes;  // each a lock file's descriptor
    plat::ObjectHandle nextMutex = 0x3000;
    std::map<std::string, RegistryKey> keys;  // lower-case paths
    std::map<plat::RegKey, std::string> openKeys;
    plat::RegKey nextKey = 0x1000;
    std::vector<host::RegistryOpen> registryOpens;
    std::vector<host::ShownBox> boxes;
    std::set<unsigned char> leadBytes;
    plat::VersionInfo version{5, 1, 2600, 2};
    bool versionSucceeds = true;
    int versionQueries = 0;
    std::set<std::string> privileges{"SeChangeNotifyPrivilege", "SeTakeOwnershipPrivilege"};
    bool tokenOpens = true;
    int openTokens = 0;
    std::map<std::uint64_t, std::string> luids;
    std::vector<host::Adjustment> adjustments;
    std::string modulePath = "C:\\Tools\\Pictomap.exe";
    bool debugger = false;
    bool leakCheckAtExit = true;
    // Sleep does not wait on the host: the time asked for is added up.
    std::uint64_t slept = 0;
};

State& Host() {
    static State state;
    return state;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Native(const std::string& path) {
    std::string result = path;
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

bool Fail(std::uint32_t error) {
    Host().lastError = error;
    return false;
}

std::uint32_t ErrnoToError(int error) {
    switch (error) {
    case ENOENT: return plat::ErrorFileNotFound;
    case ENOTDIR: return plat::ErrorPathNotFound;
    case EEXIST: return plat::ErrorFileExists;
    case ENOSPC: return plat::ErrorDiskFull;
    case ENOMEM: return plat::ErrorNotEnoughMemory;
    default: return plat::ErrorAccessDenied;
    }
}

bool InUse(const std::string& path) {
    for (const auto& [handle, file] : Host().files)
        if (file.path == path) return true;
    return false;
}

bool ReadOnly(const std::string& native) {
    struct stat st {};
    return ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
}

// Paths as long as MAX_PATH (260) or longer are refused by the ANSI calls.
bool TooLong(const std::string& path) { return path.size() >= 260; }

// A folder without its owner's write bit stands for one in which the user
// may not add, remove or rename entries (as a folder's access list says on
// Windows), also for root.
bool FolderLocked(const std::string& native) {
    const auto slash = native.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR);
}

// The attributes that POSIX files lack are kept in a file's execute bits,
// as Samba keeps them: archive the owner's, system the group's, hidden the
// others'. So they stay with the file through a rename, and one run sees
// what another left, as on Windows. A file made here has none of them.
struct ModeBit {
    std::uint32_t attribute;
    mode_t bit;
};
constexpr ModeBit ModeBits[] = {
    {plat::AttributeArchive, S_IXUSR}, {plat::AttributeSystem, S_IXGRP}, {plat::AttributeHidden, S_IXOTH}};

// A file's attributes: directory and read-only from the file system, the
// others from its execute bits.
std::uint32_t AttributesOf(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return plat::AttributeDirectory;
    std::uint32_t attributes = (st.st_mode & S_IWUSR) ? 0 : plat::AttributeReadOnly;
    for (const ModeBit& m : ModeBits)
        if (st.st_mode & m.bit) attributes |= m.attribute;
    return attributes;
}

// `mode` with the execute bits of the hidden, system and archive bits of
// `attributes`.
mode_t WithAttributes(mode_t mode, std::uint32_t attributes) {
    for (const ModeBit& m : ModeBits) mode = (attributes & m.attribute) ? (mode | m.bit) : (mode & ~m.bit);
    return mode;
}

// Windows marks a file it creates, rewrites or writes for backup.
void MarkForBackup(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !(st.st_mode & S_IXUSR)) ::fchmod(fd, (st.st_mode & 07777) | S_IXUSR);
}

bool ParentMissing(const std::string& native) {
    const auto slash = native.rfind('/');
    if (slash == std::string::npos || slash == 0) return false;
    struct stat st {};
    return ::stat(native.substr(0, slash).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

}  // namespace

namespace standin {
using namespace plat;

std::uint32_t LastError() { return Host().lastError; }

FileHandle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition) {
    if (TooLong(path)) {
        Fail(ErrorFilenameExcedRange);
        return InvalidFile;
    }
    const std::string native = Native(path);
    struct stat st {};
    const bool exists = ::stat(native.c_str(), &st) == 0;
    if (exists && disposition == CreateNew) {
        Fail(ErrorFileExists);
        return InvalidFile;
    }
    for (const auto& [handle, file] : Host().files) {
        if (file.path != native) continue;
        const bool conflict = ((access & GenericRead) && !(file.share & FileShareRead)) ||
                              ((access & GenericWrite) && !(file.share & FileShareWrite)) ||
                              ((file.access & GenericRead) && !(share & FileShareRead)) ||
                              ((file.access & GenericWrite) && !(share & FileShareWrite));
        if (conflict) {
            Fail(ErrorSharingViolation);
            return InvalidFile;
        }
    }
    if (exists && S_ISDIR(st.st_mode)) {
        Fail(ErrorAccessDenied);
        return InvalidFile;
    }
    if (!exists && ParentMissing(native)) {
        Fail(ErrorPathNotFound);
        return InvalidFile;
    }
    if (exists && (access & GenericWrite) && ReadOnly(native)) {
        Fail(ErrorAccessDenied);
        return InvalidFile;
    }
    if (!exists && disposition != OpenExisting && FolderLocked(native)) {
        Fail(ErrorAccessDenied);
        return InvalidFile;
    }
    int flags = (access & GenericWrite) ? ((access & GenericRead) ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (disposition == CreateNew) flags |= O_CREAT | O_EXCL;
    if (disposition == CreateAlways) flags |= O_CREAT | O_TRUNC;
    if (disposition == OpenAlways) flags |= O_CREAT;
    // The handle's entry is made first: once the file exists, nothing may
    // fail (not even an allocation) before the handle is returned.
    const FileHandle handle = Host().nextFile++;
    OpenFile& entry = Host().files[handle];
    entry = {-1, native, access, share};
    const int fd = ::open(native.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        Fail(ErrnoToError(errno));
        Host().files.erase(handle);
        return InvalidFile;
    }
    entry.fd = fd;
    if (!exists || disposition == CreateAlways) MarkForBackup(fd);
    Host().lastError = exists && (disposition == CreateAlways || disposition == OpenAlways) ? ErrorAlreadyExists
                                                                                          : ErrorSuccess;
    return handle;
}

bool BytesToEnd(FileHandle file, std::uint64_t& size) {
    struct stat st {};
    const int fd = Host().files.at(file).fd;
    const off_t here = ::lseek(fd, 0, SEEK_CUR);
    if (here < 0 || ::fstat(fd, &st) != 0) return Fail(ErrnoToError(errno));
    size = st.st_size > here ? static_cast<std::uint64_t>(st.st_size - here) : 0;
    return true;
}

bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t& done) {
    done = 0;
    const std::uint32_t want = count;
    while (done < want) {
        const ssize_t n = ::read(Host().files.at(file).fd, static_cast<char*>(buffer) + done, want - done);
        if (n < 0) return Fail(ErrnoToError(errno));
        if (n == 0) break;
        done += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool WriteFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t& done) {
    done = 0;
    while (done < count) {
        const ssize_t n = ::write(Host().files.at(file).fd, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0) return Fail(ErrnoToError(errno));
        done += static_cast<std::uint32_t>(n);
    }
    MarkForBackup(Host().files.at(file).fd);
    return true;
}

bool FlushFileBuffers(FileHandle file) {
    return ::fsync(Host().files.at(file).fd) == 0 || Fail(ErrnoToError(errno));
}

bool SeekFile(FileHandle file, std::uint64_t offset) {
    return ::lseek(Host().files.at(file).fd, static_cast<off_t>(offset), SEEK_SET) >= 0 || Fail(ErrnoToError(errno));
}

bool SetEndOfFile(FileHandle file) {
    const int fd = Host().files.at(file).fd;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    return (at >= 0 && ::ftruncate(fd, at) == 0) || Fail(ErrnoToError(errno));
}

void CloseFile(FileHandle file) {
    auto it = Host().files.find(file);
    if (it == Host().files.end()) return;
    ::close(it->second.fd);
    Host().files.erase(it);
}

void Sleep(std::uint32_t milliseconds) { Host().slept += milliseconds; }

bool DeleteFile(const std::string& path) {
    if (TooLong(path)) return Fail(ErrorFilenameExcedRange);
    const std::string native = Native(path);
    if (InUse(native)) return Fail(ErrorSharingViolation);
    if (ReadOnly(native) || FolderLocked(native)) return Fail(ErrorAccessDenied);
    if (::unlink(native.c_str()) != 0) return Fail(ErrnoToError(errno));
    return true;
}

namespace {

// A rename as the system's calls make it: refused for a file in use, a
// read-only target, a folder that takes no change; over an existing target
// only when `replace`.
bool Rename(const std::string& from, const std::string& to, bool replace) {
    if (TooLong(from) || TooLong(to)) return Fail(ErrorFilenameExcedRange);
    const std::string source = Native(from), target = Native(to);
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) return Fail(ErrorFileNotFound);
    const bool targetExists = ::stat(target.c_str(), &st) == 0;
    if (targetExists && !replace) return Fail(ErrorAlreadyExists);
    if (InUse(target) || InUse(source)) return Fail(ErrorSharingViolation);
    if ((targetExists && ReadOnly(target)) || FolderLocked(target) || FolderLocked(source))
        return Fail(ErrorAccessDenied);
    if (::rename(source.c_str(), target.c_str()) != 0) return Fail(ErrnoToError(errno));
    // As under Wine, the file moved brings its own attributes.
    return true;
}

}  // namespace

// As Windows documents it: the replaced file takes the backup name, then
// the replacement the replaced file's; where the first step is refused both
// keep their names, where the second is, the replaced file keeps the backup
// name.
bool ReplaceFile(const std::string& replaced, const std::string& replacement, const std::string& backup) {
    struct stat st {};
    if (::stat(Native(replaced).c_str(), &st) != 0) return Fail(ErrorFileNotFound);
    if (::stat(Native(replacement).c_str(), &st) != 0) return Fail(ErrorFileNotFound);
    if (!Rename(replaced, backup, true)) return Fail(ErrorUnableToRemoveReplaced);
    if (!Rename(replacement, replaced, true)) return Fail(ErrorUnableToMoveReplacement2);
    return true;
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
    return Rename(from, to, true);
}

bool MoveFile(const std::string& from, const std::string& to) {
    return Rename(from, to, false);
}

bool GetFileAttributes(const std::string& path, std::uint32_t& attributes) {
    if (TooLong(path)) return Fail(ErrorFilenameExcedRange);
    const std::string native = Native(path);
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return Fail(ErrnoToError(errno));
    attributes = AttributesOf(st);
    if (attributes == 0) attributes = AttributeNormal;
    return true;
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
    if (TooLong(path)) return Fail(ErrorFilenameExcedRange);
    const std::string native = Native(path);
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return Fail(ErrnoToError(errno));
    if (S_ISDIR(st.st_mode)) return true;
    const mode_t writable = (attributes & AttributeReadOnly) ? (st.st_mode & ~0222u) : (st.st_mode | S_IWUSR);
    ::chmod(native.c_str(), WithAttributes(writable & 07777, attributes));
    return true;
}

bool FindFirst(const std::string& pattern, std::uint32_t& attributes) {
    const std::string native = Native(pattern);
    const auto slash = native.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
    if (TooLong(pattern)) return Fail(ErrorFilenameExcedRange);
    // A folder without its owner's read bit cannot be listed, also by root.
    struct stat folderStat {};
    if (::stat(folder.c_str(), &folderStat) == 0 && !(folderStat.st_mode & S_IRUSR)) return Fail(ErrorAccessDenied);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return Fail(errno == ENOENT || errno == ENOTDIR ? ErrorPathNotFound : ErrorAccessDenied);
    bool found = false;
    std::string match;
    while (const dirent* entry = ::readdir(dir)) {
        if (::fnmatch(name.c_str(), entry->d_name, FNM_CASEFOLD) == 0 ||
            Lower(name) == Lower(entry->d_name)) {
            match = entry->d_name;
            found = true;
            break;
        }
    }
    ::closedir(dir);
    if (!found) return Fail(ErrorFileNotFound);
    struct stat st {};
    ::stat((folder + match).c_str(), &st);
    attributes = AttributesOf(st);
    return true;
}

bool GetFullPathName(const std::string& path, std::string& full) {
    if (!path.empty() && path[0] == '/') {
        full = path;
        return true;
    }
    char here[4096];
    if (!::getcwd(here, sizeof here)) return Fail(ErrnoToError(errno));
    full = std::string(here) + "/" + path;
    return !TooLong(full) || Fail(ErrorFilenameExcedRange);
}

// ---- Named objects ----

namespace {

// The system's namespace of named objects: a folder of lock files, made by
// the test program and shared with the processes it forks. A
// mutex is an exclusive flock of its file, so that it is given up when its
// process ends, as Windows gives up a mutex its owner left.
const char* ObjectFolder() {
    static char folder[] = "/tmp/pictomap-objects-XXXXXX";
    static const pid_t maker = [] {
        if (!::mkdtemp(folder)) folder[0] = '\0';
        std::atexit([] {
            if (::getpid() == maker && folder[0]) std::filesystem::remove_all(folder);
        });
        return ::getpid();
    }();
    return folder;
}
// Made as the test program starts, so that the runs it forks share it.
const char* const objectFolder = ObjectFolder();

}  // namespace

ObjectHandle CreateMutex(const std::string& name) {
    std::string file = name;
    std::replace(file.begin(), file.end(), '\\', '!');
    const int fd = ::open((std::string(objectFolder) + "/" + file).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        Fail(ErrnoToError(errno));
        return 0;
    }
    const ObjectHandle handle = Host().nextMutex++;
    Host().mutexes[handle] = fd;
    Host().lastError = ErrorSuccess;
    return handle;
}

// Waits for real, the only call of the stand-in that does: another process
// holds the mutex.
std::uint32_t WaitForObject(ObjectHandle object, std::uint32_t milliseconds) {
    const auto it = Host().mutexes.find(object);
    if (it == Host().mutexes.end()) {
        Fail(6);  // ERROR_INVALID_HANDLE
        return WaitFailed;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (::flock(it->second, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            Fail(ErrnoToError(errno));
            return WaitFailed;
        }
        if (std::chrono::steady_clock::now() >= until) return WaitTimeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WaitObject0;
}

bool ReleaseMutex(ObjectHandle object) {
    const auto it = Host().mutexes.find(object);
    return (it != Host().mutexes.end() && ::flock(it->second, LOCK_UN) == 0) || Fail(288);  // ERROR_NOT_OWNER
}

void CloseObject(ObjectHandle object) {
    const auto it = Host().mutexes.find(object);
    if (it == Host().mutexes.end()) return;
    ::close(it->second);
    Host().mutexes.erase(it);
}

// ---- Registry ----

std::int32_t RegOpenKeyEx(RegKey root, const std::string& subkey, std::uint32_t access, RegKey& key) {
    Host().registryOpens.push_back({subkey, access});
    auto it = Host().keys.find(Lower(subkey));
    if (root != HkeyLocalMachine || it == Host().keys.end()) return ErrorFileNotFound;
    if (it->second.readOnly && (access & ~(KeyQueryValue | 0x20018u))) return ErrorAccessDenied;
    key = Host().nextKey++;
    Host().openKeys[key] = it->first;
    return 0;
}

std::int32_t RegQueryValueEx(RegKey key, const std::string& name, std::uint32_t& type,
                             unsigned char* data, std::uint32_t& size) {
    const RegistryKey& k = Host().keys.at(Host().openKeys.at(key));
    auto it = k.values.find(Lower(name));
    if (it == k.values.end()) return ErrorFileNotFound;
    const std::string& stored = it->second.data;
    type = it->second.type;
    if (data == nullptr) {
        size = static_cast<std::uint32_t>(stored.size());
        return 0;
    }
    if (size < stored.size()) {
        size = static_cast<std::uint32_t>(stored.size());
        return ErrorMoreData;
    }
    std::memcpy(data, stored.data(), stored.size());
    size = static_cast<std::uint32_t>(stored.size());
    return 0;
}

std::int32_t RegCloseKey(RegKey key) {
    return Host().openKeys.erase(key) ? 0 : 6;
}

// ---- Text ----

// A total order that ignores the case of ASCII letters: bytes compared as
// lower-case, then the shorter text first.
int CompareStringIgnoreCase(const char* a, std::int32_t lengthA, const char* b, std::int32_t lengthB) {
    const std::int32_t common = std::min(lengthA, lengthB);
    for (std::int32_t i = 0; i < common; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y ? 1 : 3;
    }
    return lengthA < lengthB ? 1 : lengthA > lengthB ? 3 : 2;
}

// The text itself is the key, ASCII letters lower-cased: its first 19
// bytes, big-endian, padded with 0, and the whole of it. A text that ends
// early (padding 0) is the shorter, which the order above puts first too.
// The host's sort key is the text in lower case (ASCII letters only).
bool MakeSortKey(const char* text, std::size_t length, std::string& key) {
    key.assign(text, length);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return true;
}

bool IsDbcsLeadByte(unsigned char byte) { return Host().leadBytes.count(byte) != 0; }

int MessageBox(const char* text, const char* caption, std::uint32_t style) {
    Host().boxes.push_back({text, caption, style});
    return 1;
}

// ---- Version and privileges ----

bool GetVersionEx(VersionInfo& info) {
    ++Host().versionQueries;
    if (!Host().versionSucceeds) return false;
    info = Host().version;
    return true;
}

bool OpenProcessToken(std::uint32_t access, TokenHandle& token) {
    if (!Host().tokenOpens || access != TokenAdjustPrivileges)
        return Fail(ErrorAccessDenied);
    ++Host().openTokens;
    token = 0x2000;
    return true;
}

bool LookupPrivilegeValue(const char* name, Luid& luid) {
    if (!Host().privileges.count(name)) return Fail(1313);
    luid.lowPart = static_cast<std::uint32_t>(std::hash<std::string>()(name) & 0xFFFF) + 2;
    luid.highPart = 0;
    Host().luids[luid.lowPart] = name;
    return true;
}

bool AdjustTokenPrivilege(TokenHandle, const Luid& luid, std::uint32_t attributes) {
    Host().adjustments.push_back({Host().luids[luid.lowPart], attributes});
    return true;
}

void CloseToken(TokenHandle) { --Host().openTokens; }

// ---- Process and modules ----

ModuleHandle GetOwnModule() { return 0x400000; }

bool FindCommittedRegion(std::uintptr_t, std::uintptr_t&) { return false; }

std::uint32_t GetModuleFileName(ModuleHandle, char* buffer, std::uint32_t capacity) {
    if (capacity == 0) return 0;
    const std::string& path = Host().modulePath;
    const std::size_t n = std::min<std::size_t>(path.size(), capacity - 1);
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

bool IsDebuggerPresent() { return Host().debugger; }

// The host has no debugger to hand a failure to: it says what a debugger
// would have been given and ends the process as the system would.
[[noreturn]] void RaiseForDebugger(const char* kindName, const char* message, std::uintptr_t) {
    std::fprintf(stderr, "debugger gets %s: %s\n", kindName, message);
    std::fflush(stderr);
    std::_Exit(static_cast<int>(FailureExceptionCode & 0xFF));
}

std::uintptr_t LastThrowAddress() { return 0; }

[[noreturn]] void ExitProcess(std::uint32_t code) {
#if defined(__SANITIZE_ADDRESS__)
    // Whatever the run allocated must be freed by now: a leak ends the
    // process with its own code, which tests see.
    if (Host().leakCheckAtExit && __lsan_do_recoverable_leak_check() != 0) std::_Exit(99);
#endif
    for (const host::ShownBox& box : Host().boxes) {
        std::string text = box.text;
        std::replace(text.begin(), text.end(), '\n', '|');
        std::fprintf(stderr, "box 0x%X [%s] [%s]\n", box.style, box.caption.c_str(), text.c_str());
    }
    std::fflush(stderr);
    std::_Exit(static_cast<int>(code));
}

// Native tests do not provoke processor faults; the host keeps no handler.
void InstallFaultHandler(FaultHandler) {}
void RemoveFaultHandler() {}

int LoadString(std::uint32_t id, char* buffer, int capacity) {
    const char* text = nullptr;
    switch (id) {
    case IDS_FAILURE_FORMAT: text = TEXT_FAILURE_FORMAT; break;
    case IDS_FAILURE_TITLE: text = TEXT_FAILURE_TITLE; break;
    case IDS_OUT_OF_MEMORY: text = TEXT_OUT_OF_MEMORY; break;
    case IDS_RANGE_ERROR: text = TEXT_RANGE_ERROR; break;
    case IDS_INT_OVERFLOW: text = TEXT_INT_OVERFLOW; break;
    default: break;
    }
    if (capacity <= 0) return 0;
    const int n = text ? std::min<int>(static_cast<int>(std::strlen(text)), capacity - 1) : 0;
    if (n) std::memcpy(buffer, text, static_cast<std::size_t>(n));
    buffer[n] = '\0';
    return n;
}

const Calls calls{PM_PLATFORM_CALLS(PM_PLATFORM_CALL_ENTRY, PM_PLATFORM_CALL_ENTRY)};

}  // namespace standin

const plat::Calls& plat::SystemCalls() { return standin::calls; }

namespace host {

void SetRegistryValue(const std::string& key, const std::string& name, std::uint32_t type,
                      const std::string& data) {
    Host().keys[Lower(key)].values[Lower(name)] = {type, data};
}
void CreateRegistryKey(const std::string& key) { Host().keys[Lower(key)]; }
void SetRegistryKeyReadOnly(const std::string& key, bool readOnly) { Host().keys[Lower(key)].readOnly = readOnly; }
const std::vector<RegistryOpen>& RegistryOpens() { return Host().registryOpens; }
int OpenRegistryKeys() { return static_cast<int>(Host().openKeys.size()); }
const std::vector<ShownBox>& ShownBoxes() { return Host().boxes; }
void SetDbcsLeadBytes(const std::set<unsigned char>& leadBytes) { Host().leadBytes = leadBytes; }
void SetVersion(const plat::VersionInfo& info, bool succeeds) {
    Host().version = info;
    Host().versionSucceeds = succeeds;
}
int VersionQueries() { return Host().versionQueries; }
void SetTokenOpens(bool succeeds) { Host().tokenOpens = succeeds; }
const std::vector<Adjustment>& Adjustments() { return Host().adjustments; }
int OpenTokens() { return Host().openTokens; }
void SetModulePath(const std::string& path) { Host().modulePath = path; }
void SetDebuggerPresent(bool present) { Host().debugger = present; }
void SetLeakCheckAtExit(bool check) { Host().leakCheckAtExit = check; }
int OpenFiles() { return static_cast<int>(Host().files.size()); }
std::uint64_t SleptMilliseconds() { return Host().slept; }
void Reset() {
    for (auto& [handle, file] : Host().files) ::close(file.fd);
    for (auto& [handle, fd] : Host().mutexes) ::close(fd);
    Host() = State{};
}

}  // namespace host
}  // namespace pm

