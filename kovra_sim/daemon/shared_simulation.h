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
    // camera's only, since files are chosen when it starts. Loads a
    // profile= file, so it may take a while. Refused when the restart= plans
    // and fail=...@N faults posted since the camera was last restored
    // (restore_start) would pass kMaxPiled: each adds to what the camera
    // keeps, where other directives replace.
    bool post(std::string_view directives, std::string& error);
    static constexpr size_t kMaxPiled = 1024;
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
    // {"directives": {"start": [...], "posted": [...], "posted_forgotten":
    // N}, "latency_us", "wire": {the faults on the wire in effect, "seed"},
    // "settings": {KEY: VALUES}}: what the camera is configured to do now.
    // "posted" holds one "NAME=VALUE" per directive posted since then,
    // the last of each kind (a directive of the same name, or the same
    // setting or function, replaces it), at most kPostedKept of them in
    // kPostedBytes; those it had to forget, oldest first, are counted. A
    // setting's values show their first kStateValueBytes. A reboot forgets
    // the posted directives but keeps the faults on the wire.
    nlohmann::json state();
    static constexpr size_t kPostedKept = 256;
    static constexpr size_t kPostedBytes = 64 * 1024;
    static constexpr size_t kStateValueBytes = 1024;

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
    // Applies directives, with start_mutex_ held; false with the reason in
    // `error`. Those applied `at_start` are what the camera comes back to
    // (restore_start).
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
    size_t posted_bytes_ = 0;
    uint64_t posted_forgotten_ = 0;
    std::set<std::string> piled_faults_;  // the fail=...@N posted, by kind
    size_t piled_restarts_ = 0;           // the restart= plans posted
    Snapshot start_settings_;
};

}  // namespace kovra_sim
