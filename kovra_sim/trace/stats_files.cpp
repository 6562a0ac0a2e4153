#include "stats_files.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "stats.h"

namespace kovra_sim::stats_files {
namespace {

uint64_t failed_calls(nlohmann::json const& report) {
    uint64_t failed = 0;
    for (auto const& [name, f] : report.at("functions").items()) {
        for (auto const& [status, n] : f.at("statuses").items())
            if (status != "0") failed += n.get<uint64_t>();
    }
    return failed;
}

double slowest(nlohmann::json const& report) {
    double max = 0;
    for (auto const& [name, f] : report.at("functions").items())
        max = std::max(max, f.at("max_us").get<double>());
    return max;
}

}  // namespace

nlohmann::json Loaded::whole() const { return timeline ? Stats::merge(reports) : reports.at(0); }

Loaded load(std::string const& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot read it");
    std::stringstream text;
    text << in.rdbuf();
    Loaded loaded;
    auto check = [&](nlohmann::json const& j) {
        if (!j.is_object() || !j.contains("functions"))
            throw std::runtime_error(path + ": neither statistics nor a timeline");
        return j;
    };
    // A statistics file is one object; a timeline of one interval is too,
    // but its object says which interval it is.
    nlohmann::json const whole = nlohmann::json::parse(text.str(), nullptr, false);
    if (!whole.is_discarded()) {
        loaded.timeline = whole.is_object() && whole.contains("interval");
        loaded.reports.push_back(check(whole));
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
        loaded.reports.push_back(check(interval));
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
        std::vector<nlohmann::json> same;
        for (Loaded const& f : files) {
            if (i < f.reports.size()) same.push_back(f.reports[i]);
        }
        nlohmann::json m = Stats::merge(same);
        if (merged.timeline) {
            m.erase("wall_seconds");
            m.erase("requests_per_second");
            m["interval"] = i;
            m["start_s"] = same.front().at("start_s");
            m["end_s"] = same.front().at("end_s");
        }
        merged.reports.push_back(std::move(m));
    }
    return merged;
}

std::string text_of(Loaded const& loaded) {
    if (!loaded.timeline) return loaded.reports.at(0).dump(1) + "\n";
    std::string text;
    for (nlohmann::json const& interval : loaded.reports) text += interval.dump() + "\n";
    return text;
}

std::string timeline_table(std::vector<nlohmann::json> const& intervals) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%8s %10s %10s %8s %10s %10s %10s  %s\n", "interval", "end s",
                  "requests", "failed", "p50 us", "p99 us", "max us", "announcements");
    out += line;
    for (nlohmann::json const& i : intervals) {
        std::string announced;
        nlohmann::json const targets = i.value("announcements", nlohmann::json::object());
        for (auto const& [target, n] : targets.items())
            announced += (announced.empty() ? "" : " ") + target + "*" + n.dump();
        std::snprintf(line, sizeof line, "%8llu %10.3f %10llu %8llu %10.1f %10.1f %10.1f  %s\n",
                      static_cast<unsigned long long>(i.value("interval", 0)),
                      i.value("end_s", 0.0),
                      static_cast<unsigned long long>(i.at("requests").get<uint64_t>()),
                      static_cast<unsigned long long>(failed_calls(i)), i.value("p50_us", 0.0),
                      i.value("p99_us", 0.0), slowest(i), announced.c_str());
        out += line;
    }
    return out;
}

std::string compare_table(nlohmann::json const& a, nlohmann::json const& b) {
    std::map<std::string, std::pair<nlohmann::json, nlohmann::json>> rows;
    for (auto const& [name, f] : a.at("functions").items()) rows[name].first = f;
    for (auto const& [name, f] : b.at("functions").items()) rows[name].second = f;
    size_t width = 8;
    for (auto const& [name, row] : rows) width = std::max(width, name.size());
    auto change = [](nlohmann::json const& x, nlohmann::json const& y, char const* key) {
        char cell[64];
        if (x.is_null() || y.is_null()) return std::string("-");
        double const from = x.at(key), to = y.at(key);
        std::snprintf(cell, sizeof cell, "%.1f>%.1f %+.0f%%", from, to,
                      from > 0 ? (to - from) / from * 100 : 0.0);
        return std::string(cell);
    };
    auto calls = [](nlohmann::json const& f) {
        return f.is_null() ? std::string("-") : std::to_string(f.at("calls").get<uint64_t>());
    };
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-*s %10s %10s %24s %24s\n", int(width), "function",
                  "calls A", "calls B", "p50 us A>B", "p99 us A>B");
    out += line;
    for (auto const& [name, row] : rows) {
        std::snprintf(line, sizeof line, "%-*s %10s %10s %24s %24s\n", int(width), name.c_str(),
                      calls(row.first).c_str(), calls(row.second).c_str(),
                      change(row.first, row.second, "p50_us").c_str(),
                      change(row.first, row.second, "p99_us").c_str());
        out += line;
    }
    std::snprintf(line, sizeof line, "requests/s: %.0f > %.0f\n",
                  a.value("requests_per_second", 0.0), b.value("requests_per_second", 0.0));
    return out + line;
}

}  // namespace kovra_sim::stats_files
