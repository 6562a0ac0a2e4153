// A soak against kovra-camd while a rig steers it through its admin endpoint.
#include <nlohmann/json.hpp>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

using namespace std::chrono_literals;

// The sum of the samples of a family.
double total(std::map<std::string, double> const& m, std::string const& family) {
    double sum = 0;
    for (auto const& [name, value] : m) sum += name.rfind(family + "{", 0) == 0 ? value : 0;
    return sum;
}

std::string const kReboots = "kovra_camd_faults_injected_total{kind=\"reboot\"}";

using AdminSoakTest = SoakRun;

// A rig posts a fault, then a reboot every 6 s with a latency, then resets; the
// camera rebooted once at its start. A posted reboot brings the camera back as
// it started (the posted latency forgotten, the schedule kept) and 2.5 s later
// every target announces itself. The soak's trace layer saw the injected
// failures but those in flight at a reboot.
TEST_F(AdminSoakTest, ARigPostsAFaultThenRebootsThenResetsAndTheFiguresAgree) {
    Daemon daemon(
        {"--admin", "0", "--stats", dir + "/camd.json", "--sim", "latency=1000;reboot=1;drift=1"});
    int const admin = daemon.admin_port();
    auto const state = [&] {
        return nlohmann::json::parse(http_body(http_call(admin, "GET", "/state")));
    };
    auto const reboots = [&] { return daemon.metrics().at(kReboots); };
    std::string const led = "kovra_api_led_get_state_send";
    ASSERT_TRUE(eventually([&] { return reboots() == 1 && daemon.health() == 200; }));
    trace = "stats=" + dir + "/soak.json";
    start("-t 8 -c 200000 -u " + daemon.url());  // ended by SIGINT, at 1 ms a request
    // It draws its schedule first: slow under a sanitizer on a busy machine.
    ASSERT_TRUE(eventually([&] { return requests(daemon.metrics(), led, "0") > 0; }, 3min));
    ASSERT_EQ(http_status(http_call(admin, "POST", "/directives", "fail=" + led + ":-9")), 200);
    ASSERT_TRUE(eventually([&] { return requests(daemon.metrics(), led, "-9") > 0; }));
    ASSERT_EQ(http_status(http_call(admin, "POST", "/directives", "latency=250;reboot=1@6")), 200);
    EXPECT_EQ(state().at("latency_us"), 250);
    EXPECT_TRUE(eventually([&] { return daemon.health() == 503; }));
    EXPECT_TRUE(eventually([&] { return daemon.health() == 200; }));
    nlohmann::json const back = state();
    EXPECT_EQ(back.at("latency_us"), 1000) << "a reboot forgets what was posted";
    EXPECT_EQ(back.at("directives").at("posted").size(), 0u);
    EXPECT_EQ(back.at("wire").at("reboot"), (nlohmann::json{{"seconds", 1}, {"every_s", 6}}));
    double const heard = total(daemon.metrics(), "kovra_camd_announcements_total");
    EXPECT_TRUE(eventually(
        [&] { return total(daemon.metrics(), "kovra_camd_announcements_total") >= heard + 18; }));
    auto const before = daemon.metrics();
    EXPECT_GT(before.at("kovra_camd_settings_drifted"), 0) << "the soak writes two values";
    ASSERT_EQ(http_status(http_call(admin, "POST", "/reset")), 200);
    EXPECT_EQ(state().at("wire").at("reboot"), (nlohmann::json{{"seconds", 1}, {"every_s", 0}}))
        << "the start's, which came once; the posted schedule ends with a reset";
    EXPECT_EQ(total(daemon.metrics(), "kovra_camd_announcements_total"), 0) << "reset";
    ASSERT_TRUE(eventually([&] { return requests(daemon.metrics(), led, "0") > 0; }));
    kill(pid, SIGINT);
    ASSERT_EQ(finish(), 0) << err;
    std::string const text = http_body(http_call(admin, "GET", "/metrics"));
    auto const after = prometheus_samples(text);
    ASSERT_EQ(daemon.stop(SIGTERM), 0);

    Printed const report(out);
    EXPECT_EQ(report.targets.size(), 18u) << "one line for each service of the table\n" << out;
    for (auto const& line : report.targets)
        EXPECT_THAT(line, testing::MatchesRegex(".* reset [1-9][0-9]* times"));
    EXPECT_THAT(err, testing::HasSubstr("is back"));
    std::string const log = daemon.log();
    EXPECT_EQ(log.find("rebooting:", log.find("admin: reset to the start")), std::string::npos)
        << "a reset brought back the start's reboot:\n"
        << log;
    double const rebooted = before.at(kReboots) - 1;
    EXPECT_GE(rebooted, 1);
    double const injected = before.at("kovra_camd_faults_injected_total{kind=\"fail\"}");
    EXPECT_EQ(requests(before, led, "-9"), injected);
    auto const soak = stats("soak.json").functions.at(kovra_sim::function_id(led)).statuses;
    double const seen = soak.count(-9) ? double(soak.at(-9)) : 0;
    EXPECT_GT(seen, 0);
    EXPECT_LE(seen, injected);
    EXPECT_LE(injected - seen, 8 * rebooted) << "only replies in flight at a reboot are lost";
    EXPECT_EQ(after.at("kovra_camd_faults_injected_total{kind=\"fail\"}"), 0) << "reset";
    EXPECT_EQ(after.at(kReboots), 0) << "reset";
    expect_same_counts(after, stats("camd.json"));
    EXPECT_EQ(std::system(("promtool check metrics <" + file("metrics", text)).c_str()), 0)
        << "promtool finds fault with /metrics";
}

}  // namespace
