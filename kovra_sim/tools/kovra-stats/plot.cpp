// kovra-stats --plot: gnuplot draws what a file holds.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "common/functions.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

double round3(double v) { return std::round(v * 1000) / 1000; }

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

}  // namespace

bool plot(std::string const& path, std::string const& png) {
    bool const timeline = ReportReader(path).timeline();
    Report const whole = stats_files::whole(path);
    std::vector<int> const ids = busiest(whole, timeline ? 5 : 8);
    std::filesystem::path const dir =
        std::filesystem::temp_directory_path() / ("kovra-stats-plot." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string script = "set terminal pngcairo size 960,600\nset output '" + png +
                         "'\nset grid\nset key top left box opaque\n";
    std::string plots;
    // The time axis: seconds since the first interval began.
    std::optional<double> first;
    auto const at = [&](Report const& interval) {
        if (!first) first = interval.start_clock.value_or(0);
        return interval.end_clock.value_or(interval.end()) - *first;
    };
    for (size_t i = 0; i < ids.size(); ++i) {
        std::ofstream data(dir / std::to_string(i));
        if (timeline) {
            first.reset();
            each_interval(path, [&](Report const& interval) {
                auto const f = interval.functions.find(ids[i]);
                double const t = at(interval);
                if (f != interval.functions.end())
                    data << t << " " << round3(f->second.quantile(0.99)) << "\n";
            });
        } else {
            FunctionStats const& f = whole.functions.at(ids[i]);
            double done = 0;
            for (auto const& [index, n] : f.bins()) {
                done += double(n);
                data << round3(std::min(f.upper_us(index), f.max_us)) << " "
                     << done / double(f.calls) << "\n";
            }
        }
        plots += std::string(i ? ", " : "") + "'" + (dir / std::to_string(i)).string() + "' with " +
                 (timeline ? "linespoints" : "steps") + " lw 2 title '" +
                 label(function_info(ids[i]).name) + "' noenhanced";
    }
    if (timeline) {
        std::ofstream all(dir / "all");
        std::ofstream marks(dir / "announcements");
        first.reset();
        each_interval(path, [&](Report const& interval) {
            double const t = at(interval);
            FunctionStats const requests = interval.requests();
            if (requests.calls) all << t << " " << round3(requests.quantile(0.99)) << "\n";
            uint64_t n = 0;
            for (auto const& [target, count] : interval.announcements) n += count;
            if (n) marks << t << " " << n << "\n";
        });
        plots = "'" + (dir / "all").string() +
                "' with lines lw 4 lc rgb 'black' title 'all requests', " + plots;
        script +=
            "set logscale y\nset xlabel 'time (s)'\nset ylabel 'p99 latency (us)'\n"
            "set y2label 'announcements'\nset y2tics\nset y2range [0:*]\n"
            "set title 'p99 over time of the busiest functions, announcements marked'\n";
        plots += ", '" + (dir / "announcements").string() +
                 "' axes x1y2 with impulses lw 3 lc rgb 'red' title 'announcements'";
    } else {
        script +=
            "set logscale x\nset xlabel 'latency (us)'\nset ylabel 'fraction of calls done'\n"
            "set title 'Latency of the busiest functions (" +
            whole.source.value_or("run") + ")'\n";
    }
    std::ofstream(dir / "plot.gp") << script << "plot " << plots << "\n";
    int const status = std::system(("gnuplot '" + (dir / "plot.gp").string() + "'").c_str());
    std::filesystem::remove_all(dir);
    return status == 0;
}

}  // namespace kovra_sim::stats_files
