#include "settings.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

#include "camera.h"

namespace kovra_sim {
namespace {

// A setting as the table's rows describe it, before it has instances.
struct Shape {
    std::vector<Type> slots;
    std::vector<Type> keys;
};

std::vector<std::string> const& log_tags() {
    static std::vector<std::string> const tags{"KOVRA_CORE", "KOVRA_IPC", "KOVRA_MEDIA"};
    return tags;
}

std::vector<std::string> const& choices(Type key) {
    static std::vector<std::string> const streams{"0", "1"};
    return key == Type::text ? log_tags() : streams;
}

std::string setting_name(FunctionInfo const& f) {
    return std::string(service(f.service).word) + "." + f.setting;
}

bool stores(FunctionInfo const& f) {
    return f.kind == Kind::request && std::string_view(f.setting) != "none";
}

std::map<std::string, Shape> shapes() {
    std::map<std::string, Shape> all;
    for (int id = 0; id < kFunctionCount; ++id) {
        FunctionInfo const& f = function(id);
        if (!stores(f)) continue;
        std::string const name = setting_name(f);
        Shape& shape = all[name];
        std::vector<Type> keys;
        for (int i = 0; i < f.argc; ++i) {
            Arg const& a = f.args[i];
            if (a.direction == Direction::key) keys.push_back(a.type);
            if (a.direction != Direction::get && a.direction != Direction::set) continue;
            if (shape.slots.size() <= a.slot) shape.slots.resize(a.slot + 1, Type(0xff));
            if (shape.slots[a.slot] != Type(0xff) && shape.slots[a.slot] != a.type) {
                throw std::logic_error("kovra_requests.def: slot types disagree in " + name);
            }
            shape.slots[a.slot] = a.type;
        }
        if (!shape.keys.empty() && shape.keys != keys) {
            throw std::logic_error("kovra_requests.def: keys disagree in " + name);
        }
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

// A number's slot as stored for lock-free readers: f64 by its bits.
int64_t bits_of(Value const& v) {
    int64_t bits = v.number;
    if (v.type == Type::f64) std::memcpy(&bits, &v.real, sizeof bits);
    return bits;
}

int64_t bits_of(Type type, Sent const& s) {
    int64_t bits = s.number;
    if (type == Type::f64) std::memcpy(&bits, &s.real, sizeof bits);
    return bits;
}

void assign(Value& v, Sent const& s) {
    switch (v.type) {
        case Type::f64:
            v.real = s.real;
            break;
        case Type::text:
            v.text.assign(s.text());
            break;
        default:
            v.number = s.number;
            break;
    }
}

bool numbers_only(std::vector<Value> const& values) {
    return std::all_of(values.begin(), values.end(), [](Value const& v) {
        return v.type != Type::text && v.type != Type::texts && v.type != Type::bools;
    });
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

Value number_default(Type type, uint64_t h) {
    Value v;
    v.type = type;
    switch (type) {
        case Type::u8:
            v.number = int64_t(1 + h % 200);
            break;
        case Type::i32:
            // Either sign, never 0.
            v.number = int64_t(1 + h % 100000) * ((h >> 32) & 1 ? -1 : 1);
            break;
        case Type::f64:
            v.real = double(1 + h % 100000) / 8;
            break;
        default:
            v.number = int64_t(1 + h % 100000);
            break;
    }
    return v;
}

// Deterministic, so runs can be compared; numbers are non-zero and differ
// between the slots of a setting, so a value that lands in the wrong
// out-parameter shows.
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
            v.texts = log_tags();
        } else if (name == "broker.targets" && (type == Type::texts || type == Type::bools)) {
            for (int s = 0; s < kServiceCount; ++s) {
                if (type == Type::bools) {
                    v.bools.push_back(1);
                } else {
                    v.texts.push_back(slot == 0 ? service(s).word : service(s).target);
                }
            }
        } else if (type != Type::texts && type != Type::bools) {
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

std::map<std::string, std::string> lines_of(std::string const& snapshot) {
    std::map<std::string, std::string> values;
    size_t start = 0;
    for (size_t end; (end = snapshot.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string const line = snapshot.substr(start, end - start);
        size_t const eq = line.find('=');
        values[line.substr(0, eq)] = eq == std::string::npos ? "" : line.substr(eq + 1);
    }
    return values;
}

}  // namespace

std::vector<Drift> drift(std::string const& before, std::string const& after) {
    std::map<std::string, std::string> const old = lines_of(before), now = lines_of(after);
    std::vector<Drift> changes;
    for (auto const& [key, value] : now) {
        auto const it = old.find(key);
        if (it == old.end() || it->second != value)
            changes.push_back({key, it == old.end() ? "" : it->second, value});
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

namespace {

// Every instance's key and default values, setting by setting in name order,
// which is the order of the instances; `first` gets each setting's first.
std::vector<std::pair<std::string, std::vector<Value>>> made_defaults(
    std::map<std::string, int>& first) {
    std::vector<std::pair<std::string, std::vector<Value>>> made;
    for (auto const& [name, shape] : shapes()) {
        first[name] = int(made.size());
        for (std::string const& key : instance_keys(name, shape)) {
            made.emplace_back(key, default_values(name, shape, key));
        }
    }
    return made;
}

}  // namespace

Settings::Settings() : first_(kFunctionCount, kNone) {
    std::map<std::string, int> first;
    auto made = made_defaults(first);
    instances_ = std::make_unique<Instance[]>(made.size());
    for (size_t i = 0; i < made.size(); ++i) {
        instances_[i].key = made[i].first;
        if (numbers_only(made[i].second)) {
            instances_[i].numbers = std::make_unique<std::atomic<int64_t>[]>(made[i].second.size());
        }
        store(instances_[i], std::move(made[i].second));
        sorted_.push_back(int(i));
    }
    std::sort(sorted_.begin(), sorted_.end(),
              [&](int a, int b) { return instances_[size_t(a)].key < instances_[size_t(b)].key; });
    for (int id = 0; id < kFunctionCount; ++id) {
        FunctionInfo const& f = function(id);
        if (stores(f)) first_[size_t(id)] = first.at(setting_name(f));
    }
}

void Settings::reset() {
    std::map<std::string, int> ignored;
    auto made = made_defaults(ignored);
    for (size_t i = 0; i < made.size(); ++i) put(int(i), std::move(made[i].second));
}

int Settings::instance(int function, Sent const* sent) const {
    int const first = first_[size_t(function)];
    if (first == kNone) return kNone;
    FunctionInfo const& f = kovra_sim::function(function);
    int index = 0;
    for (int i = 0; i < f.argc; ++i) {
        if (f.args[i].direction != Direction::key) continue;
        std::vector<std::string> const& options = choices(f.args[i].type);
        int choice = -1;
        if (f.args[i].type == Type::text) {
            auto const it = std::find(options.begin(), options.end(), sent[i].text());
            if (it != options.end()) choice = int(it - options.begin());
        } else if (sent[i].number >= 0 && sent[i].number < int64_t(options.size())) {
            choice = int(sent[i].number);
        }
        if (choice < 0) return -1;
        index = index * int(options.size()) + choice;
    }
    return first + index;
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
    store(instances_[size_t(instance)], std::move(values));
}

void Settings::store(Instance& i, std::vector<Value> values) {
    std::lock_guard lock(i.mutex);
    if (i.numbers) {
        i.sequence.fetch_add(1, std::memory_order_relaxed);
        for (size_t slot = 0; slot < values.size(); ++slot)
            i.numbers[slot].store(bits_of(values[slot]), std::memory_order_release);
        i.sequence.fetch_add(1, std::memory_order_release);
    }
    i.values = std::move(values);
}

void Settings::exchange(int instance, FunctionInfo const& f, Sent const* sent, Replies& replies) {
    Instance& i = instances_[size_t(instance)];
    if (!i.numbers) {
        std::lock_guard lock(i.mutex);
        for (int a = 0; a < f.argc; ++a) {
            if (f.args[a].direction == Direction::set) assign(i.values[f.args[a].slot], sent[a]);
        }
        for (int a = 0; a < f.argc; ++a) {
            if (f.args[a].direction == Direction::get) replies.put(a, i.values[f.args[a].slot]);
        }
        return;
    }
    int64_t now[kMaxArgs];
    auto read = [&] {
        for (;;) {
            uint32_t const before = i.sequence.load(std::memory_order_acquire);
            if (before & 1) continue;
            for (int a = 0; a < f.argc; ++a) {
                Direction const d = f.args[a].direction;
                if (d == Direction::get || d == Direction::set) {
                    now[a] = i.numbers[f.args[a].slot].load(std::memory_order_acquire);
                }
            }
            if (i.sequence.load(std::memory_order_acquire) == before) return;
        }
    };
    read();
    bool changes = false;
    for (int a = 0; a < f.argc; ++a) {
        if (f.args[a].direction == Direction::set)
            changes |= now[a] != bits_of(f.args[a].type, sent[a]);
    }
    if (changes) {
        std::lock_guard lock(i.mutex);
        i.sequence.fetch_add(1, std::memory_order_relaxed);
        for (int a = 0; a < f.argc; ++a) {
            if (f.args[a].direction != Direction::set) continue;
            assign(i.values[f.args[a].slot], sent[a]);
            i.numbers[f.args[a].slot].store(bits_of(f.args[a].type, sent[a]),
                                            std::memory_order_release);
        }
        i.sequence.fetch_add(1, std::memory_order_release);
        read();
    }
    Value v;
    for (int a = 0; a < f.argc; ++a) {
        if (f.args[a].direction != Direction::get) continue;
        v.type = f.args[a].type;
        v.number = now[a];
        std::memcpy(&v.real, &now[a], sizeof v.real);
        replies.put(a, v);
    }
}

std::vector<Value> Settings::values(int instance) const {
    // The values vector is written under the lock, so reading it takes it too.
    Instance const& i = instances_[size_t(instance)];
    std::lock_guard lock(i.mutex);
    return i.values;
}

std::string Settings::snapshot() const {
    std::string out;
    for (int i : sorted_) out += key(i) + "=" + format_values(values(i)) + "\n";
    return out;
}

}  // namespace kovra_sim
