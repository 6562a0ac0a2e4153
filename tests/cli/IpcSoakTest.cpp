// Runs the built ipc_soak as a user would, against the stand-in's simulated
// camera, steered and observed through the KOVRA_SIM environment variable:
// the camera's own journal and call counts are compared with what the
// program printed.
#include <gmock/gmock.h>

#include <cstdio>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "RunProgram.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::StartsWith;

std::string const usage =
    "Usage: ipc_soak <-c commands_per_thread> <-s seed> <-t num_threads> <-u url>\n"
    "       -c commands_per_thread: number of commands to run per thread (default: 10\n"
    "       -s seed: random number generator seed value (default: 1\n"
    "       -t num_threads: number of threads to run (default: 1\n"
    "       -u URL: connect to camera at URL (tcp://ipaddr).  Defaults to local camera\n";

std::vector<std::string> linesOf(std::string const& text);

// The settings lines ("key=values") of a state file the camera wrote.
std::vector<std::string> settingsIn(std::string const& state) {
    std::vector<std::string> settings;
    for (auto const& line : linesOf(state)) {
        if (line.find('=') != std::string::npos && line.compare(0, 6, "calls ") != 0) {
            settings.push_back(line);
        }
    }
    return settings;
}

std::vector<std::string> linesOf(std::string const& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// One command line of the report.
struct ReportLine {
    std::string target, command;
    unsigned long passed, failed, total;
};

// The parts of a run's standard output: the dot line, the command lines and
// the target lines. Fails the test on any line that is out of format.
struct Report {
    std::string dots;
    std::vector<ReportLine> commands;
    std::vector<std::string> targets;

    explicit Report(std::string const& out) {
        std::vector<std::string> lines = linesOf(out);
        EXPECT_FALSE(lines.empty());
        if (lines.empty()) {
            return;
        }
        dots = lines[0];
        std::regex const format(
            "Service: (.{21,}) Command: (.{32,}) pass/fail/total (\\d+)/(\\d+)/(\\d+)");
        std::size_t i = 1;
        for (std::smatch m; i < lines.size() && std::regex_match(lines[i], m, format); ++i) {
            commands.push_back(ReportLine{trim(m[1]), trim(m[2]), std::stoul(m[3]),
                                          std::stoul(m[4]), std::stoul(m[5])});
            EXPECT_EQ(commands.back().passed + commands.back().failed, commands.back().total);
        }
        if (i < lines.size()) {
            EXPECT_EQ(lines[i++], "");
            targets.assign(lines.begin() + static_cast<long>(i), lines.end());
        }
    }

    unsigned long total() const {
        unsigned long sum = 0;
        for (auto const& line : commands) {
            sum += line.total;
        }
        return sum;
    }

    static std::string trim(std::string const& field) {
        return field.substr(field.find_first_not_of(' '));
    }
};

class IpcSoakTest : public testing::Test {
protected:
    void SetUp() override { dir = makeTempDirectory(); }
    void TearDown() override {
        std::remove(journalPath().c_str());
        std::remove(statePath().c_str());
        std::remove(dir.c_str());
    }

    // Runs ipc_soak with `args`; the simulated camera journals every call
    // (unless told not to) and writes its state at shutdown, after applying
    // `directives`.
    ProgramRun soak(std::vector<std::string> const& args, std::string const& directives = "") {
        std::vector<std::string> command;
        std::istringstream emulator(IPC_SOAK_EMULATOR);
        for (std::string word; emulator >> word;) {
            command.push_back(word);
        }
        command.push_back(IPC_SOAK_PROGRAM);
        command.insert(command.end(), args.begin(), args.end());
        std::string sim = "state=" + statePath();
        if (journalled) {
            sim += ";journal=" + journalPath();
        }
        if (!directives.empty()) {
            sim += ";" + directives;
        }
        return runProgram(command, {"KOVRA_SIM=" + sim}, 240);
    }

    std::string journalPath() const { return dir + "/journal"; }
    std::string statePath() const { return dir + "/state"; }

    // The functions the program called, in order.
    std::vector<std::string> calledFunctions() const {
        std::vector<std::string> names;
        for (auto const& line : linesOf(readFile(journalPath()))) {
            names.push_back(line.substr(0, line.find('(')));
        }
        return names;
    }

    // The run ended by shutting the library down in reverse order of start-up.
    void expectShutDownLast() const {
        std::vector<std::string> calls = calledFunctions();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_THAT(
            std::vector<std::string>(calls.end() - 3, calls.end()),
            ElementsAre("kovra_core_ipc_deinit", "kovra_core_logging_deinit", "kovra_core_deinit"));
    }

    // The camera's own count of calls of `function`.
    unsigned long callCount(std::string const& function) const {
        for (auto const& line : linesOf(readFile(statePath()))) {
            if (line.compare(0, 6 + function.size() + 1, "calls " + function + " ") == 0) {
                return std::stoul(line.substr(6 + function.size() + 1));
            }
        }
        return 0;
    }

    std::string dir;
    bool journalled = true;  // a long soak runs faster without
};

// Parameterised cases carry a name, which becomes the test's and is how the
// case prints in listings.
template <class Case>
std::string caseName(testing::TestParamInfo<Case> const& info) {
    return info.param.name;
}
#define PRINTS_AS_ITS_NAME(Case) \
    friend void PrintTo(Case const& c, std::ostream* os) { *os << c.name; }

struct UsageCase {
    PRINTS_AS_ITS_NAME(UsageCase)
    char const* name;
    std::vector<std::string> args;
};

class UsageTest : public IpcSoakTest, public testing::WithParamInterface<UsageCase> {};

TEST_P(UsageTest, PrintsUsageAndExitsOneWithoutTouchingTheLibrary) {
    ProgramRun run = soak(GetParam().args);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, usage);
    EXPECT_THAT(run.err, HasSubstr("option"));  // getopt's own diagnostic
    // The camera writes its state at kovra_core_deinit: no file, no call.
    EXPECT_FALSE(fileExists(statePath()));
    EXPECT_FALSE(fileExists(journalPath()));
}

