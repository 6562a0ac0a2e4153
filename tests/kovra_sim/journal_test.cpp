#include <cstdlib>

#include "sim_test.h"

namespace {

class Journal : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        kovra_sim_journal_enable(1);
    }
};

TEST_F(Journal, OpeningLinesNumberHandlesInOrder) {
    kovra_sim_reset();
    kovra_sim_journal_enable(1);
    void* log = nullptr;
    void* ipc = nullptr;
    kovra_initiator* broker = nullptr;
    ASSERT_EQ(kovra_core_init(), 0);
    ASSERT_EQ(kovra_core_logging_init("soak", &log), 0);
    ASSERT_EQ(kovra_core_ipc_initiator_init(log, nullptr, &ipc), 0);
    ASSERT_EQ(kovra_api_broker_initiator_init(ipc, log, &broker, 1, 0), 0);
    ASSERT_EQ(kovra_api_broker_initiator_deinit(broker), 0);
    EXPECT_EQ(journal(), (std::vector<std::string>{
                             "kovra_core_init() = 0",
                             "kovra_core_logging_init(\"soak\", &#1) = 0",
                             "kovra_core_ipc_initiator_init(#1, null, &#2) = 0",
                             "kovra_api_broker_initiator_init(#2, #1, &#3, 1, 0) = 0",
                             "kovra_api_broker_initiator_deinit(#3) = 0",
                         }));
}

TEST_F(Journal, RequestsShowSentValuesAndOutValues) {
    kovra_initiator* exposure = nullptr;
    OPEN(exposure, exposure);
    ASSERT_EQ(kovra_sim_setting_set("exposure.frame_rate", "10,20,30"), 0);
    uint32_t a = 0, b = 0, c = 0;
    ASSERT_EQ(kovra_api_exposure_get_frame_rate_send(exposure, "0", &a, &b, &c), 0);
    ASSERT_EQ(kovra_api_exposure_set_frame_rate_send(exposure, "0", 25), 0);
    ASSERT_EQ(kovra_api_exposure_get_frame_rate_send(exposure, "0", &a, &b, &c), 0);
    EXPECT_EQ(kovra_api_exposure_get_frame_rate_send(exposure, "1", &a, &b, &c),
              KOVRA_SIM_STATUS_UNKNOWN_TARGET);
    EXPECT_EQ(kovra_api_exposure_get_frame_rate_send(exposure, "0", &a, nullptr, &c),
              KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(journal(), (std::vector<std::string>{
                             "kovra_api_exposure_initiator_init(#2, #1, &#3, 0, 0) = 0",
                             "kovra_api_exposure_get_frame_rate_send(#3, \"0\", &10, &20, &30) = 0",
                             "kovra_api_exposure_set_frame_rate_send(#3, \"0\", 25) = 0",
                             "kovra_api_exposure_get_frame_rate_send(#3, \"0\", &25, &20, &30) = 0",
                             "kovra_api_exposure_get_frame_rate_send(#3, \"1\", &?, &?, &?) = -3",
                             "kovra_api_exposure_get_frame_rate_send(#3, \"0\", &?, null, &?) = -2",
                         }));
}

TEST_F(Journal, TextsAndArraysAndTheirRelease) {
    kovra_initiator *info, *log;
    OPEN(device_information, info);
    OPEN(log, log);
    kovra_sim_journal_clear();
    char* name = nullptr;
    ASSERT_EQ(kovra_api_device_information_set_friendly_name_send(info, "device_information",
                                                                  "Gate \"North\""),
              0);
    ASSERT_EQ(
        kovra_api_device_information_get_friendly_name_send(info, "device_information", &name), 0);
    EXPECT_STREQ(name, "Gate \"North\"");
    std::free(name);
    kovra_string_array* first = nullptr;
    kovra_string_array* second = nullptr;
    ASSERT_EQ(kovra_api_log_get_tags_send(log, "log", &first), 0);
    ASSERT_EQ(kovra_api_log_get_tags_send(log, "log", &second), 0);
    ASSERT_EQ(kovra_core_free_string_array(second), 0);
    ASSERT_EQ(kovra_core_free_bool_array(nullptr), 0);
    EXPECT_EQ(kovra_core_free_string_array(second), KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 1u);
    kovra_sim_journal_enable(0);
    EXPECT_EQ(kovra_core_free_string_array(first), 0);
    EXPECT_EQ(journal(),
              (std::vector<std::string>{
                  "kovra_api_device_information_set_friendly_name_send(#3, \"device_information\", "
                  "\"Gate \\\"North\\\"\") = 0",
                  "kovra_api_device_information_get_friendly_name_send(#3, \"device_information\", "
                  "&\"Gate \\\"North\\\"\") = 0",
                  "kovra_api_log_get_tags_send(#4, \"log\", &[#1]) = 0",
                  "kovra_api_log_get_tags_send(#4, \"log\", &[#2]) = 0",
                  "kovra_core_free_string_array([#2]) = 0",
                  "kovra_core_free_bool_array(null) = 0",
                  "kovra_core_free_string_array([#?]) = -1",
              }));
}

TEST_F(Journal, LoggingLinesCarryTheFormattedMessage) {
    ASSERT_EQ(kovra_core_logging_log(log_, 3, "ERROR: disk %d of %s full", 7, "sda"), 0);
    ASSERT_EQ(kovra_core_logging_log(log_, 99, "%s", std::string(600, 'x').c_str()), 0);
    EXPECT_EQ(kovra_core_logging_log(ipc_, 3, "lost %d", 1), KOVRA_SIM_STATUS_BAD_HANDLE);
    auto const lines = journal();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "kovra_core_logging_log(#1, 3, \"ERROR: disk 7 of sda full\") = 0");
    EXPECT_EQ(lines[1], "kovra_core_logging_log(#1, 99, \"" + std::string(600, 'x') + "\") = 0");
    EXPECT_EQ(lines[2], "kovra_core_logging_log(#2, 3, \"lost %d\") = -1");
}

