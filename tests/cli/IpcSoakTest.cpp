// ipc_soak's output compared with the simulated camera's journal and state.
#include <gmock/gmock.h>

#include <chrono>
#include <string>
#include <vector>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

class IpcSoakTest : public SoakRun {};

TEST_F(IpcSoakTest, ABadCommandLinePrintsTheUsageAndCallsNothing) {
    for (char const* args : {"-x", "-c", "-c 50 -x", "-t 2 -u"}) {
        EXPECT_EQ(soak(args), 1) << args;
        EXPECT_EQ(out,
                  "Usage: ipc_soak <-c commands_per_thread> <-s seed> <-t num_threads> <-u url>\n"
                  "       -c commands_per_thread: number of commands to run per thread "
                  "(default: 10\n"
                  "       -s seed: random number generator seed value (default: 1\n"
                  "       -t num_threads: number of threads to run (default: 1\n"
                  "       -u URL: connect to camera at URL (tcp://ipaddr).  Defaults to local "
                  "camera\n");
        EXPECT_THAT(err, testing::HasSubstr("option"));  // getopt's own diagnostic
        EXPECT_EQ(readFile(dir + "/state"), "");         // written by kovra_core_deinit
    }
}

TEST_F(IpcSoakTest, EachThreadRunsItsCommandsWithADotPerHundred) {
    struct {
        char const* args;
        std::string dots;
        unsigned long total;
        std::vector<std::string> targets;
        char const* directives = "";
    } const cases[] = {
        {"", ".", 10, {}},
        {"-t 0", "", 0, {}},
        {"-t 3 -c 0", "", 0, {}},
        {"-c 101", "..", 101, {}},
        {"-t 3 -c 250", ".........", 750, {}},
        {"-t 16 -c 10000", std::string(1600, '.'), 160000, {}},
        {"-t 4 -c 500",
         std::string(20, '.'),
         2000,
         {"Target exposure:0 reset 5 times", "Target led:led reset 2 times"},
         "restart=exposure*5/100;restart=led:led*2/700"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(soak(c.args, c.directives), 0);
        EXPECT_EQ(err, "");
        Printed report(out);
        EXPECT_EQ(report.dots, c.dots);
        EXPECT_EQ(report.total, c.total);
        EXPECT_EQ(report.failed(), 0u);
        EXPECT_EQ(report.targets, c.targets);
        std::vector<std::string> calls = journal();
        ASSERT_GE(calls.size(), 6u);
        EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3), kStart);
        EXPECT_EQ(lastCalls(), kShutdown);
        EXPECT_THAT(readFile(dir + "/state"), testing::HasSubstr("\noutstanding_arrays 0\n"));
    }
}

// On stderr after what the library said; shut down as far as it started.
TEST_F(IpcSoakTest, AFailureIsReportedAndWhatStartedIsShutDown) {
    std::string const ipc = "kovra_core_ipc_initiator_init(#1, ";
    struct {
        char const *args, *directives;
        int status;
        char const* err;
        std::vector<std::string> calls = {};  // the whole journal, if not the usual ending
        char const* said = "";                // the library's line before, if any
    } const cases[] = {
        {"",
         "fail=kovra_core_logging_init:7",
         1,
         "ERROR: kovra_core_logging_init failed status7\n",
         {kStart[0], "kovra_core_logging_init(\"IPC_SOAK\", &?) = 7", kShutdown[2]}},
        {"",
         "fail=kovra_core_ipc_initiator_init:-3",
         1,
         "ERROR: kovra_core_ipc_initiator_init failed status-3\n",
         {kStart[0], kStart[1], ipc + "null, &?) = -3", kShutdown[1], kShutdown[2]}},
        // No camera daemon listens there (and none is waited for).
        {"-u tcp://127.0.0.1",
         "give_up=0",
         1,
         "ERROR: kovra_core_ipc_initiator_init failed status-4\n",
         {kStart[0], kStart[1], ipc + "\"tcp://127.0.0.1\", &?) = -4", kShutdown[1], kShutdown[2]},
         "kovra-sim: cannot connect to tcp://127.0.0.1: 127.0.0.1:7570: connection refused "
         "(nothing listens there)\n"},
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        // A schedule table too large for memory (the sanitizers abort instead).
        {"-t -1", "", 0, "ERROR: caught exception "},
#endif
    };
    for (auto const& c : cases) {
        EXPECT_EQ(soak(c.args, c.directives), c.status) << c.args << c.directives;
        EXPECT_EQ(out, "");
        EXPECT_THAT(err, testing::StartsWith(std::string(c.said) + c.err));
        EXPECT_EQ(linesOf(err).size(), *c.said ? 2u : 1u);
        EXPECT_EQ(c.calls.empty() ? lastCalls() : journal(), c.calls.empty() ? kShutdown : c.calls);
    }
    // A core that does not start is reported, and the run goes on.
    EXPECT_EQ(soak("", "fail=kovra_core_init:3"), 0);
    EXPECT_EQ(err, "ERROR: kovra_core_init failed status3\n");
    EXPECT_EQ(Printed(out).total, 10u);
}