INSTANTIATE_TEST_SUITE_P(BadCommandLines, UsageTest,
                         testing::Values(UsageCase{"UnknownOption", {"-x"}},
                                         UsageCase{"MissingValue", {"-c"}},
                                         UsageCase{"DefaultsNotParsedValues", {"-c", "50", "-x"}},
                                         UsageCase{"MissingUrl", {"-t", "2", "-u"}}),
                         caseName<UsageCase>);

TEST_F(IpcSoakTest, DefaultRunPrintsOneDotAndTheWholeReport) {
    ProgramRun run = soak({});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    Report report(run.out);
    EXPECT_EQ(report.dots, ".");
    ASSERT_EQ(report.commands.size(), 87u);
    EXPECT_EQ(report.total(), 10u);
    EXPECT_TRUE(report.targets.empty());
    EXPECT_EQ(report.commands.front().command, "getConfiguration");
    EXPECT_EQ(report.commands.back().command, "setManualBlueBias");

    std::vector<std::string> calls = calledFunctions();
    ASSERT_GE(calls.size(), 6u);
    EXPECT_THAT(
        std::vector<std::string>(calls.begin(), calls.begin() + 3),
        ElementsAre("kovra_core_init", "kovra_core_logging_init", "kovra_core_ipc_initiator_init"));
    expectShutDownLast();
    EXPECT_THAT(linesOf(readFile(journalPath()))[1],
                StartsWith("kovra_core_logging_init(\"IPC_SOAK\", "));
    EXPECT_THAT(readFile(statePath()), HasSubstr("\noutstanding_arrays 0\n"));
}

struct LoadCase {
    PRINTS_AS_ITS_NAME(LoadCase)
    char const* name;
    std::vector<std::string> args;
    std::string dots;
    unsigned long commandsRun;
};

class LoadTest : public IpcSoakTest, public testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTest, RunsTheScheduledCommandsWithADotPerHundred) {
    ProgramRun run = soak(GetParam().args);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    Report report(run.out);
    EXPECT_EQ(report.dots, GetParam().dots);
    EXPECT_EQ(report.commands.size(), 87u);
    EXPECT_EQ(report.total(), GetParam().commandsRun);
}

