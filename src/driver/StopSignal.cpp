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

// Resets both signals, not only the one delivered (as SA_RESETHAND would),
// so that a second stop request of either kind ends the process.
void requestStop(int) {
    stopFlag.store(true, std::memory_order_relaxed);
    setAction(SIGINT, SIG_DFL);
    setAction(SIGTERM, SIG_DFL);
}

}  // namespace

void stopOnFirstSignal() {
    setAction(SIGINT, &requestStop);
    setAction(SIGTERM, &requestStop);
}
