// Reading what the trace layer, the client library and the daemon write:
// a statistics file (one report as a JSON object) or a timeline (JSON
// Lines, one report per interval).
#pragma once

#include <string>
#include <vector>

#include "stats/report.h"

namespace kovra_sim::stats_files {

// A file's reports: one for a statistics file, one per interval, in order,
// for a timeline.
struct Loaded {
    bool timeline = false;
    std::vector<Report> reports;
    // The whole run: the statistics file, or the timeline's intervals merged.
    Report whole() const;
};
// Throws std::runtime_error naming the file for one that cannot be read or
// is neither, saying what is wrong with it.
Loaded load(std::string const& path);

// Several files of one kind as one (runs side by side): statistics merged,
// or timelines merged interval by interval. Throws for a mix of kinds.
Loaded merge(std::vector<Loaded> const& files);
// The text of a file holding `loaded`.
std::string text_of(Loaded const& loaded);

}  // namespace kovra_sim::stats_files
