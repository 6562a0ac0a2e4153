// A soak against kovra-camd while a rig steers it through its admin
// endpoint: a fault posted mid-soak shows in the report, a reset undoes
// everything posted, and the metrics agree with the daemon's stats file.
#include <cstdio>
#include <cstdlib>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

using namespace std::chrono_literals;

// The samples of a /metrics answer.
std::map<std::string, double> metrics(int port) {
    return prometheus_samples(http_body(http_call(port, "GET", "/metrics")));
}

double requests(std::map<std::string, double> const& m, std::string const& function,
                std::string const& status) {
    auto const it = m.find("kovra_camd_requests_total{function=\"" + function + "\",status=\"" +
                           status + "\"}");
    return it == m.end() ? 0 : it->second;
}

// The sum of the samples of a family.
double total(std::map<std::string, double> const& m, std::string const& family) {
    double sum = 0;
    for (auto const& [name, value] : m) sum += name.rfind(family + "{", 0) == 0 ? value : 0;
    return sum;
}

// Every request count of `m` is the stats file's, and no other is there.
void expect_same_counts(std::map<std::string, double> const& m, nlohmann::json const& file) {
    size_t samples = 0;
    for (auto const& [name, f] : file.at("functions").items()) {
        for (auto const& [status, n] : f.at("statuses").items()) {
            EXPECT_EQ(requests(m, name, status), n.get<double>()) << name << " " << status;
            ++samples;
        }
        EXPECT_EQ(m.at("kovra_camd_request_duration_seconds_count{function=\"" + name + "\"}"),
                  f.at("calls").get<double>());
    }
    EXPECT_EQ(samples, size_t(std::count_if(m.begin(), m.end(), [](auto const& s) {
                  return s.first.rfind("kovra_camd_requests_total{", 0) == 0;
              })));
}

using AdminSoakTest = SoakRun;

TEST_F(AdminSoakTest, APostedFaultChangesWhatFollowsAndAResetUndoesIt) {
    Daemon daemon({"--admin", "0", "--sim", "latency=1000;drift=1;restart=led*1/100"});
    int const admin = daemon.admin_port();
    ASSERT_GT(admin, 0) << daemon.log();
    std::string const led = "kovra_api_led_get_state_send";
    start("-t 4 -c 1000 -u " + daemon.url());
    ASSERT_TRUE(eventually([&] { return requests(metrics(admin), led, "0") > 0; }));
    ASSERT_EQ(http_status(http_call(admin, "POST", "/directives", "fail=" + led + ":-9")), 200);
    ASSERT_EQ(finish(), 0) << err;
    Report const report(out);
    EXPECT_EQ(report.total, 4000u);

    auto const after = metrics(admin);
    double const failed = requests(after, led, "-9");
    EXPECT_GT(requests(after, led, "0"), 0) << "the calls before the post passed";
    EXPECT_GT(failed, 0) << "the calls after it failed";
    EXPECT_EQ(double(report.failed()), failed) << "and only they:\n" << out;
    EXPECT_EQ(after.at("kovra_camd_faults_injected_total{kind=\"fail\"}"), failed);
    EXPECT_GT(after.at("kovra_camd_settings_drifted"), 0) << "the soak set values";
    EXPECT_EQ(total(after, "kovra_camd_announcements_total"), 1) << "the soak heard led restart";

    ASSERT_EQ(http_status(http_call(admin, "POST", "/reset")), 200);
    auto const reset = metrics(admin);
    EXPECT_EQ(reset.at("kovra_camd_settings_drifted"), 0);
    EXPECT_EQ(reset.at("kovra_camd_faults_injected_total{kind=\"fail\"}"), 0);
    EXPECT_EQ(requests(reset, led, "0"), 0) << "counters from zero";
    EXPECT_EQ(total(reset, "kovra_camd_announcements_total"), 0);
    EXPECT_EQ(daemon.stop(SIGTERM), 0);
    EXPECT_THAT(daemon.log(),
                testing::HasSubstr("drift: the configuration is as it was at the start"));
}

