// Control directives as KOVRA_SIM and the daemon's --sim give them: what
// each well-formed list means, and why each malformed one is refused.
#include "camera/config.h"

#include <gmock/gmock.h>

#include <cmath>
#include <regex>
#include <set>
#include <sstream>

#include "daemon/shared_simulation.h"
#include "observe/stats.h"
#include "support/TempDirTest.h"
#include "trace/config.h"
#include "trace/pace.h"

namespace kovra_sim {
namespace {

class Directives : public TempDirTest {
protected:
    Directives() : TempDirTest("directives") {}
    bool parse(std::string const& text, Place place = Place::sim) {
        error.clear();
        if (place == Place::trace) return trace::parse_trace_config(text, traced, error);
        if (place == Place::sim) return parse_config(text, place, settings, config, error);
        DaemonConfig both;
        bool const ok = parse_daemon_config(text, place, settings, both, error);
        config = both.camera;
        wire = both.wire;
        return ok;
    }
    Settings settings;
    Config config;
    WireFaults wire;
    trace::TraceConfig traced;
    std::string error;
};

TEST_F(Directives, AWellFormedListSaysWhatToApply) {
    ASSERT_TRUE(
        parse(" fail=kovra_core_init ;; fail=kovra_api_led_set_state_send@3:-33;"
              "set=log.settings[KOVRA_IPC]=a\\,b,c,d\\|e; restart=log:log*2/10;"
              "latency=250; seed=4294967295; timeout=900; give_up=0; journal=/tmp/j; state=/tmp/s;"
              "timeline=/tmp/t; interval=1"))
        << error;
    ASSERT_EQ(config.faults.size(), 2u);
    auto const fault = [](Fault const& f) { return std::tuple(f.function, f.nth, f.status); };
    EXPECT_EQ(fault(config.faults[0]), std::tuple(int(fn_kovra_core_init), 0u, -5))
        << "the documented default status";
    EXPECT_EQ(fault(config.faults[1]), std::tuple(int(fn_kovra_api_led_set_state_send), 3u, -33));
    ASSERT_EQ(config.sets.size(), 1u);
    EXPECT_EQ(settings.key(config.sets[0].instance), "log.settings[KOVRA_IPC]");
    EXPECT_EQ(config.sets[0].values[0].text, "a,b");
    EXPECT_EQ(config.sets[0].values[2].text, "d|e");
    ASSERT_EQ(config.restarts.size(), 1u);
    EXPECT_EQ(config.restarts[0].service, svc_log);
    EXPECT_EQ(config.restarts[0].count * 100 + config.restarts[0].every, 210u);
    EXPECT_EQ(config.latency_us.value_or(0), 250u);
    EXPECT_EQ(config.seed.value_or(0), 4294967295u);
    EXPECT_EQ(config.timeout_ms.value_or(0), 900u);
    EXPECT_EQ(config.give_up_s.value_or(9), 0u) << "0: calls fail at once while the camera is away";
    EXPECT_EQ(config.outputs.journal.value_or(""), "/tmp/j");
    EXPECT_EQ(config.outputs.timeline.value_or(""), "/tmp/t");
    EXPECT_EQ(config.outputs.interval.value_or(std::chrono::hours(1)), std::chrono::seconds(1))
        << "seconds when no unit is given";
    EXPECT_EQ(config.state_path.value_or(""), "/tmp/s");
    // What the camera stores reads back through the same text form.
    settings.put(config.sets[0].instance, config.sets[0].values);
    std::vector<Value> back;
    ASSERT_TRUE(settings.parse(config.sets[0].instance,
                               format_values(settings.values(config.sets[0].instance)), back,
                               error));
    EXPECT_EQ(back, config.sets[0].values);
}

TEST_F(Directives, AMalformedListIsRefusedWithItsReason) {
    std::pair<char const*, char const*> const cases[] = {
        {"nope=1",
         "\"nope=1\": unknown directive \"nope\" (the client library takes fail=, set=, "
         "restart=, latency=, profile=, seed=, timeout=, give_up=, journal=, state=, stats=, "
         "timeline=, interval=, prom=, max_size=, drift= and exhaust=)"},
        {"fail", "\"fail\": expected NAME=VALUE"},
        {"fail=kovra_nothing", "\"fail=kovra_nothing\": unknown function \"kovra_nothing\""},
        {"fail=kovra_core_init:0", "\"fail=kovra_core_init:0\": status must be a non-zero int32"},
        {"fail=kovra_core_init@0",
         "\"fail=kovra_core_init@0\": call number after '@' must be 1 or more"},
        {"set=led.state", "\"set=led.state\": expected KEY=VALUES"},
        {"set=led.state=256", "\"set=led.state=256\": \"256\" is not a u8 value"},
        {"set=led.state=1,2", "\"set=led.state=1,2\": \"led.state\" takes 1 values, not 2"},
        {"set=log.settings[KOVRA_X]=a,b,c",
         "\"set=log.settings[KOVRA_X]=a,b,c\": no setting \"log.settings[KOVRA_X]\""},
        {"restart=led*0/1", "\"restart=led*0/1\": COUNT and EVERY must be 1 or more"},
        {"restart=led:0*1/1",
         "\"restart=led:0*1/1\": service \"led\" has no target \"0\" (its target is \"led\")"},
        {"restart=lamp*1/1", "\"restart=lamp*1/1\": unknown service \"lamp\""},
        {"journal=/tmp/x;stats=/tmp/x", "each file may be named once, not \"/tmp/x\" twice"},
        {"interval=5", "interval= goes with timeline= or prom="},
        {"drift=yes", "\"drift=yes\": drift takes 1"},
        {"exhaust=disk", "\"exhaust=disk\": exhaust takes memory, threads or nothing"},
    };
    for (auto const& [text, reason] : cases) {
        EXPECT_FALSE(parse(std::string("latency=1;") + text)) << text;
        EXPECT_EQ(error, reason);
    }
    std::pair<char const*, char const*> const wire_cases[] = {
        {"drop=1.01", "\"drop=1.01\": drop takes a probability from 0 to 1, or every:N"},
        {"drop=-0.1", "\"drop=-0.1\": drop takes a probability from 0 to 1, or every:N"},
        {"drop=nan", "\"drop=nan\": drop takes a probability from 0 to 1, or every:N"},
        {"drop=every:0", "\"drop=every:0\": every:N must be 1 to 4294967295"},
        {"drop=every:4294967296", "\"drop=every:4294967296\": every:N must be 1 to 4294967295"},
        {"stall=3600001", "\"stall=3600001\": stall must be 0 to 3600000"},
        {"stall=10@1.01", "\"stall=10@1.01\": the chance after '@' must be from 0 to 1"},
        {"stall=10@", "\"stall=10@\": the chance after '@' must be from 0 to 1"},
        {"reboot=86401", "\"reboot=86401\": reboot must be 0 to 86400"},
        {"reboot=5@5", "\"reboot=5@5\": EVERY must be more than SECONDS, up to 86400"},
        {"reboot=5@86401", "\"reboot=5@86401\": EVERY must be more than SECONDS, up to 86400"},
        {"reboot=0@5", "\"reboot=0@5\": reboot=0 turns reboots off and takes no @EVERY"},
    };
    for (auto const& [text, reason] : wire_cases) {
        EXPECT_FALSE(parse(std::string("latency=1;") + text, Place::daemon)) << text;
        EXPECT_EQ(error, reason);
    }
}

// The faults on the wire a list gives, in a line.
std::string describe(WireFaults const& w) {
    std::ostringstream s;
    if (w.drop) s << " drop " << w.drop->every << "/" << w.drop->chance;
    if (w.stall) s << " stall " << w.stall->ms << "/" << w.stall->chance;
    if (w.slice_bytes) s << " slice " << *w.slice_bytes;
    if (w.bandwidth_kbps) s << " bandwidth " << *w.bandwidth_kbps;
    if (w.jitter_ms) s << " jitter " << *w.jitter_ms;
    if (w.reboot) s << " reboot " << w.reboot->seconds << "@" << w.reboot->every_s;
    return s.str();
}

// Each fault at its bounds, a chance as a threshold on a 32-bit draw; and
// a later list changes only the faults it names, 0 turning one off.
TEST_F(Directives, WireFaultsAtTheirBoundsAndMerged) {
    std::pair<char const*, char const*> const cases[] = {
        {"drop=0.01;stall=3600000", " drop 0/42949673 stall 3600000/4294967296"},
        {"drop=every:4294967295;stall=1@0.5", " drop 4294967295/0 stall 1/2147483648"},
        {"slice=64;bandwidth=1;jitter=7;reboot=1", " slice 64 bandwidth 1 jitter 7 reboot 1@0"},
        {"drop=1;reboot=86399@86400", " drop 0/4294967296 reboot 86399@86400"},
    };
    for (auto const& [text, wire] : cases) {
        ASSERT_TRUE(parse(text, Place::post)) << error;
        EXPECT_EQ(describe(this->wire), wire) << text;
    }
    ASSERT_TRUE(parse("drop=0.5;stall=10;slice=3;reboot=2@10", Place::daemon));
    WireFaults in_effect;
    in_effect.merge(wire);
    ASSERT_TRUE(parse("drop=0;slice=5;reboot=0;jitter=0", Place::post));
    EXPECT_STREQ(wire.given(), "drop");
    in_effect.merge(wire);
    EXPECT_EQ(describe(in_effect), " stall 10/4294967296 slice 5");
    ASSERT_TRUE(parse("stall=10@0;slice=0;reboot=1@2", Place::post));
    in_effect.merge(wire);
    EXPECT_EQ(describe(in_effect), " reboot 1@2");
    EXPECT_FALSE(in_effect.on_connections()) << "a reboot is the server's";
}

// Elsewhere refused, with a message that says where it belongs.
TEST_F(Directives, EveryPlaceTakesWhatTheTableSaysAndNothingElse) {
    Stats recording;
    recording.start();
    recording.record(fn_kovra_api_led_get_state_send, 0, std::chrono::microseconds(5));
    file("recorded.json", to_json(recording.report()).dump());
    for (DirectiveInfo const& d : directives()) {
        bool const named_file = std::string_view(d.grammar) == "FILE";
        std::string const given =
            std::string(d.name) + "=" + (named_file ? dir + "/" : "") + d.example;
        // An interval goes with a timeline, named after it so as to be refused
        // second, and a ramp with a rate.
        std::string_view const name = d.name;
        std::string const with = name == "interval" ? ";timeline=" + dir + "/t"
                                 : name == "ramp"   ? ";rate=1"
                                                    : "";
        std::string const text = given + with;
        for (Place place : {Place::sim, Place::daemon, Place::post, Place::trace}) {
            EXPECT_EQ(parse(text, place), d.taken(place))
                << text << " at " << place_name(place) << ": " << error;
            // A number, a duration (here in us) or a size (in bytes) is taken
            // at its bounds, and not one past either.
            bool const bounded = d.kind == DirectiveInfo::number ||
                                 d.kind == DirectiveInfo::duration || d.kind == DirectiveInfo::size;
            for (uint64_t n : {d.low - 1, d.low, d.high, d.high + 1}) {
                if (!bounded || !d.taken(place) || std::string_view(d.name) == "interval") break;
                if (n > d.high + 1) continue;  // a low of 0 has nothing below
                bool const within = n >= d.low && n <= d.high;
                std::string const unit = d.kind == DirectiveInfo::duration ? "us" : "";
                EXPECT_EQ(parse(std::string(d.name) + "=" + std::to_string(n) + unit + with, place),
                          within)
                    << d.name << "=" << n << unit;
                if (!within) {
                    EXPECT_THAT(error, testing::HasSubstr(std::string(d.name) + " must be "));
                }
            }
            if (!d.taken(place)) {
                EXPECT_THAT(error,
                            testing::StartsWith("\"" + given + "\": " + d.name + "= is for "));
                EXPECT_THAT(error, testing::EndsWith(std::string(", not ") + place_name(place)));
            }
        }
    }
}

// kovra-camd(1), kovra-trace(7) and the README list the directives each place takes.
TEST(DirectiveTable, ThePagesListEveryDirectiveWhereItIsTaken) {
    auto const listed = [](std::string const& file, std::regex const& mention) {
        std::string const text = readFile(std::string(IPC_SOAK_SOURCE_DIR) + "/" + file);
        std::set<std::string> names;
        for (std::sregex_iterator it(text.begin(), text.end(), mention), end; it != end; ++it)
            names.insert((*it)[1]);
        return names;
    };
    std::regex const man(R"(\\fB([a-z_]+)=)");
    std::set<std::string> daemon, trace, all;
    for (DirectiveInfo const& d : directives()) {
        if (d.taken(Place::daemon)) daemon.insert(d.name);
        if (d.taken(Place::trace)) trace.insert(d.name);
        all.insert(d.name);
    }
    EXPECT_EQ(listed("docs/man/kovra-camd.1", man), daemon);
    EXPECT_EQ(listed("docs/man/kovra-trace.7", man), trace);
    EXPECT_EQ(listed("README.md", std::regex(R"(\n\| `([a-z_]+)=)")), all);
}

// rate= plans the n-th request at n / RATE seconds; over a ramp the rate rises
// evenly from 0, so that RATE * RAMP / 2 requests are due by its end.
TEST_F(Directives, RequestsAreDueAsTheRateAndItsRampSay) {
    std::tuple<uint32_t, int, uint64_t, double> const cases[] = {
        {500, 0, 0, 0},   {500, 0, 1, 0.002},  {500, 0, 1000, 2},
        {100, 2, 0, 0},   {100, 2, 25, 1},     {100, 2, 99, std::sqrt(3.96)},
        {100, 2, 100, 2}, {100, 2, 101, 2.01}, {100, 2, 300, 4}};
    for (auto const& [rate, ramp_s, n, due_s] : cases) {
        trace::Pace const pace(rate, std::chrono::seconds(ramp_s));
        EXPECT_NEAR(pace.due_s(n), due_s, 1e-9) << rate << " " << ramp_s << " " << n;
    }
    EXPECT_FALSE(parse("ramp=10", Place::trace));
    EXPECT_EQ(error, "ramp= goes with rate=");
    EXPECT_TRUE(parse("rate=200;ramp=10", Place::trace)) << error;
    EXPECT_EQ(traced.rate, 200u);
}

}  // namespace
}  // namespace kovra_sim
