// kovra-camd: the simulated camera as a network daemon. It serves the same
// camera as the stand-in's in-process one to every client that connects
// with a tcp:// URL, in the foreground, until a signal stops it.
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "daemon/daemon.h"

using namespace kovra_sim;

namespace {

bool configure(SharedSimulation& simulation, char const* what, std::string const& directives) {
    std::string error;
    if (!simulation.start_with(directives, error)) {
        std::cerr << "kovra-camd: " << what << ": " << error << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (auto const status = parse_options(argc, argv, options)) return *status;
    log_to(options.log);
    // A file grown past the size limit is an error to report, not a death.
    std::signal(SIGXFSZ, SIG_IGN);

    SharedSimulation simulation;
    if (char const* env = std::getenv("KOVRA_SIM"); env && !configure(simulation, "KOVRA_SIM", env))
        return 2;
    if (options.sim && !configure(simulation, "--sim", *options.sim)) return 2;
    std::string error;
    if (!simulation.open(options.outputs, error)) {
        std::cerr << "kovra-camd: " << error << "\n";
        return 2;
    }
    return run_daemon(options, simulation);
}
