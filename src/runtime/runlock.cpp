#include "runtime/runlock.h"

#include "base/failure.h"

namespace pm {
namespace {

// How often a mutex that another user's run holds (and we may not open)
// is asked for again.
constexpr std::uint32_t DeniedPollMilliseconds = 100;

}  // namespace

std::string RunLockName(const std::string& fullPath) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : fullPath) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (c == '/') c = '\\';
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    std::string name = "Pictomap-";
    for (int shift = 60; shift >= 0; shift -= 4) name += "0123456789ABCDEF"[(hash >> shift) & 15];
    return name;
}

void RunLock::Take(const std::string& path, std::uint32_t wait) {
    Release();
    std::string full;
    if (!plat::GetFullPathName(path, full)) return;
    const std::string name = RunLockName(full);
    // The global namespace first, which runs in other sessions share (a
    // mail program run as a service); where there is none (95, 98, Me, NT
    // 4.0 without Terminal Server) the name is refused, and the plain one
    // serves. A mutex we may not open is another user's run, holding it.
    std::uint32_t waited = 0;
    for (const char* prefix : {"Global\\", ""}) {
        for (;;) {
            mutex_ = plat::CreateMutex(prefix + name);
            if (mutex_ || plat::LastError() != plat::ErrorAccessDenied) break;
            if (waited >= wait) RaiseCannotOpen(path);
            plat::Sleep(DeniedPollMilliseconds);
            waited += DeniedPollMilliseconds;
        }
        if (mutex_) break;
    }
    if (!mutex_) return;
    switch (plat::WaitForObject(mutex_, wait - waited)) {
    case plat::WaitObject0:
    case plat::WaitAbandoned: owned_ = true; return;
    case plat::WaitTimeout: Release(); RaiseCannotOpen(path);
    default: Release(); return;  // it cannot be told: no lock
    }
}

void RunLock::Release() {
    if (!mutex_) return;
    if (owned_) plat::ReleaseMutex(mutex_);
    plat::CloseObject(mutex_);
    mutex_ = 0;
    owned_ = false;
}

}  // namespace pm
