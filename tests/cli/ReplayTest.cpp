// A soak against profile= of a recording, in-process and through kovra-camd,
// is answered as the recorded camera did.
#include <gmock/gmock.h>

#include <cmath>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

// The latency histogram's bin (40 a decade) that holds `us`.
int bin(double us) { return int(std::ceil(40 * std::log10(us) - 1e-3)); }

uint64_t count(kovra_sim::FunctionStats const& f, int32_t status) {
    return f.statuses.count(status) ? f.statuses.at(status) : 0;
}

// Recorded by a daemon: every request takes 50119 us (just above a bin's lower
// edge) plus the daemon's own work; every LED read fails, and every other alarm
// read with -7. Replayed, kovra-camd's p50 is in the recorded bin (or the next,
// for its own work), in-process calls take at least as long, and the failures
// recur within sampling error, alike in both: the n-th call gets the same draw.
using ReplayTest = SoakRun;

TEST_F(ReplayTest, AReplayedCameraAnswersAsTheRecordedOne) {
    std::string const args = "-t 64 -c 16 -s 5";
    int const alarm = kovra_sim::fn_kovra_api_alarm_get_configuration_send;
    std::string faults = "latency=50119;fail=kovra_api_led_get_state_send";
    for (int n = 1; n < 400; n += 2)
        faults += ";fail=kovra_api_alarm_get_configuration_send@" + std::to_string(n) + ":-7";
    std::string const profile = "seed=3;profile=" + dir + "/recorded.json";
    for (auto const& [sim, file] : {std::pair{faults, "/recorded.json"}, {profile, "/camd.json"}}) {
        Daemon daemon({"--sim", sim, "--stats", dir + file});
        ASSERT_EQ(soak(args + " -u " + daemon.url()), 0) << err;
        ASSERT_EQ(daemon.stop(SIGTERM), 0) << daemon.log();
    }
    ASSERT_EQ(soak(args, profile + ";stats=" + dir + "/local.json"), 0) << err;
    kovra_sim::Report const recorded = stats("recorded.json"), local = stats("local.json"),
                            camd = stats("camd.json");
    int compared = 0;
    for (auto const& [id, f] : recorded.functions) {
        if (!kovra_sim::is_request(id) || f.failures() > 0) continue;
        int const p50 = bin(f.quantile(0.5));
        EXPECT_NEAR(bin(camd.functions.at(id).quantile(0.5)), p50 + 0.5, 0.5)
            << kovra_sim::function_info(id).name << " in kovra-camd";
        EXPECT_GE(bin(local.functions.at(id).quantile(0.5)), p50)
            << kovra_sim::function_info(id).name << " in-process";
        ++compared;
    }
    EXPECT_GT(compared, 50);
    kovra_sim::FunctionStats const& led =
        local.functions.at(kovra_sim::fn_kovra_api_led_get_state_send);
    EXPECT_EQ(count(led, -5), led.calls);
    double const calls = double(recorded.functions.at(alarm).calls);
    double const failed = double(count(recorded.functions.at(alarm), -7));
    ASSERT_GT(failed, 10);
    double const p = failed / calls;
    EXPECT_NEAR(double(count(local.functions.at(alarm), -7)), failed,
                4 * std::sqrt(calls * p * (1 - p)));
    EXPECT_EQ(count(camd.functions.at(alarm), -7), count(local.functions.at(alarm), -7))
        << "drawn alike";
}

}  // namespace
