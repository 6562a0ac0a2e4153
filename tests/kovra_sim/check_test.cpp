// kovra-stats --check: thresholds at and just past their limits, gates over
// nothing, expressions refused where they go wrong, and --compare.
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include "common/functions.h"
#include "stats/report_files.h"
#include "support/IntervalText.h"
#include "support/TempDirTest.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

using testing::HasSubstr;
using Lines = std::vector<std::string>;

// `n` calls of `function` taking `us`, the first `failing` of them with `status`.
void calls(Report& r, int function, int n, double us, int failing = 0, int32_t status = -4) {
    for (int i = 0; i < n; ++i) r.functions[function].add(i < failing ? status : 0, us);
}

class CheckTest : public TempDirTest {
protected:
    CheckTest() : TempDirTest("check") {}

    // 300 requests in 10 s: LED reads at 1 ms, LED writes at `led_set_us` (`failing`
    // with -4, one more with -5), frame-rate reads at 0.5 ms; and two slow inits.
    std::string statistics(std::string const& name, double led_set_us = 3000, int failing = 2,
                           double wall = 10) {
        Report r;
        calls(r, fn_kovra_api_led_get_state_send, 100, 1000);
        calls(r, fn_kovra_api_led_set_state_send, 1, led_set_us, 1, -5);
        calls(r, fn_kovra_api_led_set_state_send, 99, led_set_us, failing, -4);
        calls(r, fn_kovra_api_exposure_get_frame_rate_send, 100, 500);
        calls(r, fn_kovra_core_init, 1, 13000);
        calls(r, fn_kovra_api_led_initiator_init, 1, 20000);
        r.wall_seconds = wall;
        return file(name, to_json(r).dump());
    }
    // Intervals of 10 s, each of 100 LED reads taking the time given.
    std::string timeline(std::string const& name, std::vector<double> const& us) {
        std::string text = timeline::run_line({1.8e9, 7, "ipc_soak -t 4", 10}) + "\n";
        for (size_t i = 0; i < us.size(); ++i) {
            Report r;
            calls(r, fn_kovra_api_led_get_state_send, 100, us[i]);
            text += interval_text(r, i, 1.8e9);
        }
        return file(name, text);
    }

    std::string const run = statistics("run.json");
    // The same, paced: its requests up to 50 ms from their plan.
    std::string const paced = [this] {
        Report r = whole(run);
        r.from_plan.emplace();
        r.behind.emplace();
        for (int i = 0; i < 300; ++i) r.from_plan->add(0, 1000 + 49000.0 * (i >= 296));
        r.behind->add(0, 49000);
        return file("paced.json", to_json(r).dump());
    }();
    // A warm-up of 50 ms, then 2 ms, 1 ms and 4 ms.
    std::string const warm = timeline("warm.jsonl", {50000, 2000, 1000, 4000});
    // LED writes 25% slower, failures from 1% to 2%, half the requests a second.
    std::string const worse = statistics("worse.json", 3750, 5, 20);
    std::string const missing = dir + "/missing.json";
};

