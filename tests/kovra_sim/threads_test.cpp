#include <cstdlib>
#include <thread>

#include "sim_test.h"

namespace {

class Threads : public SimTest {};

void quiet(char const*, char const*, uint8_t, char const*, void*) {}

// Mixed requests from many threads on shared initiators while controls run
// beside them: every call is counted and journalled, nothing leaks.
TEST_F(Threads, MixedRequestsOnSharedInitiators) {
    constexpr int kThreads = 6;
    constexpr int kRounds = 200;
    kovra_sim_journal_enable(1);
    kovra_initiator *exposure, *log, *broker, *info;
    OPEN(exposure, exposure);
    OPEN(log, log);
    OPEN(device_information, info);
    ASSERT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &broker, 1, 0), 0);
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker, quiet, nullptr), 0);
    ASSERT_EQ(kovra_sim_configure("restart=exposure*20/97"), 0);
    ASSERT_EQ(kovra_sim_fail_nth("kovra_api_log_get_tags_send", 17, -8), 0);
    size_t const before = kovra_sim_journal_size();

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                uint32_t a, b, c;
                EXPECT_EQ(
                    kovra_api_exposure_set_frame_rate_send(exposure, "0", uint32_t(t * 1000 + i)),
                    0);
                EXPECT_EQ(kovra_api_exposure_get_frame_rate_send(exposure, "0", &a, &b, &c), 0);
                EXPECT_LT(a, uint32_t(kThreads * 1000));
                kovra_string_array* tags = nullptr;
                if (kovra_api_log_get_tags_send(log, "log", &tags) == 0) {
                    EXPECT_EQ(kovra_core_free_string_array(tags), 0);
                }
                char* name = nullptr;
                EXPECT_EQ(kovra_api_device_information_get_friendly_name_send(
                              info, "device_information", &name),
                          0);
                std::free(name);
                EXPECT_EQ(kovra_core_logging_log(log_, 6, "thread %d round %d", t, i), 0);
            }
        });
    }
    std::thread controls([] {
        for (int i = 0; i < 50; ++i) {
            kovra_sim_setting_set("led.state", "4");
            kovra_sim_snapshot(nullptr, 0);
            kovra_sim_call_count("kovra_api_log_get_tags_send");
            kovra_sim_restart_target("led");
        }
    });
    for (auto& t : threads) t.join();
    controls.join();

    uint32_t const n = kThreads * kRounds;
    EXPECT_EQ(kovra_sim_call_count("kovra_api_exposure_set_frame_rate_send"), n);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_exposure_get_frame_rate_send"), n);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_log_get_tags_send"), n);
    EXPECT_EQ(kovra_sim_call_count("kovra_core_free_string_array"), n - 1);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 0u);
    EXPECT_EQ(kovra_sim_journal_size() - before, size_t(n) * 5 + (n - 1));
}

}  // namespace
