// kovra-stats' reading of statistics and timelines: the thresholds of
// --check, what a killed run's timeline still gives, and merging.
#include <gmock/gmock.h>

#include <fstream>

#include "observe/stats.h"
#include "stats/report_files.h"
#include "support/TestFiles.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

// Four intervals of one hundred LED reads each, taking `us` (one failing
// in the second).
Loaded timeline(std::vector<int> const& us) {
    Stats stats;
    stats.start();
    Loaded loaded;
    loaded.timeline = true;
    for (size_t i = 0; i < us.size(); ++i) {
        for (int call = 0; call < 100; ++call) {
            stats.record(fn_kovra_api_led_get_state_send, i == 1 && call == 0 ? -5 : 0,
                         std::chrono::microseconds(us[i]));
        }
        loaded.reports.push_back(stats.cut());
        loaded.reports.back().interval = i;
    }
    return loaded;
}

TEST(StatsCheck, EachClauseCrossesOnlyPastItsLimit) {
    Loaded const slower = timeline({1000, 1000, 1000, 8000});
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

TEST(StatsCheck, AnExpressionThatDoesNotParseIsRefused) {
    Loaded const run = timeline({1000});
    Loaded const file{false, {run.reports[0]}};
    struct {
        char const* expression;
        Loaded const& loaded;
        char const* error;
    } const cases[] = {
        {"p99 5ms", run, "\"p99 5ms\": expected METRIC[(FUNCTION)] > LIMIT"},
        {"p77 > 1ms", run,
         "\"p77 > 1ms\": no metric \"p77\" (p50, p90, p99, p999, max, failures, degradation)"},
        {"p99 > 5 parsecs", run, "\"p99 > 5 parsecs\": a latency is in us, ms or s"},
        {"p99 > fast", run, "\"p99 > fast\": the limit must be a number"},
        {"failures > 1", run, "\"failures > 1\": failures is in %"},
        {"p99(nothing) > 1ms", run, "\"p99(nothing) > 1ms\": no function \"nothing\""},
        {"degradation > 5%", file, "degradation needs a timeline, not a statistics file"},
    };
    for (auto const& c : cases) {
        try {
            check(c.expression, c.loaded);
            ADD_FAILURE() << c.expression << " was taken";
        } catch (std::invalid_argument const& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    }
}

// --compare A B reads how each function moved from A to B, side by side.
TEST(StatsFiles, ACompareReadsFromTheFirstFileToTheSecond) {
    std::string const table =
        compare_table(timeline({1000}).whole(), timeline({8000, 8000}).whole());
    EXPECT_THAT(table, testing::ContainsRegex("kovra_api_led_get_state_send +100 +200 +"
                                              "1000.0>8000.0 \\+700% +1000.0>8000.0 \\+700%"));
}

// A killed run's last line may be cut short: the whole lines before it
// count. Two runs side by side merge interval by interval.
TEST(StatsFiles, TimelinesLoadWhatIsWholeAndMergeIntervalByInterval) {
    std::string const dir = makeTempDir("stats_files");
    std::string const text = text_of(timeline({10, 20, 30}));
    std::ofstream(dir + "/cut") << text << text.substr(0, 40);
    std::ofstream(dir + "/short") << text_of(timeline({10}));
    Loaded const cut = load(dir + "/cut");
    EXPECT_TRUE(cut.timeline);
    ASSERT_EQ(cut.reports.size(), 3u);
    Loaded const merged = merge({cut, load(dir + "/short")});
    ASSERT_EQ(merged.reports.size(), 3u);
    EXPECT_EQ(merged.reports[0].calls(), 200u);
    EXPECT_EQ(merged.reports[2].calls(), 100u);
    EXPECT_EQ(merged.reports[1].interval, 1u);
    EXPECT_EQ(merged.whole().calls(), 400u);
    std::ofstream(dir + "/broken") << "{\"functions\": {}}\nnot json\n" << text;
    EXPECT_THROW(load(dir + "/broken"), std::runtime_error);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kovra_sim::stats_files
