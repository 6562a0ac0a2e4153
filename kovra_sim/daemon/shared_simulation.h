// What the daemon serves: one simulated camera with its call counts and
// faults, journal and files, and the faults on the wire to its clients,
// shared by every connection. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "camera/simulation.h"
#include "daemon/wire_state.h"

namespace kovra_sim {

// The directives the daemon takes: the camera's, and its faults on the wire.
struct DaemonConfig {
    Config camera;
    WireFaults wire;
};
// Parses the directives the daemon is given at `place` (Place::daemon or
// Place::post); false with the reason in `error`.
bool parse_daemon_config(std::string_view text, Place place, Settings const& settings,
                         DaemonConfig& out, std::string& error);

class SharedSimulation : public Simulation {
public:
    WireState wire;

    // Parses and applies the directives the daemon starts with.
    bool start_with(std::string_view directives, std::string& error);
    // Parses and applies directives posted while the daemon runs: the
    // camera's only, since files are chosen when it starts.
    bool post(std::string_view directives, std::string& error);
    // The camera as the daemon started it: its settings, faults, restarts
    // and latency from the start directives alone, those posted since
    // dropped. Requests served meanwhile may see the defaults.
    void restore_start();
    // Back to how the daemon started: restore_start(), the faults on the
    // wire of the start directives alone, and every count and statistic
    // from zero.
    void reset();
    // The settings now count as the start's, for drifted().
    void started();
    // How many settings differ from those at started().
    size_t drifted();
    // {"directives": {"start": [...], "posted": [...]}, "latency_us",
    // "wire": {the faults on the wire in effect, "seed"}, "settings": {KEY:
    // VALUES}}: what the camera is configured to do now. A reboot forgets
    // the posted directives but keeps the faults on the wire.
    nlohmann::json state();

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
    // Applies directives; false with the reason in `error`. Those applied
    // `at_start` are what the camera comes back to (restore_start).
    bool apply(DaemonConfig const& config, std::string& error, bool at_start);
    nlohmann::json daemon_figures(nlohmann::json const& connections) const {
        return {{"connections", connections}, {"wire_faults", wire.counts()}};
    }

    std::atomic<uint32_t> arrays_{0};
    std::mutex start_mutex_;           // orders applying and restoring; guards the members below
    std::vector<DaemonConfig> start_;  // what the daemon was started with
    std::vector<std::string> start_texts_, posted_texts_;
    Snapshot start_settings_;
};

}  // namespace kovra_sim
