// The latency statistics: counts by function and status, and percentiles
// read from the right bucket of the histogram (never more than 6% above
// the true value, never below it).
#include "stats.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kovra_sim