TEST_F(AdminSoakTest, MetricsAgreeWithTheStatsFile) {
    Daemon daemon({"--admin", "0", "--stats", dir + "/camd.json"});
    int const admin = daemon.admin_port();
    ASSERT_EQ(soak("-t 4 -c 300 -u " + daemon.url()), 0) << err;
    std::string const text = http_body(http_call(admin, "GET", "/metrics"));
    auto const m = metrics(admin);
    ASSERT_EQ(daemon.stop(SIGTERM), 0);
    expect_same_counts(m, stats("camd.json"));
    if (std::system("command -v promtool >/dev/null") != 0) GTEST_SKIP() << "no promtool here";
    FILE* const promtool = popen("promtool check metrics", "w");
    ASSERT_NE(promtool, nullptr);
    fwrite(text.data(), 1, text.size(), promtool);
    EXPECT_EQ(pclose(promtool), 0) << "promtool finds fault with /metrics";
}

// What the rig of a test bench does: it watches /metrics while a soak runs,
// posts a fault, then a reboot, then a reset. The soak rides through it all
// with a whole report; the soak's own statistics (the trace layer's) saw the
// failures the daemon injected, but those in flight when it rebooted; and
// after the reset the metrics and the daemon's stats file count the same.
TEST_F(AdminSoakTest, ARigPostsAFaultThenARebootThenAResetAndTheFiguresAgree) {
    Daemon daemon({"--admin", "0", "--stats", dir + "/camd.json", "--sim", "latency=1000"});
    int const admin = daemon.admin_port();
    std::string const led = "kovra_api_led_get_state_send";
    trace = "stats=" + dir + "/soak.json";
    start("-t 8 -c 1000000 -u " + daemon.url());
    ASSERT_TRUE(eventually([&] { return requests(metrics(admin), led, "0") > 0; }));
    ASSERT_EQ(http_status(http_call(admin, "POST", "/directives", "fail=" + led + ":-9")), 200);
    ASSERT_TRUE(eventually([&] { return requests(metrics(admin), led, "-9") > 0; }));
    ASSERT_EQ(http_status(http_call(admin, "POST", "/directives", "reboot=1")), 200);
    EXPECT_TRUE(eventually([&] { return http_status(http_call(admin, "GET", "/health")) == 503; }));
    EXPECT_TRUE(eventually([&] { return http_status(http_call(admin, "GET", "/health")) == 200; }));
    auto const before = metrics(admin);
    ASSERT_EQ(http_status(http_call(admin, "POST", "/reset")), 200);
    ASSERT_TRUE(eventually([&] { return requests(metrics(admin), led, "0") > 0; }));
    kill(pid, SIGINT);
    ASSERT_EQ(finish(), 0) << err;
    auto const after = metrics(admin);
    ASSERT_EQ(daemon.stop(SIGTERM), 0);

    Report const report(out);
    report.failed();  // every line adds up
    EXPECT_EQ(before.at("kovra_camd_faults_injected_total{kind=\"reboot\"}"), 1);
    double const injected = before.at("kovra_camd_faults_injected_total{kind=\"fail\"}");
    EXPECT_EQ(requests(before, led, "-9"), injected);
    auto const soak = stats("soak.json").at("functions").at(led).at("statuses");
    double const seen = soak.value("-9", 0.0);
    EXPECT_GT(seen, 0);
    EXPECT_LE(seen, injected);
    EXPECT_LE(injected - seen, 8) << "only replies in flight at the reboot are lost";
    EXPECT_EQ(after.at("kovra_camd_faults_injected_total{kind=\"fail\"}"), 0) << "reset";
    EXPECT_EQ(after.at("kovra_camd_faults_injected_total{kind=\"reboot\"}"), 0) << "reset";
    expect_same_counts(after, stats("camd.json"));
}

}  // namespace
