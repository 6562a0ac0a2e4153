#include "sim_test.h"

namespace {

class Status : public SimTest {};

constexpr uint8_t kUntouched = 0xee;

TEST_F(Status, HandlesThatAreNotLiveInitiatorsOfTheServiceAreBad) {
    kovra_initiator* exposure = nullptr;
    kovra_initiator* led = nullptr;
    kovra_initiator* released = nullptr;
    OPEN(exposure, exposure);
    OPEN(led, led);
    OPEN(exposure, released);
    ASSERT_EQ(kovra_api_exposure_initiator_deinit(released), 0);
    int foreign = 0;
    struct Case {
        char const* what;
        kovra_initiator* handle;
    } const cases[] = {
        {"null", nullptr},
        {"released", released},
        {"other service", led},
        {"log handle", static_cast<kovra_initiator*>(log_)},
        {"foreign pointer", reinterpret_cast<kovra_initiator*>(&foreign)},
    };
    for (Case const& c : cases) {
        uint8_t value = kUntouched;
        EXPECT_EQ(kovra_api_exposure_get_manual_mode_enable_send(c.handle, "0", &value),
                  KOVRA_SIM_STATUS_BAD_HANDLE)
            << c.what;
        EXPECT_EQ(value, kUntouched) << c.what;
    }
    uint8_t value = kUntouched;
    EXPECT_EQ(kovra_api_exposure_get_manual_mode_enable_send(exposure, "0", &value), 0);
    EXPECT_NE(value, kUntouched);
    EXPECT_EQ(kovra_api_exposure_initiator_deinit(released), KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_api_led_initiator_deinit(exposure), KOVRA_SIM_STATUS_BAD_HANDLE);
}

TEST_F(Status, NullPointersAreRefused) {
    kovra_initiator* log = nullptr;
    OPEN(log, log);
    uint32_t a = 0, b = 0;
    EXPECT_EQ(kovra_api_log_get_settings_core_send(log, "log", "KOVRA_IPC", &a, nullptr, &b),
              KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(kovra_api_log_get_settings_core_send(log, "log", nullptr, &a, &a, &b),
              KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(kovra_api_log_get_settings_core_send(log, nullptr, "KOVRA_IPC", &a, &a, &b),
              KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(kovra_api_log_set_settings_send(log, "log", "KOVRA_IPC", "info", nullptr, "x"),
              KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(a, 0u);
    void* handle = nullptr;
    EXPECT_EQ(kovra_core_logging_init(nullptr, &handle), KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(kovra_core_logging_init("x", nullptr), KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(kovra_core_ipc_initiator_init(log_, nullptr, nullptr), KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(kovra_api_led_initiator_init(ipc_, log_, nullptr, 0, 0),
              KOVRA_SIM_STATUS_NULL_POINTER);
    EXPECT_EQ(kovra_core_logging_log(log_, 3, nullptr), KOVRA_SIM_STATUS_NULL_POINTER);
}

TEST_F(Status, EachServiceAnswersOnlyItsOwnTarget) {
    kovra_initiator *alarm, *audio, *led, *img;
    OPEN(alarm, alarm);
    OPEN(audio_param, audio);
    OPEN(led, led);
    OPEN(img_param, img);
    uint32_t u = 0;
    uint8_t b = 0;
    EXPECT_EQ(kovra_api_alarm_get_state_send(alarm, "0", &u), 0);
    EXPECT_EQ(kovra_api_alarm_get_state_send(alarm, "alarm", &u), KOVRA_SIM_STATUS_UNKNOWN_TARGET);
    EXPECT_EQ(kovra_api_audio_param_get_audio_rate_send(audio, "audio_param", 0, 1, &u), 0);
    EXPECT_EQ(kovra_api_audio_param_get_audio_rate_send(audio, "0", 0, 1, &u),
              KOVRA_SIM_STATUS_UNKNOWN_TARGET);
    EXPECT_EQ(kovra_api_led_get_state_send(led, "led", &b), 0);
    EXPECT_EQ(kovra_api_led_get_state_send(led, "LED", &b), KOVRA_SIM_STATUS_UNKNOWN_TARGET);
    EXPECT_EQ(kovra_api_img_param_get_pipeline_type_send(img, "img_param", 1, &u), 0);
}

TEST_F(Status, InstancesOutsideTheCamerasAreUnknown) {
    kovra_initiator *img, *log;
    OPEN(img_param, img);
    OPEN(log, log);
    uint32_t w = 7, h = 7;
    EXPECT_EQ(kovra_api_img_param_get_stream_dim_send(img, "img_param", 1, 1, &w, &h), 0);
    w = h = 7;
    EXPECT_EQ(kovra_api_img_param_get_stream_dim_send(img, "img_param", 2, 0, &w, &h),
              KOVRA_SIM_STATUS_UNKNOWN_TARGET);
    EXPECT_EQ(kovra_api_img_param_get_stream_dim_send(img, "img_param", 0, -1, &w, &h),
              KOVRA_SIM_STATUS_UNKNOWN_TARGET);
    EXPECT_EQ(w, 7u);
    char* level = nullptr;
    char* a = nullptr;
    char* b = nullptr;
    EXPECT_EQ(kovra_api_log_get_settings_send(log, "log", "KOVRA_NOPE", &level, &a, &b),
              KOVRA_SIM_STATUS_UNKNOWN_TARGET);
    EXPECT_EQ(level, nullptr);
    EXPECT_EQ(kovra_api_log_set_settings_send(log, "log", "KOVRA_NOPE", "a", "b", "c"),
              KOVRA_SIM_STATUS_UNKNOWN_TARGET);
    EXPECT_EQ(setting("log.settings[KOVRA_NOPE]"), "");
}

TEST_F(Status, OnlyTheEmbeddedCameraIsConnected) {
    void* ipc = nullptr;
    EXPECT_EQ(kovra_core_ipc_initiator_init(log_, "tcp://127.0.0.1", &ipc),
              KOVRA_SIM_STATUS_NOT_CONNECTED);
    EXPECT_EQ(ipc, nullptr);

    kovra_initiator* led = nullptr;
    OPEN(led, led);
    ASSERT_EQ(kovra_core_ipc_deinit(ipc_), 0);
    uint8_t state = 0;
    EXPECT_EQ(kovra_api_led_get_state_send(led, "led", &state), KOVRA_SIM_STATUS_NOT_CONNECTED);
    EXPECT_EQ(kovra_api_led_initiator_init(ipc_, log_, &led, 0, 0), KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_core_ipc_deinit(ipc_), KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_api_led_initiator_deinit(led), 0);
}

TEST_F(Status, InitiatorArgumentsOutOfRangeAreRefused) {
    kovra_initiator* i = nullptr;
    EXPECT_EQ(kovra_api_led_initiator_init(ipc_, log_, &i, 1, 0), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &i, 2, 0), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &i, 1, 5), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_api_led_initiator_init(ipc_, ipc_, &i, 0, 0), KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(i, nullptr);
    EXPECT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &i, 1, 0), 0);
}

TEST_F(Status, AlwaysFaultReturnsItsStatusAndDoesNothingElse) {
    kovra_initiator* exposure = nullptr;
    OPEN(exposure, exposure);
    char const* fn = "kovra_api_exposure_get_frame_rate_send";
    ASSERT_EQ(kovra_sim_fail_always(fn, -42), 0);
    uint32_t a = 1, b = 2, c = 3;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kovra_api_exposure_get_frame_rate_send(exposure, "0", &a, &b, &c), -42);
    }
    EXPECT_EQ(a + b + c, 6u);
    // A fault on one function leaves the others alone.
    EXPECT_EQ(kovra_api_exposure_set_frame_rate_send(exposure, "0", 5), 0);
    kovra_sim_clear_faults();
    EXPECT_EQ(kovra_api_exposure_get_frame_rate_send(exposure, "0", &a, &b, &c), 0);
    EXPECT_EQ(a, 5u);
    EXPECT_EQ(kovra_sim_call_count(fn), 4u);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_exposure_set_frame_rate_send"), 1u);
}

TEST_F(Status, NthFaultFiresOnThatCallOnly) {
    ASSERT_EQ(kovra_sim_fail_nth("kovra_core_ipc_initiator_init", 3, KOVRA_SIM_STATUS_INJECTED), 0);
    // The fixture made the first call.
    std::vector<int32_t> statuses;
    for (int i = 0; i < 3; ++i) {
        void* ipc = nullptr;
        statuses.push_back(kovra_core_ipc_initiator_init(log_, nullptr, &ipc));
        EXPECT_EQ(ipc == nullptr, statuses.back() != 0);
    }
    EXPECT_EQ(statuses, (std::vector<int32_t>{0, KOVRA_SIM_STATUS_INJECTED, 0}));
    EXPECT_EQ(kovra_sim_call_count("kovra_core_ipc_initiator_init"), 4u);
}

TEST_F(Status, FaultsOnSeveralCallsAddUpAndWinOverAlways) {
    kovra_initiator* led = nullptr;
    OPEN(led, led);
    char const* fn = "kovra_api_led_set_state_send";
    ASSERT_EQ(kovra_sim_configure("fail=kovra_api_led_set_state_send@2:-20"), 0);
    ASSERT_EQ(kovra_sim_fail_nth(fn, 4, -40), 0);
    std::vector<int32_t> statuses;
    for (int i = 0; i < 5; ++i) statuses.push_back(kovra_api_led_set_state_send(led, "led", 1));
    EXPECT_EQ(statuses, (std::vector<int32_t>{0, -20, 0, -40, 0}));
    ASSERT_EQ(kovra_sim_fail_always(fn, -1), 0);
    ASSERT_EQ(kovra_sim_fail_nth(fn, 7, -70), 0);
    EXPECT_EQ(kovra_api_led_set_state_send(led, "led", 1), -1);
    EXPECT_EQ(kovra_api_led_set_state_send(led, "led", 1), -70);
}

TEST_F(Status, FaultsReachEveryKindOfFunction) {
    kovra_initiator* broker = nullptr;
    ASSERT_EQ(kovra_api_broker_initiator_init(ipc_, log_, &broker, 1, 0), 0);
    kovra_string_array* words = nullptr;
    kovra_string_array* names = nullptr;
    kovra_bool_array* up = nullptr;
    ASSERT_EQ(kovra_api_broker_get_targets_send(broker, "broker", "", &words, &names, &up), 0);
    for (char const* fn : {"kovra_core_init", "kovra_core_deinit", "kovra_core_logging_log",
                           "kovra_core_free_string_array", "kovra_api_broker_initiator_deinit",
                           "kovra_api_broker_enable_tcp_send",
                           "kovra_api_broker_new_target_register_event_handler"}) {
        ASSERT_EQ(kovra_sim_fail_always(fn, -9), 0) << fn;
    }
    EXPECT_EQ(kovra_core_init(), -9);
    EXPECT_EQ(kovra_core_deinit(), -9);
    EXPECT_EQ(kovra_core_logging_log(log_, 3, "x"), -9);
    EXPECT_EQ(kovra_core_free_string_array(words), -9);
    EXPECT_EQ(kovra_api_broker_enable_tcp_send(broker, "broker"), -9);
    EXPECT_EQ(kovra_api_broker_new_target_register_event_handler(
                  broker, [](char const*, char const*, uint8_t, char const*, void*) {}, nullptr),
              -9);
    EXPECT_EQ(kovra_api_broker_initiator_deinit(broker), -9);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 3u);
    kovra_sim_clear_faults();
    EXPECT_EQ(kovra_core_free_string_array(words), 0);
    EXPECT_EQ(kovra_core_free_string_array(names), 0);
    EXPECT_EQ(kovra_core_free_bool_array(up), 0);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 0u);
    EXPECT_EQ(kovra_sim_call_count("kovra_core_free_string_array"), 3u);
}

TEST_F(Status, ArraysAreReleasedOnce) {
    kovra_initiator* log = nullptr;
    OPEN(log, log);
    kovra_string_array* tags = nullptr;
    ASSERT_EQ(kovra_api_log_get_tags_send(log, "log", &tags), 0);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 1u);
    EXPECT_EQ(kovra_core_free_bool_array(reinterpret_cast<kovra_bool_array*>(&log)),
              KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_core_free_string_array(tags), 0);
    EXPECT_EQ(kovra_core_free_string_array(tags), KOVRA_SIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(kovra_core_free_string_array(nullptr), 0);
    EXPECT_EQ(kovra_sim_outstanding_arrays(), 0u);
}

TEST_F(Status, ControlsRefuseBadArguments) {
    EXPECT_EQ(kovra_sim_fail_always("kovra_api_nope_send", -5), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_sim_fail_always(nullptr, -5), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_sim_fail_always("kovra_core_init", 0), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_sim_call_count("kovra_api_nope_send"), 0u);
    EXPECT_EQ(kovra_sim_restart_target("exposure:1"), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_sim_restart_target("camera"), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_sim_setting_set("led.state", nullptr), KOVRA_SIM_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(kovra_core_init(), 0);
}

}  // namespace
