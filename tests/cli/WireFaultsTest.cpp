// ipc_soak against a kovra-camd that injects faults on the wire (a reboot is
// AdminSoakTest's): each run ends with a report whose every line adds up.
#include <gmock/gmock.h>

#include <cmath>
#include <regex>
#include <string>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

using WireFaultsTest = SoakRun;

// The faults of `kind` that a daemon with an admin endpoint injected so far.
double injected(Daemon const& daemon, std::string const& kind) {
    return daemon.metrics().at("kovra_camd_faults_injected_total{kind=\"" + kind + "\"}");
}

// Faults that lose no reply leave the report as in-process; the daemon injected
// at most `share` of its calls (bandwidth= counts each write it holds back).
TEST_F(WireFaultsTest, FaultsThatLoseNoReplyLeaveTheReportAsInProcess) {
    std::tuple<std::string, std::string, std::string, double> const cases[] = {
        {"slice=1", "slice", "200", 1},
        {"slice=5;bandwidth=400", "bandwidth", "50", HUGE_VAL},
        {"jitter=4", "jitter", "50", 1},
        {"stall=50@0.02", "stall", "100", 0.1},
    };
    for (auto const& [directives, kind, commands, share] : cases) {
        ASSERT_EQ(soak("-t 8 -c " + commands), 0);
        std::string const in_process = out;
        Daemon daemon({"--sim", directives, "--stats", dir + "/camd", "--admin", "0"});
        EXPECT_EQ(soak("-t 8 -c " + commands + " -u " + daemon.url()), 0) << directives;
        EXPECT_EQ(out, in_process) << directives;
        EXPECT_EQ(err, "") << directives;
        double const faults = injected(daemon, kind);
        ASSERT_EQ(daemon.stop(SIGTERM), 0);
        EXPECT_GT(faults, 0) << directives;
        EXPECT_LE(faults, share * double(stats("camd").calls())) << directives;
    }
}

// Faults that cost replies fail the calls in flight (-8 past their deadline,
// else -4); the client reconnects and the calls after wait for it.
TEST_F(WireFaultsTest, FaultsThatCostRepliesFailOnlyTheCallsInFlight) {
    for (auto [directives, client, says] :
         {std::tuple{"drop=0.02", "", "is back"},
          {"drop=every:100", "", "is back"},
          {"stall=1000@0.004", "timeout=300;", "no reply within 300 ms"}}) {
        Daemon daemon({"--sim", directives, "--admin", "0"});
        EXPECT_EQ(soak("-t 8 -c 200 -u " + daemon.url(), client), 0) << directives;
        Printed const report(out);
        EXPECT_EQ(report.total, 1600u) << directives;
        EXPECT_THAT(err, testing::HasSubstr(says)) << directives;
        double const losses = injected(daemon, "drop") + injected(daemon, "stall");
        EXPECT_GT(losses, 0) << directives;
        EXPECT_GE(report.failed(), 1u) << directives;
        EXPECT_LE(double(report.failed()), 8 * losses) << directives;
    }
}

// So a one-worker run repeats exactly, report included; another seed does not.
TEST_F(WireFaultsTest, TheSameSeedDropsTheSameCalls) {
    std::regex const drop("connection (#[0-9]+) .*: closed: dropped after call ([0-9]+)");
    std::vector<std::string> runs, reports;
    for (char const* seed : {"7", "7", "8"}) {
        Daemon daemon({"--sim", std::string("drop=0.03;seed=") + seed});
        EXPECT_EQ(soak("-t 1 -c 300 -u " + daemon.url()), 0);
        ASSERT_EQ(daemon.stop(SIGTERM), 0);
        std::string const log = daemon.log();
        std::string dropped;  // "#CONNECTION CALL;" for each drop logged
        for (std::sregex_iterator m(log.begin(), log.end(), drop), end; m != end; ++m)
            dropped += (*m)[1].str() + " " + (*m)[2].str() + ";";
        EXPECT_GE(countOf(dropped, ";"), 3u) << log;
        runs.push_back(dropped);
        reports.push_back(out);
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_NE(runs[0], runs[2]);
}

}  // namespace
