// The simulated camera's settings: every setting camera.def names, with one
// instance per combination of its KEY values (streams 0 and 1, the log
// tags), each with a lock of its own and the values of its slots. Defaults
// differ between slots, so that a value in the wrong out-parameter shows.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "camera/exchange.h"
#include "common/functions.h"
#include "common/value.h"

namespace kovra_sim {

// Every instance's values in their text form, by key.
using Snapshot = std::map<std::string, std::string>;

// One setting whose values changed between two snapshots.
struct Drift {
    std::string key, before, after;
};
// The settings whose values differ between two snapshots, by key.
std::vector<Drift> drift(Snapshot const& before, Snapshot const& after);
// "drift: ..." as a line for a person: what changed, or that nothing did.
std::string drift_line(std::vector<Drift> const& changes);
// [{"setting", "before", "after"}, ...] for a statistics file.
nlohmann::json drift_json(std::vector<Drift> const& changes);

class Settings {
public:
    // What the instance of a request that stores nothing is.
    static constexpr int kNone = -2;

    Settings();
    Settings(Settings const&) = delete;
    Settings& operator=(Settings const&) = delete;

    // Back to the defaults.
    void reset();

    // The instance request `function` addresses with the KEY values it
    // sent: kNone for a request without a setting, -1 for KEY values the
    // camera does not know.
    int instance(int function, Exchange& exchange) const;
    // Serves request `function` on an instance: stores its SET values, then
    // hands its GET values to the exchange.
    void exchange(int instance, int function, Exchange& exchange);

    // The instance with this key ("SERVICE.SETTING" or "...[K1,K2]"), or -1.
    int find(std::string_view key) const;
    std::string const& key(int instance) const { return instances_[size_t(instance)].key; }

    // Parses the text form of all of an instance's values without storing them.
    bool parse(int instance, std::string_view text, std::vector<Value>& out,
               std::string& error) const;
    void put(int instance, std::vector<Value> values);
    std::vector<Value> values(int instance) const;
    Snapshot snapshot() const;
    // One "key=values\n" line per instance, sorted by key.
    std::string snapshot_text() const;

private:
    struct alignas(64) Instance {
        std::string key;
        std::vector<Value> values;
        mutable std::mutex mutex;
    };

    std::unique_ptr<Instance[]> instances_;
    std::vector<std::vector<Value>> defaults_;  // per instance
    std::vector<int> sorted_;                   // instance indices by key
    std::vector<int> first_;               // per function, its setting's first instance or kNone
    std::vector<std::vector<Type>> keys_;  // per function, the types of its KEY arguments
};

}  // namespace kovra_sim
