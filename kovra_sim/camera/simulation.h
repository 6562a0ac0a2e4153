// The simulated camera as a process runs it: the camera with its call
// counts and faults, what it observes (journal, statistics, timeline) and
// the files its directives name (those, the state file and the drift
// check). The in-process library and the daemon each run one; only what
// they add differs.
#pragma once

#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/config.h"
#include "common/ledger.h"
#include "observe/observer.h"

namespace kovra_sim {

class Simulation : public Observer {
public:
    Camera camera;
    Ledger ledger;

    // Applies parsed directives (all but exhaust=, timeout= and give_up=,
    // which are the library's); false with the reason in `error`, and
    // nothing applied.
    bool apply(Config const& config, std::string& error);
    // The camera's part of `config` alone: faults, settings, restarts,
    // latency, seed and profile.
    void shape(Config const& config);
    // The end of the run: the journal completed and closed, the state file
    // (settings, calls, then `state_tail`) and statistics (from `source`,
    // with the fields of `extra`) written, the timeline finished and the
    // drift said. `say` gets lines for a person, one per file that could
    // not be written (naming it and why); false if any could not.
    bool finish(char const* source, std::string const& state_tail, nlohmann::json const& extra,
                std::vector<std::string>& say);
    // The same files as they stand, the journal flushed but kept open, and
    // the run going on.
    bool checkpoint(char const* source, std::string const& state_tail, nlohmann::json const& extra,
                    std::vector<std::string>& say);
    // Forgets the files and the drift baseline, and stops the statistics.
    void forget_files();

private:
    bool write_files(bool closing, char const* source, std::string const& state_tail,
                     nlohmann::json extra, std::vector<std::string>& say);

    std::mutex mutex_;  // guards the members below
    std::optional<std::string> state_path_;
    std::optional<Snapshot> baseline_;  // the configuration at the start, for the drift check
};

}  // namespace kovra_sim
