// Per-function call counts and injected faults. Every call of a function
// passes through on_call() exactly once. Thread-safe. While no fault is set,
// counting is one relaxed increment in the calling thread's own shard of the
// counters, so threads never write to each other's cache lines; with a
// fault set, calls are numbered exactly under a lock (a fault can name the
// N-th call).
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
        if (any_.load(std::memory_order_acquire)) return injected(function);
        shards_[shard()].counts[function].fetch_add(1, std::memory_order_relaxed);
        return 0;
    }

    // nth == 0 fails every call; otherwise the call whose count since the
    // reset is nth. Faults on different call numbers add up, and one on a
    // call number wins over an every-call fault.
    void fail(int function, uint32_t nth, int32_t status);
    void clear_faults();
    void reset_counts();
    uint32_t count(int function) const;
    // "calls NAME N\n" for every function called since the reset, by name.
    std::string calls_text() const;

private:
    int32_t injected(int function);
    // The calling thread's shard; threads beyond the shards share them.
    static size_t shard();

    static constexpr size_t kShards = 8;
    struct alignas(64) Shard {
        std::array<std::atomic<uint32_t>, kFunctionCount> counts{};
    };
    struct Fault {
        int32_t always = 0;  // 0: none
        std::map<uint32_t, int32_t> nth;
    };
    std::array<Shard, kShards> shards_{};
    std::atomic<bool> any_{false};
    std::mutex mutex_;
    std::array<Fault, kFunctionCount> faults_{};
};

}  // namespace kovra_sim
