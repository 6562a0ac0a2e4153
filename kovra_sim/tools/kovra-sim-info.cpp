// kovra-sim-info: what the stand-in camera client library provides, its
// default configuration, and whether a KOVRA_SIM value parses.
#include <boost/program_options.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <kovra/kovra_api.h>
#include "kovra_sim/control.h"

namespace {

#define STRINGIFY_(...) #__VA_ARGS__
#define STRINGIFY(...) STRINGIFY_(__VA_ARGS__)

using Function = std::pair<char const*, char const*>;  // name, C parameter list

std::vector<Function> const& functions() {
    static std::vector<Function> const all{
        {"kovra_core_init", "void"},
        {"kovra_core_deinit", "void"},
        {"kovra_core_logging_init", "char const* identity, void** log"},
        {"kovra_core_logging_deinit", "void* log"},
        {"kovra_core_logging_log", "void* log, int32_t level, char const* format, ..."},
        {"kovra_core_ipc_initiator_init", "void* log, char const* url, void** ipc"},
        {"kovra_core_ipc_deinit", "void* ipc"},
        {"kovra_core_free_string_array", "kovra_string_array* array"},
        {"kovra_core_free_bool_array", "kovra_bool_array* array"},
#define KOVRA_SERVICE(svc)                                                                   \
    {"kovra_api_" #svc "_initiator_init",                                                    \
     "void* ipc, void* log, kovra_initiator** initiator, int32_t events, int32_t reserved"}, \
        {"kovra_api_" #svc "_initiator_deinit", "kovra_initiator* initiator"},
#define KOVRA_ACTION(svc, op) \
    {"kovra_api_" #svc "_" #op "_send", "kovra_initiator* initiator, char const* target"},
#define KOVRA_REQUEST(svc, op, setting, ...) \
    {"kovra_api_" #svc "_" #op "_send",      \
     "kovra_initiator* initiator, char const* target" STRINGIFY(KOVRA_PARAMS(__VA_ARGS__))},
#include <kovra/kovra_requests.def>
        {"kovra_api_broker_new_target_register_event_handler",
         "kovra_initiator* broker, kovra_broker_new_target_handler handler, void* context"},
        {"kovra_api_broker_new_target_unregister_event_handler",
         "kovra_initiator* broker, kovra_broker_new_target_handler handler"},
    };
    return all;
}

// The stringised parameter lists read "a0 , uint8_t a1"; tidy the commas.
std::string parameters(char const* raw) {
    std::string out;
    for (char const* c = raw; *c; ++c) {
        if (!(c[0] == ' ' && c[1] == ',')) out += *c;
    }
    return out;
}

std::string json_string(std::string const& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

void print_functions(bool json) {
    if (!json) {
        for (auto const& [name, params] : functions())
            std::cout << "int32_t " << name << "(" << parameters(params) << ")\n";
        return;
    }
    std::cout << "[\n";
    for (size_t i = 0; i < functions().size(); ++i) {
        auto const& [name, params] = functions()[i];
        std::cout << "  {\"name\": " << json_string(name)
                  << ", \"parameters\": " << json_string(parameters(params)) << "}"
                  << (i + 1 < functions().size() ? ",\n" : "\n");
    }
    std::cout << "]\n";
}

void print_defaults(bool json) {
    kovra_sim_reset();
    std::string text(kovra_sim_snapshot(nullptr, 0) + 1, '\0');
    text.resize(kovra_sim_snapshot(text.data(), text.size()));
    if (!json) {
        std::cout << text;
        return;
    }
    // {"key": ["value", ...], ...}: each slot as the text kovra_sim_setting_set takes.
    std::cout << "{\n";
    size_t start = 0;
    while (start < text.size()) {
        size_t const end = text.find('\n', start);
        std::string const line = text.substr(start, end - start);
        size_t const eq = line.find('=');
        std::cout << (start ? ",\n" : "") << "  " << json_string(line.substr(0, eq)) << ": [";
        size_t from = eq + 1;
        for (bool first = true;; first = false) {
            size_t const comma = line.find(',', from);
            std::cout << (first ? "" : ", ") << json_string(line.substr(from, comma - from));
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
        std::cout << "]";
        start = end + 1;
    }
    std::cout << "\n}\n";
}

// The value goes through the library's own KOVRA_SIM path, which reports
// what is wrong on stderr.
int check(std::string const& directives) {
    setenv("KOVRA_SIM", directives.c_str(), 1);
    if (kovra_core_init() != 0) return 1;
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
    bool const json = vm.count("json") != 0;
    if (vm.count("check")) return check(vm["check"].as<std::string>());
    // The other outputs describe the library as built, whatever the environment says.
    unsetenv("KOVRA_SIM");
    if (vm.count("functions")) {
        print_functions(json);
    } else if (vm.count("defaults")) {
        print_defaults(json);
    } else {
        std::cout << options << "\n";
        return vm.count("help") ? 0 : 2;
    }
    return 0;
}