INSTANTIATE_TEST_SUITE_P(
    OptionValues, LoadTest,
    testing::Values(LoadCase{"NoThreads", {"-t", "0"}, "", 0},
                    LoadCase{"ThreadsWithoutDigits", {"-t", "abc"}, "", 0},
                    LoadCase{"NoCommands", {"-c", "0", "-t", "3"}, "", 0},
                    LoadCase{"TrailingCharacters", {"-c", "12x"}, ".", 12},
                    LoadCase{"SecondDotAt101", {"-c", "101"}, "..", 101},
                    LoadCase{"ThreeDotsPerThread", {"-t", "3", "-c", "250"}, ".........", 750},
                    LoadCase{"NegativeSeed", {"-s", "-1", "-t", "2", "-c", "5"}, "..", 10}),
    caseName<LoadCase>);

struct StartupFailureCase {
    PRINTS_AS_ITS_NAME(StartupFailureCase)
    char const* name;
    std::vector<std::string> args;
    std::string directives;
    std::string err;
    std::vector<std::string> calls;
};

class StartupFailureTest : public IpcSoakTest,
                           public testing::WithParamInterface<StartupFailureCase> {};

TEST_P(StartupFailureTest, ReportsTheFunctionAndCleansUpWhatWasStarted) {
    ProgramRun run = soak(GetParam().args, GetParam().directives);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, GetParam().err);
    EXPECT_THAT(calledFunctions(), ElementsAreArray(GetParam().calls));
}

INSTANTIATE_TEST_SUITE_P(
    Library, StartupFailureTest,
    testing::Values(StartupFailureCase{"Logging",
                                       {},
                                       "fail=kovra_core_logging_init:7",
                                       "ERROR: kovra_core_logging_init failed status7\n",
                                       {"kovra_core_init", "kovra_core_logging_init",
                                        "kovra_core_deinit"}},
                    StartupFailureCase{"Ipc",
                                       {},
                                       "fail=kovra_core_ipc_initiator_init:-3",
                                       "ERROR: kovra_core_ipc_initiator_init failed status-3\n",
                                       {"kovra_core_init", "kovra_core_logging_init",
                                        "kovra_core_ipc_initiator_init",
                                        "kovra_core_logging_deinit", "kovra_core_deinit"}},
                    // The stand-in serves no network camera: a URL cannot be connected.
                    StartupFailureCase{"UrlNotServed",
                                       {"-u", "tcp://127.0.0.1"},
                                       "",
                                       "ERROR: kovra_core_ipc_initiator_init failed status-4\n",
                                       {"kovra_core_init", "kovra_core_logging_init",
                                        "kovra_core_ipc_initiator_init",
                                        "kovra_core_logging_deinit", "kovra_core_deinit"}}),
    caseName<StartupFailureCase>);

TEST_F(IpcSoakTest, AFailingCoreStartIsReportedAndTheRunGoesOn) {
    ProgramRun run = soak({}, "fail=kovra_core_init:3");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "ERROR: kovra_core_init failed status3\n");
    EXPECT_EQ(Report(run.out).total(), 10u);
}

TEST_F(IpcSoakTest, AServiceThatCannotBeOpenedIsCaughtAndWhatWasOpenedIsReleased) {
    ProgramRun run = soak({}, "fail=kovra_api_white_balance_basic_initiator_init:5");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "ERROR: caught exception ERROR: kovra_api_white_balance_basic_initiator_init failed "
              "status5\n");
    EXPECT_EQ(callCount("kovra_api_alarm_initiator_deinit"), 1u);
    EXPECT_EQ(callCount("kovra_api_broker_initiator_deinit"), 2u);
    EXPECT_EQ(callCount("kovra_api_temporal_noise_filter_initiator_deinit"), 1u);
    EXPECT_EQ(callCount("kovra_api_white_balance_basic_initiator_deinit"), 0u);
    expectShutDownLast();
}

TEST_F(IpcSoakTest, AThreadCountTooLargeForMemoryIsCaughtBeforeAnyWorkerStarts) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' operator new aborts instead of throwing std::bad_alloc";
#endif
    ProgramRun run = soak({"-t", "-1"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, StartsWith("ERROR: caught exception "));
    EXPECT_EQ(linesOf(run.err).size(), 1u);
    EXPECT_EQ(callCount("kovra_api_exposure_initiator_deinit"), 1u);
    expectShutDownLast();
}

