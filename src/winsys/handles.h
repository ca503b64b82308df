// Small owners for the system handles the program opens: each closes its
// handle when it goes out of scope, so a failure passing through releases it.
#pragma once

#include <utility>

#include "winsys/platform.h"

namespace pm {

template <class Handle, Handle Invalid, void (*Close)(Handle)>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Invalid)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, Invalid);
        }
        return *this;
    }

    Handle Get() const { return handle_; }
    Handle* Put() {
        Reset();
        return &handle_;
    }
    bool Valid() const { return handle_ != Invalid; }
    void Reset() {
        if (handle_ != Invalid) Close(std::exchange(handle_, Invalid));
    }

private:
    Handle handle_ = Invalid;
};

namespace detail {
inline void CloseRegKey(plat::RegKey key) { plat::RegCloseKey(key); }
}  // namespace detail

using UniqueFile = UniqueHandle<plat::FileHandle, plat::InvalidFile, plat::CloseFile>;
using UniqueRegKey = UniqueHandle<plat::RegKey, 0, detail::CloseRegKey>;
using UniqueToken = UniqueHandle<plat::TokenHandle, 0, plat::CloseToken>;

}  // namespace pm
