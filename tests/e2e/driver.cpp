// End-to-end tests of the real Pictomap.exe, as a user's machine runs it:
// prepare the registry value and the files, start the program, find its
// message box, read caption, text and icon, press OK, then check the exit
// code and the exact bytes left on disk. Runs the same on Windows and Wine.
//
//   e2e_driver Pictomap.exe PictomapFaults.exe [--full-disk FOLDER] [--relay-log FILE]
//   e2e_driver --show Pictomap.exe FOLDER
//   e2e_driver --inspect Pictomap.exe
//
// Under Wine, --relay-log names the file that receives the driver's (and
// so its children's) standard error: the driver turns on Wine's relay trace
// of MessageBoxA for the program and reads each box's exact style there.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr const char* KeyPath = "SoftWare\\Velkorware\\Quernpost";
constexpr const char* TracedFunctions =
    "MessageBoxA;GetVersionExA;OpenProcessToken;LookupPrivilegeValueA;AdjustTokenPrivileges;CloseHandle";

std::string program, faultProgram, fullDisk, relayLog;
std::size_t relayOffset = 0;
int passed = 0, failed = 0;
std::string currentCase;

void Check(bool ok, const std::string& what) {
    if (ok) return;
    ++failed;
    std::printf("  FAILED [%s]: %s\n", currentCase.c_str(), what.c_str());
}

std::string Show(const std::string& s) {
    std::string out;
    if (s.size() > 400) return Show(s.substr(0, 200)) + "..." + Show(s.substr(s.size() - 100));
    for (unsigned char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 32 || c > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out;
}

void CheckEqual(const std::string& actual, const std::string& expected, const std::string& what) {
    Check(actual == expected, what + ": got \"" + Show(actual) + "\", expected \"" + Show(expected) + "\"");
}

// ---- Files ----

std::string Join(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

void WriteBytes(const std::string& path, const std::string& bytes) {
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    if (h != INVALID_HANDLE_VALUE) {
        if (!bytes.empty()) ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
        ::CloseHandle(h);
    }
    Check(h != INVALID_HANDLE_VALUE && done == bytes.size(), "could not write " + path);
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadBytes(const std::string& path) {
    const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes(::GetFileSize(h, nullptr), '\0');
    DWORD done = 0;
    if (!bytes.empty()) ::ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &done, nullptr);
    ::CloseHandle(h);
    return bytes;
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    const HANDLE find = ::FindFirstFileA(Join(folder, "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = Join(folder, name);
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(folder.c_str());
}

// Files left in a folder besides the expected ones: none may be temporary.
int CountEntries(const std::string& folder) {
    int n = 0;
    WIN32_FIND_DATAA data;
    const HANDLE find = ::FindFirstFileA(Join(folder, "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") ++n;
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return n;
}

// Under Wine the driver reaches the Unix side to take rights from a folder
// (as an access list would on Windows): its mode is changed with the
// system call itself. Elsewhere it does nothing and says so.
bool SetUnixMode(const std::string& path, unsigned mode) {
#if defined(__GNUC__) && defined(__i386__)
    using ToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return false;
    wchar_t wide[MAX_PATH * 2];
    if (!::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2)) return false;
    char* unixPath = toUnix(wide);
    if (!unixPath) return false;
    long result = 0;
    asm volatile("int $0x80" : "=a"(result) : "a"(15 /* chmod */), "b"(unixPath), "c"(mode) : "memory");
    ::HeapFree(::GetProcessHeap(), 0, unixPath);
    return result == 0;
#else
    (void)path;
    (void)mode;
    return false;
#endif
}

// ---- Registry ----

void DeleteKey() { ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, KeyPath); }

void SetHome(DWORD type, const std::string& data) {
    HKEY key;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) {
        Check(false, "cannot create the registry key");
        return;
    }
    ::RegDeleteValueA(key, "HomeDir");
    ::RegSetValueExA(key, "HomeDir", 0, type, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size()));
    ::RegCloseKey(key);
}

void SetHomeText(const std::string& home) { SetHome(REG_SZ, home + std::string(1, '\0')); }

// ---- Running the program ----

struct Box {
    std::string caption, text, icon;
};

struct FindBox {
    DWORD process;
    HWND found;
};

BOOL CALLBACK OnWindow(HWND window, LPARAM parameter) {
    auto* find = reinterpret_cast<FindBox*>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    char cls[64] = "";
    ::GetClassNameA(window, cls, sizeof cls);
    if (process == find->process && std::string(cls) == "#32770" && ::IsWindowVisible(window)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

// Which system icon the box shows ("error", "information", "none" or
// "other"), by its shared icon handle, as on Windows.
std::string IconOf(HWND box) {
    const HWND control = ::GetDlgItem(box, 0x14);
    if (!control || !::IsWindowVisible(control)) return "none";
    const auto icon = reinterpret_cast<HICON>(::SendMessageA(control, STM_GETICON, 0, 0));
    if (!icon) return "none";
    if (icon == ::LoadIconA(nullptr, IDI_HAND)) return "error";
    if (icon == ::LoadIconA(nullptr, IDI_ASTERISK)) return "information";
    return "other";
}

// A call that Wine's relay trace logged: function, arguments as printed,
// return address.
struct TracedCall {
    std::string function, arguments;
    std::uintptr_t returnAddress;
};

struct Run {
    std::vector<Box> boxes;
    std::vector<unsigned long> styles;  // from the relay trace, when there is one
    std::vector<TracedCall> calls;      // traced calls made by the program's own module
    DWORD exitCode = 0xFFFFFFFF;
    DWORD milliseconds = 0;             // from start to exit, boxes answered at once
    SIZE_T peakBytes = 0;               // peak private memory of the program
};

// The calls traced since the last look.
std::vector<TracedCall> TracedCalls() {
    std::vector<TracedCall> calls;
    const std::string log = ReadBytes(relayLog);
    if (log.size() < relayOffset) relayOffset = 0;
    const std::string fresh = log.substr(relayOffset);
    relayOffset = log.size();
    static const std::regex call("Call [A-Za-z0-9_]+\\.([A-Za-z0-9_]+)\\((.*)\\) ret=([0-9a-fA-F]{8})");
    for (std::sregex_iterator it(fresh.begin(), fresh.end(), call), end; it != end; ++it)
        calls.push_back({(*it)[1].str(), (*it)[2].str(), std::stoul((*it)[3].str(), nullptr, 16)});
    return calls;
}

// Turns on Wine's relay trace of these functions (';' between names) for
// the programs started from now on.
void TraceFunctions(const char* functions) {
    HKEY key;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Debug", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    ::RegSetValueExA(key, "RelayInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(functions),
                     static_cast<DWORD>(std::strlen(functions) + 1));
    ::RegCloseKey(key);
}

// Starts `exe` in `folder` and answers every box it shows with OK, after
// calling `whileShown` with the box on the screen.
Run Start(const std::string& exe, const std::string& folder, const std::function<void()>& whileShown = {}) {
    Run run;
    std::uintptr_t moduleStart = 0, moduleEnd = ~std::uintptr_t{0};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + exe + "\"";
    if (!::CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                          &info)) {
        Check(false, "cannot start " + exe);
        return run;
    }
    const DWORD started = ::GetTickCount();
    const DWORD deadline = started + 600000;
    for (;;) {
        if (::WaitForSingleObject(info.hProcess, 50) == WAIT_OBJECT_0) break;
        FindBox find{info.dwProcessId, nullptr};
        ::EnumWindows(OnWindow, reinterpret_cast<LPARAM>(&find));
        if (find.found) {
            Box box;
            char text[2048] = "";
            ::GetWindowTextA(find.found, text, sizeof text);
            box.caption = text;
            text[0] = '\0';
            ::GetDlgItemTextA(find.found, 0xFFFF, text, sizeof text);
            box.text = text;
            box.icon = IconOf(find.found);
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
            ::PostMessageA(find.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(find.found, IDOK)));
            // Wait for this box to go before looking for another.
            while (::IsWindow(find.found) && ::IsWindowVisible(find.found) && ::GetTickCount() < deadline)
                ::Sleep(20);
        }
        if (::GetTickCount() > deadline) {
            Check(false, "program did not end");
            ::TerminateProcess(info.hProcess, 999);
            ::WaitForSingleObject(info.hProcess, 5000);
            break;
        }
    }
    ::GetExitCodeProcess(info.hProcess, &run.exitCode);
    run.milliseconds = ::GetTickCount() - started;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    if (!relayLog.empty()) {
        for (const TracedCall& call : TracedCalls()) {
            if (call.returnAddress < moduleStart || call.returnAddress >= moduleEnd) continue;
            run.calls.push_back(call);
            if (call.function == "MessageBoxA")
                run.styles.push_back(std::stoul(call.arguments.substr(call.arguments.rfind(',') + 1), nullptr, 16));
        }
    }
    return run;
}

