// A program that registers event handlers on one in-process broker, has
// the camera announce its LED, and unregisters them, to be run with a layer
// in front of the client library; main() says how for each mode. It prints
//   [past=S again=S ]refused=N calls=N late=N wrong=N
// refused: registrations that failed; calls: announcements its handlers
// heard; late: calls after their unregister returned (or of a refused
// registration); wrong: calls of a handler with another handler's context.
#include <kovra/kovra_api.h>
#include <kovra_sim/control.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {

struct Registration {
    int function = 0;
    std::atomic<bool> live{false};  // registered, its unregister not yet returned
};

std::atomic<int> calls{0}, late{0}, wrong{0};

template <int F>
void heard(char const*, char const*, uint8_t, char const*, void* context) {
    auto const* r = static_cast<Registration const*>(context);
    ++calls;
    if (!r->live) ++late;
    if (r->function != F) ++wrong;
}

constexpr int kFunctions = 65;  // one past the layer's trampolines

template <int... F>
constexpr std::array<kovra_broker_new_target_handler, kFunctions> make_handlers(
    std::integer_sequence<int, F...>) {
    return {&heard<F>...};
}
constexpr auto handlers = make_handlers(std::make_integer_sequence<int, kFunctions>());

kovra_initiator* broker = nullptr;
std::mutex made_mutex;  // guards the deque, not its registrations
std::deque<Registration> made;
std::atomic<int> refused{0};

int add(int function) {
    std::unique_lock lock(made_mutex);
    Registration& r = made.emplace_back();
    r.function = function;
    lock.unlock();
    r.live = true;  // a handler may run before register returns
    int const status =
        kovra_api_broker_new_target_register_event_handler(broker, handlers[function], &r);
    if (status != 0) r.live = false, ++refused;
    return status;
}

int drop(int function) {
    int const status =
        kovra_api_broker_new_target_unregister_event_handler(broker, handlers[function]);
    if (status == 0) {
        std::lock_guard lock(made_mutex);
        for (Registration& r : made)
            if (r.function == function) r.live = false;
    }
    return status;
}

void announce() {
    if (kovra_sim_restart_target("led") != 0) std::printf("restart failed\n");
}

}  // namespace

int main(int argc, char** argv) {
    char const* const mode = argc > 1 ? argv[1] : "";
    void* log = nullptr;
    void* ipc = nullptr;
    if (kovra_core_init() != 0 || kovra_core_logging_init("handlers_child", &log) != 0 ||
        kovra_core_ipc_initiator_init(log, nullptr, &ipc) != 0 ||
        kovra_api_broker_initiator_init(ipc, log, &broker, 1, 0) != 0)
        return 2;
    if (std::strcmp(mode, "same") == 0 && argc > 2) {
        for (int i = std::atoi(argv[2]); i > 0; --i) add(0);
        announce();
        if (drop(0) != 0) std::printf("unregister failed\n");
        announce();
    } else if (std::strcmp(mode, "distinct") == 0) {
        for (int f = 0; f + 1 < kFunctions; ++f) add(f);
        std::printf("past=%d ", add(kFunctions - 1));
        announce();
        drop(0);
        std::printf("again=%d ", add(kFunctions - 1));
        announce();
        for (int f = 1; f < kFunctions; ++f) drop(f);
        announce();
    } else if (std::strcmp(mode, "churn") == 0) {
        // A third stays registered, so that every announcement is delivered.
        add(2);
        std::atomic<bool> stop{false};
        std::thread announcer([&] {
            while (!stop) announce();
        });
        // Each frees its trampoline over and over, for the other to take.
        auto const turns = [](int function) {
            for (int i = 0; i < 3000; ++i) {
                add(function);
                drop(function);
            }
        };
        std::thread other(turns, 1);
        turns(0);
        other.join();
        stop = true;
        announcer.join();
        drop(2);
    } else {
        return 2;
    }
    std::printf("refused=%d calls=%d late=%d wrong=%d\n", refused.load(), calls.load(), late.load(),
                wrong.load());
    kovra_api_broker_initiator_deinit(broker);
    kovra_core_ipc_deinit(ipc);
    kovra_core_logging_deinit(log);
    return kovra_core_deinit() == 0 ? 0 : 3;
}
