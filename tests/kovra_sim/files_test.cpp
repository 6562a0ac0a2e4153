// Programs linked like ipc_soak run under a KOVRA_SIM value, and the files
// the library writes for them.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>

#include "common/functions.h"
#include "stats/report_files.h"
#include "support/TempDirTest.h"

namespace {

using testing::HasSubstr;

class ChildFiles : public TempDirTest {
protected:
    ChildFiles() : TempDirTest("kovra_sim_files") {}

    // Runs `program` with KOVRA_SIM set, bounded to 30 s, after the shell
    // commands in `before` (limits, say).
    Outcome run(std::string const& program, std::string const& kovra_sim,
                std::string const& tag = "", std::string const& before = "") {
        return runShell(before + "KOVRA_SIM='" + kovra_sim + "' exec timeout 30 " +
                            KOVRA_SIM_EMULATOR + " " + program,
                        dir, tag);
    }
    // The child with `args` behind the trace layer, which KOVRA_TRACE=`trace` steers.
    Outcome traced(std::string const& args, std::string const& kovra_sim, std::string const& trace,
                   std::string const& tag = "") {
        return run(std::string(*KOVRA_SIM_EMULATOR ? "-E " : "env ") +
                       "LD_PRELOAD=" KOVRA_TRACE_LIBRARY " " KOVRA_SIM_ENV_CHILD " " + args,
                   kovra_sim, tag, "KOVRA_TRACE='" + trace + "' ");
    }
    std::string path(char const* name) const { return dir + "/" + name; }
};

// A LED of 9 whose second read fails, as kChildJournal shows.
std::string const kChild = "set=led.state=9; fail=kovra_api_led_get_state_send@2:-77; ";
std::string const kChildJournal =
    "kovra_core_init() = 0\n"
    "kovra_core_logging_init(\"kovra_sim_env_child\", &#1) = 0\n"
    "kovra_core_logging_log(#1, 6, \"child 1\") = 0\n"
    "kovra_core_logging_log(#1, 6, \"100%d done\") = 0\n"
    "kovra_core_ipc_initiator_init(#1, null, &#2) = 0\n"
    "kovra_api_led_initiator_init(#2, #1, &#3, 0, 0) = 0\n"
    "kovra_api_led_get_state_send(#3, \"led\", &9) = 0\n"
    "kovra_api_led_get_state_send(#3, \"led\", &?) = -77\n"
    "kovra_api_led_get_state_send(#3, \"led\", &9) = 0\n";

// The state file, named through a link, replaces the file the link names.
TEST_F(ChildFiles, DirectivesApplyAndTheFilesHoldTheWholeRun) {
    std::ofstream(path("state")) << "an older state\n";
    std::filesystem::create_symlink("state", path("link"));
    Outcome const r =
        run(KOVRA_SIM_ENV_CHILD,
            kChild + "set=device_information.friendly_name=two\\nlines\\, one value;" +
                "journal=" + path("journal") + ";state=" + path("link"));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "init=0 logging_init=0\nget_state=0 value=9\nget_state=-77 value=0\nget_state=0 "
              "value=9\ndeinit=0\n");
    EXPECT_EQ(readFile(path("journal")), kChildJournal +
                                             "kovra_api_led_initiator_deinit(#3) = 0\n"
                                             "kovra_core_ipc_deinit(#2) = 0\n"
                                             "kovra_core_logging_deinit(#1) = 0\n"
                                             "kovra_core_deinit() = 0\n");
    std::string const state = readFile(path("state"));
    EXPECT_THAT(state, HasSubstr("\ndevice_information.friendly_name=two\\nlines\\, one value\n"));
    EXPECT_THAT(state, HasSubstr("\nled.state=9\n"));
    EXPECT_THAT(
        state,
        HasSubstr(
            "\ncalls kovra_api_led_get_state_send 3\ncalls kovra_api_led_initiator_deinit 1\n"));
    EXPECT_THAT(state, testing::EndsWith("\noutstanding_arrays 0\n"));
    EXPECT_TRUE(std::filesystem::is_symlink(path("link")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 5)
        << "a temporary file was left";
    // An aborted run leaves the journal of every call it made.
    std::string const aborting = std::string(KOVRA_SIM_ENV_CHILD) + " abort";
    EXPECT_NE(run(aborting, kChild + "journal=" + path("aborted")).exit_code, 0);
    EXPECT_EQ(readFile(path("aborted")), kChildJournal);
}

// A file that cannot be written at the end (past the file size limit here).
TEST_F(ChildFiles, AFailedWriteIsSaidAndLeavesNothingBehind) {
    for (char const* directive : {"state=", "stats="}) {
        std::string const file = path("figures");
        Outcome const r =
            run(KOVRA_SIM_ENV_CHILD, directive + file, directive, "ulimit -f 1; trap '' XFSZ; ");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, "kovra-sim: cannot write " + file + ": File too large\n");
        EXPECT_FALSE(std::filesystem::exists(file)) << directive;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2)
            << directive << ": only out and err, no temporary file";
        std::filesystem::remove(path("out") + directive);
        std::filesystem::remove(path("err") + directive);
    }
}

