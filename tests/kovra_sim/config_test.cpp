// Control directives as KOVRA_SIM and the daemon's --sim give them: what
// each well-formed list means, and why each malformed one is refused.
#include "camera/config.h"

#include <gtest/gtest.h>

#include <sstream>

#include "daemon/shared_simulation.h"

namespace kovra_sim {
namespace {

class Directives : public testing::Test {
protected:
    bool parse(std::string const& text, Place place = Place::sim) {
        error.clear();
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
    EXPECT_EQ(config.faults[0].function, fn_kovra_core_init);
    EXPECT_EQ(config.faults[0].nth, 0u);
    EXPECT_EQ(config.faults[0].status, -5) << "the documented default status";
    EXPECT_EQ(config.faults[1].nth, 3u);
    EXPECT_EQ(config.faults[1].status, -33);
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
    EXPECT_EQ(config.outputs.interval_s.value_or(0), 1u);
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
         "timeline=, interval=, drift= and exhaust=)"},
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
        {"latency=10000001", "\"latency=10000001\": latency must be 0 to 10000000"},
        {"seed=4294967296", "\"seed=4294967296\": seed must be 0 to 4294967295"},
        {"timeout=0", "\"timeout=0\": timeout must be 1 to 3600000"},
        {"give_up=86401", "\"give_up=86401\": give_up must be 0 to 86400"},
        {"give_up=-1", "\"give_up=-1\": give_up must be 0 to 86400"},
        {"journal=/tmp/x;stats=/tmp/x", "each file may be named once, not \"/tmp/x\" twice"},
        {"state=/tmp/x;timeline=/tmp/x", "each file may be named once, not \"/tmp/x\" twice"},
        {"interval=0", "\"interval=0\": interval must be 1 to 86400"},
        {"interval=5", "interval= goes with timeline="},
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
        {"slice=67108865", "\"slice=67108865\": slice must be 0 to 67108864"},
        {"bandwidth=10000001", "\"bandwidth=10000001\": bandwidth must be 0 to 10000000"},
        {"jitter=10001", "\"jitter=10001\": jitter must be 0 to 10000"},
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
        {"slice=1;bandwidth=10000000;jitter=10000", " slice 1 bandwidth 10000000 jitter 10000"},
        {"slice=67108864;bandwidth=1;reboot=1", " slice 67108864 bandwidth 1 reboot 1@0"},
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

}  // namespace
}  // namespace kovra_sim
