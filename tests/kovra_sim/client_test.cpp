// The stand-in client library through its C functions, on the in-process camera.
#include <gmock/gmock.h>
#include <kovra/kovra_api.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/SimulatedCamera.h"

namespace {

using testing::ElementsAre;

class Client : public SimulatedCamera {
protected:
    template <class Init>
    kovra_initiator* open(Init init, int32_t events = 0) {
        kovra_initiator* i = nullptr;
        EXPECT_EQ(init(ipcHandle, logHandle, &i, events, 0), 0);
        return i;
    }
    static std::string setting(char const* key) {
        std::string values(kovra_sim_setting_get(key, nullptr, 0), '\0');
        kovra_sim_setting_get(key, values.data(), values.size() + 1);
        return values;
    }
};

TEST_F(Client, EachKindOfBadCallGetsItsStatusAndTouchesNothing) {
    kovra_initiator* led = open(kovra_api_led_initiator_init);
    kovra_initiator* log = open(kovra_api_log_initiator_init);
    kovra_initiator* released = open(kovra_api_led_initiator_init);
    ASSERT_EQ(kovra_api_led_initiator_deinit(released), 0);
    void* other_ipc = nullptr;
    ASSERT_EQ(kovra_core_ipc_initiator_init(logHandle, nullptr, &other_ipc), 0);
    kovra_initiator* orphan = nullptr;
    ASSERT_EQ(kovra_api_led_initiator_init(other_ipc, logHandle, &orphan, 0, 0), 0);
    ASSERT_EQ(kovra_core_ipc_deinit(other_ipc), 0);
    auto* garbage = reinterpret_cast<kovra_initiator*>(uintptr_t(0x5a5a5a5a));
    uint8_t state = 77;
    uint32_t u = 77;
    kovra_initiator* none = nullptr;
    int32_t const bad = KOVRA_SIM_STATUS_BAD_HANDLE, null = KOVRA_SIM_STATUS_NULL_POINTER,
                  target = KOVRA_SIM_STATUS_UNKNOWN_TARGET,
                  argument = KOVRA_SIM_STATUS_BAD_ARGUMENT;
    auto const handler = [](char const*, char const*, uint8_t, char const*, void*) {};
    std::string const before = snapshot();
    // Each call's status and the one it must be, made in this order.
    std::pair<int32_t, int32_t> const calls[] = {
        // released, of another service, never a handle, released twice, a log handle as IPC
        {kovra_api_led_get_state_send(released, "led", &state), bad},
        {kovra_api_led_get_state_send(log, "led", &state), bad},
        {kovra_api_led_get_state_send(garbage, "led", &state), bad},
        {kovra_api_led_initiator_deinit(released), bad},
        {kovra_api_led_initiator_init(logHandle, logHandle, &none, 0, 0), bad},
        // its IPC released
        {kovra_api_led_get_state_send(orphan, "led", &state), KOVRA_SIM_STATUS_NOT_CONNECTED},
        // null target, out-parameter, text sent, format
        {kovra_api_led_get_state_send(led, nullptr, &state), null},
        {kovra_api_led_get_state_send(led, "led", nullptr), null},
        {kovra_api_log_get_settings_core_send(log, "log", nullptr, &u, &u, &u), null},
        {kovra_core_logging_log(logHandle, 3, nullptr), null},
        // another target, no such log tag
        {kovra_api_led_get_state_send(led, "0", &state), target},
        {kovra_api_log_get_settings_core_send(log, "log", "KOVRA_NOPE", &u, &u, &u), target},
        // events on a plain service, reserved not 0, a URL of no camera
        {kovra_api_led_initiator_init(ipcHandle, logHandle, &none, 1, 0), argument},
        {kovra_api_broker_initiator_init(ipcHandle, logHandle, &none, 1, 5), argument},
        {kovra_core_ipc_initiator_init(logHandle, "http://camera", &other_ipc), argument},
        // a handler on a broker opened without events
        {kovra_api_broker_new_target_register_event_handler(open(kovra_api_broker_initiator_init),
                                                            handler, nullptr),
         bad},
    };
    for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i].first, calls[i].second) << i;
    EXPECT_EQ(state, 77) << "an out-parameter was written by a failed call";
    EXPECT_EQ(u, 77u);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(snapshot(), before);
    // Handles from before a reset are unknown after it, even where numbers repeat,
    // and the settings, the first of them too, are back to their defaults (never 0).
    ASSERT_EQ(kovra_sim_setting_set("alarm.configuration", "0,0,0,0,0,0,0,0,0"), 0);
    kovra_sim_reset();
    EXPECT_EQ(snapshot(), before);
    void* fresh = nullptr;
    ASSERT_EQ(kovra_core_logging_init("again", &fresh), 0);
    EXPECT_EQ(kovra_core_logging_log(logHandle, 3, "stale"), KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_core_logging_log(fresh, 3, "fresh"), 0);
}