TEST_F(Journal, RealsReadBackExactly) {
    kovra_initiator* pos = nullptr;
    OPEN(positioning, pos);
    kovra_sim_journal_clear();
    ASSERT_EQ(kovra_api_positioning_move_to_position_with_speed_percentage_send(
                  pos, "0", 1, -10, 1.0, 2, 20, 0.1, 3, 30, 0.1 + 0.2, 0),
              0);
    EXPECT_EQ(
        journal().at(0),
        "kovra_api_positioning_move_to_position_with_speed_percentage_send(#3, \"0\", 1, -10, "
        "1, 2, 20, 0.1, 3, 30, 0.30000000000000004, 0) = 0");
    EXPECT_EQ(setting("positioning.position"), "-10,20,30");
}

TEST_F(Journal, EventHandlersAndFaultsAreJournalled) {
    kovra_initiator* broker = nullptr;
    ASSERT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &broker, 1, 0), 0);
    kovra_broker_new_target_handler handler = [](char const*, char const*, uint8_t, char const*,
                                                 void*) {};
    ASSERT_EQ(kovra_api_broker_new_target_register_event_handler(broker, handler, nullptr), 0);
    ASSERT_EQ(kovra_sim_fail_always("kovra_api_broker_new_target_unregister_event_handler", -30),
              0);
    EXPECT_EQ(kovra_api_broker_new_target_unregister_event_handler(broker, handler), -30);
    auto const lines = journal();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "kovra_api_broker_new_target_register_event_handler(#3, ptr, null) = 0");
    EXPECT_EQ(lines[2], "kovra_api_broker_new_target_unregister_event_handler(#3, ptr) = -30");
}

TEST_F(Journal, OffMeansNothingIsRecorded) {
    kovra_sim_journal_enable(0);
    kovra_initiator* led = nullptr;
    OPEN(led, led);
    uint8_t state = 0;
    ASSERT_EQ(kovra_api_led_get_state_send(led, "led", &state), 0);
    EXPECT_EQ(kovra_sim_journal_size(), 0u);
    kovra_sim_journal_enable(1);
    ASSERT_EQ(kovra_api_led_get_state_send(led, "led", &state), 0);
    EXPECT_EQ(kovra_sim_journal_size(), 1u);
}

TEST_F(Journal, EntriesAreCutToTheBufferAndMeasuredInFull) {
    ASSERT_EQ(kovra_core_init(), 0);
    char small[8];
    EXPECT_EQ(kovra_sim_journal_entry(0, small, sizeof small), 21u);
    EXPECT_STREQ(small, "kovra_c");
    EXPECT_EQ(kovra_sim_journal_entry(5, small, sizeof small), 0u);
    EXPECT_STREQ(small, "");
}

}  // namespace
