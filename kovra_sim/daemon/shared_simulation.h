// What the daemon serves: one simulated camera with its call counts and
// faults, journal and files, and the faults on the wire to its clients,
// shared by every connection. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
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
// The directives given at Place::daemon or Place::post; false with the reason in `error`.
bool parse_daemon_config(std::string_view text, Place place, Settings const& settings,
                         DaemonConfig& out, std::string& error);

class SharedSimulation : public Simulation {
public:
    WireState wire;

    // Parses and applies the directives the daemon starts with.
    bool start_with(std::string_view directives, std::string& error);
    // Parses and applies directives posted while the daemon runs (a
    // profile= may take a while). Refused past kMaxPiled restart= plans and
    // fail=...@N faults posted since restore_start: each adds to what the
    // camera keeps, where other directives replace.
    bool post(std::string_view directives, std::string& error);
    static constexpr size_t kMaxPiled = 1024;
    // The camera as the start directives alone made it (requests served
    // meanwhile may see the defaults).
    void restore_start();
    // restore_start(), the start's faults on the wire, every count from zero.
    void reset();
    // The settings now count as the start's, for drifted().
    void started();
    // How many settings differ from those at started().
    size_t drifted();
    // What the camera is configured to do now: {"directives": {"start",
    // "posted", "posted_forgotten"}, "latency_us", "wire": {faults, "seed"},
    // "settings": {KEY: VALUES}}. "posted" keeps the last "NAME=VALUE" of
    // each kind (name, setting or function), at most kPostedKept in
    // kPostedBytes, counting those forgotten; a value shows its first
    // kStateValueBytes. A reboot forgets what was posted, not the wire's.
    nlohmann::json state();
    static constexpr size_t kPostedKept = 256;
    static constexpr size_t kPostedBytes = 64 * 1024;
    static constexpr size_t kStateValueBytes = 1024;

    // The end of the run (Simulation::finish), its statistics with
    // `connections` and the faults injected on the wire.
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
    // With start_mutex_ held; those `at_start` are what restore_start keeps.
    bool apply(DaemonConfig const& config, std::string& error, bool at_start);
    // Forgets what was posted; with start_mutex_ held.
    void forget_posted();
    nlohmann::json daemon_figures(nlohmann::json const& connections) const {
        return {{"connections", connections}, {"wire_faults", wire.counts()}};
    }

    std::atomic<uint32_t> arrays_{0};
    std::mutex start_mutex_;           // orders applying and restoring; guards the members below
    std::vector<DaemonConfig> start_;  // what the daemon was started with
    std::vector<std::string> start_texts_;
    struct Posted {
        std::string kind, text;  // what a later directive of the same kind replaces; NAME=VALUE
    };
    std::deque<Posted> posted_;
    uint64_t posted_forgotten_ = 0;
    std::set<std::string> piled_faults_;  // the fail=...@N posted, by kind
    size_t piled_restarts_ = 0;           // the restart= plans posted
    Snapshot start_settings_;
};

}  // namespace kovra_sim
