#include <chrono>

#include "sim_test.h"

namespace {

class Configure : public SimTest {};

TEST_F(Configure, AcceptsWellFormedDirectives) {
    for (char const* d : {
             "",
             ";;",
             "fail=kovra_core_init",
             "fail=kovra_core_init@1",
             "fail=kovra_api_led_get_state_send@3:-100",
             "fail=kovra_core_deinit:7",
             " latency=0 ; latency=10000000 ",
             "set=led.state=7",
             "set=log.settings[KOVRA_IPC]=debug,notset,a b",
             "set=img_param.stream_dim[1,0]=640,480",
             "set=broker.targets=,,",
             "restart=exposure*1/1",
             "restart=log:log*3/100;restart=exposure:0*2/5",
             "journal=/tmp/j.txt;state=/tmp/s.txt",
         }) {
        kovra_sim_reset();
        EXPECT_EQ(kovra_sim_configure(d), 0) << d;
    }
}

TEST_F(Configure, RefusesMalformedDirectives) {
    for (char const* d : {
             "bogus=1",
             "fail",
             "fail=",
             "fail=kovra_core_nope",
             "fail=kovra_core_init@0",
             "fail=kovra_core_init@x",
             "fail=kovra_core_init:0",
             "fail=kovra_core_init:2147483648",
             "fail=kovra_core_init:-",
             "set=led.state",
             "set=led.state=",
             "set=led.state=300",
             "set=led.nope=1",
             "set=img_param.stream_dim=1,2",
             "restart=exposure",
             "restart=exposure*0/1",
             "restart=exposure*1/0",
             "restart=exposure:1*1/1",
             "restart=camera*1/1",
             "restart=exposure*1",
             "latency=-1",
             "latency=10000001",
             "latency=1ms",
             "journal=",
             "latency=5;fail=nope",
         }) {
        EXPECT_EQ(kovra_sim_configure(d), KOVRA_SIM_STATUS_BAD_CONFIG) << d;
    }
    EXPECT_EQ(kovra_sim_configure(nullptr), KOVRA_SIM_STATUS_BAD_CONFIG);
}

TEST_F(Configure, ARefusedListAppliesNothing) {
    std::string const before = snapshot();
    EXPECT_EQ(kovra_sim_configure("set=led.state=7;fail=kovra_core_init;journal=/tmp/x;nope=1"),
              KOVRA_SIM_STATUS_BAD_CONFIG);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(kovra_core_init(), 0);
    EXPECT_EQ(kovra_sim_journal_size(), 0u);
}

TEST_F(Configure, DirectivesTakeEffect) {
    ASSERT_EQ(kovra_sim_configure("set=led.state=7;fail=kovra_api_led_set_state_send@2:-33"), 0);
    kovra_initiator* led = nullptr;
    OPEN(led, led);
    uint8_t state = 0;
    ASSERT_EQ(kovra_api_led_get_state_send(led, "led", &state), 0);
    EXPECT_EQ(state, 7);
    EXPECT_EQ(kovra_api_led_set_state_send(led, "led", 1), 0);
    EXPECT_EQ(kovra_api_led_set_state_send(led, "led", 2), -33);
    EXPECT_EQ(setting("led.state"), "1");
}

TEST_F(Configure, LatencyDelaysEveryRequest) {
    ASSERT_EQ(kovra_sim_configure("latency=100000"), 0);
    kovra_initiator* led = nullptr;
    OPEN(led, led);
    uint8_t state = 0;
    auto const start = std::chrono::steady_clock::now();
    ASSERT_EQ(kovra_api_led_get_state_send(led, "led", &state), 0);
    ASSERT_EQ(kovra_api_led_set_state_send(led, "led", 3), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    kovra_sim_reset();
    ASSERT_EQ(kovra_core_logging_init("t", &log_), 0);
    ASSERT_EQ(kovra_core_ipc_initiator_init(log_, nullptr, &ipc_), 0);
    OPEN(led, led);
    auto const quick = std::chrono::steady_clock::now();
    ASSERT_EQ(kovra_api_led_get_state_send(led, "led", &state), 0);
    // Less than one delay, with room for a loaded or emulated machine.
    EXPECT_LT(std::chrono::steady_clock::now() - quick, std::chrono::milliseconds(100));
}

TEST_F(Configure, JournalDirectiveTurnsTheJournalOn) {
    ASSERT_EQ(kovra_sim_configure("journal=/dev/null"), 0);
    EXPECT_EQ(kovra_core_init(), 0);
    EXPECT_EQ(journal(), std::vector<std::string>{"kovra_core_init() = 0"});
}

}  // namespace
