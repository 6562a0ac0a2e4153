// The directives of the stand-in and its camera, as KOVRA_SIM, the daemon's
// --sim and POST /directives give them (see kovra_sim_configure in
// control.h): parsed whole before anything is applied, so that a bad list
// applies nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "camera/camera.h"
#include "common/directives.h"

namespace kovra_sim {

struct Config {
    struct Set {
        int instance;
        std::vector<Value> values;
    };
    std::vector<Fault> faults;
    std::vector<Set> sets;
    std::vector<RestartPlan> restarts;
    std::optional<uint32_t> latency_us;
    std::shared_ptr<Profile const> profile;  // replaces latency_us for what it covers
    // Where every drawn fault and latency starts from, so that a run repeats.
    std::optional<uint32_t> seed;
    std::optional<uint32_t> timeout_ms;
    std::optional<uint32_t> give_up_s;
    Outputs outputs;
    std::optional<std::string> state_path;
    bool drift = false;
    std::optional<std::string> exhaust;  // "memory", "threads" or "nothing"
};

// Parses the directives given at `place`: `settings` checks the keys and
// values of set=, and `others` takes the directives the camera does not own
// (the daemon's faults on the wire). On failure `error` says which directive
// is wrong and why.
bool parse_config(std::string_view text, Place place, Settings const& settings, Config& out,
                  std::string& error, DirectiveTaker const& others = {});

// "SERVICE" or "SERVICE:TARGET" naming a service's target; the service id
// or -1 with the reason in `error`.
int parse_target(std::string_view text, std::string& error);

}  // namespace kovra_sim