// Makes Wine report another Windows version to the program (null: the
// prefix's own).
void SetProgramVersion(const char* version) {
    for (const char* name : {"Pictomap.exe", "PictomapFaults.exe"}) {
        const std::string path = std::string("Software\\Wine\\AppDefaults\\") + name;
        if (!version) {
            ::RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
            continue;
        }
        HKEY key;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0)
            continue;
        ::RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                         static_cast<DWORD>(std::strlen(version) + 1));
        ::RegCloseKey(key);
    }
}

// The program's calls to the version and privilege functions, in order:
// on NT 4 and 5 exactly the privilege road, elsewhere the version query
// alone. CloseHandle counts only where it closes the adjusted token.
void CheckPrivilegeRoad(const Run& run, bool nt) {
    std::vector<std::string> road;
    std::string token;
    for (const TracedCall& call : run.calls) {
        const std::string first = call.arguments.substr(0, call.arguments.find(','));
        if (call.function == "GetVersionExA") road.push_back("GetVersionExA");
        if (call.function == "OpenProcessToken")
            road.push_back("OpenProcessToken " + call.arguments.substr(call.arguments.find(',') + 1, 8));
        if (call.function == "LookupPrivilegeValueA") {
            const auto open = call.arguments.find('"'), close = call.arguments.rfind('"');
            road.push_back("LookupPrivilegeValueA " + (open < close ? call.arguments.substr(open + 1, close - open - 1) : call.arguments));
        }
        if (call.function == "AdjustTokenPrivileges") {
            token = first;
            road.push_back("AdjustTokenPrivileges");
        }
        if (call.function == "CloseHandle" && !token.empty() && first == token) {
            road.push_back("CloseHandle token");
            token.clear();
        }
    }
    std::vector<std::string> expected{"GetVersionExA"};
    if (nt) {
        for (const char* privilege : {"SeTakeOwnershipPrivilege", "SeChangeNotifyPrivilege"}) {
            expected.push_back("OpenProcessToken 00000020");
            expected.push_back(std::string("LookupPrivilegeValueA ") + privilege);
            expected.push_back("AdjustTokenPrivileges");
            expected.push_back("CloseHandle token");
        }
    }
    std::string got, want;
    for (const std::string& step : road) got += step + "; ";
    for (const std::string& step : expected) want += step + "; ";
    CheckEqual(got, want, "calls of the privilege road");
}

