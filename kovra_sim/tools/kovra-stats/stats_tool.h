// What kovra-stats makes of statistics files and timelines: tables, a
// comparison of two runs, checks against thresholds, plots, merges and a
// live view. Timelines are read a line at a time, whatever their length.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
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

// kovra-stats --check: thresholds a run must keep, written as a list of
// clauses separated by ',' (the man page has every form):
//   p50, p90, p95, p99, p99.9 (p999), max [(SELECTION)] > LATENCY[us|ms|s]
//   failures[(SELECTION[, STATUS])] > COUNT | > PERCENT%
//   requests < COUNT (the least a run may hold; 1 unless given),
//   requests(SELECTION) < COUNT, rps[(SELECTION)] < RATE
//   degradation[(SELECTION)] > PERCENT%   (a timeline's last quarter's p99
//     against its first quarter's)
//   skip=DURATION                          (each run's warm-up left out)
// and, against a base run: a latency +PERCENT%, failures +COUNT or
// +POINTS%, rps -PERCENT%. SELECTION is all (every request together), a
// function's name (any function, requests or not), or a glob of names
// (fnmatch; the requests it matches, together). A latency without one is
// checked for each request alone; the rest are of all requests together.

// An expression that does not parse, or does not fit the files given:
// what() quotes the clause and says why, `at` is where in the expression
// (nowhere for a clause that does not fit the files).
class CheckError : public std::invalid_argument {
public:
    static constexpr size_t nowhere = size_t(-1);
    CheckError(std::string const& what, size_t at) : std::invalid_argument(what), at(at) {}
    size_t at;
};

// One clause of an expression, parsed.
struct Threshold {
    enum Metric { latency, failures, requests, rps, degradation } metric = latency;
    std::string name;  // the metric as written: "p99.9"
    double q = 0;      // a latency's quantile; 0 for max
    std::string who;   // "" unless given: all, a function or a glob
    bool glob = false;
    std::optional<int32_t> status;  // failures of this status alone
    char op = '>';                  // '>' or '<' over a run, '+' or '-' against a base
    double limit = 0;               // us for a latency, percent if `percent`, else a count
    bool percent = false;
    std::string limit_text;  // "5ms", "+20%"
    std::string clause;      // the whole clause as written
};

// What a check found: a line for each threshold crossed (a latency without
// a selection may cross once per function), or for what left nothing to
// check: a file that cannot be read, or fewer requests than the least.
struct Verdict {
    std::vector<std::string> lines;
    size_t thresholds = 0;
    size_t crossed = 0;
    bool checked = false;
    bool passed() const { return checked && crossed == 0; }
    // "check: passed, 5 thresholds", "check: 2 of 5 thresholds crossed",
    // "check: failed, nothing checked".
    std::string summary() const;
};

class Check {
public:
    // Throws CheckError for an expression that does not parse.
    explicit Check(std::string const& expression);
    // The file at `path` against the thresholds; with a `base`, against it
    // too. Throws CheckError where the thresholds do not fit the files: a
    // change without a base, degradation or skip= without timelines.
    Verdict run(std::string const& path, std::optional<std::string> const& base = {}) const;
    // Whether only a timeline can be checked: skip= or degradation.
    bool needs_timeline() const;

private:
    std::vector<Threshold> thresholds_;
    std::optional<double> skip_s_;
    std::string skip_text_;      // as written, for messages
    double least_requests_ = 1;  // requests < N: a run with fewer is not checked
};

// kovra-stats --check EXPR, over `path` (against `base` with --compare):
// the crossed thresholds and the summary to `out`, why an expression is
// refused to `err`, pointing at the place; the exit status: 0 passed, 1
// crossed or nothing to check, 2 an expression refused.
int check_command(std::string const& expression, std::string const& path,
                  std::optional<std::string> const& base, std::ostream& out, std::ostream& err);
// kovra-stats --check EXPR FILE...: each file on its own, its lines after
// its name when there are several; the worst exit status. A statistics
// file beside a timeline (a run's two files) is left out, saying so, when
// only a timeline can be checked.
int check_files(std::string const& expression, std::vector<std::string> const& paths,
                std::ostream& out, std::ostream& err);
// The timelines among `paths`, saying to `err` which statistics files are
// left out and `why`; all of `paths` if none is a timeline.
std::vector<std::string> timelines_if_any(std::vector<std::string> const& paths, char const* why,
                                          std::ostream& err);
// A verdict's lines, each after `prefix` unless it names the file already,
// and its summary, to `out`: 0 if it passed, else 1.
int print_verdict(Verdict const& v, std::string const& prefix, std::ostream& out);
// Why `expression` was refused, to `err` as check_command says it: 2.
int refused(CheckError const& e, std::string const& expression, std::ostream& err);

// kovra-stats --html: the files (one run, or a fleet's runs side by side,
// all statistics or all timelines) as one page that needs no network: a
// summary, each file checked against `check` if given, latency and failed
// calls over time with restarts and faults marked, and the functions'
// table. Inlines dygraph.min.js and dygraph.min.css from the folder
// KOVRA_STATS_DYGRAPHS names (Debian's libjs-dygraphs by default). Throws
// std::runtime_error, writing nothing, for a file that cannot be read, a mix
// of kinds, no dygraphs or an `out` that cannot be written; CheckError where
// the check does not fit the files. The verdicts, a file each.
std::vector<Verdict> write_html(std::vector<std::string> const& paths, std::string const& out,
                                std::optional<Check> const& check);

// Draws the file into a PNG with gnuplot: a statistics file as a percentile
// spectrum of the busiest functions; a timeline as three panels over the
// clock (the requests' p50 and p99 with announcements marked, requests per
// second, failed calls), long ones as bands. False if gnuplot fails.
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
