// Host side of the platform layer: what each Windows call does, as far as
// the program relies on it, on a POSIX system. Files are real files (a
// backslash in a path is a folder separator); Windows share modes and the
// read-only attribute are enforced here, as Windows would, also for root.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "winsys/hostplatform.h"

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
    std::map<std::string, RegistryKey> keys;  // lower-case paths
    std::map<plat::RegKey, std::string> openKeys;
    plat::RegKey nextKey = 0x1000;
    std::vector<host::RegistryOpen> registryOpens;
    bool failDataRequest = false;
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
    // Attributes that POSIX files lack (hidden, system, archive), by path;
    // a file without an entry has none of them.
    std::map<std::string, std::uint32_t> dosAttributes;
    std::uint64_t calls = 0;
    std::uint64_t failAt = 0;
    std::set<std::string> failingCalls;  // fail every time
    std::set<std::string> hidden;        // system functions this system lacks
    std::uint32_t replaceAnswer = 0;     // ReplaceFile fails with this error
    std::string failedCall;
    std::uint64_t cutPoints = 0;
    std::uint64_t cutAt = 0;
};

State& S() {
    static State state;
    return state;
}

// The stand-in's own bookkeeping allocates where Windows would not; those
// allocations are not the program's and never fail on purpose.
int insidePlatform = 0;
struct InPlatform {
    InPlatform() { ++insidePlatform; }
    ~InPlatform() { --insidePlatform; }
    InPlatform(const InPlatform&) = delete;
    InPlatform& operator=(const InPlatform&) = delete;
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Native(const std::string& path) {
    std::string result = path;
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

// Counts a call; true when this one is to fail.
bool Injected(const char* name) {
    State& s = S();
    ++s.calls;
    if (s.failingCalls.count(name)) return true;
    if (s.failAt == 0 || s.calls != s.failAt) return false;
    s.failedCall = name;
    return true;
}

// Counts a point at which a cut may end the process: before each call that
// can change what is on disk, and in the middle of each write. The process
// ends there as it would when killed: no clean-up, no message.
void CutPoint() {
    State& s = S();
    ++s.cutPoints;
    if (s.cutAt != 0 && s.cutPoints == s.cutAt) std::_Exit(host::CutExitCode);
}

bool Fail(std::uint32_t error) {
    S().lastError = error;
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
    for (const auto& [handle, file] : S().files)
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

void MoveDosAttributes(const std::string& from, const std::string& to) {
    auto& attributes = S().dosAttributes;
    auto it = attributes.find(from);
    if (it == attributes.end()) {
        attributes.erase(to);
        return;
    }
    attributes[to] = it->second;
    attributes.erase(it);
}

bool ParentMissing(const std::string& native) {
    const auto slash = native.rfind('/');
    if (slash == std::string::npos || slash == 0) return false;
    struct stat st {};
    return ::stat(native.substr(0, slash).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

}  // namespace

namespace plat {

std::uint32_t LastError() { return S().lastError; }

FileHandle CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition) {
    const InPlatform inPlatform;
    if (disposition != OpenExisting) CutPoint();
    if (Injected("CreateFile")) {
        Fail(ErrorAccessDenied);
        return InvalidFile;
    }
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
    for (const auto& [handle, file] : S().files) {
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
    const FileHandle handle = S().nextFile++;
    OpenFile& entry = S().files[handle];
    entry = {-1, native, access, share};
    const int fd = ::open(native.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        Fail(ErrnoToError(errno));
        S().files.erase(handle);
        return InvalidFile;
    }
    entry.fd = fd;
    // Windows marks a file it creates or rewrites for backup.
    if (!exists) S().dosAttributes[native] = AttributeArchive;
    else if (disposition == CreateAlways) S().dosAttributes[native] |= AttributeArchive;
    S().lastError = exists && (disposition == CreateAlways || disposition == OpenAlways) ? ErrorAlreadyExists
                                                                                          : ErrorSuccess;
    return handle;
}

bool FileSize(FileHandle file, std::uint64_t& size) {
    const InPlatform inPlatform;
    if (Injected("SetFilePointer")) return Fail(ErrorAccessDenied);
    struct stat st {};
    if (::fstat(S().files.at(file).fd, &st) != 0) return Fail(ErrnoToError(errno));
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t& done) {
    const InPlatform inPlatform;
    done = 0;
    // A fault here makes the read fall short rather than fail outright.
    const std::uint32_t want = Injected("ReadFile") ? count / 2 : count;
    while (done < want) {
        const ssize_t n = ::read(S().files.at(file).fd, static_cast<char*>(buffer) + done, want - done);
        if (n < 0) return Fail(ErrnoToError(errno));
        if (n == 0) break;
        done += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool WriteFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t& done) {
    const InPlatform inPlatform;
    CutPoint();
    done = 0;
    // A fault here is a full disk: part of the text is written.
    const bool full = Injected("WriteFile");
    const std::uint32_t want = full ? count / 2 : count;
    const auto put = [&](std::uint32_t upTo) {
        while (done < upTo) {
            const ssize_t n = ::write(S().files.at(file).fd, static_cast<const char*>(buffer) + done, upTo - done);
            if (n < 0) return false;
            done += static_cast<std::uint32_t>(n);
        }
        return true;
    };
    if (!put(want / 2)) return Fail(ErrnoToError(errno));
    CutPoint();
    if (!put(want)) return Fail(ErrnoToError(errno));
    // Windows marks a file that is written for backup.
    S().dosAttributes[S().files.at(file).path] |= AttributeArchive;
    if (full) S().lastError = ErrorDiskFull;
    return true;
}

bool FlushFileBuffers(FileHandle file) {
    const InPlatform inPlatform;
    CutPoint();
    if (Injected("FlushFileBuffers")) return Fail(ErrorDiskFull);
    return ::fsync(S().files.at(file).fd) == 0 || Fail(ErrnoToError(errno));
}

bool SeekFile(FileHandle file, std::uint64_t offset) {
    const InPlatform inPlatform;
    if (Injected("SetFilePointer")) return Fail(ErrorAccessDenied);
    return ::lseek(S().files.at(file).fd, static_cast<off_t>(offset), SEEK_SET) >= 0 || Fail(ErrnoToError(errno));
}

bool SetEndOfFile(FileHandle file) {
    const InPlatform inPlatform;
    CutPoint();
    if (Injected("SetEndOfFile")) return Fail(ErrorDiskFull);
    const int fd = S().files.at(file).fd;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    return (at >= 0 && ::ftruncate(fd, at) == 0) || Fail(ErrnoToError(errno));
}

void CloseFile(FileHandle file) {
    const InPlatform inPlatform;
    auto it = S().files.find(file);
    if (it == S().files.end()) return;
    ::close(it->second.fd);
    S().files.erase(it);
}

bool DeleteFile(const std::string& path) {
    const InPlatform inPlatform;
    CutPoint();
    if (Injected("DeleteFile")) return Fail(ErrorAccessDenied);
    if (TooLong(path)) return Fail(ErrorFilenameExcedRange);
    const std::string native = Native(path);
    if (InUse(native)) return Fail(ErrorSharingViolation);
    if (ReadOnly(native) || FolderLocked(native)) return Fail(ErrorAccessDenied);
    if (::unlink(native.c_str()) != 0) return Fail(ErrnoToError(errno));
    S().dosAttributes.erase(native);
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
    // As under Wine: the file moved brings its own attributes.
    MoveDosAttributes(source, target);
    return true;
}

}  // namespace

bool ReplaceFile(const std::string& replaced, const std::string& replacement) {
    const InPlatform inPlatform;
    CutPoint();
    if (Injected("ReplaceFile")) return Fail(ErrorAccessDenied);
    if (S().hidden.count("ReplaceFileA")) return Fail(ErrorCallNotImplemented);
    struct stat st {};
    if (::stat(Native(replaced).c_str(), &st) != 0) return Fail(ErrorFileNotFound);
    if (const std::uint32_t answer = S().replaceAnswer) {
        // Refused after the replaced file was removed: the replacement
        // stays under its own name.
        if (answer == ErrorUnableToMoveReplacement) {
            ::unlink(Native(replaced).c_str());
            S().dosAttributes.erase(Native(replaced));
        }
        return Fail(answer);
    }
    return Rename(replacement, replaced, true);
}

bool MoveFileReplace(const std::string& from, const std::string& to) {
    const InPlatform inPlatform;
    CutPoint();
    if (Injected("MoveFileEx")) return Fail(ErrorAccessDenied);
    if (S().hidden.count("MoveFileExA")) return Fail(ErrorCallNotImplemented);
    return Rename(from, to, true);
}

bool MoveFile(const std::string& from, const std::string& to) {
    const InPlatform inPlatform;
    CutPoint();
    if (Injected("MoveFile")) return Fail(ErrorAccessDenied);
    return Rename(from, to, false);
}

bool GetFileAttributes(const std::string& path, std::uint32_t& attributes) {
    const InPlatform inPlatform;
    if (Injected("GetFileAttributes")) return Fail(ErrorAccessDenied);
    if (TooLong(path)) return Fail(ErrorFilenameExcedRange);
    const std::string native = Native(path);
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return Fail(ErrnoToError(errno));
    attributes = S_ISDIR(st.st_mode) ? AttributeDirectory : 0;
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) attributes |= AttributeReadOnly;
    auto it = S().dosAttributes.find(native);
    if (it != S().dosAttributes.end()) attributes |= it->second;
    if (attributes == 0) attributes = AttributeNormal;
    return true;
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
    const InPlatform inPlatform;
    CutPoint();
    if (Injected("SetFileAttributes")) return Fail(ErrorAccessDenied);
    if (TooLong(path)) return Fail(ErrorFilenameExcedRange);
    const std::string native = Native(path);
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return Fail(ErrnoToError(errno));
    ::chmod(native.c_str(), (attributes & AttributeReadOnly) ? (st.st_mode & ~0222u) : (st.st_mode | S_IWUSR));
    S().dosAttributes[native] = attributes & (AttributeHidden | AttributeSystem | AttributeArchive);
    return true;
}

bool FindFirst(const std::string& pattern, std::uint32_t& attributes) {
    const InPlatform inPlatform;
    if (Injected("FindFirstFile")) return Fail(ErrorAccessDenied);
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
    attributes = S_ISDIR(st.st_mode) ? AttributeDirectory : 0;
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) attributes |= AttributeReadOnly;
    auto it = S().dosAttributes.find(folder + match);
    if (it != S().dosAttributes.end()) attributes |= it->second;
    return true;
}

// ---- Registry ----

std::int32_t RegOpenKeyEx(RegKey root, const std::string& subkey, std::uint32_t access, RegKey& key) {
    const InPlatform inPlatform;
    S().registryOpens.push_back({subkey, access});
    if (Injected("RegOpenKeyEx")) return ErrorAccessDenied;
    auto it = S().keys.find(Lower(subkey));
    if (root != HkeyLocalMachine || it == S().keys.end()) return ErrorFileNotFound;
    if (it->second.readOnly && (access & ~(KeyQueryValue | 0x20018u))) return ErrorAccessDenied;
    key = S().nextKey++;
    S().openKeys[key] = it->first;
    return 0;
}

std::int32_t RegQueryValueEx(RegKey key, const std::string& name, std::uint32_t& type,
                             unsigned char* data, std::uint32_t& size) {
    const InPlatform inPlatform;
    if (Injected("RegQueryValueEx")) return ErrorAccessDenied;
    if (data && S().failDataRequest) {
        S().failDataRequest = false;
        return ErrorAccessDenied;
    }
    const RegistryKey& k = S().keys.at(S().openKeys.at(key));
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
    const InPlatform inPlatform;
    return S().openKeys.erase(key) ? 0 : 6;
}

// ---- Text ----

// A total order that ignores the case of ASCII letters: bytes compared as
// lower-case, then the shorter text first.
int CompareStringIgnoreCase(const char* a, std::int32_t lengthA, const char* b, std::int32_t lengthB) {
    const InPlatform inPlatform;
    const std::int32_t common = std::min(lengthA, lengthB);
    for (std::int32_t i = 0; i < common; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y ? 1 : 3;
    }
    return lengthA < lengthB ? 1 : lengthA > lengthB ? 3 : 2;
}

// The text itself is the key: its first 11 bytes, ASCII letters
// lower-cased, big-endian, padded with 0. A text that ends early (padding
// 0) is the shorter, which the order above puts first too.
OrderPrefix MakeOrderPrefix(const char* text, std::size_t length, std::string*) {
    const InPlatform inPlatform;
    OrderPrefix key;
    for (std::size_t i = 0; i < 11; ++i) {
        unsigned char c = i < length ? static_cast<unsigned char>(text[i]) : 0;
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        if (i < 8) key.high = key.high << 8 | c;
        else key.low = key.low << 8 | c;
    }
    key.low = key.low << 8 | 1;
    return key;
}

bool IsDbcsLeadByte(unsigned char byte) { return S().leadBytes.count(byte) != 0; }

int MessageBox(const char* text, const char* caption, std::uint32_t style) {
    const InPlatform inPlatform;
    S().boxes.push_back({text, caption, style});
    return 1;
}

// ---- Version and privileges ----

bool GetVersionEx(VersionInfo& info) {
    const InPlatform inPlatform;
    ++S().versionQueries;
    if (!S().versionSucceeds) return false;
    info = S().version;
    return true;
}

bool OpenProcessToken(std::uint32_t access, TokenHandle& token) {
    const InPlatform inPlatform;
    if (Injected("OpenProcessToken") || !S().tokenOpens || access != TokenAdjustPrivileges)
        return Fail(ErrorAccessDenied);
    ++S().openTokens;
    token = 0x2000;
    return true;
}

bool LookupPrivilegeValue(const char* name, Luid& luid) {
    const InPlatform inPlatform;
    if (Injected("LookupPrivilegeValue") || !S().privileges.count(name)) return Fail(1313);
    luid.lowPart = static_cast<std::uint32_t>(std::hash<std::string>()(name) & 0xFFFF) + 2;
    luid.highPart = 0;
    S().luids[luid.lowPart] = name;
    return true;
}

bool AdjustTokenPrivilege(TokenHandle, const Luid& luid, std::uint32_t attributes) {
    const InPlatform inPlatform;
    if (Injected("AdjustTokenPrivileges")) return Fail(ErrorAccessDenied);
    S().adjustments.push_back({S().luids[luid.lowPart], attributes});
    return true;
}

void CloseToken(TokenHandle) { --S().openTokens; }

// ---- Process and modules ----

ModuleHandle GetOwnModule() { return 0x400000; }

bool FindCommittedRegion(std::uintptr_t, std::uintptr_t&) { return false; }

std::uint32_t GetModuleFileName(ModuleHandle, char* buffer, std::uint32_t capacity) {
    const InPlatform inPlatform;
    if (capacity == 0) return 0;
    const std::string& path = S().modulePath;
    const std::size_t n = std::min<std::size_t>(path.size(), capacity - 1);
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

bool IsDebuggerPresent() { return S().debugger; }

// The host has no debugger to hand a failure to: it says what a debugger
// would have been given and ends the process as the system would.
[[noreturn]] void RaiseForDebugger(const char* kindName, const char* message, std::uintptr_t) {
    std::fprintf(stderr, "debugger gets %s: %s\n", kindName, message);
    std::fflush(stderr);
    std::_Exit(static_cast<int>(FailureExceptionCode & 0xFF));
}

std::uintptr_t LastThrowAddress() { return 0; }

[[noreturn]] void ExitProcess(std::uint32_t code) {
    const InPlatform inPlatform;
#if defined(__SANITIZE_ADDRESS__)
    // Whatever the run allocated must be freed by now: a leak ends the
    // process with its own code, which tests see.
    if (__lsan_do_recoverable_leak_check() != 0) std::_Exit(99);
#endif
    if (!S().failedCall.empty()) std::fprintf(stderr, "failed call %s\n", S().failedCall.c_str());
    for (const host::ShownBox& box : S().boxes) {
        std::string text = box.text;
        std::replace(text.begin(), text.end(), '\n', '|');
        std::fprintf(stderr, "box 0x%X [%s] [%s]\n", box.style, box.caption.c_str(), text.c_str());
    }
    std::fflush(stderr);
    std::_Exit(static_cast<int>(code));
}

}  // namespace plat

namespace host {

void SetRegistryValue(const std::string& key, const std::string& name, std::uint32_t type,
                      const std::string& data) {
    S().keys[Lower(key)].values[Lower(name)] = {type, data};
}
void CreateRegistryKey(const std::string& key) { S().keys[Lower(key)]; }
void SetRegistryKeyReadOnly(const std::string& key, bool readOnly) { S().keys[Lower(key)].readOnly = readOnly; }
void FailNextDataRequest() { S().failDataRequest = true; }
const std::vector<RegistryOpen>& RegistryOpens() { return S().registryOpens; }
int OpenRegistryKeys() { return static_cast<int>(S().openKeys.size()); }
const std::vector<ShownBox>& ShownBoxes() { return S().boxes; }
void SetDbcsLeadBytes(const std::set<unsigned char>& leadBytes) { S().leadBytes = leadBytes; }
void SetVersion(const plat::VersionInfo& info, bool succeeds) {
    S().version = info;
    S().versionSucceeds = succeeds;
}
int VersionQueries() { return S().versionQueries; }
void SetTokenOpens(bool succeeds) { S().tokenOpens = succeeds; }
const std::vector<Adjustment>& Adjustments() { return S().adjustments; }
int OpenTokens() { return S().openTokens; }
void SetModulePath(const std::string& path) { S().modulePath = path; }
void SetDebuggerPresent(bool present) { S().debugger = present; }
int OpenFiles() { return static_cast<int>(S().files.size()); }
void FailCall(std::uint64_t n) {
    S().failAt = n;
    S().calls = 0;
    S().failedCall.clear();
}
const std::string& FailedCall() { return S().failedCall; }
void FailEveryCall(const std::string& name) { S().failingCalls.insert(name); }
void HideSystemFunction(const std::string& name) { S().hidden.insert(name); }
void SetReplaceFileAnswer(std::uint32_t error) { S().replaceAnswer = error; }
void CutAt(std::uint64_t n) {
    S().cutAt = n;
    S().cutPoints = 0;
}
std::uint64_t CutPoints() { return S().cutPoints; }

namespace {
// Kept outside the state: allocating the state itself must not count.
std::uint64_t allocationsCounted = 0;
std::uint64_t allocationFailAt = 0;
}  // namespace

void FailAllocation(std::uint64_t n) {
    allocationsCounted = 0;
    allocationFailAt = n;
}

bool AllocationFails() {
    if (insidePlatform > 0) return false;
    if (allocationFailAt == 0 || ++allocationsCounted != allocationFailAt) return false;
    allocationFailAt = 0;
    S().failedCall = "allocation";
    return true;
}

void Reset() {
    for (auto& [handle, file] : S().files) ::close(file.fd);
    S() = State{};
    allocationFailAt = 0;
}

}  // namespace host
}  // namespace pm

#include "runtime/stringtable.h"

namespace pm::plat {

int LoadString(std::uint32_t id, char* buffer, int capacity) {
    const InPlatform inPlatform;
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

}  // namespace pm::plat

namespace pm::plat {

// Native tests do not provoke processor faults; the host keeps no handler.
void InstallFaultHandler(FaultHandler) {}
void RemoveFaultHandler() {}

}  // namespace pm::plat
