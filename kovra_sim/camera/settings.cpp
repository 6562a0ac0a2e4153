#include "camera/settings.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "camera/rows.h"
#include "common/args.h"

namespace kovra_sim {
namespace {

// A setting as the table's rows describe it, before it has instances.
struct Shape {
    std::vector<Type> slots;
    std::vector<Type> keys;
};

// The values a KEY takes: a text is a log tag, a number a stream.
std::vector<std::string> const& choices(Type key) {
    static std::vector<std::string> const tags{"KOVRA_CORE", "KOVRA_IPC", "KOVRA_MEDIA"},
        streams{"0", "1"};
    return key == Type::text ? tags : streams;
}

// The kind of value an argument of C type A carries, sent or out.
template <class A>
constexpr Type type_of() {
    using V = std::remove_pointer_t<A>;
    if constexpr (std::is_same_v<V, uint8_t>) return Type::u8;
    if constexpr (std::is_same_v<V, uint32_t>) return Type::u32;
    if constexpr (std::is_same_v<V, int32_t>) return Type::i32;
    if constexpr (std::is_same_v<V, double>) return Type::f64;
    if constexpr (std::is_same_v<V, char const> || std::is_same_v<V, char*>) return Type::text;
    if constexpr (std::is_same_v<V, kovra_string_array*>) return Type::texts;
    if constexpr (std::is_same_v<V, kovra_bool_array*>) return Type::bools;
}

std::string setting_name(int function) {
    return std::string(service_info(function_info(function).service).word) + "." +
           camera_row(function).setting;
}

// Every setting's slot and key types, from the camera's rows and the C
// types of their requests' arguments.
std::map<std::string, Shape> shapes() {
    std::map<std::string, Shape> all;
    for (int id = 0; id < kFunctionCount; ++id) {
        CameraRow const& row = camera_row(id);
        if (!row.setting) continue;
        std::string const name = setting_name(id);
        Shape& shape = all[name];
        std::vector<Type> keys;
        visit_request(id, [&](auto types) {
            for_each_arg(types, [&](auto arg, auto* typed) {
                constexpr Type type = type_of<std::remove_pointer_t<decltype(typed)>>();
                ArgRole const r = row.args[arg];
                if (r.role == Role::key) keys.push_back(type);
                if (r.role != Role::set && r.role != Role::get) return;
                if (shape.slots.size() <= r.slot) shape.slots.resize(r.slot + 1u, Type(0xff));
                if (shape.slots[r.slot] != Type(0xff) && shape.slots[r.slot] != type)
                    throw std::logic_error("camera.def: slot types disagree in " + name);
                shape.slots[r.slot] = type;
            });
        });
        if (!shape.keys.empty() && shape.keys != keys)
            throw std::logic_error("camera.def: keys disagree in " + name);
        shape.keys = keys;
    }
    // A slot no row names still holds a value; a number is the least surprise.
    for (auto& [name, shape] : all)
        std::replace(shape.slots.begin(), shape.slots.end(), Type(0xff), Type::u32);
    return all;
}

// Every key of a setting: its name, or one "name[K1,K2]" per instance, in
// the order Settings::instance() numbers them.
std::vector<std::string> instance_keys(std::string const& name, Shape const& shape) {
    std::vector<std::string> keys{""};
    for (Type type : shape.keys) {
        std::vector<std::string> next;
        for (std::string const& prefix : keys) {
            for (std::string const& c : choices(type))
                next.push_back(prefix.empty() ? c : prefix + "," + c);
        }
        keys = std::move(next);
    }
    for (std::string& k : keys) k = k.empty() ? name : name + "[" + k + "]";
    return keys;
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

// Never 0; an i32 of either sign.
Value number_default(Type type, uint64_t h) {
    Value v;
    v.type = type;
    int64_t const n = int64_t(1 + h % (type == Type::u8 ? 200 : 100000));
    if (type == Type::f64) {
        v.real = double(n) / 8;
    } else {
        v.number = type == Type::i32 && (h >> 32) & 1 ? -n : n;
    }
    return v;
}

// Deterministic, so that runs compare; numbers differ between slots.
std::vector<Value> default_values(std::string const& name, Shape const& shape,
                                  std::string const& key) {
    std::vector<Value> values;
    auto const known = known_texts().find(key);
    for (size_t slot = 0; slot < shape.slots.size(); ++slot) {
        Type const type = shape.slots[slot];
        uint64_t h = fnv1a(key + "#" + std::to_string(slot));
        Value v;
        v.type = type;
        if (type == Type::text) {
            if (known != known_texts().end() && slot < known->second.size()) {
                v.text = known->second[slot];
            } else if (name == "log.settings") {
                v.text = slot == 0 ? "info" : "notset";
            } else {
                v.text = key + "/" + std::to_string(slot);
            }
        } else if (type == Type::texts && name == "log.tags") {
            v.texts = choices(Type::text);
        } else if (type == Type::bools && name == "broker.targets") {
            v.bools.assign(kServiceCount, 1);
        } else if (type == Type::texts && name == "broker.targets") {
            for (int s = 0; s < kServiceCount; ++s)
                v.texts.push_back(slot == 0 ? service_info(s).word : service_info(s).target);
        } else if (type != Type::texts && type != Type::bools) {
            auto same = [&](Value const& o) { return o.number == v.number && o.real == v.real; };
            v = number_default(type, h);
            while (std::any_of(values.begin(), values.end(), same)) v = number_default(type, ++h);
        }
        values.push_back(std::move(v));
    }
    return values;
}

}  // namespace

std::vector<Drift> drift(Snapshot const& before, Snapshot const& after) {
    std::vector<Drift> changes;
    for (auto const& [key, value] : after) {
        auto const it = before.find(key);
        if (it == before.end() || it->second != value)
            changes.push_back({key, it == before.end() ? "" : it->second, value});
    }
    return changes;
}

std::string drift_line(std::vector<Drift> const& changes) {
    if (changes.empty()) return "drift: the configuration is as it was at the start";
    std::string line = "drift: " + std::to_string(changes.size()) + " setting" +
                       (changes.size() > 1 ? "s" : "") + " changed since the start:";
    for (size_t i = 0; i < changes.size(); ++i) {
        line += (i ? "; " : " ") + changes[i].key + " (" + changes[i].before + " -> " +
                changes[i].after + ")";
    }
    return line;
}

nlohmann::json drift_json(std::vector<Drift> const& changes) {
    nlohmann::json list = nlohmann::json::array();
    for (Drift const& d : changes)
        list.push_back({{"setting", d.key}, {"before", d.before}, {"after", d.after}});
    return list;
}

Settings::Settings() : first_(kFunctionCount, kNone), keys_(kFunctionCount) {
    // Setting by setting in name order, which numbers the instances.
    std::vector<std::string> keys;
    std::map<std::string, int> first;
    auto const all = shapes();
    for (auto const& [name, shape] : all) {
        first[name] = int(keys.size());
        for (std::string const& key : instance_keys(name, shape)) {
            keys.push_back(key);
            defaults_.push_back(default_values(name, shape, key));
        }
    }
    instances_ = std::make_unique<Instance[]>(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        instances_[i].key = keys[i];
        instances_[i].values = defaults_[i];
        sorted_.push_back(int(i));
    }
    std::sort(sorted_.begin(), sorted_.end(),
              [&](int a, int b) { return instances_[size_t(a)].key < instances_[size_t(b)].key; });
    for (int id = 0; id < kFunctionCount; ++id) {
        if (!camera_row(id).setting) continue;
        first_[size_t(id)] = first.at(setting_name(id));
        keys_[size_t(id)] = all.at(setting_name(id)).keys;
    }
}

void Settings::reset() {
    for (size_t i = 0; i < defaults_.size(); ++i) put(int(i), defaults_[i]);
}

int Settings::instance(int function, Exchange& exchange) const {
    int const first = first_[size_t(function)];
    if (first == kNone) return kNone;
    CameraRow const& row = camera_row(function);
    std::vector<Type> const& types = keys_[size_t(function)];
    int index = 0;
    for (int a = 0, k = 0; a < kMaxArgs; ++a) {
        if (row.args[a].role != Role::key) continue;
        Value key;
        key.type = types[size_t(k++)];
        exchange.read(a, key);
        std::vector<std::string> const& options = choices(key.type);
        auto const it = std::find(options.begin(), options.end(),
                                  key.type == Type::text ? key.text : std::to_string(key.number));
        if (it == options.end()) return -1;
        index = index * int(options.size()) + int(it - options.begin());
    }
    return first + index;
}

void Settings::exchange(int instance, int function, Exchange& exchange) {
    CameraRow const& row = camera_row(function);
    Instance& i = instances_[size_t(instance)];
    std::lock_guard lock(i.mutex);
    for (int a = 0; a < kMaxArgs; ++a) {
        if (row.args[a].role == Role::set) exchange.read(a, i.values[row.args[a].slot]);
    }
    for (int a = 0; a < kMaxArgs; ++a) {
        if (row.args[a].role == Role::get) exchange.write(a, i.values[row.args[a].slot]);
    }
}

int Settings::find(std::string_view key) const {
    auto const it =
        std::lower_bound(sorted_.begin(), sorted_.end(), key,
                         [&](int i, std::string_view k) { return instances_[size_t(i)].key < k; });
    return it != sorted_.end() && instances_[size_t(*it)].key == key ? *it : -1;
}

bool Settings::parse(int instance, std::string_view text, std::vector<Value>& out,
                     std::string& error) const {
    std::vector<Value> const current = values(instance);
    std::vector<std::string_view> const parts = split_unescaped(text, ',');
    if (parts.size() != current.size()) {
        error = "\"" + key(instance) + "\" takes " + std::to_string(current.size()) +
                " values, not " + std::to_string(parts.size());
        return false;
    }
    std::vector<Value> parsed(current.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!parse_value(current[i].type, parts[i], parsed[i], error)) return false;
    }
    out = std::move(parsed);
    return true;
}

void Settings::put(int instance, std::vector<Value> values) {
    Instance& i = instances_[size_t(instance)];
    std::lock_guard lock(i.mutex);
    i.values = std::move(values);
}

std::vector<Value> Settings::values(int instance) const {
    Instance const& i = instances_[size_t(instance)];
    std::lock_guard lock(i.mutex);
    return i.values;
}

Snapshot Settings::snapshot() const {
    Snapshot all;
    for (int i : sorted_) all.emplace_hint(all.end(), key(i), format_values(values(i)));
    return all;
}

std::string Settings::snapshot_text() const {
    std::string out;
    for (auto const& [key, values] : snapshot()) out += key + "=" + values + "\n";
    return out;
}

}  // namespace kovra_sim
