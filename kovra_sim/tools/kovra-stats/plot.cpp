// kovra-stats --plot: gnuplot draws what a file holds.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include "common/functions.h"
#include "stats/timeline_format.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

// A timeline of more intervals than this is drawn as bands, a bucket of
// intervals to about a pixel column each: a line an interval would be a
// solid smear, and the bands keep every spike visible.
constexpr uint64_t kColumns = 1000;

// The busiest requests of a report, most calls first (by name among equals).
std::vector<int> busiest(Report const& report, size_t most) {
    std::vector<std::pair<uint64_t, std::string>> all;
    for (auto const& [id, f] : report.functions) {
        if (is_request(id)) all.emplace_back(f.calls, function_info(id).name);
    }
    std::sort(all.rbegin(), all.rend());
    std::vector<int> ids;
    for (size_t i = 0; i < std::min(most, all.size()); ++i)
        ids.push_back(function_id(all[i].second));
    return ids;
}

std::string label(std::string name) {
    for (std::string cut : {"kovra_api_", "_send"}) {
        if (size_t const at = name.find(cut); at != std::string::npos) name.erase(at, cut.size());
    }
    return name;
}

std::string quoted(std::filesystem::path const& p) { return "'" + p.string() + "'"; }

// A statistics file as a percentile spectrum: latency against 1/(1-q) on
// log axes, so that p99.99 gets as much room as p50.
std::string spectrum(Report const& whole, std::filesystem::path const& dir) {
    std::string script =
        "set grid\nset key outside right top\nset logscale xy\nset xrange [1:*]\n"
        // A tic's label is a format: '%%' is a percent sign.
        "set xtics ('0%%' 1, '50%%' 2, '90%%' 10, '99%%' 100, '99.9%%' 1000, '99.99%%' 10000, "
        "'99.999%%' 100000, '99.9999%%' 1000000)\n"
        "set xlabel 'percentile'\nset ylabel 'latency (us)'\n"
        "set title 'Latency by percentile of the busiest functions (" +
        whole.source.value_or("run") + ")' noenhanced\n";
    std::string plots;
    std::vector<int> const ids = busiest(whole, 8);
    for (size_t i = 0; i < ids.size(); ++i) {
        FunctionStats const& f = whole.functions.at(ids[i]);
        std::ofstream data(dir / std::to_string(i));
        // 20 points a decade of 1-q, up to the rank of the last call, which
        // is drawn as the slowest call seen.
        double const last = 1.0 / double(f.calls);
        for (int k = 0; std::pow(10.0, -k / 20.0) > last; ++k) {
            double const q = 1 - std::pow(10.0, -k / 20.0);
            double const us = f.quantile(q);
            if (us > 0) data << 1 / (1 - q) << " " << round3(us) << "\n";
        }
        if (f.max_us > 0) data << double(f.calls) << " " << round3(f.max_us) << "\n";
        plots += std::string(i ? ", " : "") + quoted(dir / std::to_string(i)) +
                 " with lines lw 2 title '" + label(function_info(ids[i]).name) + "' noenhanced";
    }
    return script + "plot " + plots + "\n";
}

