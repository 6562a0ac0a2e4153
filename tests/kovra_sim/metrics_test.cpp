// The Prometheus text of the daemon's figures.
#include "daemon/metrics.h"

#include <gtest/gtest.h>

#include "observe/stats.h"
#include "stats/prometheus.h"
#include "support/Daemon.h"

namespace kovra_sim {
namespace {

TEST(MetricsTest, BucketsAreCumulativeAndExactAtTheirEdgesAndLabelsEscaped) {
    Stats stats;
    stats.start();
    int const led = fn_kovra_api_led_get_state_send;
    // 10 us is an edge: a call of 9.99 us is within le="1e-05", one of 17.5 us
    // is within le="1.77827941e-05" only (its bin's edge, rounded in the
    // report, lies a little above); 20 s is past the last edge.
    for (double us : {0.5, 9.99, 17.5, 900.0, 20e6})
        stats.record(led, us == 900 ? -5 : 0, std::chrono::nanoseconds(int64_t(us * 1000)));
    stats.announced("exposure:0");
    MetricFigures figures;
    figures.stats = stats.report();
    figures.connections_open = 2;
    figures.faults["fail"] = 3;
    figures.faults["a\"b\\c\nd"] = 1;  // escaped in its label
    figures.announcements["exposure:0"] = 4;
    auto const m = prometheus_samples(metrics_text(figures));

    std::string const fn = "{function=\"kovra_api_led_get_state_send\"";
    std::string const bucket = "kovra_camd_request_duration_seconds_bucket" + fn + ",le=";
    std::pair<char const*, double> const edges[] = {{"\"1e-06\"", 1}, {"\"5.62341325e-06\"", 1},
                                                    {"\"1e-05\"", 2}, {"\"1.77827941e-05\"", 3},
                                                    {"\"0.001\"", 4}, {"\"10\"", 4},
                                                    {"\"+Inf\"", 5}};
    for (auto const& [le, below] : edges) EXPECT_EQ(m.at(bucket + le + "}"), below) << le;
    EXPECT_NEAR(m.at("kovra_camd_request_duration_seconds_sum" + fn + "}"), 20.00092799, 1e-6);
    EXPECT_EQ(m.at("kovra_camd_request_duration_seconds_count" + fn + "}"), 5);
    EXPECT_EQ(m.at("kovra_camd_requests_total" + fn + ",status=\"0\"}"), 4);
    EXPECT_EQ(m.at("kovra_camd_requests_total" + fn + ",status=\"-5\"}"), 1);
    EXPECT_EQ(m.at("kovra_camd_connections_open"), 2);
    EXPECT_EQ(m.at("kovra_camd_faults_injected_total{kind=\"fail\"}"), 3);
    EXPECT_EQ(m.at("kovra_camd_faults_injected_total{kind=\"a\\\"b\\\\c\\nd\"}"), 1);
    EXPECT_EQ(m.at("kovra_camd_target_restarts_total{target=\"exposure:0\"}"), 1);
    EXPECT_EQ(m.at("kovra_camd_announcements_total{target=\"exposure:0\"}"), 4);
    EXPECT_EQ(prometheus::duration_edges().size() + 1,
              size_t(std::count_if(m.begin(), m.end(),
                                   [&](auto const& s) { return s.first.rfind(bucket, 0) == 0; })));
}

}  // namespace
}  // namespace kovra_sim
