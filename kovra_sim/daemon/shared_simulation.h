// What the daemon serves: one simulated camera with its call counts and
// faults, journal and files, and the faults on the wire to its clients,
// shared by every connection. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "simulation.h"
#include "wire_state.h"

namespace kovra_sim {

class SharedSimulation : public Simulation {
public:
    WireState wire;

    // Applies directives; false with the reason in `error` (a directive
    // that only the client library takes is refused). Those applied
    // `at_start` are what the camera comes back to (restore_start).
    bool apply(Config const& config, std::string& error, bool at_start = false) {
        if (config.exhaust) {
            error = "exhaust= is for the client library, not the daemon";
            return false;
        }
        std::lock_guard lock(start_mutex_);
        if (!Simulation::apply(config, error)) return false;
        wire.apply(config.wire, config.seed);
        if (at_start) start_.push_back(config);
        return true;
    }
    // The camera as the daemon started it: its settings, faults, restarts
    // and latency from the start directives alone, whatever was applied
    // since. Requests served meanwhile may see the defaults.
    void restore_start() {
        std::lock_guard lock(start_mutex_);
        camera.reset();
        ledger.clear_faults();
        for (Config const& config : start_) shape(config);
    }
    // The end of the daemon's run (see Simulation::finish), its statistics with
    // `connections` and the faults injected on the wire in them.
    bool finish(nlohmann::json const& connections, std::vector<std::string>& say) {
        return Simulation::finish("daemon", "", daemon_figures(connections), say);
    }
    // The same files as they stand, the daemon going on.
    bool checkpoint(nlohmann::json const& connections, std::vector<std::string>& say) {
        return Simulation::checkpoint("daemon", "", daemon_figures(connections), say);
    }

    // The journal's number of the next array the camera hands out.
    uint32_t next_array() { return arrays_.fetch_add(1, std::memory_order_relaxed) + 1; }

private:
    nlohmann::json daemon_figures(nlohmann::json const& connections) const {
        nlohmann::json faults = nlohmann::json::object();
        for (int kind = 0; kind < kWireFaultKinds; ++kind)
            faults[name(WireFault(kind))] = wire.counted(WireFault(kind));
        return {{"connections", connections}, {"wire_faults", faults}};
    }

    std::atomic<uint32_t> arrays_{0};
    std::mutex start_mutex_;     // orders applying and restoring
    std::vector<Config> start_;  // what the daemon was started with
};

}  // namespace kovra_sim