TEST_F(Client, FaultsFireOnTheirCallsAndNothingElseHappens) {
    kovra_initiator* led = open(kovra_api_led_initiator_init);
    char const* const set = "kovra_api_led_set_state_send";
    // The directive's default status, one on a call number, one every time,
    // and a call number winning over every time.
    ASSERT_EQ(kovra_sim_configure("fail=kovra_api_led_set_state_send@2"), 0);
    ASSERT_EQ(kovra_sim_fail_nth(set, 4, -40), 0);
    std::vector<int32_t> statuses;
    for (int i = 0; i < 5; ++i)
        statuses.push_back(kovra_api_led_set_state_send(led, "led", uint8_t(10 + i)));
    EXPECT_THAT(statuses, ElementsAre(0, KOVRA_SIM_STATUS_INJECTED, 0, -40, 0));
    EXPECT_EQ(setting("led.state"), "14");
    ASSERT_EQ(kovra_sim_fail_always(set, -1), 0);
    ASSERT_EQ(kovra_sim_fail_nth(set, 7, -70), 0);
    EXPECT_EQ(kovra_api_led_set_state_send(led, "led", 99), -1);
    EXPECT_EQ(kovra_api_led_set_state_send(led, "led", 99), -70);
    EXPECT_EQ(setting("led.state"), "14");
    EXPECT_EQ(kovra_sim_call_count(set), 7u);
    EXPECT_EQ(kovra_sim_fail_always("kovra_api_led_no_such_send", -1),
              KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_sim_fail_always(set, 0), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    // Any function at all, the hand-written ones included.
    ASSERT_EQ(kovra_sim_fail_always("kovra_core_logging_log", -9), 0);
    EXPECT_EQ(kovra_core_logging_log(logHandle, 3, "x"), -9);
}

TEST_F(Client, TheJournalShowsEveryKindOfArgument) {
    ASSERT_EQ(kovra_sim_setting_set("log.settings[KOVRA_IPC]", "say \"hi\",a\\nb,c"), 0);
    ASSERT_EQ(kovra_sim_setting_set("positioning.position", "-1,2,3"), 0);
    kovra_initiator* log = open(kovra_api_log_initiator_init);           // #3
    kovra_initiator* pos = open(kovra_api_positioning_initiator_init);   // #4
    kovra_initiator* broker = open(kovra_api_broker_initiator_init, 1);  // #5
    kovra_sim_journal_clear();
    char *level = nullptr, *a = nullptr, *b = nullptr;
    kovra_api_log_get_settings_send(log, "log", "KOVRA_IPC", &level, &a, &b);
    kovra_api_positioning_move_to_position_with_speed_percentage_send(pos, "0", 1, -2, 0.5, 1, 2,
                                                                      1.0 / 3, 1, 3, 100, 7);
    kovra_string_array *words = nullptr, *targets = nullptr;
    kovra_bool_array* up = nullptr;
    kovra_api_broker_get_targets_send(broker, "broker", "", &words, &targets, &up);
    kovra_core_free_string_array(targets);
    kovra_core_free_string_array(targets);
    int32_t i32 = 5;
    kovra_api_positioning_get_position_send(pos, "nope", &i32, &i32, &i32);
    kovra_api_positioning_get_position_send(pos, "0", &i32, nullptr, &i32);
    kovra_core_logging_log(logHandle, 6, "%d%%", 50);
    kovra_api_broker_new_target_register_event_handler(
        broker, [](char const*, char const*, uint8_t, char const*, void*) {}, nullptr);
    EXPECT_THAT(
        journal(),
        ElementsAre(
            "kovra_api_log_get_settings_send(#3, \"log\", \"KOVRA_IPC\", &\"say \\\"hi\\\"\", "
            "&\"a\\nb\", &\"c\") = 0",
            "kovra_api_positioning_move_to_position_with_speed_percentage_send(#4, \"0\", 1, -2, "
            "0.5, 1, 2, 0.33333333333333331, 1, 3, 100, 7) = 0",
            "kovra_api_broker_get_targets_send(#5, \"broker\", \"\", &[#1], &[#2], &[#3]) = 0",
            "kovra_core_free_string_array([#2]) = 0", "kovra_core_free_string_array([#?]) = -1",
            "kovra_api_positioning_get_position_send(#4, \"nope\", &?, &?, &?) = -3",
            "kovra_api_positioning_get_position_send(#4, \"0\", &?, null, &?) = -2",
            "kovra_core_logging_log(#1, 6, \"50%\") = 0",
            "kovra_api_broker_new_target_register_event_handler(#5, ptr, null) = 0"));
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 2u);
    kovra_core_free_string_array(words);
    kovra_core_free_bool_array(up);
    std::free(level), std::free(a), std::free(b);
}

