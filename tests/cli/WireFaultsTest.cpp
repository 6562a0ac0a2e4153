// ipc_soak against a kovra-camd that injects faults on the wire (a reboot is
// AdminSoakTest's): each run ends with a report whose every line adds up.
#include <gmock/gmock.h>

#include <cmath>
#include <regex>
#include <string>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

class WireFaultsTest : public SoakRun {
protected:
    // The faults of `kind` that a daemon with an admin endpoint injected so far.
    static double injected(Daemon const& daemon, std::string const& kind) {
        return daemon.metrics().at("kovra_camd_faults_injected_total{kind=\"" + kind + "\"}");
    }
};

// Faults that lose no reply leave the report as in-process; the daemon injected
// at most `share` of its calls (bandwidth= counts each write it holds back).
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
        Daemon daemon({"--sim", c.directives, "--stats", dir + "/camd", "--admin", "0"});
        EXPECT_EQ(soak("-t 8 -c " + c.commands + " -u " + daemon.url()), 0) << c.directives;
        EXPECT_EQ(out, in_process) << c.directives;
        EXPECT_EQ(err, "") << c.directives;
        double const faults = injected(daemon, c.kind);
        ASSERT_EQ(daemon.stop(SIGTERM), 0);
        EXPECT_GT(faults, 0) << c.directives;
        EXPECT_LE(faults, c.share * double(stats("camd").calls())) << c.directives;
    }
}

// Faults that cost replies fail the calls in flight (-8 past their deadline,
// else -4); the client reconnects and the calls after wait for it.
TEST_F(WireFaultsTest, FaultsThatCostRepliesFailOnlyTheCallsInFlight) {
    struct Case {
        std::string directives, client, says;
    } const cases[] = {
        {"drop=0.02", "", "is back"},
        {"drop=every:100", "", "is back"},
        {"stall=1000@0.004", "timeout=300;", "no reply within 300 ms"},
    };
    for (Case const& c : cases) {
        Daemon daemon({"--sim", c.directives, "--admin", "0"});
        EXPECT_EQ(soak("-t 8 -c 200 -u " + daemon.url(), c.client), 0) << c.directives;
        Printed const report(out);
        EXPECT_EQ(report.total, 1600u) << c.directives;
        EXPECT_THAT(err, testing::HasSubstr(c.says)) << c.directives;
        double const losses = injected(daemon, "drop") + injected(daemon, "stall");
        EXPECT_GT(losses, 0) << c.directives;
        EXPECT_GE(report.failed(), 1u) << c.directives;
        EXPECT_LE(double(report.failed()), 8 * losses) << c.directives;
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