TEST_F(CheckTest, EachThresholdOrChangeCrossesJustPastItsLimit) {
    struct {
        char const* expression;
        std::string const& path;
        char const* crossed;  // the line it says; "": none
        std::optional<std::string> base = {};
    } const cases[] = {
        // Every threshold exactly at its limit; the inits are not requests, nor
        // matched by a glob (kovra_api_led_initiator_init), unless named.
        {"p99 > 3ms, p90(all) > 3ms, max(kovra_api_led_*) > 3ms, max(kovra_core_init) > 13ms, "
         "failures > 1%, failures > 3, failures(-4) > 2, rps < 30, requests < 300, "
         "requests(kovra_api_exposure_*) < 100, p99.9(kovra_api_exposure_*) > 500us",
         run, ""},
        {"p99 > 2999us", run, "p99 of kovra_api_led_set_state_send is 3 ms, over 2999us"},
        {"p90(all) > 2999", run, "p90 of all requests is 3 ms, over 2999"},
        {"p95(kovra_api_led_*) > 2.9ms", run, "p95 of kovra_api_led_* is 3 ms, over 2.9ms"},
        {"p999(kovra_core_init) > 0.0129s", run, "p999 of kovra_core_init is 13 ms, over 0.0129s"},
        {"failures > 0.99%", run, "failures of all requests are 1%, over 0.99%"},
        {"failures > 2", run, "failures of all requests are 3, over 2"},
        {"failures(-4) > 1", run, "failures of all requests with status -4 are 2, over 1"},
        {"failures(kovra_api_led_set*, -5) > 0", run,
         "failures of kovra_api_led_set* with status -5 are 1, over 0"},
        {"rps(kovra_api_led_*) < 21", run, "rps of kovra_api_led_* is 20, under 21"},
        {"requests(kovra_api_exposure_*) < 101", run,
         "requests of kovra_api_exposure_* are 100, under 101"},
        {"p99(kovra_api_lens_focus_*) > 1s", run,
         "p99 of kovra_api_lens_focus_*: no calls to measure"},
        // A paced run's requests as a whole from their plan; each function by service time.
        {"p99(all) > 50ms, p99 > 3ms", paced, ""},
        {"p99(all) > 49ms", paced, "p99 of all requests from plan is 50 ms, over 49ms"},
        // The warm-up left out: from the first interval that begins after it.
        {"p99 > 2ms", warm, "p99 of kovra_api_led_get_state_send is 50 ms, over 2ms"},
        {"p99 > 4ms, skip=1s", warm, ""},
        {"requests(all) < 300, skip=10s", warm, ""},
        {"requests(all) < 300, skip=10001ms", warm, "requests of all requests are 200, under 300"},
        {"degradation > 0%", warm, ""},
        {"skip=10s, degradation > 100%", warm, ""},
        {"skip=10s, degradation > 99%", warm,
         "p99 of all requests rose 100% from the first quarter to the last (2 ms to 4 ms), over "
         "99%"},
        {"degradation > 50%, skip=0.5m", warm,
         "degradation of all requests: 1 interval after the first 0.5m, too few to compare (2 "
         "at least)"},
        // Changes from the base run.
        {"p99 +0%, failures +0%, failures +0, rps -0%, max(kovra_core_init) +0%", run, "", run},
        {"p99 +25%, p99(all) +25%, failures +1%, failures +3, rps -50%", worse, "", run},
        {"p99 +24.9%", worse,
         "p99 of kovra_api_led_set_state_send grew 25% (3 ms to 3.75 ms), over +24.9%", run},
        {"failures +0.9%", worse, "failures of all requests grew 1 points (1% to 2%), over +0.9%",
         run},
        {"failures(-4) +2", worse,
         "failures of all requests with status -4 grew by 3 (2 to 5), over +2", run},
        {"rps -49%", worse, "rps of all requests fell 50% (30 to 15), over -49%", run},
        {"p99(all) > 3.7ms", worse, "p99 of all requests is 3.75 ms, over 3.7ms", run},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.expression);
        Verdict const v = stats_files::Check(c.expression).run(c.path, c.base);
        EXPECT_TRUE(v.checked);
        EXPECT_EQ(v.lines, *c.crossed ? Lines{c.crossed} : Lines{});
        EXPECT_EQ(v.passed(), !*c.crossed);
    }
}

// A gate never passes on nothing: exit 1, saying why, whatever the thresholds.
TEST_F(CheckTest, NothingToCheckFails) {
    Report init;
    calls(init, fn_kovra_core_init, 1, 13000);
    std::string const no_requests = file("init.json", to_json(init).dump());
    std::string const empty = file("empty.json", "");
    std::tuple<char const*, std::string, std::optional<std::string>, std::string> const cases[] = {
        {"p99 > 5ms", file("zero.json", to_json(Report{}).dump()), {}, "no requests, nothing"},
        {"max(kovra_core_init) > 1s", no_requests, {}, no_requests + ": no requests"},
        {"p99 > 5ms", empty, {}, empty + ": empty"},
        {"p99 > 5ms", missing, {}, missing},
        {"requests < 301", run, {}, run + ": 300 requests, fewer than the 301 asked for"},
        {"p99 > 1s, skip=40s", warm, {}, warm + ": no requests after the first 40s, nothing"},
        {"p99 +20%", run, missing, missing},
        {"p99 +20%", run, no_requests, no_requests + ": no requests"},
    };
    for (auto const& [expression, path, base, says] : cases) {
        SCOPED_TRACE(expression + (" on " + path));
        std::ostringstream out, err;
        EXPECT_EQ(check_command(expression, path, base, out, err), 1);
        EXPECT_THAT(out.str(), HasSubstr(says));
        EXPECT_THAT(out.str(), testing::EndsWith("\ncheck: failed, nothing checked\n"));
    }
}

