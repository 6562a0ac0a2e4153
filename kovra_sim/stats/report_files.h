// Reading what the trace layer, the client library and the daemon write:
// a statistics file (one report as a JSON object) or a timeline (runs of
// interval lines, see timeline_format.h), plain or gzip, streamed: a day's
// timeline is read a line at a time and never held whole.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stats/line_reader.h"
#include "stats/report.h"
#include "stats/timeline_format.h"

namespace kovra_sim::stats_files {

// A file's lines in order: a timeline's, or a statistics file's report as
// one interval line. Throws std::runtime_error naming the file for one that
// is neither or holds a malformed line; a last line cut short ends it.
class ReportReader {
public:
    explicit ReportReader(std::string const& path);

    bool timeline() const { return timeline_; }
    // The next line; false at the end of what the file holds now.
    bool next(timeline::Line& line);

private:
    std::string path_;
    std::unique_ptr<LineReader> lines_;
    bool timeline_ = false;
    std::optional<timeline::Line> first_;  // read to tell the kind, not yet handed out
    std::string held_;  // a line that did not parse: the file's last, or an error
};

// Each line of the file, handed to `take` as it is read.
void each_line(std::string const& path, std::function<void(timeline::Line const&)> const& take);

// The whole run: the statistics file, or the timeline's intervals merged.
Report whole(std::string const& path);

// Every report of a file, for files known to be small.
struct Loaded {
    bool timeline = false;
    std::vector<Report> reports;
    Report whole() const;
};
Loaded load(std::string const& path);

}  // namespace kovra_sim::stats_files
