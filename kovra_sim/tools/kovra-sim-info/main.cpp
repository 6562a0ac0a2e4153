// kovra-sim-info: what the stand-in camera client library provides, its
// default configuration, the directives each place takes, and whether a
// list of them parses. (Statistics and timelines are read by kovra-stats.)
#include <boost/program_options.hpp>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "camera/config.h"
#include "common/functions.h"
#include "daemon/shared_simulation.h"
#include "trace/config.h"

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

void print_functions(bool json) {
    nlohmann::json all = nlohmann::json::array();
    for (int id = 0; id < kFunctionCount; ++id) {
        FunctionInfo const& f = function_info(id);
        if (!json) std::cout << "int32_t " << f.name << parameters(f.params) << "\n";
        all.push_back({{"name", f.name}, {"parameters", parameters(f.params)}});
    }
    if (json) std::cout << all.dump(2) << "\n";
}

// With `json`, {"key": ["value", ...], ...}: each slot as the text set= takes.
void print_defaults(bool json) {
    Settings const settings;
    if (!json) {
        std::cout << settings.snapshot_text();
        return;
    }
    nlohmann::json all = nlohmann::json::object();
    for (auto const& [key, values] : settings.snapshot()) {
        nlohmann::json& slots = all[key] = nlohmann::json::array();
        for (std::string_view slot : split_unescaped(values, ',')) slots.push_back(slot);
    }
    std::cout << all.dump(2) << "\n";
}

// Checks `directives` as `place` would take them, without applying them.
int check(std::string const& directives, Place place) {
    Settings const settings;
    std::string error;
    trace::TraceConfig trace;
    Config sim;
    DaemonConfig daemon;
    bool const ok = place == Place::trace ? trace::parse_trace_config(directives, trace, error)
                    : place == Place::sim
                        ? parse_config(directives, place, settings, sim, error)
                        : parse_daemon_config(directives, place, settings, daemon, error);
    if (!ok) {
        std::cerr << "kovra-sim-info: " << error << "\n";
        return 1;
    }
    std::cout << "ok\n";
    return 0;
}

// The directives `place` takes, one a line: NAME=VALUE and what it does.
void print_directives(Place place) {
    for (DirectiveInfo const& d : directives()) {
        if (!d.taken(place)) continue;
        std::string const usage = std::string(d.name) + "=" + d.grammar;
        std::cout << usage << std::string(usage.size() < 40 ? 40 - usage.size() : 1, ' ') << d.help
                  << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    namespace po = boost::program_options;
    po::options_description options(
        "Usage: kovra-sim-info OPTION\n"
        "Describes the stand-in camera client library (libkovra-core, libkovra-interfaces).\n\n"
        "Options");
    options.add_options()("help,h", "show this help")("version", "print the version and exit")(
        "functions", "list every client-library function with its C parameters")(
        "defaults", "print the default settings, one key=values line each")(
        "directives", "list the directives --for takes, with what each does")(
        "check", po::value<std::string>()->value_name("DIRECTIVES"),
        "check directives as --for takes them: exit 0 if they parse, else 1 with the reason on "
        "stderr")(
        "for", po::value<std::string>()->value_name("PLACE")->default_value("sim"),
        "sim (a program's KOVRA_SIM), daemon (kovra-camd's KOVRA_SIM and --sim), post (its POST "
        "/directives) or trace (KOVRA_TRACE)")("json", "print --functions or --defaults as JSON");
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
    if (vm.count("version")) {
        std::cout << "kovra-sim-info " IPC_SOAK_VERSION "\n";
        return 0;
    }
    int const chosen = int(vm.count("functions") + vm.count("defaults") + vm.count("directives") +
                           vm.count("check"));
    if (chosen != 1) {
        std::cerr << "kovra-sim-info: give exactly one of --functions, --defaults, --directives, "
                     "--check\n"
                  << options << "\n";
        return 2;
    }
    std::map<std::string, Place> const places{{"sim", Place::sim},
                                              {"daemon", Place::daemon},
                                              {"post", Place::post},
                                              {"trace", Place::trace}};
    auto const place = places.find(vm["for"].as<std::string>());
    if (place == places.end()) {
        std::cerr << "kovra-sim-info: --for takes sim, daemon, post or trace\n";
        return 2;
    }
    bool const json = vm.count("json") != 0;
    if (vm.count("check")) return check(vm["check"].as<std::string>(), place->second);
    if (vm.count("directives")) print_directives(place->second);
    if (vm.count("functions")) print_functions(json);
    if (vm.count("defaults")) print_defaults(json);
    return 0;
}
