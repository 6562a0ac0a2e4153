// kovra-stats --plot: gnuplot draws what a file holds.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "stats_files.h"

namespace kovra_sim::stats_files {
namespace {

// The names of the busiest requests of a report, most calls first.
std::vector<std::string> busiest(nlohmann::json const& report, size_t most) {
    std::vector<std::pair<uint64_t, std::string>> all;
    for (auto const& [name, f] : report.at("functions").items()) {
        if (name.size() > 5 && name.compare(name.size() - 5, 5, "_send") == 0)
            all.emplace_back(f.at("calls"), name);
    }
    std::sort(all.rbegin(), all.rend());
    std::vector<std::string> names;
    for (size_t i = 0; i < std::min(most, all.size()); ++i) names.push_back(all[i].second);
    return names;
}

std::string label(std::string name) {
    for (std::string cut : {"kovra_api_", "_send"}) {
        if (size_t const at = name.find(cut); at != std::string::npos) name.erase(at, cut.size());
    }
    return name;
}

}  // namespace

bool plot(Loaded const& loaded, std::string const& png) {
    nlohmann::json const whole = loaded.whole();
    std::vector<std::string> const names = busiest(whole, loaded.timeline ? 5 : 8);
    std::filesystem::path const dir =
        std::filesystem::temp_directory_path() / ("kovra-stats-plot." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string script = "set terminal pngcairo size 960,600\nset output '" + png +
                         "'\nset grid\nset key top left box opaque\n";
    std::string plots;
    for (size_t i = 0; i < names.size(); ++i) {
        std::ofstream data(dir / std::to_string(i));
        if (loaded.timeline) {
            for (nlohmann::json const& interval : loaded.reports) {
                auto const& functions = interval.at("functions");
                if (functions.contains(names[i]))
                    data << interval.at("end_s").get<double>() << " "
                         << functions.at(names[i]).at("p99_us").get<double>() << "\n";
            }
        } else {
            auto const& f = whole.at("functions").at(names[i]);
            double done = 0;
            for (auto const& bucket : f.at("buckets")) {
                done += bucket.at(1).get<double>();
                data << bucket.at(0).get<double>() << " " << done / f.at("calls").get<double>()
                     << "\n";
            }
        }
        plots += std::string(i ? ", " : "") + "'" + (dir / std::to_string(i)).string() + "' with " +
                 (loaded.timeline ? "linespoints" : "steps") + " lw 2 title '" + label(names[i]) +
                 "' noenhanced";
    }
    if (loaded.timeline) {
        std::ofstream all(dir / "all");
        for (nlohmann::json const& interval : loaded.reports) {
            if (interval.contains("p99_us"))
                all << interval.at("end_s").get<double>() << " " << interval.at("p99_us") << "\n";
        }
        plots = "'" + (dir / "all").string() +
                "' with lines lw 4 lc rgb 'black' title 'all requests', " + plots;
        std::ofstream marks(dir / "announcements");
        for (nlohmann::json const& interval : loaded.reports) {
            uint64_t n = 0;
            nlohmann::json const targets =
                interval.value("announcements", nlohmann::json::object());
            for (auto const& [target, count] : targets.items()) n += count.get<uint64_t>();
            if (n) marks << interval.at("end_s").get<double>() << " " << n << "\n";
        }
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
            whole.value("source", std::string("run")) + ")'\n";
    }
    std::ofstream(dir / "plot.gp") << script << "plot " << plots << "\n";
    int const status = std::system(("gnuplot '" + (dir / "plot.gp").string() + "'").c_str());
    std::filesystem::remove_all(dir);
    return status == 0;
}

}  // namespace kovra_sim::stats_files
