// kovra-stats --merge: runs side by side (a fleet's cameras) as one.
#include <zlib.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

#include "common/files.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

// Writes `text` to `out`, gzip if its name says so, whole or not at all.
void write_out(std::string const& out, std::string const& text) {
    std::string error;
    bool const gzip = out.size() > 3 && out.compare(out.size() - 3, 3, ".gz") == 0;
    if (!gzip) {
        if (!replace_file(out, text, error)) throw std::runtime_error(out + ": " + error);
        return;
    }
    std::string const fresh = out + ".new";
    gzFile const z = gzopen(fresh.c_str(), "wb");
    bool const ok = z && gzwrite(z, text.data(), unsigned(text.size())) == int(text.size());
    if (!z || gzclose(z) != Z_OK || !ok || std::rename(fresh.c_str(), out.c_str()) != 0) {
        std::remove(fresh.c_str());
        throw std::runtime_error(out + ": cannot write it");
    }
}

// `all` with `from`, read of `path`, merged in; a sum past what a report
// holds refused, naming the file.
void add(Report& all, Report const& from, std::string const& path) {
    try {
        all = merge({all, from});
    } catch (std::overflow_error const& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

}  // namespace

void merge_files(std::vector<std::string> const& paths, std::string const& out) {
    std::vector<std::unique_ptr<ReportReader>> readers;
    for (std::string const& path : paths) readers.push_back(std::make_unique<ReportReader>(path));
    bool const timeline = readers.at(0)->timeline();
    for (auto const& r : readers) {
        if (r->timeline() != timeline)
            throw std::runtime_error("statistics files and timelines cannot be merged together");
    }
    timeline::Line line;
    if (!timeline) {
        Report all = merge({});
        for (size_t f = 0; f < readers.size(); ++f) {
            while (readers[f]->next(line)) add(all, line.report, paths[f]);
        }
        write_out(out, to_json(all).dump(1) + "\n");
        return;
    }
    // Read side by side, a line of each file at a time: the intervals that
    // began within the same interval's time on the clock (by their number
    // in a file of old, which has no clock) are merged.
    double length = 0;
    auto const slot = [&](Report const& i) {
        if (length == 0) length = std::max(i.end_s.value_or(1) - i.start_s.value_or(0), 1e-3);
        return i.start_clock ? std::llround(*i.start_clock / length)
                             : int64_t(i.interval.value_or(0));
    };
    std::vector<std::optional<Report>> current(readers.size());
    auto const advance = [&](size_t f) {
        current[f].reset();
        while (readers[f]->next(line)) {
            if (line.kind == timeline::Line::start && length == 0) length = line.run.interval_s;
            if (line.kind == timeline::Line::interval) {
                current[f] = std::move(line.report);
                return;
            }
        }
    };
    for (size_t f = 0; f < readers.size(); ++f) advance(f);
    std::string text;
    for (uint64_t number = 0;; ++number) {
        std::optional<int64_t> first;
        for (auto const& c : current) {
            if (c && (!first || slot(*c) < *first)) first = slot(*c);
        }
        if (!first) break;
        Report merged = merge({});
        std::optional<Report> front;
        for (size_t f = 0; f < readers.size(); ++f) {
            if (!current[f] || slot(*current[f]) != *first) continue;
            add(merged, *current[f], paths[f]);
            if (!front) front = std::move(current[f]);
            advance(f);
        }
        merged.wall_seconds.reset();
        merged.requests_per_second.reset();
        merged.interval = number;
        merged.start_s = front->start_s;
        merged.end_s = front->end_s;
        merged.start_clock = front->start_clock;
        merged.end_clock = front->end_clock;
        text += timeline::interval_line(merged) + "\n";
    }
    write_out(out, text);
}

}  // namespace kovra_sim::stats_files
