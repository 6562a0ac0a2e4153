// A camera replayed from a statistics file with profile=.
#include "camera/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <thread>

#include "camera/config.h"
#include "camera/simulation.h"
#include "observe/stats.h"
#include "support/TempDirTest.h"

namespace kovra_sim {
namespace {

int const kRecorded = fn_kovra_api_led_get_state_send;

struct NoValues final : Exchange {
    void read(int, Value&) override {}
    void write(int, Value const&) override {}
};

class Replay : public TempDirTest {
protected:
    Replay() : TempDirTest("profile_test") {}

    // 1000 LED reads, 30% failing with -5, taking 500 us (30%), 2 ms (40%) or
    // 8 ms; and a start-up call, which no camera serves.
    std::string recording() {
        Stats stats;
        stats.start();
        for (int i = 0; i < 1000; ++i) {
            stats.record(kRecorded, i % 10 < 3 ? -5 : 0,
                         std::chrono::microseconds(i % 10 < 3   ? 500
                                                   : i % 10 < 7 ? 2000
                                                                : 8000));
        }
        stats.record(fn_kovra_core_init, 0, std::chrono::microseconds(1));
        recorded = stats.report();
        return file("recorded.json", to_json(recorded).dump());
    }
    bool parse(std::string const& text) {
        return parse_config(text, Place::sim, settings, config, error);
    }

    Report recorded;
    Settings settings;
    Config config;
    std::string error;
};

// The reader's refusals (stats_files_test's) come through whole, as do profile='s
// own; a file is read up to its bound and no further, of either kind.
TEST_F(Replay, AFileThatIsNoRecordingRefusesTheWholeList) {
    recording();
    std::string const whole = to_json(recorded).dump();
    recorded.interval = 0;
    std::string const interval = to_json(recorded).dump();
    // A timeline of lines of 1 MiB: the last past the bound where it passes it.
    std::string const mib = interval + std::string((1 << 20) - interval.size() - 1, ' ') + "\n";
    std::string timeline;
    while (timeline.size() < Profile::kMaxBytes) timeline += mib;
    std::string const led = "{\"functions\": {\"kovra_api_led_get_state_send\": {\"calls\": 2, ";
    std::string const ok = "\"statuses\": {\"0\": 2}, ";
    std::string const big = "larger than 16 MiB, the most a profile may hold";
    // Each file's text, and why it is refused; "" if it is read.
    std::pair<std::string, std::string> const cases[] = {
        {"", "No such file or directory"},
        {"not\nJSON", "not valid JSON near byte 2"},
        {"{\"functions\": {\"kovra_core_init\": {\"calls\": 1, \"statuses\": {\"0\": 1}, "
         "\"buckets\": [[3, 1]]}}}",
         "no request recorded"},
        {led + "\"statuses\": {\"0\": 1}}}}", "the statuses do not add up to the calls"},
        {led + ok + "\"buckets\": [[5, 3], [9, -1]]}}}", "bucket 1: no count within the calls"},
        {led + ok + "\"buckets\": [[5, 2], [9, -1]]}}}", "bucket 2: no count within the calls"},
        {led + ok + "\"buckets\": [[9, 1], [5, 1]]}}}",
         "bucket 2: its edge is below the one before"},
        {led + ok + "\"buckets\": [[5, 1]]}}}", "the buckets do not add up to the calls"},
        // Edges are written to 1 ns: the lowest bins' may be one.
        {led + ok + "\"buckets\": [[0.011, 1], [0.011, 1]]}}}", ""},
        {interval + "\n" + interval, ""},  // a timeline, read as its intervals merged
        {whole + std::string(Profile::kMaxBytes - whole.size(), ' '), ""},
        {whole + std::string(Profile::kMaxBytes + 1 - whole.size(), ' '), big},
        {timeline, ""},
        {timeline + "\n", big},
    };
    int n = 0;
    for (auto const& [text, reason] : cases) {
        std::string const path = dir + "/" + std::to_string(++n);
        if (!text.empty()) file(std::to_string(n), text);
        EXPECT_EQ(parse("latency=1;profile=" + path), reason.empty()) << n << ": " << error;
        std::string const function =
            text.rfind(led, 0) == 0 ? "kovra_api_led_get_state_send: " : "";
        if (!reason.empty()) {
            EXPECT_EQ(error, "\"profile=" + path + "\": " + path + ": " + function + reason);
        }
    }
    EXPECT_FALSE(parse("profile=" + dir));
    EXPECT_EQ(error, "\"profile=" + dir + "\": " + dir + ": not a regular file");
}

// Within four standard deviations and the recorded bins; another seed draws otherwise.
TEST_F(Replay, DrawsFollowTheRecordingAndTheSeed) {
    ASSERT_TRUE(parse("profile=" + recording())) << error;
    Profile const& profile = *config.profile;
    int const n = 20000;
    auto const draws = [&](uint32_t seed) {
        std::pair<std::vector<int32_t>, std::vector<double>> out;
        for (int i = 0; i < n; ++i) {
            Profile::Draw const d = profile.draw(kRecorded, seed, uint64_t(i));
            out.first.push_back(d.status);
            out.second.push_back(double(d.delay.count()));
        }
        return out;
    };
    auto [statuses, delays] = draws(7);
    EXPECT_NEAR(std::count(statuses.begin(), statuses.end(), -5), 0.3 * n,
                4 * std::sqrt(n * 0.3 * 0.7));
    std::sort(delays.begin(), delays.end());
    double const p50 = recorded.functions.at(kRecorded).quantile(0.5);
    EXPECT_LE(delays[n / 2], p50);
    EXPECT_GT(delays[n / 2], p50 / std::pow(10.0, 1.0 / 40)) << "within the recorded bin";
    // The 8 ms calls were the longest: their bucket is named by 8000 us, in
    // the bin from 10^(156/40) = 7943.3 us, which the draws fill up to 8000.
    EXPECT_EQ(delays.back(), 8000);
    EXPECT_GE(*std::upper_bound(delays.begin(), delays.end(), 4000), 7943);
    EXPECT_LT(*std::upper_bound(delays.begin(), delays.end(), 4000), 8000) << "not on its edge";
    EXPECT_EQ(draws(7), draws(7));
    EXPECT_NE(draws(7), draws(8));
}

// Applied and dropped while requests are served, as a POST may: no race,
// and a profile no longer in use is not kept.
TEST_F(Replay, AProfileCanChangeWhileRequestsAreServed) {
    ASSERT_TRUE(parse("profile=" + recording())) << error;
    Camera camera;
    std::atomic<bool> done{false};
    std::vector<std::thread> servers;
    for (int t = 0; t < 4; ++t) {
        servers.emplace_back([&] {
            NoValues values;
            while (!done) camera.serve(kRecorded, "led", values);
        });
    }
    for (int i = 0; i < 200; ++i) {
        camera.set_profile(config.profile);
        camera.reset();
    }
    done = true;
    for (auto& t : servers) t.join();
    EXPECT_EQ(config.profile.use_count(), 1) << "a reset lets go of it";
    camera.set_profile(config.profile);
    camera.set_profile(std::make_shared<Profile const>(*config.profile));
    EXPECT_EQ(config.profile.use_count(), 1) << "and so does a replacement";
}

}  // namespace
}  // namespace kovra_sim
