// The trace layer's event handlers: each registration goes behind the layer,
// so none is called once unregistered and each announcement heard is counted;
// a handler it cannot wrap is refused, never passed on unwrapped.
#include <gmock/gmock.h>

#include <numeric>
#include <regex>

#include "stats/report_files.h"
#include "support/TempDirTest.h"

namespace {

class TraceHandlers : public TempDirTest {
protected:
    TraceHandlers() : TempDirTest("trace_handlers") {}

    // The child with `args`, behind the layer; its output.
    std::string traced(std::string const& args) {
        Outcome const r =
            runShell("KOVRA_TRACE='stats=" + dir + "/stats.json' exec " + KOVRA_SIM_EMULATOR +
                         (*KOVRA_SIM_EMULATOR ? " -E " : " env ") +
                         "LD_PRELOAD=" KOVRA_TRACE_LIBRARY " " KOVRA_HANDLERS_CHILD " " + args,
                     dir);
        EXPECT_EQ(r.exit_code, 0) << args << ": " << r.err;
        EXPECT_EQ(r.err, "") << args;
        return r.out;
    }
    // The announcements the layer counted.
    uint64_t announced() const {
        auto const& counts = kovra_sim::stats_files::whole(dir + "/stats.json").announcements;
        return std::accumulate(counts.begin(), counts.end(), uint64_t(0),
                               [](uint64_t sum, auto const& count) { return sum + count.second; });
    }
};

// The layer has 64 trampolines: one handler registered as often and more; 64
// distinct ones, and a 65th refused with the status for a limit until one is
// free; two taking turns on one trampoline while announcements run.
TEST_F(TraceHandlers, NoHandlerIsCalledOnceUnregisteredAndEveryOneHeardIsCounted) {
    std::pair<char const*, char const*> const cases[] = {
        {"same 64", "refused=0 calls=(64) late=0 wrong=0\n"},
        {"same 65", "refused=0 calls=(65) late=0 wrong=0\n"},
        {"distinct", "past=-10 again=0 refused=1 calls=(128) late=0 wrong=0\n"},
        {"churn", "refused=0 calls=(\\d+) late=0 wrong=0\n"},
    };
    for (auto const& [args, said] : cases) {
        std::string const out = traced(args);
        std::smatch heard;
        ASSERT_TRUE(std::regex_match(out, heard, std::regex(said))) << args << ": " << out;
        EXPECT_EQ(announced(), std::stoull(heard[1])) << args;
    }
}

}  // namespace