// The least and most of a series over a bucket of intervals, at the clock
// of the bucket's last one.
struct Band {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    void add(double v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    void write(std::ofstream& out, double clock) {
        if (lo <= hi) out << std::fixed << clock << " " << round3(lo) << " " << round3(hi) << "\n";
        *this = Band{};
    }
};

// A timeline as three panels over the clock: latency (with restarts
// marked), throughput, failures.
std::string panels(std::string const& path, std::filesystem::path const& dir) {
    uint64_t count = 0, most_announced = 0;
    std::optional<double> first_clock, last_clock;
    each_interval(path, [&](Report const& interval) {
        ++count;
        if (!first_clock) first_clock = interval.start_clock;
        last_clock = interval.end_clock;
        uint64_t n = 0;
        for (auto const& [target, c] : interval.announcements) n += c;
        most_announced = std::max(most_announced, n);
    });
    uint64_t const bucket = std::max<uint64_t>(1, (count + kColumns - 1) / kColumns);

    char const* names[] = {"p50", "p99", "rps", "failed", "announcements"};
    std::ofstream out[5];
    for (size_t s = 0; s < 5; ++s) out[s].open(dir / names[s]);
    Band bands[4];
    uint64_t seen = 0;
    each_interval(path, [&](Report const& interval) {
        // Old timelines wrote no clock: their seconds since the start are
        // drawn as seconds since the epoch.
        double const clock = interval.end_clock.value_or(interval.end());
        FunctionStats const requests = interval.requests();
        if (requests.calls) {
            bands[0].add(requests.quantile(0.5));
            bands[1].add(requests.quantile(0.99));
        }
        double const length = interval.end_s.value_or(0) - interval.start_s.value_or(0);
        if (length > 0) bands[2].add(double(requests.calls) / length);
        bands[3].add(double(interval.failures()));
        uint64_t n = 0;
        for (auto const& [target, c] : interval.announcements) n += c;
        if (n) out[4] << std::fixed << clock << " " << n << "\n";
        if (++seen % bucket == 0 || seen == count)
            for (size_t s = 0; s < 4; ++s) bands[s].write(out[s], clock);
    });
    for (auto& o : out) o.close();

    // A line an interval, or a band between each bucket's least and most
    // with a line along its most, so that a band of equal ends still shows.
    auto const series = [&](char const* name, std::string const& colour, std::string const& title) {
        std::string const line = " with lines lw 2 lc rgb '" + colour + "'";
        if (bucket == 1) return quoted(dir / name) + " using 1:2" + line + " title '" + title + "'";
        return quoted(dir / name) +
               " using 1:2:3 with filledcurves fs transparent solid 0.4 noborder lc rgb '" +
               colour + "' title '" + title + "', '' using 1:3" + line + " notitle";
    };
    // Seconds only where the run is short enough for them to be read.
    bool const long_run = first_clock && last_clock && *last_clock - *first_clock > 3600;
    std::string const per =
        bucket == 1 ? "" : " (least to most of each " + std::to_string(bucket) + " intervals)";
    std::string script =
        "set grid\nset key outside right top\n"
        "set xdata time\nset timefmt '%s'\nset format x '" +
        std::string(long_run ? "%H:%M" : "%H:%M:%S") +
        "'\n"
        "set lmargin at screen 0.08\nset rmargin at screen 0.78\n"
        "set multiplot layout 3,1 title '" +
        std::to_string(count) + " intervals from " +
        (first_clock ? timeline::iso_utc(*first_clock) : std::string("the start")) + per +
        "' noenhanced\n";
    script +=
        "set logscale y\nset ylabel 'latency (us)'\nset y2label 'restarts'\nset y2tics\n"
        "set y2range [0:" +
        std::to_string(most_announced + 1) +
        "]\nset ytics nomirror\nset title 'requests: p50 and p99'\n"
        "plot " +
        series("p99", "red", "p99") + ", " + series("p50", "blue", "p50") + ", " +
        quoted(dir / "announcements") +
        " using 1:2 axes x1y2 with points pt 9 ps 1.5 lc rgb 'black' title 'announcements'\n";
    script +=
        "unset logscale y\nunset y2label\nunset y2tics\nset ytics mirror\nset yrange [0:*]\n"
        "set ylabel 'requests/s'\nset title 'throughput'\nplot " +
        series("rps", "dark-green", "requests/s") + "\n";
    script += "set ylabel 'failed calls'\nset xlabel 'time (UTC)'\nset title 'failures'\nplot " +
              series("failed", "dark-orange", "failed calls") + "\nunset multiplot\n";
    return script;
}

}  // namespace

bool plot(std::string const& path, std::string const& png) {
    bool const timeline = ReportReader(path).timeline();
    std::filesystem::path const dir =
        std::filesystem::temp_directory_path() / ("kovra-stats-plot." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string const script =
        timeline ? panels(path, dir) : spectrum(stats_files::whole(path), dir);
    std::ofstream(dir / "plot.gp") << "set terminal pngcairo size 1200," << (timeline ? 900 : 600)
                                   << "\nset output '" << png << "'\n"
                                   << script;
    int const status = std::system(("gnuplot " + quoted(dir / "plot.gp")).c_str());
    std::filesystem::remove_all(dir);
    return status == 0;
}

}  // namespace kovra_sim::stats_files
