// The statistics report: counts, percentiles, windows and the JSON form.
#include "observe/stats.h"

#include <gmock/gmock.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <thread>

#include "observe/observer.h"
#include "observe/timeline.h"
#include "stats/report_files.h"
#include "support/TestFiles.h"

namespace kovra_sim {
namespace {

int const kLed = fn_kovra_api_led_get_state_send;

void record(Stats& stats, int function, double us, int32_t status = 0) {
    stats.record(function, status, std::chrono::nanoseconds(int64_t(us * 1000)));
}

// A percentile is the upper edge of the bin of the call of rank ceil(q *
// calls), within what was seen: 499 fast calls and 500 slow give a slow median.
TEST(StatsTest, APercentileIsTheUpperEdgeOfTheBinOfItsRank) {
    Stats stats;
    stats.start();
    for (int i = 0; i < 999; ++i)
        record(stats, kLed, i < 499 ? 2 : i < 998 ? 20 : 900, i % 10 ? 0 : -5);
    record(stats, fn_kovra_core_init, 1e6);
    Report const report = stats.report();
    FunctionStats const& led = report.functions.at(kLed);
    LatencyAxis const axis = latency_axis();
    EXPECT_DOUBLE_EQ(led.quantile(0.5), axis.bin(axis.index(20)).upper());
    EXPECT_DOUBLE_EQ(led.quantile(0.49), axis.bin(axis.index(2)).upper());
    EXPECT_DOUBLE_EQ(led.quantile(0.998), axis.bin(axis.index(20)).upper());
    EXPECT_DOUBLE_EQ(led.quantile(0.999), 900) << "its bin's edge is above the most seen";
    EXPECT_EQ(led.statuses, (std::map<int32_t, uint64_t>{{-5, 100}, {0, 899}}));
    EXPECT_EQ(report.calls(), 1000u);
    EXPECT_EQ(report.requests().calls, 999u) << "kovra_core_init is no request";
    EXPECT_DOUBLE_EQ(led.sum_us, 499 * 2 + 499 * 20 + 900) << "exact, not read from the bins";
}

// Every call once, and merged the run's figures. Starting again begins from zero.
TEST(StatsTest, WindowsAddUpToTheRunAndMergeBackIntoIt) {
    Stats stats;
    stats.start();
    record(stats, fn_kovra_api_led_set_state_send, 5);
    stats.start();
    std::vector<Report> windows;
    for (int w = 1; w <= 3; ++w) {
        for (int us = 1; us <= 100 * w; ++us) record(stats, kLed, us);
        stats.announced("exposure:0");
        windows.push_back(stats.cut());
    }
    record(stats, kLed, 7, -5);
    Report const whole = stats.report();
    EXPECT_EQ(windows[1].functions.at(kLed).calls, 200u);
    EXPECT_LE(windows[0].end_s, windows[1].start_s);
    EXPECT_EQ(whole.functions.count(fn_kovra_api_led_set_state_send), 0u);
    windows.push_back(stats.cut());
    Report merged = merge(windows);
    merged.wall_seconds = whole.wall_seconds;
    merged.requests_per_second = whole.requests_per_second;
    EXPECT_EQ(to_json(merged), to_json(whole));
    EXPECT_EQ(whole.announcements.at("exposure:0"), 3u);
}

TEST(StatsTest, CuttingWhileThreadsRecordLosesNothing) {
    Stats stats;
    stats.start();
    std::atomic<int> running{4};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) record(stats, kLed, 3);
            --running;
        });
    }
    uint64_t counted = 0;
    int windows = 0;
    for (; running > 0; ++windows) counted += stats.cut().calls();
    for (auto& t : threads) t.join();
    counted += stats.cut().calls();
    EXPECT_EQ(counted, 80000u) << "over " << windows + 1 << " windows";
    EXPECT_EQ(stats.report().calls(), 80000u);
}

