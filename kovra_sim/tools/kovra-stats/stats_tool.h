// What kovra-stats makes of statistics files and timelines: tables, a
// comparison of two runs, checks against thresholds, plots.
#pragma once

#include <string>
#include <vector>

#include "stats/report_files.h"

namespace kovra_sim::stats_files {

// A timeline as a table, one interval a line: its end, requests, failed
// calls, the requests' p50 and p99, the slowest call, and announcements.
std::string timeline_table(std::vector<Report> const& intervals);

// How p50, p99 and calls moved from run A to run B, function by function.
std::string compare_table(Report const& a, Report const& b);

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
