// kovra-sim-info: what the stand-in camera client library provides, its
// default configuration, whether a KOVRA_SIM value parses, and what a
// statistics file (stats= of KOVRA_SIM, kovra-camd --stats) says: as a table,
// against another run, or as a plot of each function's latencies.
#include <algorithm>
#include <boost/program_options.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "config.h"
#include "functions.h"
#include "stats.h"

using namespace kovra_sim;

namespace {

// The preprocessor spells a row's parameters "( a0 , uint8_t a1)"; tidy it.
std::string parameters(char const* raw) {
    std::string out;
    for (char const* c = raw; *c; ++c) {
        bool const stray =
            (c[0] == ' ' && (c[1] == ',' || c[1] == ')')) || (c[0] == ' ' && c[-1] == '(');
        if (!stray) out += *c;
    }
    return out;
}

std::string json_string(std::string const& s) { return nlohmann::json(s).dump(); }

void print_functions(bool json) {
    std::cout << (json ? "[\n" : "");
    for (int id = 0; id < kFunctionCount; ++id) {
        FunctionInfo const& f = function(id);
        if (json) {
            std::cout << "  {\"name\": " << json_string(f.name)
                      << ", \"parameters\": " << json_string(parameters(f.params)) << "}"
                      << (id + 1 < kFunctionCount ? ",\n" : "\n");
        } else {
            std::cout << "int32_t " << f.name << parameters(f.params) << "\n";
        }
    }
    std::cout << (json ? "]\n" : "");
}

void print_defaults(bool json) {
    Settings const settings;
    std::string const text = settings.snapshot();
    if (!json) {
        std::cout << text;
        return;
    }
    // {"key": ["value", ...], ...}: each slot as the text set= takes.
    std::cout << "{\n";
    size_t start = 0;
    while (start < text.size()) {
        size_t const end = text.find('\n', start);
        std::string const line = text.substr(start, end - start);
        size_t const eq = line.find('=');
        std::cout << (start ? ",\n" : "") << "  " << json_string(line.substr(0, eq)) << ": [";
        bool first = true;
        for (std::string_view slot : split_unescaped(std::string_view(line).substr(eq + 1), ',')) {
            std::cout << (first ? "" : ", ") << json_string(std::string(slot));
            first = false;
        }
        std::cout << "]";
        start = end + 1;
    }
    std::cout << "\n}\n";
}

nlohmann::json load(std::string const& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(path + ": cannot read it");
    try {
        nlohmann::json j = nlohmann::json::parse(in);
        j.at("functions");
        return j;
    } catch (nlohmann::json::exception const& e) {
        throw std::runtime_error(path + ": not a statistics file (" + e.what() + ")");
    }
}

// Per function: calls, p50 and p99 of run A, of run B, and B's change.
void compare(nlohmann::json const& a, nlohmann::json const& b) {
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
    std::printf("%-*s %10s %10s %24s %24s\n", int(width), "function", "calls A", "calls B",
                "p50 us A>B", "p99 us A>B");
    for (auto const& [name, row] : rows) {
        auto calls = [](nlohmann::json const& f) {
            return f.is_null() ? std::string("-") : std::to_string(f.at("calls").get<uint64_t>());
        };
        std::printf("%-*s %10s %10s %24s %24s\n", int(width), name.c_str(),
                    calls(row.first).c_str(), calls(row.second).c_str(),
                    change(row.first, row.second, "p50_us").c_str(),
                    change(row.first, row.second, "p99_us").c_str());
    }
    std::printf("requests/s: %.0f > %.0f\n", a.at("requests_per_second").get<double>(),
                b.at("requests_per_second").get<double>());
}

// Each of the busiest functions' latencies as the fraction of calls done
// within a time, drawn by gnuplot.
int plot(nlohmann::json const& stats, std::string const& png) {
    std::vector<std::pair<uint64_t, std::string>> busiest;
    for (auto const& [name, f] : stats.at("functions").items())
        busiest.emplace_back(f.at("calls"), name);
    std::sort(busiest.rbegin(), busiest.rend());
    busiest.resize(std::min<size_t>(busiest.size(), 8));
    char dir[] = "/tmp/kovra-sim-plot-XXXXXX";
    if (!mkdtemp(dir)) throw std::runtime_error("cannot make a temporary folder");
    std::string script = "set terminal pngcairo size 960,600\nset output '" + png +
                         "'\nset logscale x\nset grid\nset key top left box opaque\n"
                         "set xlabel 'latency (us)'\nset ylabel 'fraction of calls done'\n"
                         "set title 'Latency of the busiest functions (" +
                         stats.value("source", std::string("run")) + ")'\nplot ";
    for (size_t i = 0; i < busiest.size(); ++i) {
        auto const& f = stats.at("functions").at(busiest[i].second);
        std::ofstream data(std::string(dir) + "/" + std::to_string(i));
        double done = 0;
        for (auto const& bucket : f.at("buckets")) {
            done += bucket.at(1).get<double>();
            data << bucket.at(0).get<double>() << " " << done / f.at("calls").get<double>() << "\n";
        }
        std::string label = busiest[i].second;
        for (std::string cut : {"kovra_api_", "_send"}) {
            if (size_t const at = label.find(cut); at != std::string::npos)
                label.erase(at, cut.size());
        }
        script += std::string(i ? ", " : "") + "'" + dir + "/" + std::to_string(i) +
                  "' with steps lw 2 title '" + label + "' noenhanced";
    }
    std::ofstream(std::string(dir) + "/plot.gp") << script << "\n";
    int const status = std::system(("gnuplot " + std::string(dir) + "/plot.gp").c_str());
    std::filesystem::remove_all(dir);
    if (status != 0) {
        std::cerr
            << "kovra-sim-info: gnuplot failed (is it installed? Debian package gnuplot-nox)\n";
        return 1;
    }
    return 0;
}

int check(std::string const& directives) {
    Settings const settings;
    Config config;
    std::string error;
    if (!parse_config(directives, settings, config, error)) {
        std::cerr << "kovra-sim-info: " << error << "\n";
        return 1;
    }
    std::cout << "ok\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    namespace po = boost::program_options;
    po::options_description options(
        "Usage: kovra-sim-info OPTION\n"
        "Describes the stand-in camera client library (libkovra-core, libkovra-interfaces).\n\n"
        "Options");
    options.add_options()("help,h", "show this help")(
        "functions", "list every client-library function with its C parameters")(
        "defaults", "print the default settings, one key=values line each")(
        "check", po::value<std::string>()->value_name("DIRECTIVES"),
        "check a KOVRA_SIM value: exit 0 if it parses, else 1 with the reason on stderr")(
        "json", "print --functions or --defaults as JSON")(
        "stats", po::value<std::string>()->value_name("FILE"),
        "print a statistics file as a table")(
        "compare", po::value<std::vector<std::string>>()->multitoken()->value_name("A B"),
        "compare two statistics files, function by function")(
        "plot", po::value<std::string>()->value_name("PNG"),
        "with --stats: draw the latencies of the busiest functions into PNG (needs gnuplot)");
    po::variables_map vm;
    try {
        po::store(po::parse_command_line(argc, argv, options), vm);
        po::notify(vm);
    } catch (po::error const& e) {
        std::cerr << "kovra-sim-info: " << e.what() << "\n";
        return 2;
    }
    if (vm.count("help")) {
        std::cout << options << "\n";
        return 0;
    }
    int const chosen = int(vm.count("functions") + vm.count("defaults") + vm.count("check") +
                           vm.count("stats") + vm.count("compare"));
    if (chosen != 1 || (vm.count("plot") && !vm.count("stats"))) {
        std::cerr
            << "kovra-sim-info: give exactly one of --functions, --defaults, --check, --stats, "
               "--compare (--plot goes with --stats)\n"
            << options << "\n";
        return 2;
    }
    try {
        if (vm.count("stats")) {
            nlohmann::json const stats = load(vm["stats"].as<std::string>());
            if (vm.count("plot")) return plot(stats, vm["plot"].as<std::string>());
            std::cout << stats_table(stats);
            return 0;
        }
        if (vm.count("compare")) {
            auto const files = vm["compare"].as<std::vector<std::string>>();
            if (files.size() != 2) throw std::runtime_error("--compare takes two files");
            compare(load(files[0]), load(files[1]));
            return 0;
        }
    } catch (std::exception const& e) {
        std::cerr << "kovra-sim-info: " << e.what() << "\n";
        return 1;
    }
    bool const json = vm.count("json") != 0;
    if (vm.count("check")) return check(vm["check"].as<std::string>());
    if (vm.count("functions")) {
        print_functions(json);
    } else {
        print_defaults(json);
    }
    return 0;
}
