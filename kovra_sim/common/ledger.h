// Per-function call counts and injected faults. Every call of a function
// passes through on_call() exactly once. Thread-safe. While no fault is set,
// counting is a plain increment of the calling thread's own counter (no
// atomic read-modify-write, no cache line shared with another thread); with
// a fault set, calls are numbered exactly under a lock (a fault can name the
// N-th call).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/functions.h"
#include "common/per_thread.h"

namespace kovra_sim {

class Ledger {
public:
    // Counts a call of `function`; returns the status to inject, or 0.
    int32_t on_call(int function) {
        if (any_.load(std::memory_order_acquire)) return injected(function);
        auto& n = threads_.mine().counts[size_t(function)];
        n.store(n.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return 0;
    }

    // nth == 0 fails every call; otherwise the call whose count since the
    // reset is nth. Faults on different call numbers add up, and one on a
    // call number wins over an every-call fault.
    void fail(int function, uint32_t nth, int32_t status);
    void clear_faults();
    void reset_counts();
    uint32_t count(int function) const;
    // How many calls a fault failed since the reset.
    uint64_t faults_injected();
    // "calls NAME N\n" for every function called since the reset, by name.
    std::string calls_text() const;

private:
    struct alignas(64) Counters {
        std::array<std::atomic<uint32_t>, kFunctionCount> counts{};
    };
    int32_t injected(int function);
    struct Fault {
        int32_t always = 0;  // 0: none
        std::map<uint32_t, int32_t> nth;
    };
    PerThread<Counters> threads_;
    std::atomic<bool> any_{false};
    std::mutex mutex_;
    std::array<Fault, kFunctionCount> faults_{};
    uint64_t injected_ = 0;
};

}  // namespace kovra_sim