TEST_F(Client, ALibraryOutOfMemoryOrThreadsReturnsAStatus) {
    kovra_initiator* info = open(kovra_api_device_information_initiator_init);
    kovra_initiator* log = open(kovra_api_log_initiator_init);
    ASSERT_EQ(kovra_sim_configure("exhaust=memory"), 0);
    char* name = nullptr;
    kovra_string_array* tags = nullptr;
    EXPECT_EQ(
        kovra_api_device_information_get_friendly_name_send(info, "device_information", &name),
        KOVRA_SIM_STATUS_NO_RESOURCES);
    EXPECT_EQ(kovra_api_log_get_tags_send(log, "log", &tags), KOVRA_SIM_STATUS_NO_RESOURCES);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(tags, nullptr);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 0u);
    // Connecting starts the announcer, which the reset stopped.
    kovra_sim_reset();
    ASSERT_EQ(kovra_core_logging_init("threads", &logHandle), 0);
    ASSERT_EQ(kovra_sim_configure("exhaust=threads"), 0);
    EXPECT_EQ(kovra_core_ipc_initiator_init(logHandle, nullptr, &ipcHandle),
              KOVRA_SIM_STATUS_NO_RESOURCES);
    ASSERT_EQ(kovra_sim_configure("exhaust=nothing"), 0);
    EXPECT_EQ(kovra_core_ipc_initiator_init(logHandle, nullptr, &ipcHandle), 0);
}

struct Heard {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::thread::id thread;
};

void record(char const* service, char const* target, uint8_t flag, char const* address,
            void* context) {
    auto* heard = static_cast<Heard*>(context);
    std::lock_guard lock(heard->mutex);
    heard->calls.push_back(std::string(service) + ":" + target + " " + std::to_string(flag) + " " +
                           address);
    heard->thread = std::this_thread::get_id();
}

TEST_F(Client, RestartsAreAnnouncedOnALibraryThreadWhileSubscribed) {
    kovra_initiator* broker = open(kovra_api_broker_initiator_init, 1);
    kovra_initiator* exposure = open(kovra_api_exposure_initiator_init);
    Heard heard;
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker, record, &heard), 0);
    // Every 30th request served restarts exposure, five times at most; failed ones don't count.
    ASSERT_EQ(kovra_sim_configure("restart=exposure:0*5/30;restart=led*1/1000"), 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([exposure] {
            uint8_t on = 0;
            for (int i = 0; i < 50; ++i)
                EXPECT_EQ(kovra_api_exposure_get_manual_mode_enable_send(exposure, "0", &on), 0);
            for (int i = 0; i < 50; ++i)
                kovra_api_exposure_get_manual_mode_enable_send(exposure, "9", &on);
        });
    }
    for (auto& w : workers) w.join();
    ASSERT_EQ(kovra_sim_restart_target("log:log"), 0);
    {
        std::lock_guard lock(heard.mutex);
        EXPECT_EQ(std::count(heard.calls.begin(), heard.calls.end(), "exposure:0 1 local"), 5);
        EXPECT_EQ(heard.calls.back(), "log:log 1 local");
        EXPECT_EQ(heard.calls.size(), 6u);
        EXPECT_NE(heard.thread, std::this_thread::get_id());
    }
    // Once unregistered (or its broker released), nothing more arrives.
    ASSERT_EQ(kovra_api_broker_new_target_unregister_event_handler(broker, record), 0);
    EXPECT_EQ(kovra_api_broker_new_target_unregister_event_handler(broker, record),
              KOVRA_SIM_STATUS_BAD_HANDLE);
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker, record, &heard), 0);
    ASSERT_EQ(kovra_api_broker_initiator_deinit(broker), 0);
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    EXPECT_EQ(heard.calls.size(), 6u);
    EXPECT_EQ(kovra_sim_restart_target("led:0"), KOVRA_SIM_STATUS_BAD_ARGUMENT);
}

std::atomic<bool> running{false};
std::atomic<int> deliveries{0};

void slow(char const*, char const*, uint8_t, char const*, void*) {
    running = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ++deliveries;
    running = false;
}

TEST_F(Client, UnregisteringWaitsForARunningHandler) {
    kovra_initiator* broker = open(kovra_api_broker_initiator_init, 1);
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker, slow, nullptr), 0);
    std::thread restarter([] { kovra_sim_restart_target("relay"); });
    while (!running) std::this_thread::yield();
    ASSERT_EQ(kovra_api_broker_new_target_unregister_event_handler(broker, slow), 0);
    EXPECT_FALSE(running);
    EXPECT_EQ(deliveries, 1);
    restarter.join();
}

// A forked child has no announcing thread: a restart it causes is heard by
// nobody and does not wait for one (its alarm ends it otherwise).
TEST_F(Client, AForkedChildNeverWaitsForItsParentsAnnouncingThread) {
    kovra_initiator* broker = open(kovra_api_broker_initiator_init, 1);
    Heard heard;
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker, record, &heard), 0);
    pid_t const child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        alarm(20);
        int32_t const status = kovra_sim_restart_target("led");
        _exit(status == 0 && heard.calls.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    std::lock_guard lock(heard.mutex);
    EXPECT_THAT(heard.calls, ElementsAre("led:led 1 local"));
}

}  // namespace
