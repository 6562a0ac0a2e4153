#include "daemon/wire_faults.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/value.h"

namespace kovra_sim {
namespace {

// A probability from 0 to 1.
bool parse_chance(std::string_view text, Chance& out) {
    Value v;
    std::string ignored;
    if (!parse_value(Type::f64, text, v, ignored) || !(v.real >= 0 && v.real <= 1)) return false;
    out = Chance(std::llround(v.real * double(kCertain)));
    return true;
}

// Splits "HEAD@TAIL" at its '@'; `tail` is empty without one.
std::string_view split_at(std::string_view v, std::string_view& tail) {
    size_t const at = v.find('@');
    tail = at == std::string_view::npos ? std::string_view() : v.substr(at + 1);
    return v.substr(0, at);
}

bool parse_drop(std::string_view v, WireFaults& out, std::string& error) {
    WireFaults::Drop drop{0, 0};
    std::string_view const every = "every:";
    if (v.substr(0, every.size()) == every) {
        int64_t n = 0;
        if (!parse_integer(v.substr(every.size()), 1, std::numeric_limits<uint32_t>::max(), n)) {
            error = "every:N must be 1 to 4294967295";
            return false;
        }
        drop.every = uint32_t(n);
    } else if (!parse_chance(v, drop.chance)) {
        error = "drop takes a probability from 0 to 1, or every:N";
        return false;
    }
    out.drop = drop;
    return true;
}

bool parse_stall(std::string_view v, WireFaults& out, std::string& error) {
    std::string_view p;
    int64_t ms = 0;
    if (!parse_integer(split_at(v, p), 0, kMaxStallMs, ms)) {
        error = "stall must be 0 to " + std::to_string(kMaxStallMs);
        return false;
    }
    WireFaults::Stall stall{uint32_t(ms), kCertain};
    if (v.find('@') != std::string_view::npos && !parse_chance(p, stall.chance)) {
        error = "the chance after '@' must be from 0 to 1";
        return false;
    }
    out.stall = stall;
    return true;
}

bool parse_reboot(std::string_view v, WireFaults& out, std::string& error) {
    std::string_view every;
    int64_t seconds = 0;
    if (!parse_integer(split_at(v, every), 0, kMaxRebootS, seconds)) {
        error = "reboot must be 0 to " + std::to_string(kMaxRebootS);
        return false;
    }
    WireFaults::Reboot reboot{uint32_t(seconds), 0};
    if (v.find('@') != std::string_view::npos) {
        int64_t n = 0;
        if (seconds == 0) {
            error = "reboot=0 turns reboots off and takes no @EVERY";
            return false;
        }
        if (!parse_integer(every, seconds + 1, kMaxRebootS, n)) {
            error = "EVERY must be more than SECONDS, up to " + std::to_string(kMaxRebootS);
            return false;
        }
        reboot.every_s = uint32_t(n);
    }
    out.reboot = reboot;
    return true;
}

bool on(WireFaults::Drop const& d) { return d.every || d.chance; }
bool on(WireFaults::Stall const& s) { return s.ms && s.chance; }
bool on(WireFaults::Reboot const& r) { return r.seconds; }
bool on(uint32_t n) { return n; }

template <class T>
void take(std::optional<T>& into, std::optional<T> const& change) {
    if (change) into = on(*change) ? change : std::nullopt;
}

}  // namespace

char const* name(WireFault kind) {
    static char const* const names[kWireFaultKinds] = {"drop",      "stall",  "slice",
                                                       "bandwidth", "jitter", "reboot"};
    return names[int(kind)];
}

char const* WireFaults::given() const {
    bool const any[kWireFaultKinds] = {bool(drop),           bool(stall),     bool(slice_bytes),
                                       bool(bandwidth_kbps), bool(jitter_ms), bool(reboot)};
    auto const first = std::find(any, any + kWireFaultKinds, true);
    return first == any + kWireFaultKinds ? nullptr : name(WireFault(first - any));
}

void WireFaults::merge(WireFaults const& change) {
    take(drop, change.drop);
    take(stall, change.stall);
    take(slice_bytes, change.slice_bytes);
    take(bandwidth_kbps, change.bandwidth_kbps);
    take(jitter_ms, change.jitter_ms);
    take(reboot, change.reboot);
}

bool take_wire_fault(Directive const& d, WireFaults& out, std::string& error) {
    for (auto [id, number] : {std::pair{DirectiveId::slice, &WireFaults::slice_bytes},
                              {DirectiveId::bandwidth, &WireFaults::bandwidth_kbps},
                              {DirectiveId::jitter, &WireFaults::jitter_ms}}) {
        if (d.id == id) {
            out.*number = d.number;
            return true;
        }
    }
    if (d.id == DirectiveId::drop) return parse_drop(d.value, out, error);
    if (d.id == DirectiveId::stall) return parse_stall(d.value, out, error);
    if (d.id == DirectiveId::reboot) return parse_reboot(d.value, out, error);
    error = "not taken here";
    return false;
}

}  // namespace kovra_sim
