// Faults on the wire between kovra-camd and its clients (drop=, stall=,
// slice=, bandwidth=, jitter=, reboot=): what directives change, and the
// faults in effect once merged. The client library refuses them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/directives.h"

namespace kovra_sim {

// A chance as a threshold a uniform 32-bit draw is below with that
// probability (2^32 certain, 0 never), exact on every machine.
using Chance = uint64_t;
constexpr Chance kCertain = Chance(1) << 32;

// The kinds of injected faults, as the daemon counts them.
enum class WireFault { drop, stall, slice, bandwidth, jitter, reboot };
constexpr int kWireFaultKinds = 6;
// "drop", "stall", ...: the directive's name.
char const* name(WireFault kind);

struct WireFaults {
    struct Drop {
        uint32_t every;  // after every this many requests; 0: by `chance`
        Chance chance;
    };
    struct Stall {
        uint32_t ms;
        Chance chance;  // of each request
    };
    struct Reboot {
        uint32_t seconds;  // refusing connections
        uint32_t every_s;  // from one reboot's start to the next; 0: once
    };
    // Each is given or not; one given as 0 turns its fault off.
    std::optional<Drop> drop;
    std::optional<Stall> stall;
    std::optional<uint32_t> slice_bytes;
    std::optional<uint32_t> bandwidth_kbps;
    std::optional<uint32_t> jitter_ms;
    std::optional<Reboot> reboot;

    // The directive's name of the first fault given, or nullptr for none.
    char const* given() const;
    // Whether a fault that acts on a connection's requests and replies is in
    // effect (all but reboot=).
    bool on_connections() const {
        return drop || stall || slice_bytes || bandwidth_kbps || jitter_ms;
    }
    // Takes on the faults `change` gives, turning off those it gives as 0.
    void merge(WireFaults const& change);
};

// The bounds of the values that are not plain numbers.
constexpr uint32_t kMaxStallMs = 3'600'000;
constexpr uint32_t kMaxRebootS = 86'400;

// Takes one of the directives above into `out`; false with the reason in
// `error` for a bad value, or for a directive that is none of them.
bool take_wire_fault(Directive const& directive, WireFaults& out, std::string& error);

}  // namespace kovra_sim