// Down to the lowest bins, whose edges round to the same nanosecond, and calls past either end.
TEST(StatsTest, TheJsonFormReadsBackBinForBin) {
    Stats stats;
    stats.start();
    for (double us : {0.004, 0.0102, 0.0108, 0.0111, 3.5, 3.5, 2e8}) record(stats, kLed, us);
    stats.announced("led:led");
    Report written = stats.report();
    written.source = "trace";
    Report const read = report_from_json(to_json(written));
    EXPECT_EQ(read.functions.at(kLed).bins(), written.functions.at(kLed).bins());
    EXPECT_EQ(to_json(read).dump(), to_json(written).dump());
}

// The intervals twice as long each time, each halving said.
TEST(TimelineTest, AtItsCapItMergesIntervalsInPairsAndKeepsEveryCall) {
    std::string const dir = makeTempDir("timeline_test"), path = dir + "/t.jsonl";
    Stats stats;
    stats.start();
    Timeline timeline;
    std::string error;
    auto const interval = std::chrono::milliseconds(1);
    ASSERT_TRUE(timeline.start({path, "", interval, 4096}, this_run(interval), stats, error))
        << error;
    std::vector<double> halved;  // the intervals' lengths the file says
    auto const read_marks = [&] {
        halved.clear();
        stats_files::each_line(path, [&](timeline::Line const& line) {
            if (line.kind == timeline::Line::halved) halved.push_back(line.interval_s);
        });
        return halved.size() >= 2;
    };
    uint64_t recorded = 0;
    EXPECT_TRUE(eventually([&] {
        for (int i = 0; i < 1000; ++i, ++recorded) record(stats, kLed, 5);
        return read_marks();
    }));
    ASSERT_TRUE(timeline.finish(error)) << error;
    EXPECT_EQ(stats_files::whole(path).calls(), recorded);
    read_marks();  // the writer may have halved again before it finished
    ASSERT_GE(halved.size(), 2u);
    for (size_t i = 0; i < halved.size(); ++i) EXPECT_EQ(halved[i], 0.002 * double(1 << i));
    EXPECT_LE(std::filesystem::file_size(path), 4096u);
    std::filesystem::remove_all(dir);
}

// The table that bins without a logarithm, at every bin's edges, off the axis and on NaN.
TEST(StatsTest, ACallLandsInTheBinTheAxisGivesIt) {
    LatencyAxis const axis = latency_axis();
    LatencyBins const& bins = latency_bins();
    std::vector<double> values = {0.0, -1.0, 1e-9, 1e12, HUGE_VAL, std::nan("")};
    for (int i = 0; i <= kLatencyBins; ++i) {
        double const edge = axis.value(i);
        values.insert(values.end(), {std::nextafter(edge, 0.0), edge,
                                     std::nextafter(edge, HUGE_VAL), edge * 1.03});
    }
    for (double const v : values) EXPECT_EQ(bins.index(v), axis.index(v)) << v;
}

// The clock, the time since start and the call's length, then the call: texts
// escaped, numbers at their limits, a line longer than an entry holds inline.
TEST(ObserverTest, AJournalLineIsStampedAndWhole) {
    std::string const dir = makeTempDir("observer_test"), path = dir + "/journal";
    Observer observer(true);
    Outputs outputs;
    outputs.journal = path;
    std::string error;
    ASSERT_TRUE(observer.open(outputs, error)) << error;
    std::string const long_text(700, 'x');
    observer.observe(
        nullptr, kLed, [] { return -3; },
        [&](Entry& e, int32_t) {
            e.text("a\"b\\c\nd\te")
                .number(std::numeric_limits<int64_t>::min())
                .number(0)
                .number(99);
            e.number(100).text(long_text.c_str()).text(nullptr).pointer(nullptr);
        });
    ASSERT_TRUE(observer.journal.close_file(error)) << error;
    std::vector<std::string> const lines = linesOf(readFile(path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], testing::MatchesRegex(
                              "20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]"
                              "\\.[0-9]{6}Z @[0-9]+\\.[0-9]{6} \\+[0-9]+\\.[0-9]us .*"));
    EXPECT_THAT(lines[0],
                testing::EndsWith(" kovra_api_led_get_state_send(\"a\\\"b\\\\c\\nd\\te\", "
                                  "-9223372036854775808, 0, 99, 100, \"" +
                                  long_text + "\", null, null) = -3"));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kovra_sim
