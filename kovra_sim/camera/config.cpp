#include "config.h"

#include <limits>

#include "kovra_sim/control.h"

namespace kovra_sim {
namespace {

std::string_view trim(std::string_view s) {
    size_t const b = s.find_first_not_of(" \t\n");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\n") - b + 1);
}

// fail=FUNCTION[@N][:STATUS]
bool parse_fail(std::string_view v, Config& c, std::string& error) {
    size_t const colon = v.find(':');
    std::string_view head = v.substr(0, colon);
    int64_t status = KOVRA_SIM_STATUS_INJECTED;
    if (colon != std::string_view::npos &&
        (!parse_integer(v.substr(colon + 1), std::numeric_limits<int32_t>::min(),
                        std::numeric_limits<int32_t>::max(), status) ||
         status == 0)) {
        error = "status must be a non-zero int32";
        return false;
    }
    int64_t nth = 0;
    size_t const at = head.find('@');
    if (at != std::string_view::npos) {
        if (!parse_integer(head.substr(at + 1), 1, std::numeric_limits<uint32_t>::max(), nth)) {
            error = "call number after '@' must be 1 or more";
            return false;
        }
        head = head.substr(0, at);
    }
    int const id = function_id(head);
    if (id < 0) {
        error = "unknown function \"" + std::string(head) + "\"";
        return false;
    }
    c.faults.push_back({id, uint32_t(nth), int32_t(status)});
    return true;
}

// set=KEY=V1,V2,...
bool parse_set(std::string_view v, Settings const& settings, Config& c, std::string& error) {
    size_t const eq = v.find('=');
    if (eq == std::string_view::npos) {
        error = "expected KEY=VALUES";
        return false;
    }
    Config::Set set{settings.find(v.substr(0, eq)), {}};
    if (set.instance < 0) {
        error = "no setting \"" + std::string(v.substr(0, eq)) + "\"";
        return false;
    }
    if (!settings.parse(set.instance, v.substr(eq + 1), set.values, error)) return false;
    c.sets.push_back(std::move(set));
    return true;
}

// restart=SERVICE[:TARGET]*COUNT/EVERY
bool parse_restart(std::string_view v, Config& c, std::string& error) {
    size_t const star = v.find('*');
    size_t const slash = v.find('/', star == std::string_view::npos ? 0 : star);
    if (star == std::string_view::npos || slash == std::string_view::npos) {
        error = "expected SERVICE[:TARGET]*COUNT/EVERY";
        return false;
    }
    int const service = parse_target(v.substr(0, star), error);
    if (service < 0) return false;
    int64_t count = 0, every = 0;
    uint32_t const max = std::numeric_limits<uint32_t>::max();
    if (!parse_integer(v.substr(star + 1, slash - star - 1), 1, max, count) ||
        !parse_integer(v.substr(slash + 1), 1, max, every)) {
        error = "COUNT and EVERY must be 1 or more";
        return false;
    }
    c.restarts.push_back({service, uint32_t(count), uint32_t(every)});
    return true;
}

bool parse_bounded(std::string_view v, char const* what, uint32_t low, uint32_t high,
                   std::optional<uint32_t>& out, std::string& error) {
    int64_t n = 0;
    if (!parse_integer(v, low, high, n)) {
        error =
            std::string(what) + " must be " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    out = uint32_t(n);
    return true;
}

bool parse_directive(std::string_view d, Settings const& settings, Config& c, std::string& error) {
    size_t const eq = d.find('=');
    std::string_view const name = d.substr(0, eq);
    std::string_view const v = eq == std::string_view::npos ? std::string_view() : d.substr(eq + 1);
    if (eq == std::string_view::npos || v.empty()) {
        error = "expected NAME=VALUE";
        return false;
    }
    if (name == "fail") return parse_fail(v, c, error);
    if (name == "set") return parse_set(v, settings, c, error);
    if (name == "restart") return parse_restart(v, c, error);
    if (name == "latency")
        return parse_bounded(v, "latency", 0, kMaxLatencyUs, c.latency_us, error);
    if (name == "timeout")
        return parse_bounded(v, "timeout", 1, kMaxTimeoutMs, c.timeout_ms, error);
    if (name == "give_up") return parse_bounded(v, "give_up", 0, kMaxGiveUpS, c.give_up_s, error);
    if (name == "journal") {
        c.journal_path = std::string(v);
        return true;
    }
    if (name == "state") {
        c.state_path = std::string(v);
        return true;
    }
    if (name == "stats") {
        c.stats_path = std::string(v);
        return true;
    }
    if (name == "exhaust") {
        if (v != "memory" && v != "threads" && v != "nothing") {
            error = "exhaust takes memory, threads or nothing";
            return false;
        }
        c.exhaust = std::string(v);
        return true;
    }
    if (name == "drift") {
        if (v != "1") {
            error = "drift takes 1";
            return false;
        }
        c.drift = true;
        return true;
    }
    error = "unknown directive \"" + std::string(name) + "\"";
    return false;
}

}  // namespace

int parse_target(std::string_view text, std::string& error) {
    size_t const colon = text.find(':');
    std::string_view const word = text.substr(0, colon);
    int const id = service_id(word);
    if (id < 0) {
        error = "unknown service \"" + std::string(word) + "\"";
        return -1;
    }
    if (colon != std::string_view::npos && text.substr(colon + 1) != service(id).target) {
        error = "service \"" + std::string(word) + "\" has no target \"" +
                std::string(text.substr(colon + 1)) + "\" (its target is \"" + service(id).target +
                "\")";
        return -1;
    }
    return id;
}

bool parse_config(std::string_view text, Settings const& settings, Config& out,
                  std::string& error) {
    Config c;
    while (!text.empty()) {
        size_t const semi = text.find(';');
        std::string_view const d = trim(text.substr(0, semi));
        text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
        if (d.empty()) continue;
        if (!parse_directive(d, settings, c, error)) {
            error = "\"" + std::string(d) + "\": " + error;
            return false;
        }
    }
    for (auto const* a : {&c.journal_path, &c.state_path, &c.stats_path}) {
        for (auto const* b : {&c.journal_path, &c.state_path, &c.stats_path}) {
            if (a < b && *a && *a == *b) {
                error =
                    "journal, state and stats must name different files, not \"" + **a + "\" twice";
                return false;
            }
        }
    }
    out = std::move(c);
    return true;
}

}  // namespace kovra_sim
