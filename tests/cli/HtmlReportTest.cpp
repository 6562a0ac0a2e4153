// kovra-stats --html as a reader sees it: the page in headless Chromium with no
// network, judged by what its script drew (left in data- attributes); and --plot.
#include <gmock/gmock.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "SoakRun.h"
#include "common/functions.h"
#include "support/IntervalText.h"

namespace {

using testing::HasSubstr;

class HtmlReportTest : public SoakRun {
protected:
    // `n` intervals of 10 s from `clock` of LED reads (the very first failing
    // with -42) and temperature reads, each announcing exposure:0 if
    // `restarts`, the last cut to `last_s`.
    std::string timeline(std::string const& name, size_t n, double clock, bool restarts,
                         double last_s = 10) {
        std::string text = kovra_sim::timeline::run_line({clock, 1, "soak", 10}) + "\n";
        for (size_t k = 0; k < n; ++k) {
            kovra_sim::Report r;
            auto& led = r.functions[kovra_sim::fn_kovra_api_led_get_state_send];
            led.add(k == 0 ? -42 : 0, 100);
            led.add(0, 900);
            r.functions[kovra_sim::fn_kovra_api_temperature_get_temperature_send].add(0, 5000);
            if (restarts) r.announcements["exposure:0"] = 1;
            text += interval_text(r, k, clock, k + 1 == n ? last_s : 10);
        }
        return file(name, text);
    }

    // The statistics of `timeline`, merged into a file of their own.
    std::string statistics(std::string const& timeline) {
        return file("s.json", kovra_sim::to_json(kovra_sim::stats_files::whole(timeline)).dump());
    }

    // The page's DOM, its script run to its end with nothing fetched and nothing said on
    // the console, every request outside loopback sent to no proxy; a screenshot to `png`.
    std::string render(std::string const& page, std::string const& png = "") {
        std::string const browser =
            "timeout 120 chromium --headless --no-sandbox --disable-gpu --user-data-dir=" + dir +
            "/profile --proxy-server=127.0.0.1:9 --proxy-bypass-list='<-loopback>' ";
        if (!png.empty())
            runShell(browser + "--window-size=1200,1600 --hide-scrollbars --screenshot=" + png +
                         " file://" + page,
                     dir, "-shot");
        Outcome const r = runShell(
            browser + "--enable-logging=stderr --v=0 --dump-dom file://" + page, dir, "-dom");
        EXPECT_THAT(r.err, testing::Not(HasSubstr(":CONSOLE")));
        EXPECT_EQ(data(r.out, "report", "ready"), "yes") << "the script ran to its end";
        EXPECT_EQ(data(r.out, "report", "fetched"), "0") << "nothing fetched";
        return r.out;
    }
    // data-`name` of the element whose id is `id`, or of the first table row
    // that has data (`id` ""); "" if it has none.
    static std::string data(std::string const& dom, std::string const& id,
                            std::string const& name) {
        size_t const at = dom.find(id.empty() ? "<tr data-" : " id=\"" + id + "\"");
        std::string const key = " data-" + name + "=\"";
        size_t const b = at == std::string::npos ? at : dom.find(key, at);
        if (b == std::string::npos || b > dom.find('>', at)) return "";
        return dom.substr(b + key.size(), dom.find('"', b + key.size()) - b - key.size());
    }

