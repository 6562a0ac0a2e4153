// The trace layer in front of the stand-in, as in front of a camera's own
// library: the report does not change, and the layer's figures are the camera's.
#include <gmock/gmock.h>

#include <filesystem>
#include <future>

#include "SoakRun.h"
#include "support/Daemon.h"

namespace {

using TraceTest = SoakRun;

// In-process and over TCP the report is the same with the layer as without, and
// it counts as the camera and the stand-in's stats= do, its timeline too.
TEST_F(TraceTest, ItCountsWhatTheCameraServedAndChangesNothing) {
    std::string const restarts = "restart=exposure*4/500";
    for (bool const tcp : {false, true}) {
        std::unique_ptr<Daemon> daemon;  // a camera of each run's own, as in-process
        std::string const sim_stats = "stats=" + dir + "/sim.json";
        auto run = [&] {
            std::string args = "-t 8 -c 1500 -s 7";
            if (!tcp) return soak(args, restarts + ";" + sim_stats);
            daemon = std::make_unique<Daemon>(
                std::vector<std::string>{"--sim", restarts + ";drift=1;state=" + dir + "/camd"});
            return soak(args + " -u " + daemon->url(), sim_stats);
        };
        ASSERT_EQ(run(), 0) << err;
        std::string const untraced = out;
        // A timeline of its own: one that exists would be appended to.
        std::filesystem::remove(dir + "/trace.jsonl");
        trace = "stats=" + dir + "/trace.json;timeline=" + dir +
                "/trace.jsonl;interval=1;prom=" + dir + "/trace.prom";
        ASSERT_EQ(run(), 0) << err;
        trace.clear();
        EXPECT_EQ(out, untraced) << (tcp ? "over TCP" : "in-process");
        kovra_sim::Report const traced = stats("trace.json");
        // The Prometheus file, written last, counts alike, and promtool accepts it.
        expect_same_counts(prometheus_samples(readFile(dir + "/trace.prom")), traced);
        EXPECT_EQ(std::system(("promtool check metrics <" + dir + "/trace.prom").c_str()), 0);
        auto const layer = callsOf(traced);
        if (tcp) {
            ASSERT_EQ(daemon->stop(SIGTERM), 0);
            // Two values the program writes by design; every other it writes back.
            EXPECT_THAT(daemon->log(),
                        testing::ContainsRegex("drift: 2 settings changed since the start: "
                                               "device_information.friendly_name \\([^)]* -> "
                                               "FRIENDLY\\); log.settings\\[KOVRA_IPC\\] "
                                               "\\([^)]* -> err,notset,notset\\)"));
            for (auto const& [name, n] : stateCalls(readFile(dir + "/camd"))) {
                if (name.rfind("kovra_api_", 0) == 0) {
                    EXPECT_EQ(layer.at(name), n) << name;
                }
            }
        } else {
            EXPECT_EQ(layer, stateCalls(readFile(dir + "/state")));
            EXPECT_EQ(callsOf(stats("sim.json")), layer) << "the stand-in's own stats=";
        }
        EXPECT_EQ(traced.announcements.at("exposure:0"), 4u);
        EXPECT_EQ(stats("sim.json").announcements, traced.announcements);
        EXPECT_THAT(Printed(out).targets, testing::ElementsAre("Target exposure:0 reset 4 times"));
        EXPECT_EQ(callsOf(stats("trace.jsonl")), layer);
    }
}

// The wrappers, which load the layer too, open no file and say nothing.
TEST_F(TraceTest, ALaunchThroughAWrapperTracesTheSoakAlone) {
    if (*IPC_SOAK_EMULATOR) GTEST_SKIP() << "a native wrapper cannot load the emulated layer";
    std::string const script = file("soak", "#!/bin/sh\n\"$@\"\nexit 0\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    trace = "stats=" + dir + "/s.json;timeline=" + dir + "/t.jsonl";
    std::map<std::string, uint64_t> direct, timeline;
    for (std::string const launch :
         {"", "timeout 120", "env", "sh -c '\"$0\" \"$@\"; true'", script.c_str()}) {
        std::filesystem::remove(dir + "/t.jsonl");
        wrapper = launch;
        ASSERT_EQ(soak("-t 1 -c 300 -s 3"), 0) << launch << ": " << err;
        EXPECT_EQ(err, "") << launch;
        std::map<std::string, uint64_t> const summed = callsOf(stats("t.jsonl"));
        if (launch.empty()) direct = callsOf(stats("s.json")), timeline = summed;
        EXPECT_EQ(callsOf(stats("s.json")), direct) << launch;
        EXPECT_EQ(summed, timeline) << launch;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 7)
            << launch << ": s.json, t.jsonl, the camera's state and journal, out, err, soak";
    }
}

// A fault in the layer never reaches the camera; its latency delays every call.
TEST_F(TraceTest, AFaultInTheLayerNeverReachesTheCamera) {
    std::string const read = "kovra_api_temperature_get_temperature_send";
    trace = "fail=" + read + ":-42;latency=2000;stats=" + dir + "/trace.json";
    ASSERT_EQ(soak("-t 4 -c 200"), 0) << err;
    kovra_sim::Report const traced = stats("trace.json");
    uint64_t const failed = traced.function(read)->statuses.at(-42);
    EXPECT_GE(traced.function("kovra_core_init")->min_us, 2000)
        << "the layer's latency comes before the call";
    EXPECT_GT(failed, 0u);
    EXPECT_THAT(out, testing::ContainsRegex("getTemperature pass/fail/total 0/" +
                                            std::to_string(failed) + "/"));
    EXPECT_EQ(stateCalls(readFile(dir + "/state")).count(read), 0u);
}

// A program killed mid-run leaves every interval it completed readable, from
// gzip too; kovra-stats --follow, started before it, showed each and ended with it.
TEST_F(TraceTest, AKilledProgramLeavesEveryCompleteInterval) {
    std::string const timeline = dir + "/trace.jsonl.gz";
    trace = "timeline=" + timeline + ";interval=1";
    auto follow = std::async(std::launch::async, [&] {
        // Bounded, so that a run that never starts cannot hang the test.
        return runShell("timeout 120 " IPC_SOAK_EMULATOR " " KOVRA_STATS " --follow " + timeline,
                        dir, "-follow");
    });
    start("-t 4 -c 100000", "latency=1000");
    ASSERT_TRUE(eventually([&] {
        try {
            return kovra_sim::stats_files::load(timeline).reports.size() >= 2;
        } catch (std::runtime_error const&) {
            return false;  // not there yet
        }
    }));
    kill(pid, SIGKILL);
    EXPECT_EQ(finish(), 128 + SIGKILL);
    Outcome const read = stats_tool("--timeline " + timeline);
    EXPECT_EQ(read.exit_code, 0) << read.err;
    std::vector<std::string> const rows = linesOf(read.out);
    ASSERT_GE(rows.size(), 4u) << "a header, the run's start and two intervals at least";
    EXPECT_THAT(rows[1], testing::StartsWith("run "));
    EXPECT_THAT(rows[3], testing::StartsWith("       1 "));
    ASSERT_EQ(follow.wait_for(std::chrono::minutes(1)), std::future_status::ready);
    Outcome const followed = follow.get();
    EXPECT_EQ(followed.exit_code, 0) << followed.err;
    EXPECT_EQ(linesOf(followed.out).size(), rows.size() - 2) << followed.out;
    EXPECT_THAT(followed.out, testing::ContainsRegex("Z +[0-9]+ requests/s +0 failed +p50"));
}

// A camera of 200 ms a request, as the layer measured it (thresholds far apart, so a
// slow or emulated machine crosses neither); a KOVRA_TRACE that does not parse stops it.
TEST_F(TraceTest, ACheckFailsOnlyARunThatCrossesItsThreshold) {
    trace = "stats=" + dir + "/trace.json";
    for (int const check : {0, 1}) {
        ASSERT_EQ(soak("-t 4 -c 5", check ? "latency=200000" : ""), 0) << err;
        Outcome const r =
            stats_tool("--stats " + dir + "/trace.json --check 'p50 > 150ms, failures > 0.1%'");
        EXPECT_EQ(r.exit_code, check) << r.out << r.err;
        EXPECT_EQ(r.out.find(", over 150ms") != std::string::npos, check == 1) << r.out;
    }
    trace = "latency=slow";
    EXPECT_EQ(soak(""), 1);
    EXPECT_EQ(err,
              "kovra-trace: KOVRA_TRACE: \"latency=slow\": latency must be 0 to 10000000\n"
              "ERROR: kovra_core_init failed status-6\n"
              "ERROR: kovra_core_logging_init failed status-6\n");
}

// A program held still for a second falls behind: the requests it then sends
// carry that second in their time from the plan, not in their service time (a
// schedule quick to draw, so the plan starts with the run). duration= ends it
// as a Ctrl-C would, its report whole, having covered the whole time asked for.
TEST_F(TraceTest, APacedRunKeepsToItsPlanAndShowsAStallFromIt) {
    trace = "rate=500;duration=4;stats=" + dir + "/trace.json";
    start("-t 4 -c 5000");
    ASSERT_TRUE(dotted());
    kill(pid, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the stall itself
    kill(pid, SIGCONT);
    ASSERT_EQ(finish(), 0) << err;
    EXPECT_THAT(Printed(out).total, testing::AllOf(testing::Gt(0u), testing::Lt(20000u)));
    kovra_sim::Report const traced = stats("trace.json");
    EXPECT_GE(traced.end(), 4.0);
    kovra_sim::FunctionStats const requests = traced.requests();
    ASSERT_TRUE(traced.from_plan && traced.behind);
    EXPECT_EQ(traced.from_plan->calls, requests.calls);
    EXPECT_GT(requests.calls, 0u);
    EXPECT_LE(double(requests.calls), 500 * traced.end() + 4);
    // What was due in the stalled second is sent after it: a plan that dropped
    // that second would send 3/4 of its requests. The floor leaves room for a
    // sanitizer or an emulator, whose catch-up burst takes a while of its own.
    EXPECT_GE(double(requests.calls), 0.85 * 500 * traced.end());
    EXPECT_GE(traced.from_plan->quantile(0.99), 500000);
    EXPECT_GE(traced.behind->max_us, 500000);
    EXPECT_LT(requests.quantile(0.99) * 4, traced.from_plan->quantile(0.99));
}

}  // namespace