// Runs `exe` under a minimal debugger: every exception is passed on to the
// program; the failure exception is read, boxes are counted (and closed).
struct Debugged {
    int failures = 0;
    std::string kind, message;
    std::uintptr_t address = 0, moduleStart = 0, moduleEnd = 0;
    int boxes = 0;
    DWORD exitCode = 0;
};

std::string ReadRemoteText(HANDLE process, ULONG_PTR at) {
    char text[512] = "";
    SIZE_T done = 0;
    ::ReadProcessMemory(process, reinterpret_cast<LPCVOID>(at), text, sizeof text - 1, &done);
    text[std::min<SIZE_T>(done, sizeof text - 1)] = '\0';
    return text;
}

Debugged Debug(const std::string& exe, const std::string& folder) {
    Debugged result;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + exe + "\"";
    if (!::CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                          folder.c_str(), &startup, &info)) {
        Check(false, "cannot start " + exe + " under the debugger");
        return result;
    }
    const DWORD deadline = ::GetTickCount() + 120000;
    for (bool running = true; running;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, 100)) {
            FindBox find{info.dwProcessId, nullptr};
            ::EnumWindows(OnWindow, reinterpret_cast<LPARAM>(&find));
            if (find.found) {
                ++result.boxes;
                ::PostMessageA(find.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
            if (::GetTickCount() > deadline) {
                Check(false, "program did not end under the debugger");
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
    if (!relayLog.empty()) TracedCalls();
    return result;
}

constexpr unsigned long Error = MB_OK | MB_ICONERROR;
constexpr unsigned long Information = MB_OK | MB_ICONINFORMATION;
constexpr unsigned long Report = MB_OK | MB_ICONERROR | MB_TASKMODAL;
constexpr unsigned long Plain = MB_OK;

void ExpectOneBox(const Run& run, const std::string& caption, const std::string& textPattern, unsigned long style,
                  DWORD exitCode) {
    Check(run.boxes.size() == 1, "shown " + std::to_string(run.boxes.size()) + " boxes, expected one");
    if (!run.boxes.empty()) {
        const Box& box = run.boxes[0];
        CheckEqual(box.caption, caption, "caption");
        Check(std::regex_match(box.text, std::regex(textPattern)),
              "text \"" + Show(box.text) + "\" does not match \"" + Show(textPattern) + "\"");
        if (relayLog.empty()) {
            // Windows shares its system icons, so the icon tells the style's icon.
            const unsigned long icon = style & MB_ICONMASK;
            CheckEqual(box.icon, icon == MB_ICONERROR ? "error" : icon == MB_ICONINFORMATION ? "information" : "none",
                       "icon");
        } else {
            Check(run.styles.size() == 1 && run.styles[0] == style,
                  "style " + (run.styles.empty() ? std::string("not traced") : std::to_string(run.styles[0])) +
                      ", expected " + std::to_string(style));
        }
    }
    Check(run.exitCode == exitCode,
          "exit code " + std::to_string(run.exitCode) + ", expected " + std::to_string(exitCode));
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

const char* const TextIndexMissing = "Fmmp0000\\.inf not Found\\. See Pictomap\\.txt for Details\\.";
const char* const TextNothingFound = "No Info in fmmp0000\\.inf\\.";
const char* const TextConverted = "Convert Complete!\\.";

std::string FailureText(const std::string& kind, const std::string& message,
                        const std::string& module = "Pictomap") {
    return "Exception " + kind + " in module " + module + "\\.exe at [0-9A-F]{8}\\.\n" + Escape(message) + "\\.";
}

// ---- Cases ----

struct Home {
    std::string root;  // the home folder, without a trailing backslash
    std::string Cfg() const { return Join(root, "CFG\\PictoCfg.cfg"); }
    std::string Inf() const { return Join(root, "BMP\\fmmp0000.inf"); }
    std::string Picture(const std::string& name) const { return root + "\\BMP\\" + name; }
};

std::string scratch;

// Starts the test build in the scratch folder with one of its switches set.
Run StartFaulty(const char* variable, const char* value) {
    ::SetEnvironmentVariableA(variable, value);
    const Run run = Start(faultProgram, scratch);
    ::SetEnvironmentVariableA(variable, nullptr);
    return run;
}

Home FreshHome(bool withCfg = true) {
    Home home{Join(scratch, "home")};
    RemoveTree(home.root);
    ::CreateDirectoryA(home.root.c_str(), nullptr);
    ::CreateDirectoryA(Join(home.root, "BMP").c_str(), nullptr);
    if (withCfg) ::CreateDirectoryA(Join(home.root, "CFG").c_str(), nullptr);
    SetHomeText(home.root + "\\");
    return home;
}

void Case(const std::string& name, const std::function<void()>& body) {
    currentCase = name;
    const int before = failed;
    body();
    if (failed == before) {
        ++passed;
        std::printf("  ok     %s\n", name.c_str());
    }
}

void Cases() {
    Case("index missing", [] {
        const Home home = FreshHome();
        ExpectOneBox(Start(program, scratch), "Error", TextIndexMissing, Error, 0);
        Check(!Exists(home.Cfg()), "configuration created");
    });
    Case("configuration written", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "b.bmp,Bob,2:5020/100 2:5021/7.1\r\na.gif,Al,1:2/3,9:9/9\r\nc.jpg,Cy,1:1/1\r\n");
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()),
                   "1:2/3=" + home.Picture("a.gif") + "\r\n2:5020/100=" + home.Picture("b.bmp") +
                       "\r\n2:5021/7.1=" + home.Picture("b.bmp") + "\r\n",
                   "configuration");
        Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file left");
    });
    Case("nothing usable", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.jpg,x,1:2/3\r\nb.bmp,,1:2/3\r\nc.gif,x,bad 2:5020\r\n");
        ExpectOneBox(Start(program, scratch), "Error", TextNothingFound, Error, 0);
        Check(!Exists(home.Cfg()), "configuration created");
    });
    Case("existing configuration merged", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "A.BMP,x,1:2/3\r\nn.gif,x,3:3/3\r\n");
        WriteBytes(home.Cfg(), "x=1\r\n\r\nx=1\r\n1:2/3=" + home.Picture("a.bmp") + "\r\nB=x\r\na=y\r\n");
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()),
                   "\r\n1:2/3=" + home.Picture("a.bmp") + "\r\n3:3/3=" + home.Picture("n.gif") +
                       "\r\na=y\r\nB=x\r\nx=1\r\nx=1\r\n",
                   "configuration");
    });
    Case("empty index rewrites configuration sorted", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "");
        WriteBytes(home.Cfg(), "b\r\nA");
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()), "A\r\nb\r\n", "configuration");
    });
    Case("home without trailing backslash", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        SetHomeText(home.root);
        ExpectOneBox(Start(program, scratch), "Error", TextIndexMissing, Error, 0);
    });
    Case("folder named fmmp0000.inf", [] {
        const Home home = FreshHome();
        ::CreateDirectoryA(home.Inf().c_str(), nullptr);
        ExpectOneBox(Start(program, scratch), "Error", TextIndexMissing, Error, 0);
    });
    const struct {
        const char* name;
        std::function<void()> set;
    } noHome[] = {
        {"no key", [] { DeleteKey(); }},
        {"no value", [] { SetHome(REG_SZ, ""), ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, KeyPath), SetHomeText("x"), [] {
             HKEY key;
             ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeyPath, 0, KEY_ALL_ACCESS, &key);
             ::RegDeleteValueA(key, "HomeDir");
             ::RegCloseKey(key);
         }(); }},
        {"zero bytes", [] { SetHome(REG_SZ, ""); }},
        {"one NUL byte", [] { SetHome(REG_SZ, std::string(1, '\0')); }},
        {"zero bytes of a number", [] { SetHome(REG_DWORD, ""); }},
    };
    for (const auto& variant : noHome) {
        Case(std::string("home missing (") + variant.name + "): current folder", [&] {
            const Home home = FreshHome();
            WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
            variant.set();
            ExpectOneBox(Start(program, home.root), "Information", TextConverted, Information, 0);
            CheckEqual(ReadBytes(home.Cfg()), "1:2/3=BMP\\a.bmp\r\n", "configuration");
        });
    }
    Case("home stored without its NUL", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        SetHome(REG_SZ, home.root + "\\");
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\n", "configuration");
    });
    Case("expandable home is not expanded", [] {
        const Home home = FreshHome();
        const std::string literal = Join(home.root, "%HOMEDRIVE%");
        ::CreateDirectoryA(literal.c_str(), nullptr);
        ::CreateDirectoryA(Join(literal, "BMP").c_str(), nullptr);
        ::CreateDirectoryA(Join(literal, "CFG").c_str(), nullptr);
        WriteBytes(Join(literal, "BMP\\fmmp0000.inf"), "a.bmp,x,1:2/3\r\n");
        SetHome(REG_EXPAND_SZ, std::string("%HOMEDRIVE%\\") + '\0');
        ExpectOneBox(Start(program, home.root), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(Join(literal, "CFG\\PictoCfg.cfg")), "1:2/3=%HOMEDRIVE%\\BMP\\a.bmp\r\n", "configuration");
    });
    for (const DWORD type : {DWORD{REG_DWORD}, DWORD{REG_MULTI_SZ}}) {
        Case("home of type " + std::to_string(type), [&] {
            const Home home = FreshHome();
            WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
            SetHome(type, std::string("C:\\\0\0", 5));
            ExpectOneBox(Start(program, scratch), "Application Error",
                         FailureText("ERegistryException", "Invalid data type for 'HomeDir'"), Report, 1);
            Check(!Exists(home.Cfg()), "configuration created");
        });
    }
    Case("missing CFG folder", [] {
        const Home home = FreshHome(false);
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        ExpectOneBox(Start(program, scratch), "Application Error",
                     FailureText("EFCreateError", "Cannot create file " + home.root + "\\CFG\\PictoCfg.cfg"), Report, 1);
    });
    Case("configuration held open for writing", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        WriteBytes(home.Cfg(), "old=1\r\n");
        const HANDLE other = ::CreateFileA(home.Cfg().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr);
        ExpectOneBox(Start(program, scratch), "Application Error",
                     FailureText("EFOpenError", "Cannot open file " + home.Cfg()), Report, 1);
        ::CloseHandle(other);
        CheckEqual(ReadBytes(home.Cfg()), "old=1\r\n", "configuration");
    });
    Case("read-only configuration", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        WriteBytes(home.Cfg(), "old=1\r\n");
        ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_READONLY);
        ExpectOneBox(Start(program, scratch), "Application Error",
                     FailureText("EFCreateError", "Cannot create file " + home.Cfg()), Report, 1);
        ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_NORMAL);
        CheckEqual(ReadBytes(home.Cfg()), "old=1\r\n", "configuration");
        Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file left");
    });
    // Hyphens, apostrophes and dashes around character 256 of a line: the
    // configuration's lines and the index's, which differ only there, are
    // all kept, in the system's order.
    Case("long lines differing in a hyphen or an apostrophe", [] {
        const Home home = FreshHome();
        const std::string lead = "1:2/3=" + home.Picture("");
        std::string index, configuration;
        std::vector<std::string> lines;
        for (std::size_t at = 250; at <= 262; ++at) {
            const std::string name = std::string(at - lead.size(), 'p');
            index += name + "'x.bmp,N,1:2/3\r\n";
            configuration += lead + name + "-x.bmp\r\n";
            lines.push_back(lead + name + "'x.bmp");
            lines.push_back(lead + name + "-x.bmp");
        }
        WriteBytes(home.Inf(), index);
        WriteBytes(home.Cfg(), configuration);
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
            return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                    b.data(), static_cast<int>(b.size())) == CSTR_LESS_THAN;
        });
        std::string expected;
        for (const std::string& line : lines) expected += line + "\r\n";
        CheckEqual(ReadBytes(home.Cfg()), expected, "configuration");
    });
    Case("long lines written in the system's order", [] {
        const Home home = FreshHome();
        const std::string p(255, 'p');
        WriteBytes(home.Inf(), "");
        WriteBytes(home.Cfg(), p + "-a-b\r\n" + p + "-ab\r\n");
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        const std::string a = p + "-a-b", b = p + "-ab";
        const bool aFirst = ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                             b.data(), static_cast<int>(b.size())) != CSTR_GREATER_THAN;
        CheckEqual(ReadBytes(home.Cfg()), aFirst ? a + "\r\n" + b + "\r\n" : b + "\r\n" + a + "\r\n", "configuration");
    });
    Case("hidden and system configuration stays so", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        WriteBytes(home.Cfg(), "old=1\r\n");
        ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\nold=1\r\n", "configuration");
        const DWORD attributes = ::GetFileAttributesA(home.Cfg().c_str());
        Check(attributes != INVALID_FILE_ATTRIBUTES &&
                  (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              "attributes now " + std::to_string(attributes));
        ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_NORMAL);
    });
    Case("120 leftover temporary files", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        WriteBytes(home.Cfg(), "old=1\r\n");
        for (int n = 0; n < 100; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "PictoCfg.~%02d", n);
            WriteBytes(Join(home.root, std::string("CFG\\") + name), "stale");
        }
        for (int n = 0; n < 20; ++n) WriteBytes(home.Cfg() + "." + std::to_string(n) + ".tmp", "stale");
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\nold=1\r\n", "configuration");
        Check(CountEntries(Join(home.root, "CFG")) <= 120, "leftovers grew");
    });
    Case("configuration paths of 250 to 259 characters", [] {
        for (std::size_t length = 250; length < 260; ++length) {
            const Home base = FreshHome();
            const std::size_t fill = length - base.root.size() - std::strlen("\\x\\CFG\\PictoCfg.cfg") + 1;
            const Home home{Join(base.root, std::string(fill, 'd'))};
            ::CreateDirectoryA(home.root.c_str(), nullptr);
            ::CreateDirectoryA(Join(home.root, "BMP").c_str(), nullptr);
            ::CreateDirectoryA(Join(home.root, "CFG").c_str(), nullptr);
            SetHomeText(home.root + "\\");
            Check(home.Cfg().size() == length, "path of " + std::to_string(home.Cfg().size()));
            WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
            for (const bool existing : {false, true}) {
                if (existing) WriteBytes(home.Cfg(), "old=1\r\n");
                const Run run = Start(program, scratch);
                ExpectOneBox(run, "Information", TextConverted, Information, 0);
                CheckEqual(ReadBytes(home.Cfg()),
                           "1:2/3=" + home.Picture("a.bmp") + (existing ? "\r\nold=1\r\n" : "\r\n"),
                           "configuration at " + std::to_string(length));
                Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file left");
            }
        }
    });
    Case("folder that takes no new file", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        const std::string folder = Join(home.root, "CFG");
        for (const std::string& old : {std::string(500, 'o') + "\r\n", std::string("o\r\n")}) {
            WriteBytes(home.Cfg(), old);
            if (!SetUnixMode(folder, 0555)) {
                std::printf("  (skipped: folder rights are set with access lists on Windows)\n");
                return;
            }
            ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
            SetUnixMode(folder, 0755);
            CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\n" + old, "configuration");
        }
        ::DeleteFileA(home.Cfg().c_str());
        SetUnixMode(folder, 0555);
        ExpectOneBox(Start(program, scratch), "Application Error",
                     FailureText("EFCreateError", "Cannot create file " + home.Cfg()), Report, 1);
        SetUnixMode(folder, 0755);
        Check(!Exists(home.Cfg()), "configuration made");
    });
    // A folder that may be written but not listed. With the configuration
    // there, it is read and rewritten. Without it, Windows answers "not
    // found" for the name and makes the file. Wine cannot tell whether a
    // name is there in a folder it may not list (nor make a file there, as
    // a plain rewrite would fail too): the configuration is then not taken
    // as missing, and the run ends with "Cannot open file", nothing written.
    Case("folder that cannot be listed", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        const std::string folder = Join(home.root, "CFG");
        for (const bool present : {true, false}) {
            if (present) WriteBytes(home.Cfg(), "kept=1\r\n");
            else ::DeleteFileA(home.Cfg().c_str());
            if (!SetUnixMode(folder, 0333)) {
                std::printf("  (skipped: folder rights are set with access lists on Windows)\n");
                return;
            }
            const Run run = Start(program, scratch);
            SetUnixMode(folder, 0755);
            if (present) {
                ExpectOneBox(run, "Information", TextConverted, Information, 0);
                CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\nkept=1\r\n", "configuration");
            } else {
                ExpectOneBox(run, "Application Error", FailureText("EFOpenError", "Cannot open file " + home.Cfg()),
                             Report, 1);
                Check(!Exists(home.Cfg()), "configuration made");
            }
        }
    });
    Case("configuration dated 1970 is kept", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        WriteBytes(home.Cfg(), "kept=1\r\n");
        const HANDLE file = ::CreateFileA(home.Cfg().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const ULONGLONG ticks = 11644473600ULL * 10000000ULL;
        FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        ::SetFileTime(file, nullptr, nullptr, &time);
        ::CloseHandle(file);
        ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\nkept=1\r\n", "configuration");
    });
    Case("index too large for a 32-bit program's memory", [] {
        // 100 million empty lines: their records alone need more than the
        // 2 GB a 32-bit program has.
        const Home home = FreshHome();
        WriteBytes(home.Inf(), std::string(100u * 1000 * 1000, '\n'));
        WriteBytes(home.Cfg(), "kept=1\r\n");
        ExpectOneBox(Start(program, scratch), "Application Error", FailureText("EOutOfMemory", "Out of memory"), Report,
                     1);
        CheckEqual(ReadBytes(home.Cfg()), "kept=1\r\n", "configuration");
        ::DeleteFileA(home.Inf().c_str());
    });
    Case("configuration of 2 GiB", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        const HANDLE file = ::CreateFileA(home.Cfg().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        LARGE_INTEGER size;
        size.QuadPart = 0x80000000LL;
        Check(file != INVALID_HANDLE_VALUE && ::SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file),
              "cannot make a file of 2 GiB");
        ::CloseHandle(file);
        ExpectOneBox(Start(program, scratch), "Application Error", FailureText("EReadError", "Stream read error"), Report,
                     1);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ::GetFileAttributesExA(home.Cfg().c_str(), GetFileExInfoStandard, &data);
        Check(data.nFileSizeHigh == 0 && data.nFileSizeLow == 0x80000000u, "configuration changed");
        ::DeleteFileA(home.Cfg().c_str());
    });
    // A failure or a processor fault in a start-up step: the runtime-error
    // box, and the run never starts.
    for (const char* fault : {"1", "access"}) {
        Case(std::string("failure at start-up (") + fault + ")", [&] {
            const Home home = FreshHome();
            WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
            ExpectOneBox(StartFaulty("PICTOMAP_FAIL_STARTUP", fault), "Error", "Runtime error 217 at [0-9A-F]{8}", Plain,
                         217);
            Check(!Exists(home.Cfg()), "the run started");
        });
    }
    const struct {
        const char* fault;
        const char* kind;
        const char* message;
    } processorFaults[] = {{"access", "EAccessViolation", "Access violation"},
                           {"stack", "EStackOverflow", "Stack overflow"}};
    for (const auto& f : processorFaults) {
        Case(std::string("processor fault: ") + f.kind, [&] {
            const Home home = FreshHome();
            const Run run = StartFaulty("PICTOMAP_FAIL_RUN", f.fault);
            ExpectOneBox(run, "Application Error", FailureText(f.kind, f.message, "PictomapFaults"), Report, 1);
        });
    }
    // As on NT 4.0 (no ReplaceFileA) and on 95, 98, Me (MoveFileExA not
    // implemented either): the configuration is saved whole and keeps its
    // attributes, new or existing.
    for (const char* hide : {"ReplaceFileA", "ReplaceFileA,MoveFileExA"}) {
        Case(std::string("without ") + hide, [&] {
            for (const bool existing : {false, true}) {
                const Home home = FreshHome();
                WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
                if (existing) {
                    WriteBytes(home.Cfg(), std::string(300, 'o') + "\r\n");
                    ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_HIDDEN);
                }
                const Run run = StartFaulty("PICTOMAP_HIDE", hide);
                ExpectOneBox(run, "Information", TextConverted, Information, 0);
                CheckEqual(ReadBytes(home.Cfg()),
                           "1:2/3=" + home.Picture("a.bmp") + "\r\n" + (existing ? std::string(300, 'o') + "\r\n" : ""),
                           "configuration");
                if (existing) Check((::GetFileAttributesA(home.Cfg().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0, "not hidden");
                ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_NORMAL);
                Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file left");
            }
        });
    }
    // The test build ended at once (as if killed, or the power lost) at each
    // moment of a save in turn: before every call that can change the disk
    // and in the middle of every write. Afterwards the configuration holds
    // the old or the new bytes, or only the old file under the backup name;
    // the next run of Pictomap.exe then writes exactly what an uncut run
    // writes, keeps the file hidden, and leaves nothing beside it.
    for (const char* hide : {"", "ReplaceFileA,MoveFileExA"}) {
        Case(std::string("cut at every moment of a save") + (*hide ? " without " + std::string(hide) : ""), [&] {
            const std::string old = "z=1\r\nq=2\r\n";
            const auto prepare = [&] {
                const Home home = FreshHome();
                WriteBytes(home.Inf(), "a.bmp,x,1:2/3 1:2/4\r\nb.gif,x,2:2/2\r\n");
                WriteBytes(home.Cfg(), old);
                ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
                return home;
            };
            const auto hidden = [](const Home& home) {
                const DWORD attributes = ::GetFileAttributesA(home.Cfg().c_str());
                return attributes != INVALID_FILE_ATTRIBUTES &&
                       (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) ==
                           (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
            };
            Home home = prepare();
            ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
            const std::string fresh = ReadBytes(home.Cfg());
            int cuts = 0;
            for (int cut = 1; cut < 60; ++cut) {
                home = prepare();
                ::SetEnvironmentVariableA("PICTOMAP_HIDE", hide);
                const Run run = StartFaulty("PICTOMAP_CUT", std::to_string(cut).c_str());
                ::SetEnvironmentVariableA("PICTOMAP_HIDE", nullptr);
                const std::string at = " after cut " + std::to_string(cut);
                if (run.exitCode == 0) {
                    ExpectOneBox(run, "Information", TextConverted, Information, 0);
                    CheckEqual(ReadBytes(home.Cfg()), fresh, "configuration uncut");
                    break;
                }
                ++cuts;
                Check(run.exitCode == 86 && run.boxes.empty(), "exit code " + std::to_string(run.exitCode) + at);
                const std::string backup = Join(home.root, "CFG\\PictoCfg.~BK");
                if (Exists(home.Cfg())) {
                    const std::string now = ReadBytes(home.Cfg());
                    Check(now == old || now == fresh, "configuration" + at + ": " + Show(now));
                    Check(hidden(home), "attributes lost" + at);
                } else {
                    CheckEqual(ReadBytes(backup), old, "backup" + at);
                }
                ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
                CheckEqual(ReadBytes(home.Cfg()), fresh, "configuration after the next run" + at);
                Check(hidden(home), "attributes lost after the next run" + at);
                Check(CountEntries(Join(home.root, "CFG")) == 1, "files left beside the configuration" + at);
            }
            Check(cuts >= 5, "only " + std::to_string(cuts) + " cuts");
            ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_NORMAL);
        });
    }
    Case("the runtime's own failure keeps its address", [] {
        const Home home = FreshHome();
        const Run run = StartFaulty("PICTOMAP_FAIL_RUN", "length");
        ExpectOneBox(run, "Application Error", FailureText("EOutOfMemory", "Out of memory", "PictomapFaults"), Report, 1);
        Check(!run.boxes.empty() && run.boxes[0].text.find("at 00000000") == std::string::npos, "no raise address");
    });
    Case("with a debugger attached", [] {
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        WriteBytes(home.Cfg(), "old=1\r\n");
        ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_READONLY);
        const Debugged run = Debug(program, scratch);
        ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_NORMAL);
        Check(run.boxes == 0, std::to_string(run.boxes) + " boxes shown");
        Check(run.failures == 2, "the failure reached the debugger " + std::to_string(run.failures) +
                                     " times, expected twice (first and second chance)");
        CheckEqual(run.kind, "EFCreateError", "kind given to the debugger");
        CheckEqual(run.message, "Cannot create file " + home.Cfg(), "message given to the debugger");
        Check(run.address >= run.moduleStart && run.address < run.moduleEnd, "raise address outside the program");
        Check(run.exitCode == 0xE0504D31u, "exit code " + std::to_string(run.exitCode) + ", not the exception's");
        CheckEqual(ReadBytes(home.Cfg()), "old=1\r\n", "configuration");
    });
    // Under each Windows that Wine can pretend to be: the outcomes and the
    // save, and (traced) the privilege road: on NT 4 and 5 one version
    // query, then for each of the two privileges the token opened for
    // adjusting, the name looked up, the adjustment and the token closed;
    // elsewhere the version query alone.
    for (const char* version : {"win95", "win98", "winme", "nt40", "win2k", "winxp", "win2003", "win7", "win10"}) {
        Case(std::string("as ") + version, [&] {
            SetProgramVersion(version);
            const Home home = FreshHome();
            ExpectOneBox(Start(program, scratch), "Error", TextIndexMissing, Error, 0);
            WriteBytes(home.Inf(), "b.bmp,B,2:5020/100\r\na.gif,A,1:2/3\r\n");
            const Run written = Start(program, scratch);
            ExpectOneBox(written, "Information", TextConverted, Information, 0);
            CheckEqual(ReadBytes(home.Cfg()),
                       "1:2/3=" + home.Picture("a.gif") + "\r\n2:5020/100=" + home.Picture("b.bmp") + "\r\n",
                       "configuration");
            if (!relayLog.empty()) CheckPrivilegeRoad(written, std::string(version) == "nt40" ||
                                                                   std::string(version) == "win2k" ||
                                                                   std::string(version) == "winxp" ||
                                                                   std::string(version) == "win2003");
            ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_HIDDEN);
            WriteBytes(home.Inf(), "c.bmp,C,3:3/3\r\n");
            ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
            CheckEqual(ReadBytes(home.Cfg()),
                       "1:2/3=" + home.Picture("a.gif") + "\r\n2:5020/100=" + home.Picture("b.bmp") + "\r\n3:3/3=" +
                           home.Picture("c.bmp") + "\r\n",
                       "configuration merged");
            Check((::GetFileAttributesA(home.Cfg().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0, "no longer hidden");
            ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_READONLY);
            ExpectOneBox(Start(program, scratch), "Application Error",
                         FailureText("EFCreateError", "Cannot create file " + home.Cfg()), Report, 1);
            ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_NORMAL);
            WriteBytes(home.Inf(), "a.jpg,x,1:2/3\r\n");
            ::DeleteFileA(home.Cfg().c_str());
            ExpectOneBox(Start(program, scratch), "Error", TextNothingFound, Error, 0);
            Check(CountEntries(Join(home.root, "CFG")) == 0, "file left");
            SetProgramVersion(nullptr);
        });
    }
    Case("test build runs normally without the fault", [] {
        const Home home = FreshHome();
        ExpectOneBox(Start(faultProgram, scratch), "Error", TextIndexMissing, Error, 0);
    });
    if (!fullDisk.empty()) {
        // A small disk: the old configuration fits, the new one only where
        // the old one's room is used again. Rewriting the file in place
        // needs room for its growth alone.
        const struct {
            const char* name;
            bool roomForGrowth;  // else 2 KiB are left
            bool lockFolder;     // no new file in the folder
        } disks[] = {
            {"disk too full for a second copy", true, false},
            {"disk full", false, false},
            {"disk full while rewriting in place", false, true},
        };
        for (const auto& disk : disks) Case(disk.name, [&] {
            const Home home{Join(fullDisk, "home")};
            RemoveTree(home.root);
            ::CreateDirectoryA(home.root.c_str(), nullptr);
            ::CreateDirectoryA(Join(home.root, "BMP").c_str(), nullptr);
            ::CreateDirectoryA(Join(home.root, "CFG").c_str(), nullptr);
            SetHomeText(home.root + "\\");
            std::string index, old;
            for (int i = 0; i < 400; ++i) {
                const std::string n = std::to_string(i);
                index.append("p").append(n).append(".bmp,n,1:1/").append(n).append("\r\n");
            }
            for (int i = 0; i < 900; ++i) old.append("2:2/").append(std::to_string(i)).append("=C:\\Mail\\BMP\\old.bmp\r\n");
            WriteBytes(home.Inf(), index);
            WriteBytes(home.Cfg(), old);
            if (!disk.roomForGrowth) {
                ULARGE_INTEGER free{};
                ::GetDiskFreeSpaceExA((fullDisk + "\\").c_str(), &free, nullptr, nullptr);
                if (free.QuadPart > 2048) WriteBytes(Join(home.root, "filler"), std::string(static_cast<std::size_t>(free.QuadPart - 2048), 'f'));
            }
            if (disk.lockFolder && !SetUnixMode(Join(home.root, "CFG"), 0555)) Check(false, "cannot take rights from the folder");
            if (disk.roomForGrowth) {
                ExpectOneBox(Start(program, scratch), "Information", TextConverted, Information, 0);
                // Every old line and every new one, nothing else.
                const std::string now = "\n" + ReadBytes(home.Cfg());
                std::size_t expected = old.size();
                bool all = true;
                for (int i = 0; i < 900; ++i)
                    all = all && now.find("\n2:2/" + std::to_string(i) + "=C:\\Mail\\BMP\\old.bmp\r\n") != std::string::npos;
                for (int i = 0; i < 400; ++i) {
                    const std::string line = "1:1/" + std::to_string(i) + "=" + home.Picture("p" + std::to_string(i) + ".bmp") + "\r\n";
                    expected += line.size();
                    all = all && now.find("\n" + line) != std::string::npos;
                }
                Check(all && now.size() == expected + 1, "configuration not merged");
            } else {
                // By the time the report is shown, the program has closed and
                // removed its files: the configuration opens with no sharing.
                const auto closed = [&] {
                    const HANDLE h = ::CreateFileA(home.Cfg().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                   OPEN_EXISTING, 0, nullptr);
                    Check(h != INVALID_HANDLE_VALUE, "configuration still open while the report is shown");
                    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
                    Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file still there while the report is shown");
                };
                ExpectOneBox(Start(program, scratch, closed), "Application Error",
                             FailureText("EWriteError", "Stream write error"), Report, 1);
                CheckEqual(ReadBytes(home.Cfg()), old, "configuration");
            }
            Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file left");
            SetUnixMode(Join(home.root, "CFG"), 0755);
            RemoveTree(home.root);
        });
    }
}

}  // namespace

