// The daemon's life: a pool of threads, one io_context each; the server on
// the listening address; the signals that stop it (SIGINT, SIGTERM,
// SIGQUIT), write its files as they stand (SIGHUP) or print its statistics
// (SIGUSR1); and at the end the simulation's files.
#pragma once

#include "daemon/options.h"
#include "daemon/shared_simulation.h"

namespace kovra_sim {

class Daemon {
public:
    Daemon(Options const& options, SharedSimulation& simulation)
        : options_(options), simulation_(simulation) {}

    // Serves until a stop signal, then writes the files. The exit status:
    // 0, or 1 when a thread cannot start, the address cannot be listened
    // on, or a file cannot be written.
    int run();

private:
    Options const& options_;
    SharedSimulation& simulation_;
};

}  // namespace kovra_sim
