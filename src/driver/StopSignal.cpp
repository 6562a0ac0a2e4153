#include "driver/StopSignal.h"

#include <signal.h>

static_assert(std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

std::atomic<bool> stopFlag{false};

namespace {

void setAction(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Restarted system calls keep an interrupted write of the report whole.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

// After the first request, a SIGINT (Ctrl-C again) ends the process. A
// SIGTERM does too after a SIGINT, but not after a SIGTERM: wrappers such as
// timeout(1) send theirs to the program and then to its whole group, so one
// request arrives twice, and the second must not cost the report.
void requestStop(int signal) {
    stopFlag.store(true, std::memory_order_relaxed);
    setAction(SIGINT, SIG_DFL);
    if (signal == SIGINT) setAction(SIGTERM, SIG_DFL);
}

}  // namespace

void stopOnFirstSignal() {
    setAction(SIGINT, &requestStop);
    setAction(SIGTERM, &requestStop);
}
