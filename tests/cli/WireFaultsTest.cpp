// ipc_soak against a kovra-camd that injects faults on the wire: under each
// the run ends on its own with a report whose every line adds up, and the
// client shows what that fault should cause: nothing at all, failures and
// reconnects, or a refused camera that comes back and announces its targets.
#include <gmock/gmock.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class WireFaultsTest : public SoakRun {
protected:
    // "#CONNECTION CALL" for each drop the daemon logged.
    static std::vector<std::string> drops(std::string const& log) {
        std::regex const dropped("connection (#[0-9]+) .*: closed: dropped after call ([0-9]+)");
        std::vector<std::string> all;
        for (std::sregex_iterator m(log.begin(), log.end(), dropped), end; m != end; ++m)
            all.push_back((*m)[1].str() + " " + (*m)[2].str());
        return all;
    }
};

// Faults that lose no reply: the report is the in-process one, the client
// never reconnects, and the daemon counts what it injected: at most `share`
// of the calls it served (bandwidth= counts each write it holds back).
TEST_F(WireFaultsTest, FaultsThatLoseNoReplyLeaveTheReportAsInProcess) {
    struct Case {
        std::string directives, kind, commands;
        double share;
    } const cases[] = {
        {"slice=1", "slice", "200", 1},
        {"slice=5;bandwidth=400", "bandwidth", "50", HUGE_VAL},
        {"jitter=4", "jitter", "50", 1},
        {"stall=50@0.02", "stall", "100", 0.1},
    };
    for (Case const& c : cases) {
        ASSERT_EQ(soak("-t 8 -c " + c.commands), 0);
        std::string const in_process = out;
        Daemon daemon({"--sim", c.directives, "--stats", dir + "/camd"});
        EXPECT_EQ(soak("-t 8 -c " + c.commands + " -u " + daemon.url()), 0) << c.directives;
        EXPECT_EQ(out, in_process) << c.directives;
        EXPECT_EQ(err, "") << c.directives;
        ASSERT_EQ(daemon.stop(SIGTERM), 0);
        nlohmann::json const camd = stats("camd");
        uint64_t const injected = camd["wire_faults"][c.kind].get<uint64_t>();
        double calls = 0;
        for (auto const& [name, f] : camd["functions"].items()) calls += f["calls"].get<double>();
        EXPECT_GT(injected, 0u) << c.directives;
        EXPECT_LE(injected, c.share * calls) << c.directives;
    }
}

// Faults that cost replies: the calls in flight fail (-8 for one whose
// deadline passed, -4 for the others), the client reconnects, and the
// calls after them wait for it instead of failing.
TEST_F(WireFaultsTest, FaultsThatCostRepliesFailOnlyTheCallsInFlight) {
    struct Case {
        std::string directives, client, says;
    } const cases[] = {
        {"drop=0.02", "", "is back"},
        {"drop=every:100", "", "is back"},
        {"stall=1000@0.004", "timeout=300;", "no reply within 300 ms"},
    };
    for (Case const& c : cases) {
        Daemon daemon({"--sim", c.directives, "--stats", dir + "/camd"});
        EXPECT_EQ(soak("-t 8 -c 200 -u " + daemon.url(), c.client + "stats=" + dir + "/client"), 0)
            << c.directives;
        Report const report(out);
        EXPECT_EQ(report.total, 1600u) << c.directives;
        EXPECT_THAT(err, testing::HasSubstr(c.says)) << c.directives;
        ASSERT_EQ(daemon.stop(SIGTERM), 0);
        nlohmann::json const faults = stats("camd")["wire_faults"];
        uint64_t const losses = faults["drop"].get<uint64_t>() + faults["stall"].get<uint64_t>();
        EXPECT_GT(losses, 0u) << c.directives;
        EXPECT_GE(report.failed(), 1u) << c.directives;
        EXPECT_LE(report.failed(), 8 * losses) << c.directives;
    }
}

// The same seed drops the same calls of the same connections, so a run of
// one worker repeats exactly, report included; another seed does not.
TEST_F(WireFaultsTest, TheSameSeedDropsTheSameCalls) {
    std::vector<std::string> runs, reports;
    for (char const* seed : {"7", "7", "8"}) {
        Daemon daemon({"--sim", std::string("drop=0.03;seed=") + seed});
        EXPECT_EQ(soak("-t 1 -c 300 -u " + daemon.url()), 0);
        ASSERT_EQ(daemon.stop(SIGTERM), 0);
        std::vector<std::string> const dropped = drops(daemon.log());
        EXPECT_GE(dropped.size(), 3u) << daemon.log();
        runs.push_back(testing::PrintToString(dropped));
        reports.push_back(out);
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_NE(runs[0], runs[2]);
}

// A reboot refuses connections for its time, then the camera listens again
// and announces every target; the soak rides through it.
TEST_F(WireFaultsTest, ASoakRidesThroughARebootAndHearsTheTargetsAnnounced) {
    Daemon daemon({"--sim", "reboot=1@6;latency=1000"});
    start("-t 8 -c 1000000 -u " + daemon.url());
    ASSERT_TRUE(eventually([&] { return daemon.log().find("rebooting:") != std::string::npos; }))
        << daemon.log();
    auto const down = Clock::now();
    int fd = connect_loopback(daemon.port());
    EXPECT_LT(fd, 0) << "a rebooting camera refuses connections";
    eventually([&] { return (fd = connect_loopback(daemon.port())) >= 0; }, 10s);
    auto const refused = Clock::now() - down;
    close(fd);
    EXPECT_GE(refused, 800ms);
    EXPECT_LE(refused, 1500ms);
    std::this_thread::sleep_for(3s);  // its announcements come 2.5 s after it is back
    kill(pid, SIGINT);
    EXPECT_EQ(finish(), 0) << err;
    Report const report(out);
    EXPECT_GT(report.total, 0u);
    EXPECT_LE(report.failed(), 8u);
    EXPECT_THAT(err, testing::HasSubstr("is back"));
    EXPECT_EQ(report.targets.size(), 18u) << "one line for each service of the table\n" << out;
    for (auto const& line : report.targets) EXPECT_THAT(line, testing::EndsWith(" reset 1 times"));
    EXPECT_THAT(daemon.log(), testing::HasSubstr("closed: the camera reboots"));
}

}  // namespace
