// KOVRA_SIM directives (see kovra_sim_configure in control.h), parsed but not
// yet applied, so that a bad list applies nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings_store.h"

namespace kovra_sim {

struct Config {
    struct Fault {
        int function;
        uint32_t nth;  // 0: every call
        int32_t status;
    };
    struct Set {
        std::string key;
        std::vector<Value> values;
    };
    struct Restart {
        int service;
        uint32_t count;
        uint32_t every;
    };
    std::vector<Fault> faults;
    std::vector<Set> sets;
    std::vector<Restart> restarts;
    std::optional<uint32_t> latency_us;
    std::optional<std::string> journal_path;
    std::optional<std::string> state_path;
};

// Directives are separated by ';'; blanks around a directive and empty
// directives are ignored. `store` checks the keys and values of set=.
// On failure `error` says which directive is wrong and why.
bool parse_config(std::string_view text, SettingsStore const& store, Config& out,
                  std::string& error);

// "SERVICE" or "SERVICE:TARGET" naming a service's target; the service id or
// -1 with the reason in `error`.
int parse_target(std::string_view text, std::string& error);

}  // namespace kovra_sim
