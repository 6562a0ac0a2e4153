// A camera replayed: a soak recorded against a camera with known latency
// and faults, then soaked again against profile= of that recording,
// in-process and through kovra-camd, answers as the recorded camera did.
#include <gmock/gmock.h>

#include <cmath>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

// The latency histogram's bin (40 a decade) that holds `us`.
int bin(double us) { return int(std::ceil(40 * std::log10(us) - 1e-3)); }

bool is_request(std::string const& name) { return name.find("_send") != std::string::npos; }

uint64_t count(nlohmann::json const& f, char const* status) {
    return f.at("statuses").value(status, uint64_t{0});
}

// Recorded: every request takes 50119 us (just above a bin's lower edge, so
// that a sleep's overshoot of up to 3 ms stays in the bin), every LED read
// fails, and every other alarm configuration read fails with -7. The
// replays must put each function's p50 within a bin of the recorded one,
// fail the LED reads every time and the alarm reads as often within
// sampling error (and as often in-process as through the daemon: the n-th
// call gets the same draw).
class ReplayTest : public SoakRun {};

TEST_F(ReplayTest, AReplayedCameraAnswersAsTheRecordedOne) {
    std::string const args = "-t 64 -c 16 -s 5";
    std::string const alarm = "kovra_api_alarm_get_configuration_send";
    std::string faults = "latency=50119;fail=kovra_api_led_get_state_send";
    for (int n = 1; n < 400; n += 2) faults += ";fail=" + alarm + "@" + std::to_string(n) + ":-7";
    ASSERT_EQ(soak(args, faults + ";stats=" + dir + "/recorded.json"), 0) << err;
    std::string const profile = "seed=3;profile=" + dir + "/recorded.json";
    ASSERT_EQ(soak(args, profile + ";stats=" + dir + "/local.json"), 0) << err;
    {
        Daemon daemon({"--sim", profile, "--stats", dir + "/camd.json"});
        ASSERT_EQ(soak(args + " -u " + daemon.url()), 0) << err;
        ASSERT_EQ(daemon.stop(SIGTERM), 0) << daemon.log();
    }
    nlohmann::json const recorded = stats("recorded.json").at("functions");
    nlohmann::json const local = stats("local.json").at("functions");
    nlohmann::json const camd = stats("camd.json").at("functions");
    int compared = 0;
    for (auto const& [name, f] : recorded.items()) {
        if (!is_request(name) || count(f, "0") != f.at("calls")) continue;
        int const p50 = bin(f.at("p50_us"));
        EXPECT_NEAR(bin(local.at(name).at("p50_us")), p50, 1) << name << " in-process";
        EXPECT_NEAR(bin(camd.at(name).at("p50_us")), p50, 1) << name << " in kovra-camd";
        ++compared;
    }
    EXPECT_GT(compared, 50);
    nlohmann::json const& led = local.at("kovra_api_led_get_state_send");
    EXPECT_EQ(count(led, "-5"), led.at("calls"));
    double const calls = recorded.at(alarm).at("calls"), failed = count(recorded.at(alarm), "-7");
    ASSERT_GT(failed, 10);
    double const p = failed / calls;
    EXPECT_NEAR(count(local.at(alarm), "-7"), failed, 4 * std::sqrt(calls * p * (1 - p)));
    EXPECT_EQ(count(camd.at(alarm), "-7"), count(local.at(alarm), "-7")) << "drawn alike";
}

}  // namespace
