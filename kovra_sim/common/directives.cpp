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
std::string listed(std::vector<std::string> const& items, char const* last = " and ") {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? last : ", ") + items[i];
    return out;
}

// The words of a choice, as a person reads them: "a, b or c".
std::string choices(DirectiveInfo const& d) {
    std::vector<std::string> words;
    for (std::string_view w : split_unescaped(d.grammar, '|')) words.emplace_back(w);
    return listed(words, " or ");
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
            if (info.kind == DirectiveInfo::number &&
                !parse_integer(value, info.low, info.high, number)) {
                error = std::string(info.name) + " must be " + std::to_string(info.low) + " to " +
                        std::to_string(info.high);
            } else if (info.kind == DirectiveInfo::choice &&
                       ("|" + std::string(info.grammar) + "|").find("|" + std::string(value) + "|") ==
                           std::string::npos) {
                error = std::string(info.name) + " takes " + choices(info);
            } else {
                taken = take({DirectiveId(id), value, uint32_t(number)}, error);
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
    switch (d.id) {
        case DirectiveId::journal:
            out.journal = std::string(d.value);
            return true;
        case DirectiveId::stats:
            out.stats = std::string(d.value);
            return true;
        case DirectiveId::timeline:
            out.timeline = std::string(d.value);
            return true;
        case DirectiveId::interval:
            out.interval_s = d.number;
            return true;
        default:
            return false;
    }
}

bool distinct_files(Outputs const& outputs, std::vector<std::optional<std::string> const*> paths,
                    std::string& error) {
    if (outputs.interval_s && !outputs.timeline) {
        error = "interval= goes with timeline=";
        return false;
    }
    paths.insert(paths.end(), {&outputs.journal, &outputs.stats, &outputs.timeline});
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
