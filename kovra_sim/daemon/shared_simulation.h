// What the daemon serves: one simulated camera with its call counts and
// faults, journal and files, shared by every connection. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>

#include "simulation.h"

namespace kovra_sim {

class SharedSimulation : public Simulation {
public:
    // Applies directives; false with the reason in `error` (a directive
    // that only the client library takes is refused).
    bool apply(Config const& config, std::string& error) {
        if (config.exhaust) {
            error = "exhaust= is for the client library, not the daemon";
            return false;
        }
        return Simulation::apply(config, error);
    }
    // The end of the daemon's run (see Simulation::finish), its statistics with
    // `connections` in them.
    bool finish(nlohmann::json const& connections, std::vector<std::string>& say) {
        return Simulation::finish("daemon", "", {{"connections", connections}}, say);
    }
    // The same files as they stand, the daemon going on.
    bool checkpoint(nlohmann::json const& connections, std::vector<std::string>& say) {
        return Simulation::checkpoint("daemon", "", {{"connections", connections}}, say);
    }

    // The journal's number of the next array the camera hands out.
    uint32_t next_array() { return arrays_.fetch_add(1, std::memory_order_relaxed) + 1; }

private:
    std::atomic<uint32_t> arrays_{0};
};

}  // namespace kovra_sim
