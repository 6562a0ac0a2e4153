// The daemon's life: a pool of threads, one io_context each; the server on
// the listening address; the signals that stop it (SIGINT, SIGTERM,
// SIGQUIT), write its files as they stand (SIGHUP) or print its statistics
// (SIGUSR1); and at the end the simulation's files.
#pragma once

#include "daemon/options.h"
#include "daemon/shared_simulation.h"

namespace kovra_sim {

// Serves until a stop signal, then writes the files. The exit status: 0, or
// 1 when a thread cannot start, an address cannot be listened on, or a file
// cannot be written.
int run_daemon(Options const& options, SharedSimulation& simulation);

}  // namespace kovra_sim
