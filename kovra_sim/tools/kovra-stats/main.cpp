// kovra-stats: reads the statistics and timelines that the trace layer
// (KOVRA_TRACE), the stand-in (KOVRA_SIM) and kovra-camd write: as tables,
// against another run, as plots, merged, or checked against thresholds.
#include <algorithm>
#include <boost/program_options.hpp>
#include <iostream>

#include "tools/kovra-stats/stats_tool.h"

using namespace kovra_sim;

namespace {

// --html OUT FILE... [--check EXPR]: the page, and the verdicts as --check
// prints them, each file's named when there are several.
int html_command(boost::program_options::variables_map const& vm) {
    // A run's statistics beside its timeline: the timeline holds them all.
    auto const files =
        stats_files::timelines_if_any(vm["file"].as<std::vector<std::string>>(),
                                      "the page is drawn from the timelines", std::cerr);
    std::string const expression = vm.count("check") ? vm["check"].as<std::string>() : "";
    try {
        std::optional<stats_files::Check> check;
        if (vm.count("check")) check.emplace(expression);
        auto const verdicts = stats_files::write_html(files, vm["html"].as<std::string>(), check);
        int worst = 0;
        for (size_t k = 0; k < verdicts.size(); ++k) {
            std::string const who = files.size() > 1 ? files[k] + ": " : "";
            worst = std::max(worst, stats_files::print_verdict(verdicts[k], who, std::cout));
        }
        return worst;
    } catch (stats_files::CheckError const& e) {
        return stats_files::refused(e, expression, std::cerr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    namespace po = boost::program_options;
    po::options_description options(
        "Usage: kovra-stats --stats FILE | --timeline FILE [--plot PNG] [--check EXPR]\n"
        "       kovra-stats --check EXPR FILE...\n"
        "       kovra-stats --compare A B [--check EXPR]\n"
        "       kovra-stats --merge FILE... -o OUT\n"
        "       kovra-stats --follow TIMELINE\n"
        "       kovra-stats --html OUT.html FILE... [--check EXPR]\n"
        "Reads the statistics (JSON) and timelines (JSON Lines, plain or .gz) of KOVRA_TRACE,\n"
        "KOVRA_SIM and kovra-camd. Options",
        100, 50);
    auto add = options.add_options();
    add("help,h", "show this help");
    add("version", "print the version and exit");
    add("stats", po::value<std::string>()->value_name("FILE"), "a statistics file, as a table");
    add("timeline", po::value<std::string>()->value_name("FILE"), "a timeline, a line an interval");
    add("plot", po::value<std::string>()->value_name("PNG"),
        "draw it instead: a percentile spectrum, or p50/p99, requests/s and failures over "
        "time (needs gnuplot)");
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
    add("html", po::value<std::string>()->value_name("OUT"),
        "the FILEs (one run, or a fleet's side by side) as one page that needs no network: "
        "summary, latency and failures over time, the functions (needs libjs-dygraphs)");
    // The files of --html and of --check alone, without an option of their own.
    po::options_description listed;
    listed.add_options()("file", po::value<std::vector<std::string>>());
    po::positional_options_description files;
    files.add("file", -1);
    po::options_description all;
    all.add(options).add(listed);
    po::variables_map vm;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(files).run(), vm);
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
    bool const html = vm.count("html") != 0;
    bool const given = vm.count("file") != 0 && !html;  // --check EXPR FILE...
    if (read + vm.count("compare") + merging + vm.count("follow") + html + given != 1 ||
        merging != (vm.count("output") != 0) || (vm.count("plot") && read == 0) ||
        (vm.count("check") && read + vm.count("compare") + html + given == 0) ||
        (html && !vm.count("file")) || (given && !vm.count("check"))) {
        std::cerr << "kovra-stats: give one of --stats, --timeline (each with --plot or --check, "
                     "if wanted), --check with files, --compare (with --check, if wanted), "
                     "--merge with -o, --follow, --html OUT with files (and --check, if "
                     "wanted)\nTry 'kovra-stats --help'.\n";
        return 2;
    }
    try {
        if (html) return html_command(vm);
        if (given)
            return stats_files::check_files(vm["check"].as<std::string>(),
                                            vm["file"].as<std::vector<std::string>>(), std::cout,
                                            std::cerr);
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
