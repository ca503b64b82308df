// The time a run may wait for files another program holds for a moment.
//
// A virus scanner or an indexer opens a file just written or just found:
// meanwhile a call on it is refused with a sharing violation or access
// denied. Such a call is tried again, after 20, 40, 80 ... milliseconds,
// while the run's patience lasts: about a second in all for the whole run
// (reading, recovery and save together), so that a real refusal (a folder
// without rights) costs no more than that.
#pragma once

#include <cstdint>
#include <string>

#include "winsys/platform.h"

namespace pm {

class Patience {
public:
    // Waits before another try of a call refused with `error`; false, at
    // once, for any other error or when the time is used up.
    bool WaitAfter(std::uint32_t error);

private:
    std::uint32_t left_ = 1000;
    std::uint32_t next_ = 20;
};

// Whether `error` may be the answer of a file held elsewhere for a moment:
// worth a wait. Access denied is also a real refusal (no rights).
bool HeldForAMoment(std::uint32_t error);
// Whether the file at `path`, refused with `error`, is held by another
// program: a sharing violation, or access denied where even its attributes
// cannot be read (its removal waits for that program). Access denied with
// the attributes readable is a refusal of rights, not a hold. It asks the
// system for those attributes: the last error is then that question's.
bool AskIfHeldByAnother(const std::string& path, std::uint32_t error);

// Makes `call` (true on success) until it succeeds or the patience tells
// to stop; false then, with the system's last error as the call left it.
template <class Call>
bool Retried(Patience& patience, Call call) {
    while (!call())
        if (!patience.WaitAfter(plat::LastError())) return false;
    return true;
}

}  // namespace pm
