// operator new for the host test program, with fault injection: when the
// fault layer says so, an allocation fails as it would with memory exhausted
// (the new handler is called, or std::bad_alloc thrown when there is none).
#include <cstdlib>
#include <new>

#include "support/faults.h"

void* operator new(std::size_t size) {
    for (;;) {
        if (!pm::faults::AllocationFails())
            if (void* p = std::malloc(size ? size : 1)) return p;
        const std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// As the C++ runtime does it: the plain operator new, new handler and all,
// with any failure turned into null.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