TEST_F(IpcSoakTest, RestartsDuringTheRunAreReportedWithExactCounts) {
    ProgramRun run = soak({"-t", "4", "-c", "500"}, "restart=exposure*5/100;restart=led:led*2/700");
    EXPECT_EQ(run.exitStatus, 0);
    Report report(run.out);
    EXPECT_EQ(report.total(), 2000u);
    EXPECT_THAT(report.targets,
                ElementsAre("Target exposure:0 reset 5 times", "Target led:led reset 2 times"));
}

TEST_F(IpcSoakTest, ReportAgreesWithTheCamerasOwnCounts) {
    ProgramRun run =
        soak({"-s", "3", "-t", "4", "-c", "500"}, "fail=kovra_api_led_get_state_send:4");
    EXPECT_EQ(run.exitStatus, 0);
    Report report(run.out);
    ASSERT_EQ(report.commands.size(), 87u);
    EXPECT_EQ(report.total(), 2000u);
    auto const& alarmGet = report.commands[0];
    auto const& alarmSet = report.commands[1];
    auto const& temperature = report.commands[78];
    auto const& ledGet = report.commands[61];
    auto const& ledSet = report.commands[62];
    EXPECT_EQ(callCount("kovra_api_alarm_get_configuration_send"), alarmGet.total + alarmSet.total);
    EXPECT_EQ(callCount("kovra_api_alarm_set_configuration_send"), alarmSet.total);
    EXPECT_EQ(callCount("kovra_api_temperature_get_temperature_send"), temperature.total);
    EXPECT_EQ(ledGet.passed + ledSet.passed, 0u);
    EXPECT_GT(ledGet.failed + ledSet.failed, 0u);
    EXPECT_EQ(callCount("kovra_api_led_get_state_send"), ledGet.total + ledSet.total);
    EXPECT_EQ(callCount("kovra_api_led_set_state_send"), 0u);
    for (std::size_t i = 0; i < report.commands.size(); ++i) {
        if (i != 61 && i != 62) {
            EXPECT_EQ(report.commands[i].failed, 0u) << report.commands[i].command;
        }
    }
}

TEST_F(IpcSoakTest, TheSameSeedSendsTheSameRequests) {
    soak({"-s", "5", "-c", "300"});
    std::string first = readFile(journalPath());
    soak({"-s", "5", "-c", "300"});
    EXPECT_EQ(readFile(journalPath()), first);
    soak({"-s", "6", "-c", "300"});
    EXPECT_NE(readFile(journalPath()), first);
}

TEST_F(IpcSoakTest, ASoakLeavesTheCamerasConfigurationAsItFoundIt) {
    // A run without workers shows the configuration the soak starts from.
    soak({"-t", "0"});
    std::vector<std::string> before = settingsIn(readFile(statePath()));
    ProgramRun run = soak({"-s", "11", "-t", "8", "-c", "2000"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(Report(run.out).total(), 16000u);
    std::vector<std::string> after = settingsIn(readFile(statePath()));
    ASSERT_EQ(after.size(), before.size());
    ASSERT_GT(before.size(), 50u);
    std::vector<std::string> changed;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (after[i] != before[i]) {
            changed.push_back(after[i]);
        }
    }
    // Only the two commands that write fixed values change anything.
    EXPECT_THAT(changed, ElementsAre("device_information.friendly_name=FRIENDLY",
                                     "log.settings[KOVRA_IPC]=err,notset,notset"));
    EXPECT_THAT(readFile(statePath()), HasSubstr("\noutstanding_arrays 0\n"));
}

TEST_F(IpcSoakTest, SixteenThreadsOfTenThousandCommandsRunCleanly) {
    journalled = false;
    ProgramRun run = soak({"-t", "16", "-c", "10000"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    Report report(run.out);
    EXPECT_EQ(report.dots, std::string(16 * 100, '.'));
    EXPECT_EQ(report.total(), 160000u);
    for (auto const& line : report.commands) {
        EXPECT_EQ(line.failed, 0u) << line.command;
    }
}

}  // namespace
