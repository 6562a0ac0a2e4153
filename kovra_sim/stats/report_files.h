// Reading what the trace layer, the client library and the daemon write:
// a statistics file (one report as a JSON object) or a timeline (runs of
// interval lines, see timeline_format.h), plain or gzip, streamed: a day's
// timeline is read a line at a time and never held whole.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stats/line_reader.h"
#include "stats/report.h"
#include "stats/timeline_format.h"

namespace kovra_sim::stats_files {

// A bound on all the text read of a file, and what it bounds, for the
// message: "PATH: larger than 16 MiB, the most a profile may hold".
struct Bound {
    size_t bytes;
    char const* what;
};

// A statistics file is held whole to be parsed, so it is bounded whole: far
// above what a table of functions writes (a few MiB with every bin of every
// function in use). A timeline is read a line at a time, each line within
// kMaxLineBytes, and is bounded whole only when its reader is given a bound.
constexpr Bound kStatisticsBound{size_t(64) << 20, "a statistics file"};

// A file's lines in order: a timeline's, or a statistics file's report as
// one interval line. Throws std::runtime_error naming the file for one that
// is neither, holds a malformed line or is past a bound (`bound`, if given,
// for either kind); a last line cut short ends it. Only a file of no bytes
// is "empty".
class ReportReader {
public:
    explicit ReportReader(std::string const& path, std::optional<Bound> bound = std::nullopt);

    bool timeline() const { return timeline_; }
    // The next line; false at the end of what the file holds now.
    bool next(timeline::Line& line);

private:
    // The next line, counted against the bound.
    bool next_text(std::string& text);
    void count(size_t bytes);
    std::runtime_error too_large(Bound const& bound) const;

    std::string path_;
    std::unique_ptr<LineReader> lines_;
    std::optional<Bound> bound_;
    size_t read_ = 0;  // bytes of text, newlines included
    bool timeline_ = false;
    std::optional<timeline::Line> first_;  // read to tell the kind, not yet handed out
    std::string held_;  // a line that did not parse: the file's last, or an error
};

// Each line of the file, handed to `take` as it is read.
void each_line(std::string const& path, std::function<void(timeline::Line const&)> const& take);

// The whole run: the statistics file, or the timeline's intervals merged.
// Throws std::runtime_error naming the file where ReportReader does, or
// where the intervals add up past what a report holds (see merge()).
Report whole(std::string const& path, std::optional<Bound> bound = std::nullopt);

// Every report of a file, for files known to be small.
struct Loaded {
    std::string path;
    bool timeline = false;
    std::vector<Report> reports;
    // As stats_files::whole() gives it, and refused as it is.
    Report whole() const;
};
Loaded load(std::string const& path);

}  // namespace kovra_sim::stats_files
