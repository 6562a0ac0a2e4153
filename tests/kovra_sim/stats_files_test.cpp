// kovra-stats' reading of statistics and timelines: the thresholds of
// --check, which way --compare reads, what a killed run's timeline still
// gives, runs appended to one file, and merging on the clock.
#include <gmock/gmock.h>

#include <fstream>

#include "observe/stats.h"
#include "stats/report_files.h"
#include "support/TestFiles.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

class StatsFiles : public testing::Test {
protected:
    void TearDown() override { std::filesystem::remove_all(dir); }

    // A run of intervals of one hundred LED reads each, taking `us` (one
    // failing in the second), beginning at `clock`, 10 s apart, as the
    // lines of a timeline.
    static std::string run(std::vector<int> const& us, double clock = 1.8e9) {
        Stats stats;
        stats.start();
        std::string text = timeline::run_line({clock, 7, "ipc_soak -t 4", 10}) + "\n";
        for (size_t i = 0; i < us.size(); ++i) {
            for (int call = 0; call < 100; ++call) {
                stats.record(fn_kovra_api_led_get_state_send, i == 1 && call == 0 ? -5 : 0,
                             std::chrono::microseconds(us[i]));
            }
            Report r = stats.cut();
            r.interval = i;
            r.start_s = 10.0 * double(i);
            r.end_s = 10.0 * double(i + 1);
            r.start_clock = clock + *r.start_s;
            r.end_clock = clock + *r.end_s;
            text += timeline::interval_line(r) + "\n";
        }
        return text + timeline::end_line(clock + 10.0 * double(us.size())) + "\n";
    }
    std::string file(std::string const& name, std::string const& text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    }

    std::string dir = makeTempDir("stats_files");
};

TEST_F(StatsFiles, EachClauseCrossesOnlyPastItsLimit) {
    std::string const slower = file("slower", run({1000, 1000, 1000, 8000}));
    struct {
        char const* expression;
        std::vector<std::string> crossed;
    } const cases[] = {
        {"p99 > 5ms", {"p99 of kovra_api_led_get_state_send is 8 ms, over 5ms"}},
        {"p99(kovra_api_led_get_state_send) > 9ms", {}},
        {"max > 7999us", {"max of kovra_api_led_get_state_send is 8 ms, over 7999us"}},
        {"max > 8ms", {}},
        {"p50 > 0.9 ms, p50 > 1.1ms", {"p50 of kovra_api_led_get_state_send is 1 ms, over 0.9 ms"}},
        {"failures > 0.1%", {"failures of all calls are 0.25%, over 0.1%"}},
        {"failures(kovra_api_led_get_state_send) > 0.25%", {}},
        {"degradation > 50%",
         {"p99 of all requests rose 700% from the first quarter to the last (1 ms to 8 ms), over "
          "50%"}},
        {"degradation(kovra_api_led_get_state_send) > 700%", {}},
    };
    for (auto const& c : cases) EXPECT_EQ(check(c.expression, slower), c.crossed) << c.expression;
}

TEST_F(StatsFiles, AnExpressionThatDoesNotParseIsRefused) {
    std::string const timeline = file("timeline", run({1000}));
    std::string const statistics = file("statistics", to_json(whole(timeline)).dump());
    struct {
        char const* expression;
        std::string const& path;
        char const* error;
    } const cases[] = {
        {"p99 5ms", timeline, "\"p99 5ms\": expected METRIC[(FUNCTION)] > LIMIT"},
        {"p77 > 1ms", timeline,
         "\"p77 > 1ms\": no metric \"p77\" (p50, p90, p99, p999, max, failures, degradation)"},
        {"p99 > 5 parsecs", timeline, "\"p99 > 5 parsecs\": a latency is in us, ms or s"},
        {"p99 > fast", timeline, "\"p99 > fast\": the limit must be a number"},
        {"failures > 1", timeline, "\"failures > 1\": failures is in %"},
        {"p99(nothing) > 1ms", timeline, "\"p99(nothing) > 1ms\": no function \"nothing\""},
        {"degradation > 5%", statistics, "degradation needs a timeline, not a statistics file"},
    };
    for (auto const& c : cases) {
        try {
            check(c.expression, c.path);
            ADD_FAILURE() << c.expression << " was taken";
        } catch (std::invalid_argument const& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    }
}

// --compare A B reads how each function moved from A to B, side by side.
TEST_F(StatsFiles, ACompareReadsFromTheFirstFileToTheSecond) {
    std::string const table =
        compare_table(whole(file("a", run({1000}))), whole(file("b", run({8000, 8000}))));
    EXPECT_THAT(table, testing::ContainsRegex("kovra_api_led_get_state_send +100 +200 +"
                                              "1000.0>8000.0 \\+700% +1000.0>8000.0 \\+700%"));
}

// Two runs appended to one file are one soak: their intervals add up, and
// the table says where each began. A killed run's last line may be cut
// short: what is whole counts; a malformed line before it is refused.
TEST_F(StatsFiles, RunsAppendedToATimelineReadAsOneAndACutLineEndsIt) {
    std::string const text = run({10, 20, 30}) + run({40}, 1.8e9 + 100);
    std::string const path = file("day", text + text.substr(0, 40));
    EXPECT_EQ(whole(path).calls(), 400u);
    EXPECT_EQ(whole(path).wall_seconds, 110)
        << "from the first start to the last end, on the clock";
    std::ostringstream out;
    print_timeline(path, out);
    std::string const table = out.str();
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1 + 2 + 4) << table;
    EXPECT_THAT(table, testing::HasSubstr("run 2027-01-15T08:00:00.000Z: ipc_soak -t 4"));
    EXPECT_THROW(whole(file("broken", "not json\n" + text)), std::runtime_error);
}

// Cameras side by side merge on the clock: intervals that began within the
// same interval's time are one, whichever their number.
TEST_F(StatsFiles, TimelinesMergeOnTheClock) {
    std::string const a = file("a", run({10, 20, 30}));
    std::string const b = file("b", run({40, 50}, 1.8e9 + 10));
    merge_files({a, b}, dir + "/merged.gz");
    Loaded const merged = load(dir + "/merged.gz");
    ASSERT_EQ(merged.reports.size(), 3u);
    EXPECT_EQ(merged.reports[0].calls(), 100u);
    EXPECT_EQ(merged.reports[1].calls(), 200u) << "a's second and b's first";
    EXPECT_EQ(merged.whole().calls(), 500u);
}

}  // namespace
}  // namespace kovra_sim::stats_files
