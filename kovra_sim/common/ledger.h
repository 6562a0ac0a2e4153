// Per-function call counts and injected faults. Every call of a function
// passes through on_call() exactly once. Thread-safe: counting is one relaxed
// increment of the function's own counter, and the fault table is only
// looked at while some fault is set.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "functions.h"

namespace kovra_sim {

class Ledger {
public:
    // Counts a call of `function`; returns the status to inject, or 0.
    int32_t on_call(int function) {
        uint32_t const n = counts_[function].value.fetch_add(1, std::memory_order_relaxed) + 1;
        if (!any_.load(std::memory_order_acquire)) return 0;
        return injected(function, n);
    }

    // nth == 0 fails every call; otherwise the call whose count since the
    // reset is nth. Faults on different call numbers add up, and one on a
    // call number wins over an every-call fault.
    void fail(int function, uint32_t nth, int32_t status);
    void clear_faults();
    void reset_counts();
    uint32_t count(int function) const {
        return counts_[function].value.load(std::memory_order_relaxed);
    }
    // "calls NAME N\n" for every function called since the reset, by name.
    std::string calls_text() const;

private:
    int32_t injected(int function, uint32_t n);

    // Each counter on a cache line of its own, so threads calling different
    // functions do not slow each other down.
    struct alignas(64) Counter {
        std::atomic<uint32_t> value{0};
    };
    struct Fault {
        int32_t always = 0;  // 0: none
        std::map<uint32_t, int32_t> nth;
    };
    std::array<Counter, kFunctionCount> counts_{};
    std::atomic<bool> any_{false};
    std::mutex mutex_;
    std::array<Fault, kFunctionCount> faults_{};
};

}  // namespace kovra_sim