// SIGINT (Ctrl-C) or SIGTERM ends a run early with the report of what ran. A
// second signal ends it at once, unless it is a SIGTERM after a SIGTERM (as
// timeout(1) sends them): the same request again, which keeps the report.
// A lone signal needs the run mid-request only; a second must land while
// the workers still wait, hence three seconds a request there.
TEST_F(IpcSoakTest, AStopSignalEndsTheRunWithItsReportAndASecondEndsItAtOnce) {
    struct Case {
        int first, second, status;  // second: 0 for none
    };
    for (Case const c : {Case{SIGINT, 0, 0}, Case{SIGTERM, 0, 0},
                         Case{SIGINT, SIGTERM, 128 + SIGTERM}, Case{SIGTERM, SIGINT, 128 + SIGINT},
                         Case{SIGINT, SIGINT, 128 + SIGINT}, Case{SIGTERM, SIGTERM, 0}}) {
        SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
        // An emulator catches every signal itself: when the first handler ran shows nowhere.
        if (c.second && *IPC_SOAK_EMULATOR) continue;
        start("-t 4 -c 100", c.second ? "latency=3000000" : "latency=300000");
        ASSERT_TRUE(dotted());
        kill(pid, c.first);
        // Sent together, both would be delivered before either handler ran and
        // each taken for a first. The first handler stops catching SIGINT.
        if (c.second) {
            EXPECT_TRUE(eventually([&] { return !catches(SIGINT); }, std::chrono::seconds(10)));
            kill(pid, c.second);
        }
        ASSERT_EQ(finish(60), c.status) << err;
        if (c.status != 0) continue;
        EXPECT_EQ(err, "");
        EXPECT_THAT(Printed(out).total, testing::AllOf(testing::Gt(0u), testing::Lt(400u)));
        EXPECT_EQ(lastCalls(), kShutdown);
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they need the address space
// Sixty workers with 100 MB stacks in 2.5 GB: the later ones cannot start.
TEST_F(IpcSoakTest, WorkersThatCannotStartEndTheRunAsDescribed) {
    if (*IPC_SOAK_EMULATOR) GTEST_SKIP() << "the limits would bind the emulator";
    start("-t 60 -c 300", "latency=500;restart=led*1/2000",
          "ulimit -s 100000; ulimit -v 2500000; ");
    EXPECT_EQ(finish(), 0) << err;
    EXPECT_THAT(err, testing::StartsWith("ERROR: caught exception "));
    EXPECT_EQ(lastCalls(), kShutdown);
}
#endif

// A camera gone for good: each worker waits out give_up= once, then every call
// fails at once. Judged by the slow calls, not the clock, however slow the machine.
TEST_F(IpcSoakTest, ASoakWhoseCameraIsGoneForGoodEndsAfterTheGiveUpTime) {
    Daemon daemon({"--sim", "latency=1000"});
    start("-t 8 -c 20000 -u " + daemon.url(), "give_up=1;stats=" + dir + "/stats");
    ASSERT_TRUE(dotted());
    daemon.stop(SIGKILL);
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(Printed(out).total, 160000u);
    EXPECT_THAT(out, testing::ContainsRegex("/[1-9][0-9]*/[0-9]+\n"));
    uint64_t slow = 0;  // calls that took longer than half a second
    for (auto const& [id, f] : stats("stats").functions)
        for (auto const& [bin, n] : f.bins()) slow += f.lower_us(bin) > 500000 ? n : 0;
    EXPECT_LE(slow, 8u * 2);
}

}  // namespace
