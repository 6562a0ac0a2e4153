// kovra-stats: reads the statistics and timelines that the trace layer
// (KOVRA_TRACE), the stand-in (KOVRA_SIM) and kovra-camd write: as tables,
// against another run, as plots, merged, or checked against thresholds.
#include <boost/program_options.hpp>
#include <iostream>

#include "tools/kovra-stats/stats_tool.h"

using namespace kovra_sim;

int main(int argc, char** argv) {
    namespace po = boost::program_options;
    po::options_description options(
        "Usage: kovra-stats --stats FILE | --timeline FILE [--plot PNG] [--check EXPR]\n"
        "       kovra-stats --compare A B [--check EXPR]\n"
        "       kovra-stats --merge FILE... -o OUT\n"
        "       kovra-stats --follow TIMELINE\n"
        "Reads the statistics (JSON) and timelines (JSON Lines, plain or .gz) of KOVRA_TRACE,\n"
        "KOVRA_SIM and kovra-camd. Options",
        100, 50);
    auto add = options.add_options();
    add("help,h", "show this help");
    add("version", "print the version and exit");
    add("stats", po::value<std::string>()->value_name("FILE"), "a statistics file, as a table");
    add("timeline", po::value<std::string>()->value_name("FILE"), "a timeline, a line an interval");
    add("plot", po::value<std::string>()->value_name("PNG"),
        "draw it instead: latencies, or p99 over time (needs gnuplot)");
    add("check", po::value<std::string>()->value_name("EXPR"),
        "exit 1 if a threshold is crossed, or there is nothing to check: 'p99(all) > 5ms, "
        "p99(kovra_api_led_*) > 2ms, failures > 0.1%, rps < 100, requests < 1000, skip=30s, "
        "degradation > 50%'; with --compare, against A: 'p99 +20%, failures +0.1%'");
    add("compare", po::value<std::vector<std::string>>()->multitoken()->value_name("A B"),
        "how p50, p99 and calls moved from statistics A to B");
    add("merge", po::value<std::vector<std::string>>()->multitoken()->value_name("FILE..."),
        "statistics, or timelines, of runs side by side as one");
    add("output,o", po::value<std::string>()->value_name("OUT"), "where --merge writes");
    add("follow", po::value<std::string>()->value_name("TIMELINE"),
        "a line an interval as the timeline grows, until its run ends");
    po::variables_map vm;
    try {
        po::store(po::parse_command_line(argc, argv, options), vm);
        po::notify(vm);
    } catch (po::error const& e) {
        std::cerr << "kovra-stats: " << e.what() << "\nTry 'kovra-stats --help'.\n";
        return 2;
    }
    if (vm.count("help")) {
        std::cout << options << "\n";
        return 0;
    }
    if (vm.count("version")) {
        std::cout << "kovra-stats " IPC_SOAK_VERSION "\n";
        return 0;
    }
    size_t const read = vm.count("stats") + vm.count("timeline");
    bool const merging = vm.count("merge") != 0;
    if (read + vm.count("compare") + merging + vm.count("follow") != 1 ||
        merging != (vm.count("output") != 0) || (vm.count("plot") && read == 0) ||
        (vm.count("check") && read + vm.count("compare") == 0)) {
        std::cerr << "kovra-stats: give one of --stats, --timeline (each with --plot or --check, "
                     "if wanted), --compare (with --check, if wanted), --merge with -o, "
                     "--follow\nTry 'kovra-stats --help'.\n";
        return 2;
    }
    try {
        if (vm.count("compare")) {
            auto const files = vm["compare"].as<std::vector<std::string>>();
            if (files.size() != 2) throw std::runtime_error("--compare takes two files");
            if (vm.count("check"))
                return stats_files::check_command(vm["check"].as<std::string>(), files[1], files[0],
                                                  std::cout, std::cerr);
            std::cout << stats_files::compare_table(stats_files::whole(files[0]),
                                                    stats_files::whole(files[1]));
            return 0;
        }
        if (merging) {
            stats_files::merge_files(vm["merge"].as<std::vector<std::string>>(),
                                     vm["output"].as<std::string>());
            return 0;
        }
        if (vm.count("follow")) {
            stats_files::follow(vm["follow"].as<std::string>(), std::cout);
            return 0;
        }
        std::string const path =
            vm.count("stats") ? vm["stats"].as<std::string>() : vm["timeline"].as<std::string>();
        bool const checking = vm.count("check") != 0;
        bool timeline = vm.count("timeline") != 0;
        try {
            timeline = stats_files::ReportReader(path).timeline();
        } catch (std::runtime_error const&) {
            // A check fails on a file it cannot read (exit 1), and says why.
            if (!checking) throw;
        }
        if (timeline != (vm.count("timeline") != 0))
            throw std::runtime_error(
                path + (timeline ? ": a timeline; use --timeline" : ": statistics; use --stats"));
        if (checking)
            return stats_files::check_command(vm["check"].as<std::string>(), path, std::nullopt,
                                              std::cout, std::cerr);
        if (vm.count("plot")) {
            if (stats_files::plot(path, vm["plot"].as<std::string>())) return 0;
            std::cerr << "kovra-stats: gnuplot failed (is it installed? Debian package "
                         "gnuplot-nox)\n";
            return 2;
        }
        if (timeline) {
            stats_files::print_timeline(path, std::cout);
        } else {
            std::cout << table(stats_files::whole(path));
        }
        return 0;
    } catch (std::exception const& e) {
        std::cerr << "kovra-stats: " << e.what() << "\n";
        return 2;
    }
}
