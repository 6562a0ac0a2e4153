// The built ipc_soak run as a user would, steered through KOVRA_SIM (and
// KOVRA_TRACE with the trace layer in front), and what it leaves.
#pragma once

#include <gmock/gmock.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/functions.h"
#include "stats/report_files.h"
#include "support/TempDirTest.h"

extern char** environ;

// A run's standard output: the dot line, the command lines (all 87, each
// checked to add up), the target lines.
struct Printed {
    std::string dots;
    std::vector<std::string> commands, targets;
    unsigned long total = 0, failures = 0;  // runs of all commands, and those that failed

    explicit Printed(std::string const& out) {
        std::vector<std::string> lines = linesOf(out);
        std::size_t i = 1;
        for (; i < lines.size() && lines[i].rfind("Service: ", 0) == 0; ++i) {
            commands.push_back(lines[i]);
            unsigned long pass = 0, fail = 0, runs = 0;
            EXPECT_EQ(std::sscanf(lines[i].c_str() + lines[i].rfind(' ') + 1, "%lu/%lu/%lu", &pass,
                                  &fail, &runs),
                      3)
                << lines[i];
            EXPECT_EQ(pass + fail, runs) << lines[i];
            total += runs;
            failures += fail;
        }
        EXPECT_EQ(commands.size(), 87u) << out;
        if (i < lines.size()) {
            EXPECT_EQ(lines[i++], "") << "between commands and targets";
        }
        dots = lines.empty() ? "" : lines[0];
        targets.assign(lines.begin() + std::min(i, lines.size()), lines.end());
    }
    unsigned long failed() const { return failures; }
};

// A sample of kovra_camd_requests_total in `m`, or 0.
inline double requests(std::map<std::string, double> const& m, std::string const& function,
                       std::string const& status) {
    auto const it = m.find("kovra_camd_requests_total{function=\"" + function + "\",status=\"" +
                           status + "\"}");
    return it == m.end() ? 0 : it->second;
}

// Every request count of the samples `m` is the statistics' `file`, and no other is there.
inline void expect_same_counts(std::map<std::string, double> const& m,
                               kovra_sim::Report const& file) {
    size_t samples = 0;
    for (auto const& [id, f] : file.functions) {
        std::string const name = kovra_sim::function_info(id).name;
        for (auto const& [status, n] : f.statuses) {
            EXPECT_EQ(requests(m, name, std::to_string(status)), double(n))
                << name << " " << status;
            ++samples;
        }
        EXPECT_EQ(m.at("kovra_camd_request_duration_seconds_count{function=\"" + name + "\"}"),
                  double(f.calls));
    }
    EXPECT_EQ(samples, size_t(std::count_if(m.begin(), m.end(), [](auto const& s) {
                  return s.first.rfind("kovra_camd_requests_total{", 0) == 0;
              })));
}

std::vector<std::string> const kStart{"kovra_core_init() = 0",
                                      "kovra_core_logging_init(\"IPC_SOAK\", &#1) = 0",
                                      "kovra_core_ipc_initiator_init(#1, null, &#2) = 0"};
std::vector<std::string> const kShutdown{"kovra_core_ipc_deinit(#2) = 0",
                                         "kovra_core_logging_deinit(#1) = 0",
                                         "kovra_core_deinit() = 0"};

class SoakRun : public TempDirTest {
protected:
    SoakRun() : TempDirTest("ipc_soak_test") {}
    void TearDown() override {
        finish(0);
        TempDirTest::TearDown();
    }

    // Starts ipc_soak with `args` in the background, its output to files, the
    // camera journalling, writing its state at shutdown and taking `directives`.
    void start(std::string const& args, std::string const& directives = "",
               std::string const& limits = "") {
        std::string const script = limits + "KOVRA_SIM='state=" + dir + "/state;journal=" + dir +
                                   "/journal;" + directives + "' " + program() + " " + args + " >" +
                                   dir + "/out 2>" + dir + "/err";
        char const* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
        status = -1;
        std::filesystem::remove(dir + "/out");
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ),
                  0);
    }
    // Waits for it to end, killing it after `seconds`: its exit status, or 128
    // plus the signal that ended it; `out` and `err` then hold its output.
    int finish(int seconds = 240) {
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (status < 0 && pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        out = readFile(dir + "/out");
        err = readFile(dir + "/err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int soak(std::string const& args, std::string const& directives = "") {
        start(args, directives);
        return finish();
    }
    // Waits up to a minute for the first progress dot.
    bool dotted() const {
        return eventually([&] { return !readFile(dir + "/out").empty(); }, std::chrono::minutes(1));
    }

    // Whether the program catches `signal` now, as its /proc status says.
    bool catches(int signal) const {
        for (auto const& line : linesOf(readFile("/proc/" + std::to_string(pid) + "/status"))) {
            if (line.rfind("SigCgt:", 0) == 0)
                return std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1;
        }
        return false;
    }
    // kovra-stats with `args`, after the shell words of `env`.
    Outcome stats_tool(std::string const& args, std::string const& env = "") {
        return runShell(env + " " IPC_SOAK_EMULATOR " " KOVRA_STATS " " + args, dir, "-stats");
    }
    std::vector<std::string> journal() const { return linesOf(readFile(dir + "/journal")); }
    // A statistics file, or a timeline's intervals merged.
    kovra_sim::Report stats(char const* name) const {
        return kovra_sim::stats_files::load(dir + "/" + name).whole();
    }
    // Calls per function of a report.
    static std::map<std::string, uint64_t> callsOf(kovra_sim::Report const& report) {
        std::map<std::string, uint64_t> calls;
        for (auto const& [id, f] : report.functions)
            calls[kovra_sim::function_info(id).name] = f.calls;
        return calls;
    }
    std::vector<std::string> lastCalls() const {
        std::vector<std::string> calls = journal();
        return {calls.end() - std::min<std::size_t>(calls.size(), 3), calls.end()};
    }

    // The command that runs ipc_soak, behind the trace layer if `trace` is set.
    std::string program() const {
        if (trace.empty()) return "exec " IPC_SOAK_EMULATOR " " IPC_SOAK_PROGRAM;
        std::string const preload = "LD_PRELOAD=" KOVRA_TRACE_LIBRARY;
        std::string const env = "KOVRA_TRACE='" + trace + "' ";
        return *IPC_SOAK_EMULATOR
                   ? env + "exec " IPC_SOAK_EMULATOR " -E " + preload + " " IPC_SOAK_PROGRAM
                   : env + preload + " exec " + wrapper + " " IPC_SOAK_PROGRAM;
    }

    std::string trace;
    std::string wrapper;  // what launches the traced program natively: "timeout 60", say
    pid_t pid = -1;
    int status = -1;
    std::string out, err;
};
