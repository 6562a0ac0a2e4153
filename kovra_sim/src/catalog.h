// What the simulated camera knows about the client library: every function,
// every service with its one target, and every setting the table's rows read
// or write. All of it is expanded from kovra_requests.def and never changes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bridge.h"

namespace kovra_sim {

enum class Kind { core, initiator_init, initiator_deinit, action, request, event };

struct FunctionInfo {
    char const* name;
    Kind kind;
    int service;          // -1 for core functions
    char const* setting;  // requests only
    kovra_sim_arg const* args;
    uint32_t argc;
};

struct ServiceInfo {
    char const* word;
    char const* target;
};

// A stored value of the camera: "SERVICE.SETTING", the type of each slot, and
// the types of the KEY arguments that select an instance of it.
struct SettingInfo {
    std::string name;
    int service;
    std::vector<uint8_t> slot_types;
    std::vector<uint8_t> key_types;
};

FunctionInfo const& function(int id);
// The id of a function named by its C name, or -1.
int function_id(std::string_view name);

ServiceInfo const& service(int id);
// The id of a service named by its word, or -1.
int service_id(std::string_view word);

// Sorted by name.
std::vector<SettingInfo> const& settings();
SettingInfo const* find_setting(std::string_view name);

// The tags of the camera log: the instances of the log settings.
std::vector<std::string> const& log_tags();

}  // namespace kovra_sim
