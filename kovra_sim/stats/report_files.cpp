#include "stats/report_files.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "common/bounded_json.h"

namespace kovra_sim::stats_files {
namespace {

// The intervals of `path` added up; a sum past what a report holds refused,
// naming the file.
void add(Intervals& all, Report const& interval, std::string const& path) {
    try {
        all.add(interval);
    } catch (std::overflow_error const& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

}  // namespace

ReportReader::ReportReader(std::string const& path, std::optional<Bound> bound)
    : path_(path), lines_(std::make_unique<LineReader>(path)), bound_(bound) {
    Bound const whole = bound && bound->bytes < kStatisticsBound.bytes ? *bound : kStatisticsBound;
    // Until the first line tells the kind, a line may be a statistics file whole.
    lines_->set_max_line(whole.bytes);
    std::string text, error;
    timeline::Line line;
    bool lines = false;
    try {
        // A timeline's first line is a whole object; a statistics file spans
        // many lines (or, written by hand, one with no "interval").
        lines = next_text(text);
        if (lines && timeline::parse_line(text, line, error)) {
            if (text.size() > kMaxLineBytes) {
                throw std::runtime_error(path + ": a line longer than " + size_text(kMaxLineBytes));
            }
            timeline_ = true;
            first_ = std::move(line);
            lines_->set_max_line(kMaxLineBytes);
            return;
        }
        bound_ = whole;
        count(0);  // the first line counts against it too
        for (std::string more; next_text(more);) text += "\n" + more;
    } catch (LineTooLong const&) {
        throw too_large(whole);
    }
    if (lines_->offset() == 0) throw std::runtime_error(path + ": empty");
    count(lines_->rest().size());
    if (lines) text += "\n";
    text += lines_->rest();
    nlohmann::json const j = parse_bounded(text, path);
    try {
        line.report = report_from_json(j);
    } catch (std::runtime_error const& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
    first_ = std::move(line);
}

bool ReportReader::next_text(std::string& text) {
    if (!lines_->next(text)) return false;
    count(text.size() + 1);
    return true;
}

void ReportReader::count(size_t bytes) {
    read_ += bytes;
    if (bound_ && read_ > bound_->bytes) throw too_large(*bound_);
}

std::runtime_error ReportReader::too_large(Bound const& bound) const {
    return std::runtime_error(path_ + ": larger than " + size_text(bound.bytes) + ", the most " +
                              bound.what + " may hold");
}

bool ReportReader::next(timeline::Line& line) {
    if (first_) {
        line = std::move(*first_);
        first_.reset();
        return true;
    }
    if (!timeline_) return false;
    std::string text, error;
    // A line that does not parse is the end of a cut file if nothing whole follows it.
    while (next_text(text)) {
        if (!held_.empty()) throw std::runtime_error(path_ + ": " + held_);
        if (timeline::parse_line(text, line, error)) return true;
        held_ = "a line of the timeline is not one (" + error + ")";
    }
    return false;
}

void each_line(std::string const& path, std::function<void(timeline::Line const&)> const& take) {
    ReportReader reader(path);
    timeline::Line line;
    while (reader.next(line)) take(line);
}

Report whole(std::string const& path, std::optional<Bound> bound) {
    ReportReader reader(path, bound);
    Intervals all;
    timeline::Line line;
    while (reader.next(line)) {
        if (line.kind != timeline::Line::interval) continue;
        if (!reader.timeline()) return line.report;
        add(all, line.report, path);
    }
    return all.whole();
}

Report Loaded::whole() const {
    if (!timeline) return reports.at(0);
    Intervals all;
    for (Report const& r : reports) add(all, r, path);
    return all.whole();
}

Loaded load(std::string const& path) {
    ReportReader reader(path);
    Loaded loaded;
    loaded.path = path;
    loaded.timeline = reader.timeline();
    timeline::Line line;
    while (reader.next(line)) {
        if (line.kind == timeline::Line::interval) loaded.reports.push_back(std::move(line.report));
    }
    if (loaded.reports.empty()) throw std::runtime_error(path + ": no interval");
    return loaded;
}

}  // namespace kovra_sim::stats_files
