// Reading what the trace layer, the client library and the daemon write:
// a statistics file (one JSON object) or a timeline (JSON Lines, one
// statistics object per interval); and the checks, tables and plots
// kovra-stats makes of them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kovra_sim::stats_files {

// A file's statistics: one object for a statistics file, one per
// interval, in order, for a timeline. Throws std::runtime_error naming the
// file for one that is neither.
struct Loaded {
    bool timeline = false;
    std::vector<nlohmann::json> reports;
    // The whole run: the statistics file, or the timeline's intervals merged.
    nlohmann::json whole() const;
};
Loaded load(std::string const& path);

// Several files of one kind as one (runs side by side): statistics merged,
// or timelines merged interval by interval. Throws for a mix of kinds.
Loaded merge(std::vector<Loaded> const& files);
// The text of a file holding `loaded`.
std::string text_of(Loaded const& loaded);

// A timeline as a table, one interval a line: its end, requests, failed
// calls, the requests' p50 and p99, the slowest call, and announcements.
std::string timeline_table(std::vector<nlohmann::json> const& intervals);

// How p50, p99 and calls moved from run A to run B, function by function.
std::string compare_table(nlohmann::json const& a, nlohmann::json const& b);

// Checks `expression` against `loaded`: a list of clauses separated by
// ',', each METRIC[(FUNCTION)] > NUMBER[UNIT], where METRIC is
//   p50, p90, p99, p999 or max: a latency (UNIT us, ms or s; us if none),
//     of every function, or of the one named;
//   failures: the share of calls whose status is not 0 (UNIT %), of all
//     calls, or of the function named;
//   degradation: how much the p99 of the last quarter of a timeline's
//     intervals is above the first quarter's (UNIT %), of all requests, or
//     of the function named.
// Returns a line for each clause crossed ("p99 of NAME is 7.3 ms, over 5
// ms"); throws std::invalid_argument for an expression that does not
// parse, or degradation asked of a statistics file.
std::vector<std::string> check(std::string const& expression, Loaded const& loaded);

// Draws `loaded` into a PNG with gnuplot: a statistics file as the
// fraction of calls done within a time, a timeline as p99 over time, both
// for the busiest functions; a timeline's announcements are marked. False
// if gnuplot fails.
bool plot(Loaded const& loaded, std::string const& png);

}  // namespace kovra_sim::stats_files
