#include "common/directives.h"

#include <kovra_sim/control.h>

#include <array>
#include <limits>

#include "common/functions.h"
#include "common/value.h"

namespace kovra_sim {
namespace {

enum : unsigned {
    SIM = unsigned(Place::sim),
    DAEMON = unsigned(Place::daemon),
    POST = unsigned(Place::post),
    TRACE = unsigned(Place::trace),
};

constexpr DirectiveInfo kDirectives[] = {
#define KOVRA_DIRECTIVE(name, places, grammar, example, help) \
    {#name, places, grammar, example, help, DirectiveInfo::text, 0, 0},
#define KOVRA_NUMBER(name, places, unit, low, high, example, help) \
    {#name, places, unit, example, help, DirectiveInfo::number, low, high},
#define KOVRA_CHOICE(name, places, choices, example, help) \
    {#name, places, choices, example, help, DirectiveInfo::choice, 0, 0},
#define KOVRA_DURATION(name, places, low, high, example, help) \
    {#name, places, "DURATION", example, help, DirectiveInfo::duration, low, high},
#define KOVRA_SIZE(name, places, low, high, example, help) \
    {#name, places, "SIZE", example, help, DirectiveInfo::size, low, high},
#include "common/directives.def"
};

static_assert(kDirectives[int(DirectiveId::latency)].high == kMaxLatencyUs);

constexpr std::pair<Place, char const*> kPlaceNames[] = {{Place::sim, "the client library"},
                                                         {Place::daemon, "kovra-camd"},
                                                         {Place::post, "POST /directives"},
                                                         {Place::trace, "the trace layer"}};

std::string_view trim(std::string_view s) {
    size_t const b = s.find_first_not_of(" \t\n");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\n") - b + 1);
}

// "A", "A and B", "A, B and C".
template <class Items>
std::string listed(Items const& items, char const* last = " and ") {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? last : ", ") + std::string(items[i]);
    return out;
}

// The units of a duration (in microseconds) or a size (in bytes), largest
// first; a value without one is in the last.
struct Unit {
    char const* name;
    uint64_t scale;
};
std::vector<Unit> const& units_of(DirectiveInfo const& d) {
    static std::vector<Unit> const durations{{"h", 3600000000}, {"m", 60000000}, {"s", 1000000},
                                             {"ms", 1000},      {"us", 1},       {"", 1000000}};
    static std::vector<Unit> const sizes{{"G", 1 << 30}, {"M", 1 << 20}, {"K", 1 << 10}, {"", 1}};
    return d.kind == DirectiveInfo::duration ? durations : sizes;
}

// A duration's or a size's value: a whole number of a unit.
bool parse_scaled(std::string_view text, DirectiveInfo const& d, uint64_t& out) {
    size_t const digits = std::min(text.find_first_not_of("0123456789"), text.size());
    int64_t n = 0;
    if (!parse_integer(text.substr(0, digits), 0, int64_t(1) << 40, n)) return false;
    for (Unit const& u : units_of(d)) {
        if (text.substr(digits) == u.name) {
            out = uint64_t(n) * u.scale;
            return out >= d.low && out <= d.high;
        }
    }
    return false;
}

// A bound of a duration or a size in the largest unit that holds it whole.
std::string scaled(DirectiveInfo const& d, uint64_t value) {
    for (Unit const& u : units_of(d)) {
        if (value % u.scale == 0) return std::to_string(value / u.scale) + u.name;
    }
    return std::to_string(value);
}

// Why the table refuses directive `name` at `place`, or "" if it takes it.
std::string refused(std::string_view name, Place place) {
    for (DirectiveInfo const& d : kDirectives) {
        if (name != d.name) continue;
        if (d.taken(place)) return "";
        std::vector<std::string> where;
        for (auto [p, place_text] : kPlaceNames) {
            if (d.taken(p)) where.emplace_back(place_text);
        }
        return std::string(name) + "= is for " + listed(where) + ", not " + place_name(place);
    }
    std::vector<std::string> names;
    for (DirectiveInfo const& d : kDirectives) {
        if (d.taken(place)) names.push_back(std::string(d.name) + "=");
    }
    return "unknown directive \"" + std::string(name) + "\" (" + place_name(place) + " takes " +
           listed(names) + ")";
}

}  // namespace

char const* place_name(Place place) {
    for (auto [p, name] : kPlaceNames) {
        if (p == place) return name;
    }
    return "?";
}

std::vector<DirectiveInfo> const& directives() {
    static std::vector<DirectiveInfo> const all(std::begin(kDirectives), std::end(kDirectives));
    return all;
}

DirectiveInfo const& directive_info(DirectiveId id) { return kDirectives[int(id)]; }

bool parse_directives(std::string_view text, Place place, DirectiveTaker const& take,
                      std::string& error) {
    while (!text.empty()) {
        size_t const semi = text.find(';');
        std::string_view const d = trim(text.substr(0, semi));
        text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
        if (d.empty()) continue;
        size_t const eq = d.find('=');
        std::string_view const name = d.substr(0, eq);
        std::string_view const value =
            eq == std::string_view::npos ? std::string_view() : d.substr(eq + 1);
        bool taken = false;
        if (eq == std::string_view::npos || value.empty()) {
            error = "expected NAME=VALUE";
        } else if (error = refused(name, place); error.empty()) {
            int id = 0;
            while (name != kDirectives[id].name) ++id;
            DirectiveInfo const& info = kDirectives[id];
            int64_t number = 0;
            uint64_t scaled_value = 0;
            bool const is_scaled =
                info.kind == DirectiveInfo::duration || info.kind == DirectiveInfo::size;
            if (info.kind == DirectiveInfo::number &&
                !parse_integer(value, int64_t(info.low), int64_t(info.high), number)) {
                error = std::string(info.name) + " must be " + std::to_string(info.low) + " to " +
                        std::to_string(info.high);
            } else if (is_scaled && !parse_scaled(value, info, scaled_value)) {
                error = std::string(info.name) + " must be " +
                        (info.kind == DirectiveInfo::duration
                             ? "a duration (h, m, s, ms or us; s if none)"
                             : "a size (G, M or K; bytes if none)") +
                        " from " + scaled(info, info.low) + " to " + scaled(info, info.high);
            } else if (info.kind == DirectiveInfo::choice &&
                       ("|" + std::string(info.grammar) + "|")
                               .find("|" + std::string(value) + "|") == std::string::npos) {
                error = std::string(info.name) + " takes " +
                        listed(split_unescaped(info.grammar, '|'), " or ");
            } else {
                taken = take({DirectiveId(id), value, is_scaled ? scaled_value : uint64_t(number)},
                             error);
            }
        }
        if (!taken) {
            error = "\"" + std::string(d) + "\": " + error;
            return false;
        }
    }
    return true;
}

bool parse_fault(std::string_view v, Fault& out, std::string& error) {
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
    out = {id, uint32_t(nth), int32_t(status)};
    return true;
}

bool take_output(Directive const& d, Outputs& out) {
    constexpr std::pair<DirectiveId, std::optional<std::string> Outputs::*> kFiles[] = {
        {DirectiveId::journal, &Outputs::journal},
        {DirectiveId::stats, &Outputs::stats},
        {DirectiveId::timeline, &Outputs::timeline},
        {DirectiveId::prom, &Outputs::prom}};
    for (auto [id, file] : kFiles) {
        if (d.id == id) return bool(out.*file = std::string(d.value));
    }
    if (d.id == DirectiveId::interval) out.interval = std::chrono::microseconds(d.number);
    if (d.id == DirectiveId::max_size) out.max_bytes = d.number;
    return d.id == DirectiveId::interval || d.id == DirectiveId::max_size;
}

bool distinct_files(Outputs const& outputs, std::vector<std::optional<std::string> const*> paths,
                    std::string& error) {
    if (outputs.interval && !outputs.timeline && !outputs.prom) {
        error = "interval= goes with timeline= or prom=";
        return false;
    }
    paths.insert(paths.end(), {&outputs.journal, &outputs.stats, &outputs.timeline, &outputs.prom});
    for (size_t a = 0; a < paths.size(); ++a) {
        for (size_t b = a + 1; b < paths.size(); ++b) {
            if (*paths[a] && *paths[a] == *paths[b]) {
                error = "each file may be named once, not \"" + **paths[a] + "\" twice";
                return false;
            }
        }
    }
    return true;
}

}  // namespace kovra_sim