// A logged text arrives as formatted (a '%' stays one); the journal stamps each
// call's start in s and length in us (the layer's own 20 ms first).
TEST_F(ChildFiles, TheTraceLayerPassesLoggedTextOnAndStampsCallsInTheirUnits) {
    auto const began = std::chrono::steady_clock::now();
    Outcome const r =
        traced("", kChild + "journal=" + path("journal"), "latency=20000;journal=" + path("trace"));
    double const ran =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_THAT(readFile(path("journal")), testing::StartsWith(kChildJournal));
    std::vector<std::string> const lines = linesOf(readFile(path("trace")));
    ASSERT_EQ(lines.size(), linesOf(readFile(path("journal"))).size());
    double ended = 0;  // the call before, in seconds
    for (std::string const& line : lines) {
        double start = 0, took = 0;
        ASSERT_EQ(
            std::sscanf(line.c_str(), "%*4d-%*2d-%*2dT%*2d:%*2d:%*9fZ @%lf +%lfus ", &start, &took),
            2)
            << line;
        EXPECT_GE(took, 20000) << line;
        EXPECT_GE(start + 1e-6, ended) << line;
        EXPECT_LE(start, ran) << "seconds since the layer was loaded, within the run";
        ended = start + took / 1e6;
    }
}

// Only a regular file, a link to one or a new name will do, and the rest is
// left as it was: a FIFO stands for a device, which a broken build would replace.
TEST_F(ChildFiles, PathsThatCannotWorkAreRefusedClearly) {
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("nothing", path("dangling"));
    std::pair<std::string, std::string> const cases[] = {
        {"journal=" + path("fifo"), "journal " + path("fifo") + ": not a regular file"},
        {"state=" + path("fifo"), "state " + path("fifo") + ": not a regular file"},
        {"stats=" + dir, "stats " + dir + ": not a regular file"},
        {"state=" + path("dangling"),
         "state " + path("dangling") + ": a symbolic link to nothing (No such file or directory)"},
        {"journal=" + dir + "/no/such/dir/j",
         "journal " + dir + "/no/such/dir/j: no folder " + dir + "/no/such/dir"},
        {"latency=fast", "\"latency=fast\": latency must be 0 to 10000000"},
    };
    for (auto const& [directives, error] : cases) {
        Outcome const r = run(KOVRA_SIM_ENV_CHILD, directives);
        EXPECT_EQ(r.exit_code, 1) << directives;
        EXPECT_EQ(r.out, "init=-6 logging_init=-6\n") << directives;
        EXPECT_EQ(r.err, "kovra-sim: KOVRA_SIM: " + error + "\n");
    }
    struct stat st {};
    EXPECT_TRUE(stat(path("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// The first process's files stay whole; with %p in a name, each writes its own.
TEST_F(ChildFiles, TwoProcessesNeverShareAFile) {
    auto first = std::async(std::launch::async, [&] {
        return run(std::string(KOVRA_SIM_ENV_CHILD) + " hold " + path("release"),
                   kChild + "journal=" + path("journal") + ";stats=" + path("shared"), "1");
    });
    ASSERT_TRUE(eventually(
        [&] { return readFile(path("journal")).find("&9) = 0\n") != std::string::npos; }));
    for (auto [file, name] : {std::pair{"journal", path("journal")}, {"stats", path("shared")}}) {
        Outcome const second = run(KOVRA_SIM_ENV_CHILD, std::string(file) + "=" + name, "2");
        EXPECT_EQ(second.err, "kovra-sim: KOVRA_SIM: " + (file + (" " + name)) +
                                  ": in use by another process\n");
    }
    EXPECT_EQ(run(KOVRA_SIM_ENV_CHILD, "stats=" + path("%p.json"), "3").exit_code, 0);
    std::ofstream(path("release")).close();
    EXPECT_EQ(first.get().exit_code, 0);
    EXPECT_THAT(readFile(path("journal")), testing::StartsWith(kChildJournal));
    EXPECT_THAT(readFile(path("journal")), testing::EndsWith("kovra_core_deinit() = 0\n"));
    EXPECT_EQ(kovra_sim::stats_files::whole(path("shared")).calls(), 13u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 4 + 2 * 3)
        << "journal, shared, one PID.json and release, and each run's out and err";
}

// A forked child's files get .PID; an exec'd program adds to what was written.
TEST_F(ChildFiles, TracedProgramsThatForkOrExecCountEveryCallOnce) {
    int const led = kovra_sim::fn_kovra_api_led_get_state_send;
#if !defined(__SANITIZE_ADDRESS__)  // its allocator takes no lock around fork: a child forked
                                    // while a new thread allocates can hang in its leak check
    ASSERT_EQ(traced("fork", "", "stats=" + path("forked.json"), "fork").exit_code, 0);
    std::vector<uint64_t> reads;
    for (auto const& f : std::filesystem::directory_iterator(dir)) {
        if (f.path().filename().string().rfind("forked.json", 0) == 0)
            reads.push_back(kovra_sim::stats_files::whole(f.path()).functions.at(led).calls);
    }
    std::sort(reads.begin(), reads.end());
    EXPECT_EQ(reads, (std::vector<uint64_t>{3, 5})) << "the parent's and the child's";
#endif
    // An emulated program cannot exec another without the kernel's help.
    if (*KOVRA_SIM_EMULATOR) return;
    Outcome const r =
        traced("exec", "", "stats=" + path("exec.json") + ";journal=" + path("exec"), "exec");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    kovra_sim::Report const both = kovra_sim::stats_files::whole(path("exec.json"));
    EXPECT_EQ(both.functions.at(led).calls, 6u);
    EXPECT_EQ(both.functions.at(kovra_sim::fn_kovra_core_init).calls, 2u);
    std::string const journal = readFile(path("exec"));
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 2 * 9 + 4)
        << "the calls before the exec, the same after it, and the shutdown:\n"
        << journal;
}

TEST_F(ChildFiles, TheInfoToolChecksValuesAndDescribesTheLibrary) {
    std::string const info = KOVRA_SIM_INFO;  // run() starts it through the emulator, if any
    // Each place as the table has it: the daemon's faults are refused in a program.
    for (auto [check, status] : {std::pair{"--check 'restart=led*2/9; timeout=10'", 0},
                                 {"--check drop=0.1", 1},
                                 {"--for post --check drop=0.1", 0},
                                 {"--for daemon --check timeout=10", 1},
                                 {"--for trace --check set=led.state=1", 1},
                                 {"--for trace --check latency=1", 0},
                                 {"--defaults --functions", 2}}) {
        Outcome const r = run(info + " " + check, "");
        EXPECT_EQ(r.exit_code, status) << check << ": " << r.err;
        EXPECT_EQ(r.out, status ? "" : "ok\n") << check;
    }
    Outcome r = run(info + " --check 'fail=kovra_api_led_get_state_send@0'", "");
    EXPECT_EQ(r.err,
              "kovra-sim-info: \"fail=kovra_api_led_get_state_send@0\": call number after '@' must "
              "be 1 or more\n");
    r = run(info + " --functions", "");
    EXPECT_THAT(
        r.out,
        HasSubstr("int32_t kovra_api_img_param_get_stream_dim_send(kovra_initiator* initiator, "
                  "char const* target, int32_t a0, int32_t a1, uint32_t* a2, uint32_t* a3)\n"));
}

}  // namespace
