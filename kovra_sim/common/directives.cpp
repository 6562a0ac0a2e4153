#include "directives.h"

#include <limits>

#include "kovra_sim/control.h"
#include "value.h"

namespace kovra_sim {
namespace {

std::string_view trim(std::string_view s) {
    size_t const b = s.find_first_not_of(" \t\n");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\n") - b + 1);
}

}  // namespace

bool parse_directives(std::string_view text, DirectiveParser const& parse, std::string& error) {
    while (!text.empty()) {
        size_t const semi = text.find(';');
        std::string_view const d = trim(text.substr(0, semi));
        text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
        if (d.empty()) continue;
        size_t const eq = d.find('=');
        std::string_view const value =
            eq == std::string_view::npos ? std::string_view() : d.substr(eq + 1);
        bool parsed = false;
        if (eq == std::string_view::npos || value.empty()) {
            error = "expected NAME=VALUE";
        } else {
            parsed = parse(d.substr(0, eq), value, error);
        }
        if (!parsed) {
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

bool parse_output(std::string_view name, std::string_view value, Outputs& out, bool& ok,
                  std::string& error) {
    ok = true;
    if (name == "journal") {
        out.journal = std::string(value);
    } else if (name == "stats") {
        out.stats = std::string(value);
    } else if (name == "timeline") {
        out.timeline = std::string(value);
    } else if (name == "interval") {
        ok = parse_bounded(value, "interval", 1, kMaxIntervalS, out.interval_s, error);
    } else {
        return false;
    }
    return true;
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
