// kovra-stats' reading of statistics and timelines, whole, cut, appended,
// merged or made to break a reader.
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include "common/bounded_json.h"
#include "observe/stats.h"
#include "stats/report_files.h"
#include "support/IntervalText.h"
#include "support/TempDirTest.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

int const kLed = fn_kovra_api_led_get_state_send;

class StatsFiles : public TempDirTest {
protected:
    StatsFiles() : TempDirTest("stats_files") {}

    // A timeline of intervals 10 s apart from `clock`, of 100 LED reads taking
    // `us` each (one failing in the second); paced, `late` µs behind their plan.
    static std::string run(std::vector<int> const& us, double clock = 1.8e9, int late = 0) {
        Stats stats;
        stats.start();
        std::string text = timeline::run_line({clock, 7, "ipc_soak -t 4", 10}) + "\n";
        for (size_t i = 0; i < us.size(); ++i) {
            for (int call = 0; call < 100; ++call) {
                int32_t const status = i == 1 && call == 0 ? -5 : 0;
                std::chrono::microseconds const took(us[i]), behind(late);
                if (late) {
                    stats.record_paced(kLed, status, took, took + behind, behind);
                } else {
                    stats.record(kLed, status, took);
                }
            }
            text += interval_text(stats.cut(), i, clock);
        }
        return text + timeline::end_line(clock + 10.0 * double(us.size())) + "\n";
    }
    // An interval line of `calls` calls of each function of `ids`, at `clock`.
    static std::string calls_line(uint64_t calls, std::vector<int> const& ids = {kLed},
                                  double clock = 1.8e9) {
        Report r;
        for (int id : ids) {
            FunctionStats& f = r.functions[id];
            f.calls = f.statuses[0] = calls;
            f.add_to_bin(100, calls);
            f.min_us = f.max_us = 3;
        }
        return interval_text(r, 0, clock);
    }
};

// --compare A B reads how each function moved from A to B, side by side.
TEST_F(StatsFiles, ACompareReadsFromTheFirstFileToTheSecond) {
    std::string const table =
        compare_table(whole(file("a", run({1000}))), whole(file("b", run({8000, 8000}))));
    EXPECT_THAT(table, testing::ContainsRegex("kovra_api_led_get_state_send +100 +200 +"
                                              "1000.0>8000.0 \\+700% +1000.0>8000.0 \\+700%"));
}

// Runs appended to one file are one soak, the table saying where each began.
// A killed run's last line may be cut short; a malformed line before is refused.
TEST_F(StatsFiles, RunsAppendedToATimelineReadAsOneAndACutLineEndsIt) {
    std::string const text = run({10, 20, 30}) + run({40}, 1.8e9 + 100, 700);
    std::string const path = file("day", text + text.substr(0, 40));
    EXPECT_EQ(whole(path).calls(), 400u);
    EXPECT_EQ(whole(path).wall_seconds, 110)
        << "from the first start to the last end, on the clock";
    std::ostringstream out;
    print_timeline(path, out);
    std::string const table = out.str();
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1 + 2 + 4) << table;
    EXPECT_THAT(table, testing::HasSubstr("run 2027-01-15T08:00:00.000Z: ipc_soak -t 4"));
    EXPECT_THAT(table, testing::ContainsRegex(" 40.0 +700.0  \n")) << "how late the paced run went";
    EXPECT_THROW(whole(file("broken", "not json\n" + text)), std::runtime_error);
}

// Cameras merge on the clock: intervals that began within one interval's time are one.
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

