#include <atomic>
#include <mutex>
#include <thread>

#include "sim_test.h"

namespace {

struct Seen {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::thread::id thread;
};

void record(char const* service, char const* target, uint8_t flag, char const* address,
            void* context) {
    auto* seen = static_cast<Seen*>(context);
    std::lock_guard lock(seen->mutex);
    seen->calls.push_back(std::string(service) + " " + target + " " + std::to_string(flag) + " " +
                          address);
    seen->thread = std::this_thread::get_id();
}

class Restart : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &broker_, 1, 0), 0);
    }
    kovra_initiator* broker_ = nullptr;
};

TEST_F(Restart, AnnouncementReachesTheHandlerOnALibraryThread) {
    Seen seen;
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker_, record, &seen), 0);
    ASSERT_EQ(kovra_sim_restart_target("exposure"), 0);
    ASSERT_EQ(kovra_sim_restart_target("log:log"), 0);
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"exposure 0 1 local", "log log 1 local"}));
    EXPECT_NE(seen.thread, std::this_thread::get_id());
}

TEST_F(Restart, HandlersNeedAnEventBroker) {
    kovra_initiator* plain = nullptr;
    kovra_initiator* led = nullptr;
    ASSERT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &plain, 0, 0), 0);
    OPEN(led, led);
    Seen seen;
    EXPECT_EQ(kovra_api_broker_new_target_register_event_handler(plain, record, &seen),
              KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_api_broker_new_target_register_event_handler(led, record, &seen),
              KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_api_broker_new_target_register_event_handler(broker_, nullptr, &seen),
              KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(kovra_api_broker_new_target_unregister_event_handler(broker_, record),
              KOVRA_SIM_STATUS_BAD_HANDLE);
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    EXPECT_TRUE(seen.calls.empty());
}

TEST_F(Restart, ReleasingTheBrokerEndsItsSubscriptions) {
    Seen seen;
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker_, record, &seen), 0);
    ASSERT_EQ(kovra_api_broker_initiator_deinit(broker_), 0);
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    EXPECT_TRUE(seen.calls.empty());
}

TEST_F(Restart, ConfiguredRestartsFireExactlyCountTimes) {
    // 4 threads x 50 requests = 200 served: every 30th restarts, at most 5 times.
    ASSERT_EQ(kovra_sim_configure("restart=exposure:0*5/30;restart=led*100/64"), 0);
    Seen seen;
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker_, record, &seen), 0);
    kovra_initiator* exposure = nullptr;
    OPEN(exposure, exposure);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([exposure] {
            for (int i = 0; i < 50; ++i) {
                uint8_t on = 0;
                EXPECT_EQ(kovra_api_exposure_get_manual_mode_enable_send(exposure, "0", &on), 0);
            }
        });
    }
    for (auto& w : workers) w.join();
    // Failed requests are not served and trigger nothing.
    uint8_t on = 0;
    for (int i = 0; i < 64; ++i) kovra_api_exposure_get_manual_mode_enable_send(exposure, "9", &on);
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(std::count(seen.calls.begin(), seen.calls.end(), "exposure 0 1 local"), 5);
    EXPECT_EQ(std::count(seen.calls.begin(), seen.calls.end(), "led led 1 local"), 3);
    EXPECT_EQ(seen.calls.size(), 8u);
}

std::atomic<bool> running{false};
std::atomic<int> deliveries{0};

void slow(char const*, char const*, uint8_t, char const*, void*) {
    running = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ++deliveries;
    running = false;
}

TEST_F(Restart, UnregisterWaitsForARunningHandlerAndStopsLaterOnes) {
    deliveries = 0;
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker_, slow, nullptr), 0);
    std::thread restarter([] { kovra_sim_restart_target("relay"); });
    while (!running) std::this_thread::yield();
    ASSERT_EQ(kovra_api_broker_new_target_unregister_event_handler(broker_, slow), 0);
    EXPECT_FALSE(running);
    EXPECT_EQ(deliveries, 1);
    restarter.join();
    ASSERT_EQ(kovra_sim_restart_target("relay"), 0);
    EXPECT_EQ(deliveries, 1);
}

TEST_F(Restart, ResetStopsTheAnnouncerAndDropsHandlers) {
    Seen seen;
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker_, record, &seen), 0);
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    kovra_sim_reset();
    ASSERT_EQ(kovra_sim_restart_target("led"), 0);
    ASSERT_EQ(kovra_core_deinit(), 0);
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.calls.size(), 1u);
}

}  // namespace
