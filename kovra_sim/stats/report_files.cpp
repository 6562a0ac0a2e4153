#include "stats/report_files.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace kovra_sim::stats_files {

ReportReader::ReportReader(std::string const& path)
    : path_(path), lines_(std::make_unique<LineReader>(path)) {
    // A timeline's first line is a whole object; a statistics file spans
    // many lines (or, written by hand, one with no "interval").
    std::string text, error;
    timeline::Line line;
    if (lines_->next(text) && timeline::parse_line(text, line, error)) {
        timeline_ = true;
        first_ = std::move(line);
        return;
    }
    for (std::string more; lines_->next(more);) text += "\n" + more;
    text += lines_->rest();
    if (text.empty()) throw std::runtime_error(path + ": empty");
    nlohmann::json const j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded())
        throw std::runtime_error(path + ": neither statistics nor a timeline, or cut short");
    try {
        line.report = report_from_json(j);
    } catch (std::runtime_error const& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
    first_ = std::move(line);
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
    while (lines_->next(text)) {
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

Report whole(std::string const& path) {
    ReportReader reader(path);
    Intervals all;
    timeline::Line line;
    while (reader.next(line)) {
        if (line.kind != timeline::Line::interval) continue;
        if (!reader.timeline()) return line.report;
        all.add(line.report);
    }
    return all.whole();
}

Report Loaded::whole() const {
    if (!timeline) return reports.at(0);
    Intervals all;
    for (Report const& r : reports) all.add(r);
    return all.whole();
}

Loaded load(std::string const& path) {
    ReportReader reader(path);
    Loaded loaded;
    loaded.timeline = reader.timeline();
    timeline::Line line;
    while (reader.next(line)) {
        if (line.kind == timeline::Line::interval) loaded.reports.push_back(std::move(line.report));
    }
    if (loaded.reports.empty()) throw std::runtime_error(path + ": no interval");
    return loaded;
}

}  // namespace kovra_sim::stats_files