// Files made to break a reader, read as --stats and --timeline do (or merged
// after `after`): refused, naming the file and why, or read if just within a bound.
TEST_F(StatsFiles, AHostileFileIsRefusedWithTheReason) {
    // `n` calls of a function, all passing, in one bucket.
    auto const calls = [](char const* name, std::string const& n) {
        return std::string("\"") + name + R"(": {"calls": )" + n + R"(, "statuses": {"0": )" + n +
               R"(}, "buckets": [[5, )" + n + "]]}";
    };
    auto const stats = [](std::string const& functions, std::string const& more = "") {
        return R"({"functions": {)" + functions + "}" + more + "}";
    };
    auto const led = [&](std::string const& n) {
        return stats(calls("kovra_api_led_get_state_send", n));
    };
    auto const statuses = [&](std::string const& of) {
        return stats(R"("kovra_api_led_get_state_send": {"calls": 2, "statuses": )" + of +
                     R"(, "buckets": [[5, 2]]})");
    };
    std::string const two = led("2"), max = std::to_string(kMaxCount);
    auto const brackets = [](size_t n) { return std::string(n, '[') + std::string(n, ']'); };
    auto const nested = [&](size_t depth) {  // the file itself is a level
        return stats("", R"(, "extra": )" + brackets(depth - 1));
    };
    std::string const line = calls_line(1);
    auto const padded = [&](size_t size) {
        return line.substr(0, line.size() - 2) + std::string(size - line.size() + 1, ' ') + "}\n";
    };
    std::string const start = timeline::run_line({1.8e9, 7, "ipc_soak -t 4", 10}) + "\n";
    std::string const end = timeline::end_line(1.8e9 + 20) + "\n";
    // A timeline whose line has figures packed as `packed` (msgpack) says.
    auto const figures = [&](std::string const& packed) {
        return start +
               R"({"interval": 0, "start": "2027-01-15T08:00:00.000Z", "end": )"
               R"("2027-01-15T08:00:10.000Z", "start_s": 0, "end_s": 10, "figures": ")" +
               timeline::figures_text(packed) + "\"}\n" + end;
    };
    auto const msgpack = [](std::vector<nlohmann::json> const& functions) {
        std::vector<uint8_t> const bytes = nlohmann::json::to_msgpack(functions);
        return std::string(bytes.begin(), bytes.end());
    };
    // One call, from bin `first` - 1 on.
    auto const one = [](uint64_t first) {
        return nlohmann::json::array({"kovra_api_led_get_state_send", 1, nullptr, 3000, 3000, 3000,
                                      first, nlohmann::json::array({1})});
    };
    // 2048 statuses of 2^53 calls each add up to 2^64: to none, if a sum wraps.
    Report wrapping;
    FunctionStats& wraps = wrapping.functions[kLed];
    wraps.min_us = 1;
    for (int32_t status = 0; status < 2048; ++status) wraps.statuses[status] = kMaxCount;
    uint64_t const half = kMaxCount / 2 + 1;
    merge_files({file("two", two)}, dir + "/two.gz");  // written gzip
    struct {
        char const* name;
        std::string text;
        char const* error;  // null: read
        std::string after = "";
    } const cases[] = {
        {"empty", "", "empty"},
        {"cut", two.substr(0, two.size() - 3), "cut short: not valid JSON"},
        {"cut.gz", readFile(dir + "/two.gz").substr(0, 10), "cut short: not valid JSON"},  // header
        {"not JSON", "calls: 2\n", "not valid JSON near byte"},
        {"nested to the most", nested(kMaxJsonDepth), nullptr},
        {"nested one past", nested(kMaxJsonDepth + 1), "nested deeper than 64 levels"},
        {"nested 300000 deep", statuses(brackets(300000)), "nested deeper than 64 levels"},
        {"a status not a number", statuses(R"({"ok": 2})"), R"(status "ok" is not an int32)"},
        {"a status twice", statuses(R"({"0": 1, "-0": 1})"), "is named twice"},
        {"a negative count", led("-5"), R"("calls" is not a count)"},
        {"a count not whole", led("2.5"), R"("calls" is not a count)"},
        {"a count of 2^53", led(max), nullptr},
        {"a count past 2^53", led(std::to_string(kMaxCount + 1)), R"("calls" is not a count)"},
        {"functions past 2^53 together",
         stats(calls("kovra_core_init", "1") + ", " + calls("kovra_api_led_get_state_send", max)),
         "the calls of all functions add up past 2^53"},
        {"statistics past their bound",
         two + std::string(kStatisticsBound.bytes + 1 - two.size(), ' '),
         "larger than 64 MiB, the most a statistics file may hold"},
        {"timeline lines at the most", padded(kMaxLineBytes) + padded(kMaxLineBytes), nullptr},
        {"a first line past", padded(kMaxLineBytes + 1), "a line longer than 4 MiB"},
        {"a later line past", start + padded(kMaxLineBytes + 1), "a line longer than 4 MiB"},
        {"figures nested a million deep", figures(std::string(1000000, '\x91') + '\xc0'),
         "its figures cannot be unpacked: nested deeper than 64 levels"},
        {"a function twice in a line", figures(msgpack({one(101), one(101)})),
         "kovra_api_led_get_state_send is there twice"},
        {"a bin past the histogram", figures(msgpack({one((uint64_t(1) << 32) + 1)})),
         "a bin past the histogram"},
        {"a line's statuses past its calls", start + timeline::interval_line(wrapping) + "\n" + end,
         "the counts do not add up"},
        {"a line's functions past 2^53", start + calls_line(half, {kLed, fn_kovra_core_init}) + end,
         "the calls of all functions add up past 2^53"},
        {"intervals past 2^53",
         start + calls_line(half) + calls_line(half, {kLed}, 1.8e9 + 10) + end,
         "the calls add up past 2^53"},
        {"merged to 2^53", led("1"), nullptr, led(std::to_string(kMaxCount - 1))},
        {"merged past 2^53", led("1"), "the calls add up past 2^53", led(max)},
        {"announcements merged past 2^53", stats("", R"(, "announcements": {"exposure:0": 1})"),
         "the announcements of exposure:0 add up past 2^53",
         stats("", R"(, "announcements": {"exposure:0": )" + max + "}")},
        {"timelines merged past 2^53", start + calls_line(kMaxCount / 2 + 1),
         "the calls add up past 2^53", start + calls_line(kMaxCount / 2)},
    };
    for (auto const& c : cases) {
        std::string const path = file(c.name, c.text);
        auto const load = [&] {
            if (c.after.empty()) return void(whole(path));
            merge_files({file("before", c.after), path}, dir + "/merged");
        };
        if (!c.error) {
            EXPECT_NO_THROW(load()) << c.name;
        } else {
            EXPECT_THAT(load, testing::ThrowsMessage<std::runtime_error>(testing::AllOf(
                                  testing::StartsWith(path + ": "), testing::HasSubstr(c.error))))
                << c.name;
        }
    }
    // Nor is a file that never ends its line held past the bound.
    EXPECT_THAT([] { whole("/dev/zero"); },
                testing::ThrowsMessage<std::runtime_error>(
                    "/dev/zero: larger than 64 MiB, the most a statistics file may hold"));
}

}  // namespace
}  // namespace kovra_sim::stats_files
