#include "harness.h"

#include <cstdio>
#include <cstring>
#include <regex>
#include <vector>

namespace e2e {

Settings settings;

namespace {
constexpr const char* KeyPath = "SoftWare\\Velkorware\\Quernpost";
}  // namespace

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

void Check(bool ok, const std::string& what) {
    if (!ok) ADD_FAILURE() << what;
}

void CheckEqual(const std::string& actual, const std::string& expected, const std::string& what) {
    Check(actual == expected, what + ": got \"" + Show(actual) + "\", expected \"" + Show(expected) + "\"");
}

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
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    using ToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return false;
    wchar_t wide[MAX_PATH * 2];
    if (!::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2)) return false;
    char* unixPath = toUnix(wide);
    if (!unixPath) return false;
#if defined(__i386__)
    long result = 0;
    asm volatile("int $0x80" : "=a"(result) : "a"(15 /* chmod */), "b"(unixPath), "c"(mode) : "memory");
#else
    long long result = 0;
    asm volatile("syscall" : "=a"(result) : "a"(90LL /* chmod */), "D"(unixPath), "S"(static_cast<long long>(mode))
                 : "rcx", "r11", "memory");
#endif
    ::HeapFree(::GetProcessHeap(), 0, unixPath);
    return result == 0;
#else
    (void)path;
    (void)mode;
    return false;
#endif
}

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
// on NT 4 and 5 exactly the privilege steps, elsewhere the version query
// alone. CloseHandle counts only where it closes the adjusted token.
void CheckPrivilegeCalls(const Run& run, bool nt) {
    std::vector<std::string> calls;
    std::string token;
    for (const TracedCall& call : run.calls) {
        const std::string first = call.arguments.substr(0, call.arguments.find(','));
        if (call.function == "GetVersionExA") calls.push_back("GetVersionExA");
        if (call.function == "OpenProcessToken")
            calls.push_back("OpenProcessToken " + call.arguments.substr(call.arguments.find(',') + 1, 8));
        if (call.function == "LookupPrivilegeValueA") {
            const auto open = call.arguments.find('"'), close = call.arguments.rfind('"');
            calls.push_back("LookupPrivilegeValueA " + (open < close ? call.arguments.substr(open + 1, close - open - 1) : call.arguments));
        }
        if (call.function == "AdjustTokenPrivileges") {
            token = first;
            calls.push_back("AdjustTokenPrivileges");
        }
        if (call.function == "CloseHandle" && !token.empty() && first == token) {
            calls.push_back("CloseHandle token");
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
    for (const std::string& step : calls) got += step + "; ";
    for (const std::string& step : expected) want += step + "; ";
    CheckEqual(got, want, "calls of the privilege calls");
}


Home MakeHome(const std::string& root, bool withCfg) {
    Home home{root};
    RemoveTree(home.root);
    ::CreateDirectoryA(home.root.c_str(), nullptr);
    ::CreateDirectoryA(Join(home.root, "BMP").c_str(), nullptr);
    if (withCfg) ::CreateDirectoryA(Join(home.root, "CFG").c_str(), nullptr);
    SetHomeText(home.root + "\\");
    return home;
}

Home FreshHome(bool withCfg) { return MakeHome(Join(settings.scratch, "home"), withCfg); }

Run Start(const std::string& exe, const std::string& folder, const std::function<void()>& whileShown) {
    Run run = RunProgram(exe, folder, whileShown);
    if (!run.problem.empty()) ADD_FAILURE() << run.problem;
    return run;
}

Run StartFaulty(std::initializer_list<std::pair<const char*, std::string>> switches) {
    for (const auto& [variable, value] : switches) ::SetEnvironmentVariableA(variable, value.c_str());
    const Run run = Start(settings.faultProgram, settings.scratch);
    for (const auto& [variable, value] : switches) ::SetEnvironmentVariableA(variable, nullptr);
    return run;
}

Debugged Debug(const std::string& exe, const std::string& folder) {
    Debugged run = DebugProgram(exe, folder);
    if (!run.problem.empty()) ADD_FAILURE() << run.problem;
    return run;
}


void ExpectOneBox(const Run& run, const std::string& caption, const std::string& textPattern, unsigned long style,
                  DWORD exitCode) {
    Check(run.boxes.size() == 1, "shown " + std::to_string(run.boxes.size()) + " boxes, expected one");
    if (!run.boxes.empty()) {
        const Box& box = run.boxes[0];
        CheckEqual(box.caption, caption, "caption");
        Check(std::regex_match(box.text, std::regex(textPattern)),
              "text \"" + Show(box.text) + "\" does not match \"" + Show(textPattern) + "\"");
        if (!Tracing()) {
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


std::string FailureText(const std::string& kind, const std::string& message, const std::string& module) {
    return "Exception " + kind + " in module " + module + "\\.exe at [0-9A-F]{8}\\.\n" + Escape(message) + "\\.";
}

}  // namespace e2e
