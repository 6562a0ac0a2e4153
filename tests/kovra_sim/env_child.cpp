// A program linked like ipc_soak that makes a fixed series of calls and
// prints their statuses. Then "abort" aborts before shutting down, "hold FILE"
// waits until FILE exists (a minute at most) first, "fork" forks a child that reads the LED five
// times more before both shut down, and "exec" execs itself, which starts anew.
#include <kovra/kovra_api.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void read_led(kovra_initiator* led, int times) {
    for (int i = 0; i < times; ++i) {
        uint8_t state = 0;
        int const status = kovra_api_led_get_state_send(led, "led", &state);
        std::printf("get_state=%d value=%d\n", status, state);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    char const* const then = argc > 1 ? argv[1] : "";
    int const init = kovra_core_init();
    void* log = nullptr;
    void* ipc = nullptr;
    kovra_initiator* led = nullptr;
    int const log_init = kovra_core_logging_init("kovra_sim_env_child", &log);
    std::printf("init=%d logging_init=%d\n", init, log_init);
    if (init != 0 || log_init != 0) return 1;
    kovra_core_logging_log(log, 6, "child %d", 1);
    kovra_core_logging_log(log, 6, "%s", "100%d done");
    kovra_core_ipc_initiator_init(log, nullptr, &ipc);
    kovra_api_led_initiator_init(ipc, log, &led, 0, 0);
    read_led(led, 3);
    if (std::strcmp(then, "abort") == 0) std::abort();
    bool const hold = std::strcmp(then, "hold") == 0 && argc > 2;
    for (int i = 0; hold && access(argv[2], F_OK) != 0 && i < 6000; ++i) usleep(10000);
    if (std::strcmp(then, "exec") == 0) {
        execl(argv[0], argv[0], "again", nullptr);
        return 127;  // the exec failed
    }
    pid_t const child = std::strcmp(then, "fork") == 0 ? fork() : -1;
    if (child == 0) read_led(led, 5);
    if (child > 0) waitpid(child, nullptr, 0);
    kovra_api_led_initiator_deinit(led);
    kovra_core_ipc_deinit(ipc);
    kovra_core_logging_deinit(log);
    std::printf("deinit=%d\n", kovra_core_deinit());
    return 0;
}
