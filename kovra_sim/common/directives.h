// The syntax that KOVRA_SIM, the daemon's --sim and KOVRA_TRACE share: a
// list of NAME=VALUE directives separated by ';', blanks around a directive
// and empty directives ignored; and the directives that mean the same in
// all of them (fail=, latency=, and the files journal=, stats=, timeline=
// with interval=).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kovra_sim {

// The files of the directives journal=, stats=, timeline= and interval=.
struct Outputs {
    std::optional<std::string> journal;
    std::optional<std::string> stats;
    std::optional<std::string> timeline;
    std::optional<uint32_t> interval_s;  // of the timeline; 10 unless given
};

// The bounds of interval=.
constexpr uint32_t kMaxIntervalS = 86'400;

// fail=FUNCTION[@N][:STATUS]
struct Fault {
    int function;
    uint32_t nth;  // 0: every call
    int32_t status;
};

// The bounds of latency=.
constexpr uint32_t kMaxLatencyUs = 10'000'000;

using DirectiveParser =
    std::function<bool(std::string_view name, std::string_view value, std::string& error)>;

// Hands each directive of `text` to `parse` in order, and stops at the first
// it refuses; the error then says which directive and why.
bool parse_directives(std::string_view text, DirectiveParser const& parse, std::string& error);

bool parse_fault(std::string_view value, Fault& out, std::string& error);
// A whole number from `low` to `high`, for the directive `what`.
bool parse_bounded(std::string_view value, char const* what, uint32_t low, uint32_t high,
                   std::optional<uint32_t>& out, std::string& error);
// journal=, stats=, timeline= or interval= into `out`: false if `name` is
// none of them; otherwise true, with `ok` false and the reason in `error`
// for a bad value.
bool parse_output(std::string_view name, std::string_view value, Outputs& out, bool& ok,
                  std::string& error);
// No file may be named twice among `paths` (and `outputs`' files).
bool distinct_files(Outputs const& outputs, std::vector<std::optional<std::string> const*> paths,
                    std::string& error);

}  // namespace kovra_sim
