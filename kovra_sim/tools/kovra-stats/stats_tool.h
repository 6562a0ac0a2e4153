// What kovra-stats makes of statistics files and timelines: tables, a
// comparison of two runs, checks against thresholds, plots, merges and a
// live view. Timelines are read a line at a time, whatever their length.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "stats/report_files.h"

namespace kovra_sim::stats_files {

// Each interval of the timeline at `path` (a statistics file's one report),
// handed to `take` as it is read; its marks to `mark`, if given.
void each_interval(std::string const& path, std::function<void(Report const&)> const& take,
                   std::function<void(timeline::Line const&)> const& mark = {});

// A timeline as a table, a line an interval: when it ended (UTC), its end
// since its run began, requests, failed calls, the requests' p50 and p99,
// the slowest call, and announcements; a line where a run begins or the
// intervals were merged in pairs.
void print_timeline(std::string const& path, std::ostream& out);

// How p50, p99 and calls moved from run A to run B, function by function.
std::string compare_table(Report const& a, Report const& b);

// Checks `expression` against the file at `path`: a list of clauses
// separated by ',', each METRIC[(FUNCTION)] > NUMBER[UNIT], where METRIC is
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
std::vector<std::string> check(std::string const& expression, std::string const& path);

// Draws the file into a PNG with gnuplot: a statistics file as the fraction
// of calls done within a time, a timeline as p99 over time, both for the
// busiest functions; a timeline's announcements are marked. False if
// gnuplot fails.
bool plot(std::string const& path, std::string const& png);

// Several files of one kind as one, written to `out` (gzip if its name ends
// in ".gz"): statistics merged, or timelines merged on the clock, the
// intervals that began in the same interval's time as one. Throws for a mix
// of kinds or a file that cannot be written.
void merge_files(std::vector<std::string> const& paths, std::string const& out);

// Prints a line for each interval a timeline gets, as it gets them, until
// the run that writes it ends: requests a second, failed calls, p50 and p99
// of all requests, and the function with the worst p99.
void follow(std::string const& path, std::ostream& out);

}  // namespace kovra_sim::stats_files
