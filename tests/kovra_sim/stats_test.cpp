// The latency statistics: counts by function and status, and percentiles
// read from the right bucket of the histogram (never more than 6% above
// the true value, never below it).
#include "stats.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kovra_sim {
namespace {

TEST(StatsTest, PercentilesAreWithinTheHistogramsPrecisionOfTheTruth) {
    Stats stats;
    stats.start();
    // 1 to 1000 us, one call each, every tenth failing; one call that is no request.
    for (int us = 1; us <= 1000; ++us) {
        stats.record(fn_kovra_api_led_get_state_send, us % 10 ? 0 : -5,
                     std::chrono::microseconds(us));
    }
    stats.record(fn_kovra_core_init, 0, std::chrono::seconds(1));
    nlohmann::json const report = stats.report();
    nlohmann::json const& led = report.at("functions").at("kovra_api_led_get_state_send");
    EXPECT_EQ(led.at("calls"), 1000);
    EXPECT_EQ(led.at("statuses"), (nlohmann::json{{"0", 900}, {"-5", 100}}));
    EXPECT_EQ(report.at("calls"), 1001);
    EXPECT_EQ(report.at("requests"), 1000) << "kovra_core_init is no request";
    struct {
        char const* name;
        double truth;
    } const figures[] = {{"min_us", 1},   {"p50_us", 500},  {"p90_us", 900},
                         {"p99_us", 990}, {"p999_us", 999}, {"max_us", 1000}};
    for (auto const& f : figures) {
        EXPECT_GE(led.at(f.name).get<double>(), f.truth) << f.name;
        EXPECT_LE(led.at(f.name).get<double>(), f.truth * 1.06) << f.name;
        if (f.name[0] == 'p') {
            EXPECT_EQ(report.at(f.name), led.at(f.name)) << "of all requests";
        }
    }
    uint64_t bucketed = 0;
    for (auto const& bucket : led.at("buckets")) bucketed += bucket.at(1).get<uint64_t>();
    EXPECT_EQ(bucketed, 1000u);
    EXPECT_EQ(led.at("sum_us"), 500500) << "exact, not read from the buckets";
}

TEST(StatsTest, StartingAgainBeginsFromZero) {
    Stats stats;
    stats.start();
    stats.record(fn_kovra_api_led_get_state_send, 0, std::chrono::microseconds(5));
    stats.start();
    stats.record(fn_kovra_api_led_set_state_send, 0, std::chrono::microseconds(5));
    nlohmann::json const functions = stats.report().at("functions");
    EXPECT_FALSE(functions.contains("kovra_api_led_get_state_send"));
    EXPECT_EQ(functions.at("kovra_api_led_set_state_send").at("calls"), 1);
}

// Windows cut from the statistics hold every call once: they add up to the
// whole run, and merged they give back its figures.
TEST(StatsTest, WindowsAddUpToTheRunAndMergeBackIntoIt) {
    Stats stats;
    stats.start();
    int const led = fn_kovra_api_led_get_state_send;
    std::vector<nlohmann::json> windows;
    for (int w = 1; w <= 3; ++w) {
        for (int us = 1; us <= 100 * w; ++us) stats.record(led, 0, std::chrono::microseconds(us));
        stats.announced("exposure:0");
        windows.push_back(stats.cut());
    }
    stats.record(led, -5, std::chrono::microseconds(7));
    nlohmann::json const whole = stats.report();
    EXPECT_EQ(windows[1].at("functions").at("kovra_api_led_get_state_send").at("calls"), 200);
    EXPECT_EQ(windows[2].at("announcements"), (nlohmann::json{{"exposure:0", 1}}));
    EXPECT_LE(windows[0].at("end_s"), windows[1].at("start_s"));
    EXPECT_EQ(whole.at("requests"), 601);
    EXPECT_EQ(whole.at("announcements"), (nlohmann::json{{"exposure:0", 3}}));
    windows.push_back(stats.cut());
    nlohmann::json const merged = Stats::merge(windows);
    for (char const* key : {"calls", "requests", "p50_us", "p99_us", "announcements"})
        EXPECT_EQ(merged.at(key), whole.at(key)) << key;
    nlohmann::json const& a = merged.at("functions").at("kovra_api_led_get_state_send");
    nlohmann::json const& b = whole.at("functions").at("kovra_api_led_get_state_send");
    for (char const* key :
         {"calls", "statuses", "min_us", "p50_us", "p90_us", "p999_us", "max_us", "sum_us"})
        EXPECT_EQ(a.at(key), b.at(key)) << key;
}

// Threads record while another cuts windows: not a call is lost or counted twice.
TEST(StatsTest, CuttingWhileThreadsRecordLosesNothing) {
    Stats stats;
    stats.start();
    std::atomic<int> running{4};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i)
                stats.record(fn_kovra_api_led_get_state_send, 0, std::chrono::microseconds(3));
            --running;
        });
    }
    uint64_t counted = 0;
    int windows = 0;
    for (; running > 0; ++windows) counted += stats.cut().at("calls").get<uint64_t>();
    for (auto& t : threads) t.join();
    counted += stats.cut().at("calls").get<uint64_t>();
    EXPECT_EQ(counted, 80000u) << "over " << windows + 1 << " windows";
    EXPECT_EQ(stats.report().at("calls"), 80000u);
}

}  // namespace
}  // namespace kovra_sim