// e2e_driver --show Pictomap.exe FOLDER: runs the program once in FOLDER
// and tells what its box said and how it ended.
int Show(const char* exe, const char* folder) {
    char full[MAX_PATH];
    ::GetFullPathNameA(exe, MAX_PATH, full, nullptr);
    const Run run = Start(full, folder);
    for (const Box& box : run.boxes) std::printf("Message box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
    std::printf("Exit code: %lu\n", run.exitCode);
    std::printf("Time: %lu ms, peak memory: %lu KiB\n", run.milliseconds,
                static_cast<unsigned long>(run.peakBytes / 1024));
    // The program always ends after exactly one box: a run that showed
    // none (no display, a box that returned at once) did not work.
    if (run.boxes.size() != 1) {
        std::printf("FAILED: the program showed %u message boxes, expected one\n",
                    static_cast<unsigned>(run.boxes.size()));
        return 1;
    }
    return failed == 0 ? 0 : 1;
}

// e2e_driver --inspect Pictomap.exe: prints the version information and
// whether the program carries an application manifest.
int Inspect(const char* exe) {
    const HMODULE module = ::LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        std::printf("cannot load %s\n", exe);
        return 1;
    }
    const bool manifest = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) != nullptr ||
                          ::FindResourceA(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24)) != nullptr;
    ::FreeLibrary(module);
    std::printf("Manifest: %s\n", manifest ? "yes" : "no");
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(exe, &ignored);
    std::string data(size, '\0');
    if (size == 0 || !::GetFileVersionInfoA(exe, 0, size, &data[0])) {
        std::printf("Version information: none\n");
        return 1;
    }
    for (const char* name : {"ProductName", "ProductVersion", "FileVersion", "FileDescription", "OriginalFilename",
                             "LegalCopyright"}) {
        char* value = nullptr;
        UINT length = 0;
        const std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
        if (::VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value)
            std::printf("%s: %s\n", name, value);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--show") return Show(argv[2], argv[3]);
    if (argc == 3 && std::string(argv[1]) == "--inspect") return Inspect(argv[2]);
    if (argc < 3) {
        std::printf("usage: e2e_driver Pictomap.exe PictomapFaults.exe [full-disk-folder]\n");
        return 2;
    }
    char full[MAX_PATH];
    ::GetFullPathNameA(argv[1], MAX_PATH, full, nullptr);
    program = full;
    ::GetFullPathNameA(argv[2], MAX_PATH, full, nullptr);
    faultProgram = full;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--full-disk") fullDisk = argv[i + 1];
        if (std::string(argv[i]) == "--relay-log") relayLog = argv[i + 1];
    }
    if (!relayLog.empty()) {
        // Trace MessageBoxA and the privilege road, in the programs the
        // driver starts.
        TraceFunctions(TracedFunctions);
        ::SetEnvironmentVariableA("WINEDEBUG", "+relay");
        TracedCalls();
    }
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    scratch = Join(std::string(temp).substr(0, std::strlen(temp) - 1), "pictomap-e2e-" + std::to_string(::GetCurrentProcessId()));
    ::CreateDirectoryA(scratch.c_str(), nullptr);
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    Cases();

    RemoveTree(scratch);
    DeleteKey();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
