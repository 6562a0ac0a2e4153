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

// The layer has 64 trampolines: one handler registered as often, and more.
TEST_F(TraceHandlers, AHandlerRegisteredAnyNumberOfTimesIsNeverCalledOnceUnregistered) {
    for (int const n : {64, 65, 70}) {
        EXPECT_EQ(traced("same " + std::to_string(n)),
                  "refused=0 calls=" + std::to_string(n) + " late=0 wrong=0\n")
            << n << " registrations";
        EXPECT_EQ(announced(), uint64_t(n)) << n << " registrations";
    }
}

// 64 distinct functions take every trampoline: a 65th is refused with the
// status for a limit until one of them is unregistered.
TEST_F(TraceHandlers, AHandlerPastTheTrampolinesIsRefusedUntilOneIsFree) {
    EXPECT_EQ(traced("distinct"), "past=-10 again=0 refused=1 calls=128 late=0 wrong=0\n");
    EXPECT_EQ(announced(), 128u);
}

// Two handlers take turns on one trampoline while announcements run.
TEST_F(TraceHandlers, HandlersThatComeAndGoWhileAnnouncementsRunHearOnlyTheirOwn) {
    std::string const out = traced("churn");
    std::smatch heard;
    ASSERT_TRUE(std::regex_match(out, heard, std::regex("refused=0 calls=(\\d+) late=0 wrong=0\n")))
        << out;
    EXPECT_EQ(announced(), std::stoull(heard[1]));
}

}  // namespace
