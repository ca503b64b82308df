#include "process.h"

#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <regex>

namespace e2e {
namespace {

std::string relayLog;
std::size_t relayOffset = 0;

std::string ReadWhole(const std::string& path) {
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string bytes(::GetFileSize(h, nullptr), '\0');
    DWORD done = 0;
    if (!bytes.empty()) ::ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &done, nullptr);
    ::CloseHandle(h);
    bytes.resize(done);
    return bytes;
}

// The calls traced since the last look.
std::vector<TracedCall> TracedCalls() {
    std::vector<TracedCall> calls;
    const std::string log = ReadWhole(relayLog);
    if (log.size() < relayOffset) relayOffset = 0;
    const std::string fresh = log.substr(relayOffset);
    relayOffset = log.size();
    static const std::regex call("Call [A-Za-z0-9_]+\\.([A-Za-z0-9_]+)\\((.*)\\) ret=([0-9a-fA-F]{8,16})");
    for (std::sregex_iterator it(fresh.begin(), fresh.end(), call), end; it != end; ++it)
        calls.push_back({(*it)[1].str(), (*it)[2].str(), static_cast<std::uintptr_t>(std::stoull((*it)[3].str(), nullptr, 16))});
    return calls;
}

struct FindBox {
    DWORD process;
    HWND found;
};

BOOL CALLBACK OnWindow(HWND window, LPARAM parameter) {
    auto* find = reinterpret_cast<FindBox*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char cls[64] = "";
    ::GetClassNameA(window, cls, sizeof cls);
    if (owner == find->process && std::string(cls) == "#32770" && ::IsWindowVisible(window)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

// The message box a process shows, if any.
HWND BoxOf(DWORD process) {
    FindBox find{process, nullptr};
    ::EnumWindows(OnWindow, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

void PressOk(HWND box) {
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
}

// Which system icon the box shows, by its shared icon handle, as on Windows.
std::string IconOf(HWND box) {
    const HWND control = ::GetDlgItem(box, 0x14);
    if (!control || !::IsWindowVisible(control)) return "none";
    const auto icon = reinterpret_cast<HICON>(::SendMessageA(control, STM_GETICON, 0, 0));
    if (!icon) return "none";
    if (icon == ::LoadIconA(nullptr, IDI_HAND)) return "error";
    if (icon == ::LoadIconA(nullptr, IDI_ASTERISK)) return "information";
    return "other";
}

// 64-bit Wine 8 now and then refuses a start for a moment (seen in two of
// seven runs of the suite, the same case each time, before the program ran
// at all): the start is tried again before the case fails, and the
// system's error is kept for the message.
bool Launch(const std::string& exe, const std::string& folder, DWORD flags, PROCESS_INFORMATION& info,
            std::string& problem) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exe + "\"";
    for (int tries = 1;; ++tries) {
        if (::CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, folder.c_str(),
                             &startup, &info))
            return true;
        const DWORD error = ::GetLastError();
        if (tries == 5) {
            problem = "cannot start " + exe + ((flags & DEBUG_ONLY_THIS_PROCESS) ? " under the debugger" : "") +
                      " (error " + std::to_string(error) + ", " + std::to_string(tries) + " tries)";
            return false;
        }
        ::Sleep(200);
    }
}

std::string ReadRemoteText(HANDLE process, ULONG_PTR at) {
    char text[512] = "";
    SIZE_T done = 0;
    ::ReadProcessMemory(process, reinterpret_cast<LPCVOID>(at), text, sizeof text - 1, &done);
    text[std::min<SIZE_T>(done, sizeof text - 1)] = '\0';
    return text;
}

}  // namespace

void SetRelayLog(const std::string& path) {
    relayLog = path;
    TracedCalls();
}

const std::string& RelayLog() { return relayLog; }
bool Tracing() { return !relayLog.empty(); }

void TraceFunctions(const char* functions) {
    HKEY key;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Debug", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    ::RegSetValueExA(key, "RelayInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(functions),
                     static_cast<DWORD>(std::strlen(functions) + 1));
    ::RegCloseKey(key);
}

Run RunProgram(const std::string& exe, const std::string& folder, const std::function<void()>& whileShown) {
    Run run;
    std::uintptr_t moduleStart = 0, moduleEnd = ~std::uintptr_t{0};
    PROCESS_INFORMATION info{};
    if (!Launch(exe, folder, 0, info, run.problem)) return run;
    const DWORD started = ::GetTickCount();
    const DWORD deadline = started + 600000;
    for (;;) {
        if (::WaitForSingleObject(info.hProcess, 50) == WAIT_OBJECT_0) break;
        if (const HWND found = BoxOf(info.dwProcessId)) {
            Box box;
            char text[2048] = "";
            ::GetWindowTextA(found, text, sizeof text);
            box.caption = text;
            text[0] = '\0';
            ::GetDlgItemTextA(found, 0xFFFF, text, sizeof text);
            box.text = text;
            box.icon = IconOf(found);
            run.boxes.push_back(box);
            // The box comes last: the program's peak is reached by now (and
            // Wine tells it only while the process lives).
            PROCESS_MEMORY_COUNTERS memory{};
            if (::GetProcessMemoryInfo(info.hProcess, &memory, sizeof memory))
                run.peakBytes = std::max({run.peakBytes, memory.PeakPagefileUsage, memory.PeakWorkingSetSize});
            // Where the program's own module lies, to tell its calls from the system's.
            HMODULE main = nullptr;
            DWORD needed = 0;
            MODULEINFO module{};
            if (::EnumProcessModules(info.hProcess, &main, sizeof main, &needed) &&
                ::GetModuleInformation(info.hProcess, main, &module, sizeof module)) {
                moduleStart = reinterpret_cast<std::uintptr_t>(module.lpBaseOfDll);
                moduleEnd = moduleStart + module.SizeOfImage;
            }
            if (whileShown) whileShown();
            PressOk(found);
            // Wait for this box to go before looking for another.
            while (::IsWindow(found) && ::IsWindowVisible(found) && ::GetTickCount() < deadline) ::Sleep(20);
        }
        if (::GetTickCount() > deadline) {
            run.problem = "program did not end";
            ::TerminateProcess(info.hProcess, 999);
            ::WaitForSingleObject(info.hProcess, 5000);
            break;
        }
    }
    ::GetExitCodeProcess(info.hProcess, &run.exitCode);
    run.milliseconds = ::GetTickCount() - started;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    if (Tracing()) {
        for (const TracedCall& call : TracedCalls()) {
            if (call.returnAddress < moduleStart || call.returnAddress >= moduleEnd) continue;
            run.calls.push_back(call);
            if (call.function == "MessageBoxA")
                run.styles.push_back(std::stoul(call.arguments.substr(call.arguments.rfind(',') + 1), nullptr, 16));
        }
    }
    return run;
}

Debugged DebugProgram(const std::string& exe, const std::string& folder) {
    Debugged result;
    PROCESS_INFORMATION info{};
    if (!Launch(exe, folder, DEBUG_ONLY_THIS_PROCESS, info, result.problem)) return result;
    const DWORD deadline = ::GetTickCount() + 120000;
    for (bool running = true; running;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, 100)) {
            if (const HWND found = BoxOf(info.dwProcessId)) {
                ++result.boxes;
                PressOk(found);
            }
            if (::GetTickCount() > deadline) {
                result.problem = "program did not end under the debugger";
                ::TerminateProcess(info.hProcess, 999);
            }
            continue;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            result.moduleStart = reinterpret_cast<std::uintptr_t>(event.u.CreateProcessInfo.lpBaseOfImage);
            result.moduleEnd = result.moduleStart + 0x1000000;
            if (event.u.CreateProcessInfo.hFile) ::CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) ::CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT) break;  // the loader's, at start
            status = DBG_EXCEPTION_NOT_HANDLED;
            if (record.ExceptionCode == 0xE0504D31u && record.NumberParameters == 3) {
                ++result.failures;
                result.address = record.ExceptionInformation[0];
                result.kind = ReadRemoteText(info.hProcess, record.ExceptionInformation[1]);
                result.message = ReadRemoteText(info.hProcess, record.ExceptionInformation[2]);
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            result.exitCode = event.u.ExitProcess.dwExitCode;
            running = false;
            break;
        default:
            break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    if (Tracing()) TracedCalls();
    return result;
}

}  // namespace e2e
