// kovra-sim-info: what the stand-in camera client library provides, its
// default configuration, and whether a KOVRA_SIM value parses. (Statistics
// and timelines are read by kovra-stats.)
#include <boost/program_options.hpp>
#include <iostream>
#include <string>

#include "config.h"
#include "functions.h"

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
        "json", "print --functions or --defaults as JSON");
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
    int const chosen = int(vm.count("functions") + vm.count("defaults") + vm.count("check"));
    if (chosen != 1) {
        std::cerr << "kovra-sim-info: give exactly one of --functions, --defaults, --check\n"
                  << options << "\n";
        return 2;
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
