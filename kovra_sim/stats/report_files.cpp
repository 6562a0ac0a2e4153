#include "stats/report_files.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kovra_sim::stats_files {

Report Loaded::whole() const { return timeline ? merge(reports) : reports.at(0); }

Loaded load(std::string const& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot read it");
    std::stringstream text;
    text << in.rdbuf();
    Loaded loaded;
    auto read = [&](nlohmann::json const& j) {
        try {
            return report_from_json(j);
        } catch (std::runtime_error const& e) {
            throw std::runtime_error(path + ": " + e.what());
        }
    };
    // A statistics file is one object; a timeline of one interval is too,
    // but its object says which interval it is.
    nlohmann::json const whole = nlohmann::json::parse(text.str(), nullptr, false);
    if (!whole.is_discarded()) {
        loaded.timeline = whole.is_object() && whole.contains("interval");
        loaded.reports.push_back(read(whole));
        return loaded;
    }
    loaded.timeline = true;
    text.clear();
    text.seekg(0);
    for (std::string line; std::getline(text, line);) {
        if (line.empty()) continue;
        nlohmann::json const interval = nlohmann::json::parse(line, nullptr, false);
        // The last line of a killed run may be cut short: what is whole counts.
        if (interval.is_discarded()) {
            if (text.peek() == EOF) break;
            throw std::runtime_error(path + ": a line of the timeline is not JSON");
        }
        loaded.reports.push_back(read(interval));
    }
    if (loaded.reports.empty()) throw std::runtime_error(path + ": empty");
    return loaded;
}

Loaded merge(std::vector<Loaded> const& files) {
    Loaded merged;
    merged.timeline = files.at(0).timeline;
    size_t intervals = 0;
    for (Loaded const& f : files) {
        if (f.timeline != merged.timeline)
            throw std::runtime_error("statistics files and timelines cannot be merged together");
        intervals = std::max(intervals, f.reports.size());
    }
    for (size_t i = 0; i < intervals; ++i) {
        std::vector<Report> same;
        for (Loaded const& f : files) {
            if (i < f.reports.size()) same.push_back(f.reports[i]);
        }
        Report m = kovra_sim::merge(same);
        if (merged.timeline) {
            m.wall_seconds.reset();
            m.requests_per_second.reset();
            m.interval = i;
            m.start_s = same.front().start_s;
            m.end_s = same.front().end_s;
        }
        merged.reports.push_back(std::move(m));
    }
    return merged;
}

std::string text_of(Loaded const& loaded) {
    if (!loaded.timeline) return to_json(loaded.reports.at(0)).dump(1) + "\n";
    std::string text;
    for (Report const& interval : loaded.reports) text += to_json(interval).dump() + "\n";
    return text;
}

}  // namespace kovra_sim::stats_files
