// The lines of a timeline file. A run begins with a mark that says which
// program ran and when; then one line per interval with that interval's
// figures alone, their clock time and their time since the run began; then
// a mark at its end. A file may hold several runs back to back (a day of
// soaks), and a note where its intervals were merged in pairs to keep it
// within its size.
//
// An interval's figures are written compactly, as HdrHistogram's interval
// logs write theirs: per function its calls, statuses, least, most and
// total time, and the histogram's bins that hold calls, packed (msgpack),
// deflated (zlib) and in base64, in a JSON line a reader parses whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stats/report.h"

namespace kovra_sim::timeline {

// A run's beginning.
struct Run {
    double clock = 0;  // seconds since the epoch, UTC
    uint64_t pid = 0;
    std::string command;  // the program's command line
    double interval_s = 10;
};

struct Line {
    enum Kind { interval, start, halved, end } kind = interval;
    Report report;          // an interval's
    Run run;                // a run's beginning
    double clock = 0;       // when the run ended, or its intervals were halved
    double interval_s = 0;  // the intervals' length from a halving on
};

std::string interval_line(Report const& interval);
std::string run_line(Run const& run);
std::string end_line(double clock);
std::string halved_line(double clock, double interval_s);

// An interval's packed figures as its line carries them: deflated and in base64.
std::string figures_text(std::string const& packed);

// Reads a line of any kind, or a line of the older form: a whole report
// with "interval" in it. False with the reason in `error`, for a line
// nested deeper than kMaxJsonDepth too.
bool parse_line(std::string_view text, Line& out, std::string& error);

// "2026-12-06T03:10:00.123Z" for seconds since the epoch, and back.
std::string iso_utc(double clock);
std::optional<double> parse_iso_utc(std::string_view text);

}  // namespace kovra_sim::timeline
