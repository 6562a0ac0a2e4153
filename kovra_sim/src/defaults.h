// The values the simulated camera starts with. Deterministic, so runs can be
// compared; numbers are non-zero and differ between the slots of a setting,
// so a value that lands in the wrong out-parameter shows.
#pragma once

#include <string>
#include <vector>

#include "catalog.h"
#include "value.h"

namespace kovra_sim {

// Every key of a setting: its name, or one "name[K1,K2]" per instance.
std::vector<std::string> instance_keys(SettingInfo const& setting);

std::vector<Value> default_values(SettingInfo const& setting, std::string const& key);

}  // namespace kovra_sim