// Statistics are left out of what only a timeline can answer.
TEST_F(CheckTest, EachFileGivenIsCheckedAndTheWorstDecides) {
    std::tuple<char const*, std::vector<std::string>, int, std::string,
               std::string> const cases[] = {
        {"p99 > 4ms, skip=1s",
         {run, warm},
         0,
         warm + ": check: passed, 1 threshold\n",
         "kovra-stats: " + run + ": statistics, left out: skip= and degradation need a timeline\n"},
        {"p99 > 4ms",
         {run, warm, missing},
         1,
         run + ": check: passed, 1 threshold\n" + warm +
             ": p99 of kovra_api_led_get_state_send is 50 ms, over 4ms\n" + warm +
             ": check: 1 of 1 threshold crossed\n" + missing +
             ": cannot read it (No such file or directory)\n" + missing +
             ": check: failed, nothing checked\n",
         ""},
        {"p99 > 4ms, skip=1s", {run}, 2, "", "skip= needs a timeline"},
    };
    for (auto const& [expression, paths, status, says, warns] : cases) {
        SCOPED_TRACE(expression);
        std::ostringstream out, err;
        EXPECT_EQ(check_files(expression, paths, out, err), status);
        EXPECT_EQ(out.str(), says);
        EXPECT_THAT(err.str(), HasSubstr(warns));
    }
}

TEST_F(CheckTest, AnExpressionThatDoesNotFitIsRefusedPointingAtIt) {
    size_t const nowhere = CheckError::nowhere;
    std::tuple<char const*, std::string const&, size_t, char const*> const cases[] = {
        {"", run, 0, "an empty expression checks nothing"},
        {"p99 5ms", run, 4, "\"p99 5ms\": expected p99[(FUNCTIONS)] > LATENCY"},
        {"p99 > 1ms, p77 > 1ms", run, 11, "\"p77 > 1ms\": no metric \"p77\""},
        {"p99 > 5 parsecs", run, 8, "a latency is in us, ms or s"},
        {"p99 > fast", run, 6, "the limit must be a number"},
        {"p99 > -5ms", run, 6, "the limit must be a number"},
        {"p99(nothing) > 1ms", run, 4, "no function \"nothing\""},
        {"p99(zzz*) > 1ms", run, 4, "no function matches \"zzz*\""},
        {"p99(kovra_core_*) > 1ms", run, 4, "matches no request"},
        {"p99(-4) > 1ms", run, 4, "a status is for failures alone"},
        {"failures(0) > 1", run, 9, "status 0 is a success"},
        {"failures(all > 1%", run, 13, "expected ')'"},
        {"failures > 1 parsec", run, 13, "failures are a count, or a share in %"},
        {"requests > 5", run, 9, "expected requests[(FUNCTIONS)] < COUNT"},
        {"rps < 5%", run, 7, "rps is a number alone"},
        {"degradation > 5", warm, 15, "degradation is in %"},
        {"p99 +20", run, 7, "p99 is in %"},
        {"p99 > 5ms p50 > 1ms", run, 10, "expected ','"},
        {"p99 > 5ms,", run, 10, "expected a threshold"},
        {"skip=5 parsecs", warm, 7, "a duration is in h, m, s, ms or us"},
        {"skip=5s", warm, 0, "no thresholds"},
        {"skip=1s, skip=2s, p99 > 1s", warm, 9, "skip= is given twice"},
        {"p99 > 1s, skip=5s", run, nowhere, "skip= needs a timeline"},
        {"degradation > 5%", run, nowhere, "degradation needs a timeline"},
        {"p99(all) +20%", run, nowhere, "\"p99(all) +20%\": a change needs a base run"},
    };
    for (auto const& [expression, path, at, says] : cases) {
        SCOPED_TRACE(expression);
        std::ostringstream out, err;
        EXPECT_EQ(check_command(expression, path, std::nullopt, out, err), 2);
        EXPECT_THAT(err.str(), HasSubstr(says));
        if (at == nowhere) {
            EXPECT_THAT(err.str(), testing::Not(HasSubstr("^"))) << err.str();
        } else {
            EXPECT_THAT(err.str(), testing::EndsWith("\n  " + std::string(at, ' ') + "^\n"));
        }
        EXPECT_EQ(out.str(), "");
    }
}

TEST_F(CheckTest, ACompareGatesARegressionAgainstItsBase) {
    std::ostringstream out, err;
    EXPECT_EQ(check_command("p99 +20%, failures +0.1%", worse, run, out, err), 1);
    EXPECT_THAT(out.str(), testing::EndsWith("\ncheck: 2 of 2 thresholds crossed\n"));
    out.str("");
    EXPECT_EQ(check_command("p99 +20%, failures +0.1%, skip=0s", warm, warm, out, err), 0);
    EXPECT_EQ(out.str(), "check: passed, 2 thresholds\n");
}

}  // namespace
}  // namespace kovra_sim::stats_files
