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
#include <thread>
#include <utility>

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

// Starts `thread` running `f(args...)`; false when no thread can be
// started, or when told there is none.
template <class F, class... Args>
bool start_thread(std::thread& thread, F&& f, Args&&... args) {
    if (Exhausted::threads.load(std::memory_order_relaxed)) return false;
    try {
        thread = std::thread(std::forward<F>(f), std::forward<Args>(args)...);
        return true;
    } catch (std::system_error const&) {
        return false;
    }
}

}  // namespace kovra_sim
