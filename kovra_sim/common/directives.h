// The directives of KOVRA_SIM, the daemon's --sim and POST /directives, and
// KOVRA_TRACE: NAME=VALUE separated by ';' (blanks around a directive and
// empty ones ignored). The table (directives.def) decides for all of them
// alike which names are known where; each consumer reads the values it owns.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kovra_sim {

enum class Place : unsigned {
    sim = 1,     // a program's KOVRA_SIM: the stand-in client library
    daemon = 2,  // kovra-camd's start: its KOVRA_SIM and --sim
    post = 4,    // kovra-camd's POST /directives
    trace = 8,   // KOVRA_TRACE: the trace layer
};
// "the client library", "kovra-camd", "POST /directives", "the trace layer".
char const* place_name(Place place);

enum class DirectiveId : int {
#define KOVRA_DIRECTIVE(name, places, grammar, example, help) name,
#define KOVRA_NUMBER(name, places, unit, low, high, example, help) name,
#define KOVRA_CHOICE(name, places, choices, example, help) name,
#define KOVRA_DURATION(name, places, low, high, example, help) name,
#define KOVRA_SIZE(name, places, low, high, example, help) name,
#include "common/directives.def"
};

struct DirectiveInfo {
    enum Kind { text, number, choice, duration, size };

    char const* name;
    unsigned places;      // of Place
    char const* grammar;  // the value as help shows it; a choice's words
    char const* example;
    char const* help;
    Kind kind;
    uint64_t low, high;  // a number's, duration's (us) or size's (bytes) bounds

    bool taken(Place place) const { return places & unsigned(place); }
};

// Every directive, in the table's order.
std::vector<DirectiveInfo> const& directives();
DirectiveInfo const& directive_info(DirectiveId id);

// A directive of a list; `number` holds a number's value, a duration's in
// microseconds or a size's in bytes, already checked against its bounds.
struct Directive {
    DirectiveId id;
    std::string_view value;
    uint64_t number;
};
using DirectiveTaker = std::function<bool(Directive const& directive, std::string& error)>;

// Hands each directive of `text` to `take` in order once the table takes it
// at `place`; stops at the first refused, by the table or by `take`, with
// the error saying which directive and why.
bool parse_directives(std::string_view text, Place place, DirectiveTaker const& take,
                      std::string& error);

// fail=FUNCTION[@N][:STATUS]
struct Fault {
    int function;
    uint32_t nth;  // 0: every call
    int32_t status;
};
bool parse_fault(std::string_view value, Fault& out, std::string& error);

// The files of journal=, stats=, timeline=, prom=, interval= and
// max_size=. A name may hold %p, the process id, and %%.
struct Outputs {
    std::optional<std::string> journal;
    std::optional<std::string> stats;
    std::optional<std::string> timeline;
    std::optional<std::string> prom;
    std::optional<std::chrono::microseconds> interval;  // of the timeline; 10 s unless given
    std::optional<uint64_t> max_bytes;                  // each file's cap
};
// Takes one of those directives into `out`; false if it is none of them.
bool take_output(Directive const& directive, Outputs& out);
// No file may be named twice among `paths` (and `outputs`' files), and
// interval= goes with timeline= or prom=.
bool distinct_files(Outputs const& outputs, std::vector<std::optional<std::string> const*> paths,
                    std::string& error);

// The bound of latency=, which delays drawn elsewhere share.
constexpr uint32_t kMaxLatencyUs = 10'000'000;

}  // namespace kovra_sim
