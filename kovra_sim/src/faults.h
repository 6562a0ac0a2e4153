// Per-function call counts and injected faults. Every call of a client-library
// function passes through on_call() exactly once. Thread-safe; counting is one
// relaxed atomic increment, and the fault table is only locked while some
// fault is set.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "bridge.h"

namespace kovra_sim {

class Faults {
public:
    // Counts a call of `function`; returns the status to inject, or 0.
    int32_t on_call(int function);

    // nth == 0 fails every call; otherwise the call whose count since the
    // reset is nth. Faults on different call numbers add up, and one on a
    // call number wins over an every-call fault.
    void fail(int function, uint32_t nth, int32_t status);
    void clear();
    void reset_counts();
    uint32_t count(int function) const;

private:
    struct Fault {
        int32_t always = 0;  // 0: none
        std::map<uint32_t, int32_t> nth;
    };
    std::array<std::atomic<uint32_t>, KOVRA_SIM_FUNCTION_COUNT> counts_{};
    std::atomic<bool> any_{false};
    std::mutex mutex_;
    std::array<Fault, KOVRA_SIM_FUNCTION_COUNT> faults_{};
};

}  // namespace kovra_sim
