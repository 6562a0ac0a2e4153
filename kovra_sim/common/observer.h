// What a run observes of the calls it makes (the trace layer, the client
// library) or serves (the camera daemon), and the files it writes them to:
// the journal, streamed as calls complete; the statistics, written at the
// end and at checkpoints; and the timeline, a line per interval.
#pragma once

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "journal.h"
#include "stats.h"
#include "timeline.h"

namespace kovra_sim {

// The files of the directives journal=, stats=, timeline= and interval=.
struct Outputs {
    std::optional<std::string> journal;
    std::optional<std::string> stats;
    std::optional<std::string> timeline;
    std::optional<uint32_t> interval_s;  // of the timeline; 10 unless given
};

// The bounds of interval=.
constexpr uint32_t kMaxIntervalS = 86'400;

class Observer {
public:
    Journal journal;
    Stats stats;

    // Checks every file `outputs` names, then opens the journal and starts
    // the timeline; false with the reason (naming the file) and nothing
    // applied.
    bool open(Outputs const& outputs, std::string& error);

protected:
    // The journal completed and closed (`closing`) or flushed, the
    // statistics written (from `source`, with the fields of `extra`), and,
    // when closing, the timeline's last line written. One line in `say` for
    // each file that could not be written, naming it and why; false if any.
    bool write_files(bool closing, char const* source, nlohmann::json const& extra,
                     std::vector<std::string>& say);
    // Forgets the files and stops the statistics.
    void forget_files();

private:
    Timeline timeline_;
    std::mutex mutex_;  // guards the members below
    std::optional<std::string> journal_path_;
    std::optional<std::string> stats_path_;
    std::optional<std::string> timeline_path_;
};

}  // namespace kovra_sim
