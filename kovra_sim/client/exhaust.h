// Resources the library can be told to have run out of (exhaust= in
// KOVRA_SIM), so that a test or a camera engineer can see how a program
// copes with a client library that cannot get memory or start a thread:
// the calls that would need them return KOVRA_SIM_STATUS_NO_RESOURCES.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <system_error>

namespace kovra_sim {

struct Exhausted {
    static inline std::atomic<bool> memory{false};
    static inline std::atomic<bool> threads{false};
};

// Memory handed to the caller (texts, arrays); throws std::bad_alloc when
// there is none, or when told there is none.
inline void* allocate(size_t bytes) {
    void* p = Exhausted::memory.load(std::memory_order_relaxed) ? nullptr : std::malloc(bytes);
    if (!p) throw std::bad_alloc();
    return p;
}

// Throws as std::thread does when no thread can be started, if told to.
inline void check_threads() {
    if (Exhausted::threads.load(std::memory_order_relaxed)) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
}

}  // namespace kovra_sim