    void SetUp() override {
        if (std::system("command -v chromium >/dev/null") != 0)
            GTEST_SKIP() << "chromium is not installed (Debian package chromium): no page can be "
                            "loaded";
    }
};

// A traced soak whose layer fails every temperature read while the camera
// restarts: each interval drawn, restarts and the fault marked.
TEST_F(HtmlReportTest, ASoakWithAFaultAndRestartsDrawsThemAll) {
    std::string const soak_timeline = dir + "/soak.jsonl", page = dir + "/soak.html";
    trace = "fail=kovra_api_temperature_get_temperature_send:-42;interval=100ms;timeline=" +
            soak_timeline;
    ASSERT_EQ(soak("-t 8 -c 1500 -s 7", "restart=exposure*4/2000;latency=200"), 0) << err;
    auto const intervals = kovra_sim::stats_files::load(soak_timeline).reports;
    size_t const restarts = std::count_if(intervals.begin(), intervals.end(),
                                          [](auto const& i) { return !i.announcements.empty(); });
    ASSERT_GE(restarts, 1u);
    Outcome const r =
        stats_tool("--html " + page + " " + soak_timeline + " --check 'failures > 0'");
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_THAT(r.out, HasSubstr("check: 1 of 1 threshold crossed"));
    std::string const dom = render(page, HTML_REPORT_SHOTS "/soak-report.png");
    for (std::string const chart : {"latency", "failures"}) {
        EXPECT_EQ(data(dom, chart, "points"), std::to_string(intervals.size())) << chart;
        EXPECT_EQ(data(dom, chart, "restarts"), std::to_string(restarts)) << chart;
        EXPECT_EQ(data(dom, chart, "faults"), "1") << chart;
    }
    EXPECT_EQ(data(dom, "latency", "series"), "3") << "p50, p99, max";
    EXPECT_EQ(data(dom, "failures", "series"), "1") << "status -42";
    EXPECT_EQ(data(dom, "", "function"), "kovra_api_temperature_get_temperature_send");
    EXPECT_THAT(dom, HasSubstr(">check: 1 of 1 threshold crossed<"));
    // A choice of all requests or of each request function that ran.
    size_t requests = 0;
    for (auto const& [id, f] : kovra_sim::stats_files::whole(soak_timeline).functions)
        requests += kovra_sim::is_request(id);
    EXPECT_EQ(countOf(dom, "<option"), requests + 1);
}

// A page draws 1000 points at most (two intervals to a point past that) and a
// file's first 1000 marks, counting the rest: each interval here has a
// restart, and the first a fault too.
TEST_F(HtmlReportTest, EachKindOfInputRenders) {
    struct Case {
        char const* what;
        std::vector<size_t> intervals;  // a timeline per camera; none: statistics
        char const *series, *points, *restarts, *faults, *left_out;
        double last_s = 10;
    };
    Case const cases[] = {
        {"one interval", {1}, "3", "1", "1", "1", ""},
        {"the most marks", {999}, "3", "999", "999", "1", ""},
        {"the most points, a mark past the most", {1000}, "3", "1000", "999", "1", "1"},
        {"a point past the most", {1001}, "3", "501", "999", "1", "2"},
        {"a fleet of two", {3, 2}, "6", "5", "5", "2", ""},
        {"a stop within a millisecond of an interval's end", {3}, "3", "3", "3", "1", "", 0.0004},
        {"statistics", {}, "", "", "", "", ""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::string files;
        for (size_t k = 0; k < c.intervals.size(); ++k)
            files += " " + timeline("cam" + std::to_string(k) + ".jsonl", c.intervals[k],
                                    1.8e9 + 5 * double(k), true, c.last_s);
        if (c.intervals.empty()) files = " " + statistics(timeline("t.jsonl", 4, 1.8e9, false));
        Outcome const written = stats_tool("--html " + dir + "/page.html" + files);
        ASSERT_EQ(written.exit_code, 0) << written.err;
        std::string const dom = render(dir + "/page.html");
        EXPECT_EQ(data(dom, "latency", "series"), c.series);
        EXPECT_EQ(data(dom, "latency", "points"), c.points);
        EXPECT_EQ(data(dom, "latency", "restarts"), c.restarts);
        EXPECT_EQ(data(dom, "latency", "faults"), c.faults);
        EXPECT_EQ(data(dom, "", "function"), "kovra_api_led_get_state_send");
        // A summary row for each camera, and a header.
        size_t const summary = dom.find("<table id=\"summary\"");
        EXPECT_EQ(countOf(dom.substr(summary, dom.find("</table>", summary) - summary), "<tr"),
                  std::max<size_t>(1, c.intervals.size()) + 1);
        EXPECT_EQ(dom.find(" id=\"latency\"") != std::string::npos, !c.intervals.empty());
        EXPECT_EQ(
            dom.find(std::string(">") + c.left_out + " more not marked<") != std::string::npos,
            *c.left_out != 0);
    }
}

// The refusals need no browser.
class HtmlRefusalTest : public HtmlReportTest {
    void SetUp() override {}
};

// What --html refuses: exit 2 with the reason, and no page.
TEST_F(HtmlRefusalTest, ItRefusesWhatItCannotShowAndWritesNothing) {
    std::string const t = timeline("t.jsonl", 2, 1.8e9, false), page = dir + "/page.html";
    std::string const figures = statistics(t);
    struct Case {
        char const* what;
        std::string env, args, says;
    };
    Case const cases[] = {
        {"no file", "", "--html " + page, "--html OUT with files"},
        {"no dygraphs", "KOVRA_STATS_DYGRAPHS=" + dir + "/none", "--html " + page + " " + t,
         "libjs-dygraphs"},
        {"an output it cannot write", "", "--html " + dir + "/no/page.html " + t,
         dir + "/no/page.html"},
        {"a file it cannot read", "", "--html " + page + " " + dir + "/none.jsonl",
         dir + "/none.jsonl"},
        {"a check that does not parse", "", "--html " + page + " " + t + " --check 'p99 >'",
         "--check"},
        {"a check that does not fit", "",
         "--html " + page + " " + figures + " --check 'skip=1, p99 > 1s'",
         "skip= needs a timeline"},
    };
    for (Case const& c : cases) {
        Outcome const r = stats_tool(c.args, c.env);
        EXPECT_EQ(r.exit_code, 2) << c.what << ": " << r.err;
        EXPECT_THAT(r.err, HasSubstr(c.says)) << c.what;
        EXPECT_FALSE(std::filesystem::exists(page)) << c.what;
    }
}

// --plot needs gnuplot, not a browser.
class PlotTest : public HtmlReportTest {
    void SetUp() override {
        if (std::system("command -v gnuplot >/dev/null") != 0)
            GTEST_SKIP() << "gnuplot is not installed (Debian package gnuplot-nox): nothing can "
                            "be drawn";
    }
};

// The PNGs are left with the screenshots, to be looked at.
TEST_F(PlotTest, EachKindOfFileIsDrawn) {
    struct Case {
        char const *what, *option;
        size_t intervals;  // none: statistics
        uint32_t width, height;
    };
    Case const cases[] = {
        {"statistics", "--stats", 0, 1200, 600},
        {"a timeline of bands", "--timeline", 1001, 1200, 900},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::string const t = timeline("t.jsonl", c.intervals ? c.intervals : 4, 1.8e9, true);
        std::string const file = c.intervals ? t : statistics(t);
        std::string const png = HTML_REPORT_SHOTS "/plot-" + std::string(c.option + 2) + ".png";
        std::filesystem::remove(png);
        Outcome const r = stats_tool(std::string(c.option) + " " + file + " --plot " + png);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        // The signature, then the IHDR chunk: width and height, big-endian.
        std::string const head = readFile(png).substr(0, 24);
        ASSERT_EQ(head.size(), 24u) << png;
        EXPECT_EQ(head.substr(0, 8), "\x89PNG\r\n\x1a\n");
        EXPECT_EQ(head.substr(12, 4), "IHDR");
        auto const be32 = [&](size_t at) {
            uint32_t n = 0;
            for (size_t k = at; k < at + 4; ++k) n = n << 8 | uint8_t(head[k]);
            return n;
        };
        EXPECT_EQ(std::pair(be32(16), be32(20)), std::pair(c.width, c.height));
    }
}

}  // namespace
