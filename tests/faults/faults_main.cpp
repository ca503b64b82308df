// PictomapFaults.exe: Pictomap.exe with switches for the end-to-end tests,
// read from the environment (the program itself reads none):
//   PICTOMAP_FAIL_STARTUP=1       the network address module's start-up runs
//                                 out of memory; =access: it faults
//   PICTOMAP_FAIL_RUN=access      the run faults; =stack: it overflows its
//                                 stack; =length: the C++ runtime refuses a
//                                 vector too large
//   PICTOMAP_HIDE=ReplaceFileA[,MoveFileExA]
//                                 the program runs as on a Windows that
//                                 lacks them (NT 4.0; 95, 98, Me)
//   PICTOMAP_CUT=N                the process ends at once (no clean-up, no
//                                 box) at its N-th cut point: before each
//                                 call that can change what is on disk, and
//                                 in the middle of each write
// The program's own calls are reached through its import table, which is
// patched here before the program starts: the product code is unchanged.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/conversion.h"
#include "runtime/startup.h"
#include "textutil/netaddress.h"

namespace {

constexpr UINT CutExitCode = 86;

bool hideReplaceFile = false;
bool hideMoveFileEx = false;
unsigned long cutAt = 0;
unsigned long cutPoints = 0;

void CutPoint() {
    if (cutAt != 0 && ++cutPoints == cutAt) ::TerminateProcess(::GetCurrentProcess(), CutExitCode);
}

// The system's own functions, as the import table held them: the program's
// calls and ours go through the same table.
struct {
    decltype(&::CreateFileA) createFile;
    decltype(&::WriteFile) writeFile;
    decltype(&::FlushFileBuffers) flushFileBuffers;
    decltype(&::SetEndOfFile) setEndOfFile;
    decltype(&::MoveFileA) moveFile;
    decltype(&::MoveFileExA) moveFileEx;
    decltype(&::DeleteFileA) deleteFile;
    decltype(&::SetFileAttributesA) setFileAttributes;
    decltype(&::GetProcAddress) getProcAddress;
    BOOL(WINAPI* replaceFile)(LPCSTR, LPCSTR, LPCSTR, DWORD, LPVOID, LPVOID);
} real{};

HANDLE WINAPI CutCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (disposition != OPEN_EXISTING) CutPoint();
    return real.createFile(name, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI CutWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
    CutPoint();
    if (cutAt != 0 && cutPoints + 1 == cutAt) {
        // The cut falls in the middle of this write: half of it reaches the
        // disk.
        DWORD half = 0;
        real.writeFile(file, buffer, count / 2, &half, nullptr);
    }
    CutPoint();
    return real.writeFile(file, buffer, count, done, overlapped);
}

BOOL WINAPI CutFlushFileBuffers(HANDLE file) {
    CutPoint();
    return real.flushFileBuffers(file);
}

BOOL WINAPI CutSetEndOfFile(HANDLE file) {
    CutPoint();
    return real.setEndOfFile(file);
}

BOOL WINAPI CutMoveFile(LPCSTR from, LPCSTR to) {
    CutPoint();
    return real.moveFile(from, to);
}

BOOL WINAPI CutMoveFileEx(LPCSTR from, LPCSTR to, DWORD flags) {
    if (hideMoveFileEx) {
        // As on 95, 98 and Me, where the function is there but does nothing.
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    CutPoint();
    return real.moveFileEx(from, to, flags);
}

BOOL WINAPI CutDeleteFile(LPCSTR name) {
    CutPoint();
    return real.deleteFile(name);
}

BOOL WINAPI CutSetFileAttributes(LPCSTR name, DWORD attributes) {
    CutPoint();
    return real.setFileAttributes(name, attributes);
}

BOOL WINAPI CutReplaceFile(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags, LPVOID exclude,
                           LPVOID reserved) {
    CutPoint();
    return real.replaceFile(replaced, replacement, backup, flags, exclude, reserved);
}

// The program looks ReplaceFileA up at run time (Windows before 2000 lack
// it): it gets ours, or none.
FARPROC WINAPI CutGetProcAddress(HMODULE module, LPCSTR name) {
    const FARPROC found = real.getProcAddress(module, name);
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && std::strcmp(name, "ReplaceFileA") == 0) {
        if (hideReplaceFile || !found) return nullptr;
        real.replaceFile = reinterpret_cast<decltype(real.replaceFile)>(reinterpret_cast<void*>(found));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(CutReplaceFile));
    }
    return found;
}

// Points the program's import of `function` from KERNEL32 at `replacement`
// and keeps what it pointed at in `original`.
template <class Function>
void Patch(const char* function, Function replacement, Function& original) {
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (::lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "KERNEL32.dll") != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD protection = 0;
            ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            original = reinterpret_cast<Function>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return;
        }
    }
    ::ExitProcess(3);  // the program does not import it: the switches cannot work
}

void InstallSwitches() {
    if (const char* hide = std::getenv("PICTOMAP_HIDE")) {
        hideReplaceFile = std::strstr(hide, "ReplaceFileA") != nullptr;
        hideMoveFileEx = std::strstr(hide, "MoveFileExA") != nullptr;
    }
    if (const char* cut = std::getenv("PICTOMAP_CUT")) cutAt = std::strtoul(cut, nullptr, 10);
    Patch("CreateFileA", &CutCreateFile, real.createFile);
    Patch("WriteFile", &CutWriteFile, real.writeFile);
    Patch("FlushFileBuffers", &CutFlushFileBuffers, real.flushFileBuffers);
    Patch("SetEndOfFile", &CutSetEndOfFile, real.setEndOfFile);
    Patch("MoveFileA", &CutMoveFile, real.moveFile);
    Patch("MoveFileExA", &CutMoveFileEx, real.moveFileEx);
    Patch("DeleteFileA", &CutDeleteFile, real.deleteFile);
    Patch("SetFileAttributesA", &CutSetFileAttributes, real.setFileAttributes);
    Patch("GetProcAddress", &CutGetProcAddress, real.getProcAddress);
}

volatile int* volatile nowhere = nullptr;

void FailingNetAddressStartup() {
    const char* fail = std::getenv("PICTOMAP_FAIL_STARTUP");
    if (fail && *fail == '1') {
        void* tables = ::operator new(0x7FFF0000u);
        ::operator delete(tables);
    }
    if (fail && std::string(fail) == "access") *nowhere = 1;
    pm::NetAddressStartup();
}

volatile bool deeper = true;

int Deeper(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return (deeper ? Deeper(depth + 1) : 0) + frame[0];
}

void FaultingRun() {
    const char* fault = std::getenv("PICTOMAP_FAIL_RUN");
    if (fault && std::string(fault) == "access") *nowhere = 1;
    if (fault && std::string(fault) == "stack") Deeper(0);
    if (fault && std::string(fault) == "length") {
        // More elements than a vector may hold: the runtime's own failure.
        volatile std::size_t count = std::vector<int>().max_size() + 1;
        std::vector<int> tooMany(count);
    }
    pm::RunConversion();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    InstallSwitches();
    std::size_t count = 0;
    const pm::ModuleEntry* program = pm::ProgramModules(count);
    static std::vector<pm::ModuleEntry> modules;
    modules.assign(program, program + count);
    for (pm::ModuleEntry& entry : modules)
        if (entry.startup == pm::NetAddressStartup) entry.startup = FailingNetAddressStartup;
    pm::StartProgram(modules.data(), modules.size(), FaultingRun);
}
