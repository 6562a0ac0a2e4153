#include "catalog.h"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

namespace kovra_sim {
namespace {

#define KOVRA_REQUEST(svc, op, setting, ...) \
    constexpr kovra_sim_arg args_##svc##_##op[] = {KOVRA_EACH(KOVRA_SIM_ARG, __VA_ARGS__)};
#include <kovra/kovra_requests.def>

#define CORE_FUNCTION(name) {#name, Kind::core, -1, nullptr, nullptr, 0},
#define EVENT_FUNCTION(name) {#name, Kind::event, KOVRA_SIM_SVC_broker, nullptr, nullptr, 0},
constexpr std::array<FunctionInfo, KOVRA_SIM_FUNCTION_COUNT> kFunctions{
    {KOVRA_SIM_CORE_FUNCTIONS(CORE_FUNCTION)
#define KOVRA_SERVICE(svc)                      \
    {"kovra_api_" #svc "_initiator_init",       \
     Kind::initiator_init,                      \
     KOVRA_SIM_SVC_##svc,                       \
     nullptr,                                   \
     nullptr,                                   \
     0},                                        \
        {"kovra_api_" #svc "_initiator_deinit", \
         Kind::initiator_deinit,                \
         KOVRA_SIM_SVC_##svc,                   \
         nullptr,                               \
         nullptr,                               \
         0},
#define KOVRA_ACTION(svc, op) \
    {"kovra_api_" #svc "_" #op "_send", Kind::action, KOVRA_SIM_SVC_##svc, nullptr, nullptr, 0},
#define KOVRA_REQUEST(svc, op, setting, ...) \
    {"kovra_api_" #svc "_" #op "_send",      \
     Kind::request,                          \
     KOVRA_SIM_SVC_##svc,                    \
     #setting,                               \
     args_##svc##_##op,                      \
     sizeof(args_##svc##_##op) / sizeof(args_##svc##_##op[0])},
#include <kovra/kovra_requests.def>
         KOVRA_SIM_EVENT_FUNCTIONS(EVENT_FUNCTION)}};

// Services answering under their own word; the others answer as target "0".
constexpr char const* kNamedTargets[] = {"audio_param", "broker", "device_information",
                                         "img_param",   "led",    "log"};

constexpr char const* target_of(char const* word) {
    for (char const* named : kNamedTargets) {
        if (std::string_view(named) == word) return named;
    }
    return "0";
}

std::array<ServiceInfo, KOVRA_SIM_SERVICE_COUNT> const kServices{{
#define KOVRA_SERVICE(svc) {#svc, target_of(#svc)},
#include <kovra/kovra_requests.def>
}};

std::vector<SettingInfo> build_settings() {
    std::map<std::string, SettingInfo> by_name;
    for (FunctionInfo const& f : kFunctions) {
        if (f.kind != Kind::request || std::string_view(f.setting) == "none") continue;
        std::string name = std::string(kServices[f.service].word) + "." + f.setting;
        SettingInfo& info = by_name[name];
        info.name = name;
        info.service = f.service;
        std::vector<uint8_t> keys;
        for (uint32_t i = 0; i < f.argc; ++i) {
            kovra_sim_arg const& a = f.args[i];
            if (a.direction == KOVRA_SIM_KEY) keys.push_back(a.type);
            if (a.direction != KOVRA_SIM_GET && a.direction != KOVRA_SIM_SET) continue;
            if (info.slot_types.size() <= a.slot) info.slot_types.resize(a.slot + 1, 0xff);
            uint8_t& slot = info.slot_types[a.slot];
            if (slot != 0xff && slot != a.type) {
                throw std::logic_error("kovra_requests.def: slot types disagree in " + name);
            }
            slot = a.type;
        }
        if (!info.key_types.empty() && info.key_types != keys) {
            throw std::logic_error("kovra_requests.def: keys disagree in " + name);
        }
        info.key_types = keys;
    }
    std::vector<SettingInfo> out;
    for (auto& [name, info] : by_name) {
        // A slot no row names still holds a value; a number is the least surprise.
        std::replace(info.slot_types.begin(), info.slot_types.end(), uint8_t{0xff},
                     uint8_t{KOVRA_SIM_u32});
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace

FunctionInfo const& function(int id) { return kFunctions.at(static_cast<size_t>(id)); }

int function_id(std::string_view name) {
    static std::map<std::string_view, int> const ids = [] {
        std::map<std::string_view, int> m;
        for (size_t i = 0; i < kFunctions.size(); ++i) m.emplace(kFunctions[i].name, int(i));
        return m;
    }();
    auto it = ids.find(name);
    return it == ids.end() ? -1 : it->second;
}

ServiceInfo const& service(int id) { return kServices.at(static_cast<size_t>(id)); }

int service_id(std::string_view word) {
    for (size_t i = 0; i < kServices.size(); ++i) {
        if (word == kServices[i].word) return int(i);
    }
    return -1;
}

std::vector<SettingInfo> const& settings() {
    static std::vector<SettingInfo> const all = build_settings();
    return all;
}

SettingInfo const* find_setting(std::string_view name) {
    auto const& all = settings();
    auto it = std::lower_bound(all.begin(), all.end(), name,
                               [](SettingInfo const& s, std::string_view n) { return s.name < n; });
    return it != all.end() && it->name == name ? &*it : nullptr;
}

std::vector<std::string> const& log_tags() {
    static std::vector<std::string> const tags{"KOVRA_CORE", "KOVRA_IPC", "KOVRA_MEDIA"};
    return tags;
}

}  // namespace kovra_sim
