#include "camera/config.h"

#include <kovra_sim/control.h>

#include <limits>

namespace kovra_sim {
namespace {

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

// Where each number directive of the camera's lands.
constexpr std::pair<DirectiveId, std::optional<uint32_t> Config::*> kNumbers[] = {
    {DirectiveId::latency, &Config::latency_us},
    {DirectiveId::seed, &Config::seed},
    {DirectiveId::timeout, &Config::timeout_ms},
    {DirectiveId::give_up, &Config::give_up_s}};

bool take(Directive const& d, Settings const& settings, Config& c, DirectiveTaker const& others,
          std::string& error) {
    if (take_output(d, c.outputs)) return true;
    for (auto [id, number] : kNumbers) {
        if (d.id == id) {
            c.*number = d.number;
            return true;
        }
    }
    std::string_view const v = d.value;
    if (d.id == DirectiveId::fail) return parse_fault(v, c.faults.emplace_back(), error);
    if (d.id == DirectiveId::set) return parse_set(v, settings, c, error);
    if (d.id == DirectiveId::restart) return parse_restart(v, c, error);
    if (d.id == DirectiveId::profile)
        return (c.profile = Profile::load(std::string(v), error)) != nullptr;
    if (d.id == DirectiveId::state) return bool(c.state_path = std::string(v));
    if (d.id == DirectiveId::exhaust) return bool(c.exhaust = std::string(v));
    if (d.id == DirectiveId::drift) return c.drift = true;
    if (others) return others(d, error);
    error = "not taken here";
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
    if (colon != std::string_view::npos && text.substr(colon + 1) != service_info(id).target) {
        error = "service \"" + std::string(word) + "\" has no target \"" +
                std::string(text.substr(colon + 1)) + "\" (its target is \"" +
                service_info(id).target + "\")";
        return -1;
    }
    return id;
}

bool parse_config(std::string_view text, Place place, Settings const& settings, Config& out,
                  std::string& error, DirectiveTaker const& others) {
    Config c;
    auto const each = [&](Directive const& d, std::string& why) {
        return take(d, settings, c, others, why);
    };
    if (!parse_directives(text, place, each, error) ||
        !distinct_files(c.outputs, {&c.state_path}, error))
        return false;
    out = std::move(c);
    return true;
}

}  // namespace kovra_sim
