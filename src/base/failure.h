// The failure family: every unexpected condition is raised as one of these
// kinds and travels up to the top-level handler, which reports its kind
// name, message and the code address it was raised at.
#pragma once

#include <cstdint>
#include <string>

namespace pm {

class Exception {
public:
    explicit Exception(std::string message = {}) : message_(std::move(message)) {}
    virtual ~Exception() = default;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    // Exact kind name, as shown in the failure report.
    virtual const char* KindName() const noexcept { return "Exception"; }
    virtual const char* Message() const noexcept { return message_.c_str(); }

    // Code address just after the call that raised the failure (0 if unknown).
    std::uintptr_t RaiseAddress() const noexcept { return raiseAddress_; }
    void SetRaiseAddress(std::uintptr_t address) noexcept { raiseAddress_ = address; }

private:
    std::string message_;
    std::uintptr_t raiseAddress_ = 0;
};

#define PM_FAILURE_KIND(Kind, Parent)                                  \
    class Kind : public Parent {                                       \
    public:                                                            \
        using Parent::Parent;                                          \
        const char* KindName() const noexcept override { return #Kind; } \
    };

PM_FAILURE_KIND(EStreamError, Exception)
PM_FAILURE_KIND(EFOpenError, EStreamError)
PM_FAILURE_KIND(EFCreateError, EStreamError)
PM_FAILURE_KIND(EFilerError, EStreamError)
PM_FAILURE_KIND(EWriteError, EFilerError)
PM_FAILURE_KIND(EReadError, EFilerError)
PM_FAILURE_KIND(EStringListError, Exception)
PM_FAILURE_KIND(ERegistryException, Exception)
PM_FAILURE_KIND(EHeapException, Exception)
PM_FAILURE_KIND(EExternal, Exception)
PM_FAILURE_KIND(EIntError, EExternal)
PM_FAILURE_KIND(EIntOverflow, EIntError)
PM_FAILURE_KIND(ERangeError, EIntError)
PM_FAILURE_KIND(EAccessViolation, EExternal)
PM_FAILURE_KIND(EStackOverflow, EExternal)

// Memory exhaustion is reported with one instance made at start-up, so that
// reporting it needs no memory: its message is a constant, not a copy.
class EOutOfMemory : public EHeapException {
public:
    EOutOfMemory() = default;
    const char* KindName() const noexcept override { return "EOutOfMemory"; }
    const char* Message() const noexcept override { return "Out of memory"; }
};

#undef PM_FAILURE_KIND

// Returns the code address the current function returns to; used to record
// where a failure was raised. Kept behind this one helper because the way
// to ask for it differs between compilers.
#if defined(_MSC_VER)
extern "C" void* _ReturnAddress(void);
#pragma intrinsic(_ReturnAddress)
#define PM_RETURN_ADDRESS() (reinterpret_cast<std::uintptr_t>(_ReturnAddress()))
#define PM_NOINLINE __declspec(noinline)
#else
#define PM_RETURN_ADDRESS() (reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)))
#define PM_NOINLINE __attribute__((noinline))
#endif

// Called with every failure as it is raised, before it is thrown. The
// start-up frame sets it: with a debugger attached a failure goes to the
// debugger at once, where it was raised, and nothing of ours runs after it.
using RaiseWatcher = void (*)(const Exception& failure);
void SetRaiseWatcher(RaiseWatcher watcher);
void WatchRaise(const Exception& failure);

// Throws `failure` stamped with `address`.
template <class Kind>
[[noreturn]] void ThrowAt(Kind failure, std::uintptr_t address) {
    failure.SetRaiseAddress(address);
    WatchRaise(failure);
    throw failure;
}

// Raises a failure of `Kind` with `message`; the raise address is the
// caller's return address, i.e. the code just after the raising call.
template <class Kind>
[[noreturn]] PM_NOINLINE void Raise(std::string message) {
    ThrowAt(Kind(std::move(message)), PM_RETURN_ADDRESS());
}

// Replaces the first "%s" of `format` with `argument`.
std::string FormatText(const char* format, const std::string& argument);

// EFOpenError "Cannot open file %s" for `path`, raised at the caller's
// address, as if the caller had raised it.
[[noreturn]] PM_NOINLINE void RaiseCannotOpen(const std::string& path);

}  // namespace pm
