#include "settings_store.h"

#include "defaults.h"

namespace kovra_sim {
namespace {

std::string join(std::vector<Value> const& values) {
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + format_value(values[i]);
    return out;
}

}  // namespace

SettingsStore::SettingsStore() { reset(); }

void SettingsStore::reset() {
    std::map<std::string, std::vector<Value>> fresh;
    for (SettingInfo const& s : settings()) {
        for (std::string const& key : instance_keys(s)) fresh[key] = default_values(s, key);
    }
    std::unique_lock lock(mutex_);
    values_ = std::move(fresh);
}

bool SettingsStore::parse(std::string const& key, std::string const& text, std::vector<Value>& out,
                          std::string& error) const {
    std::vector<uint8_t> types;
    if (!read(key, [&](std::vector<Value> const& v) {
            for (Value const& slot : v) types.push_back(slot.type);
        })) {
        error = "no setting \"" + key + "\"";
        return false;
    }
    std::vector<std::string> parts{""};
    for (char c : text) {
        if (c == ',') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    if (parts.size() != types.size()) {
        error = "\"" + key + "\" takes " + std::to_string(types.size()) + " values, not " +
                std::to_string(parts.size());
        return false;
    }
    std::vector<Value> values(types.size());
    for (size_t i = 0; i < types.size(); ++i) {
        if (!parse_value(types[i], parts[i], values[i], error)) return false;
    }
    out = std::move(values);
    return true;
}

void SettingsStore::put(std::string const& key, std::vector<Value> values) {
    write(key, [&](std::vector<Value>& v) { v = std::move(values); });
}

bool SettingsStore::get(std::string const& key, std::string& out) const {
    return read(key, [&](std::vector<Value> const& v) { out = join(v); });
}

std::string SettingsStore::snapshot() const {
    std::shared_lock lock(mutex_);
    std::string out;
    for (auto const& [key, values] : values_) out += key + "=" + join(values) + "\n";
    return out;
}

}  // namespace kovra_sim
