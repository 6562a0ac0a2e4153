#include "defaults.h"

#include <algorithm>
#include <map>

namespace kovra_sim {
namespace {

uint64_t fnv1a(std::string const& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Texts a person reading a journal recognises, by key and slot.
std::map<std::string, std::vector<std::string>> const& known_texts() {
    static std::map<std::string, std::vector<std::string>> const texts{
        {"device_information.static_information",
         {"Kovra", "IPC-1000", "KV2026120500017", "4.2.1", "B2", "Kovra IPC-1000 network camera",
          "00:1a:6c:20:26:12", "2026-01-15"}},
        {"device_information.friendly_name", {"Kovra Camera"}},
        {"device_information.udn[0]", {"uuid:4b6f7672-6100-1000-8000-001a6c202612"}},
        {"device_information.udn[1]", {"uuid:4b6f7672-6100-1000-8000-001a6c202613"}},
    };
    return texts;
}

Value number_default(uint8_t type, uint64_t h) {
    Value v;
    v.type = type;
    switch (type) {
        case KOVRA_SIM_u8:
            v.number = int64_t(1 + h % 200);
            break;
        case KOVRA_SIM_i32:
            // Either sign, never 0.
            v.number = int64_t(1 + h % 100000) * ((h >> 32) & 1 ? -1 : 1);
            break;
        case KOVRA_SIM_f64:
            v.real = double(1 + h % 100000) / 8;
            break;
        default:
            v.number = int64_t(1 + h % 100000);
            break;
    }
    return v;
}

}  // namespace

std::vector<std::string> instance_keys(SettingInfo const& setting) {
    std::vector<std::string> keys{""};
    for (uint8_t type : setting.key_types) {
        std::vector<std::string> const choices =
            type == KOVRA_SIM_text ? log_tags() : std::vector<std::string>{"0", "1"};
        std::vector<std::string> next;
        for (std::string const& prefix : keys) {
            for (std::string const& c : choices)
                next.push_back(prefix.empty() ? c : prefix + "," + c);
        }
        keys = std::move(next);
    }
    std::vector<std::string> out;
    for (std::string const& k : keys)
        out.push_back(k.empty() ? setting.name : setting.name + "[" + k + "]");
    return out;
}

std::vector<Value> default_values(SettingInfo const& setting, std::string const& key) {
    std::vector<Value> values;
    auto const known = known_texts().find(key);
    for (size_t slot = 0; slot < setting.slot_types.size(); ++slot) {
        uint8_t const type = setting.slot_types[slot];
        uint64_t h = fnv1a(key + "#" + std::to_string(slot));
        Value v;
        v.type = type;
        if (type == KOVRA_SIM_text) {
            if (known != known_texts().end() && slot < known->second.size()) {
                v.text = known->second[slot];
            } else if (setting.name == "log.settings") {
                v.text = slot == 0 ? "info" : "notset";
            } else {
                v.text = key + "/" + std::to_string(slot);
            }
        } else if (type == KOVRA_SIM_texts || type == KOVRA_SIM_bools) {
            if (setting.name == "log.tags") v.texts = log_tags();
            if (setting.name == "broker.targets") {
                for (int s = 0; s < KOVRA_SIM_SERVICE_COUNT; ++s) {
                    v.texts.push_back(slot == 0 ? service(s).word : service(s).target);
                    v.bools.push_back(1);
                }
                if (type == KOVRA_SIM_bools) v.texts.clear();
                if (type == KOVRA_SIM_texts) v.bools.clear();
            }
        } else {
            auto same = [&](Value const& o) { return o.number == v.number && o.real == v.real; };
            for (v = number_default(type, h); std::any_of(values.begin(), values.end(), same);
                 v = number_default(type, h)) {
                ++h;
            }
        }
        values.push_back(std::move(v));
    }
    return values;
}

}  // namespace kovra_sim
