// One run at a time for one file. A user may start the program twice on a
// slow machine, or the mail program may start it from a hook while the
// user runs it by hand: two runs that each read the file, recover its
// backups and save it would lose lines between them. So a run holds a
// named mutex, named after the file's full path, from before the recovery
// until after the save, and a second run waits for it. Every Windows from
// 95 has named mutexes; one whose owner ended without giving it up (a run
// cut short) passes to the next waiter, whose recovery finishes that save.
//
// Where the mutex cannot be had at all (no full path, a name the system
// refuses), the run cannot tell whether another is running and goes on
// without it, as a run did before there was a lock.
#pragma once

#include <cstdint>
#include <string>

#include "winsys/platform.h"

namespace pm {

// How long a run waits for another run of the same file: longer than a
// whole run over a large index on a slow machine, short enough for a user.
// When it runs out, EFOpenError names the file, and nothing is written.
inline constexpr std::uint32_t RunLockWaitMilliseconds = 120000;

// The mutex's name for the file at `fullPath`: "Pictomap-" and 16
// hexadecimal digits of a hash of the path, with its ASCII letters in one
// case and either slash as a backslash, so that every spelling of a path
// that Windows takes for the same file gives the same name.
std::string RunLockName(const std::string& fullPath);

class RunLock {
public:
    RunLock() = default;
    ~RunLock() { Release(); }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock of the file at `path`, waiting while another run
    // holds it, at most `wait` milliseconds.
    void Take(const std::string& path, std::uint32_t wait = RunLockWaitMilliseconds);
    void Release();

private:
    plat::ObjectHandle mutex_ = 0;
    bool owned_ = false;
};

}  // namespace pm
