// The simulated camera's settings. Every setting a request row names exists
// from construction on, with one instance per combination of the row's KEY
// values (streams 0 and 1, the log tags), and each instance holds the values
// of its slots. Rows are resolved to their setting once, when the settings
// are made; a request then finds its instance from its KEY values alone.
// Each instance has its own lock, held only while its values are read or
// written, so requests on different settings never wait for each other.
// Settings of numbers only are read without taking it: a sequence number
// tells a reader whether a write overlapped its read, and a write that would
// store the values already there (a soak's write-back) stores nothing, so
// threads reading and writing back the same settings never write to a
// shared cache line.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "functions.h"
#include "sent.h"
#include "value.h"

namespace kovra_sim {

// One setting whose values changed between two snapshots.
struct Drift {
    std::string key, before, after;
};
// The settings whose values differ between two snapshots, by key.
std::vector<Drift> drift(std::string const& before, std::string const& after);
// "drift: ..." as a line for a person: what changed, or that nothing did.
std::string drift_line(std::vector<Drift> const& changes);
// [{"setting", "before", "after"}, ...] for a statistics file.
nlohmann::json drift_json(std::vector<Drift> const& changes);

class Settings {
public:
    // For a row that stores nothing.
    static constexpr int kNone = -2;

    Settings();
    Settings(Settings const&) = delete;
    Settings& operator=(Settings const&) = delete;

    // Back to the defaults.
    void reset();

    // The instance request `function` addresses with these sent values:
    // kNone for a row without a setting, -1 for KEY values the camera does
    // not know.
    int instance(int function, Sent const* sent) const;

    // Serves request `function` on an instance: stores its SET values, then
    // hands its GET values to `replies`, in argument order.
    void exchange(int instance, FunctionInfo const& function, Sent const* sent,
                  class Replies& replies);

    // The instance with this key ("SERVICE.SETTING" or "...[K1,K2]"), or -1.
    int find(std::string_view key) const;
    std::string const& key(int instance) const { return instances_[size_t(instance)].key; }

    // Parses the text form of all of an instance's values without storing them.
    bool parse(int instance, std::string_view text, std::vector<Value>& out,
               std::string& error) const;
    void put(int instance, std::vector<Value> values);
    std::vector<Value> values(int instance) const;
    // One "key=values\n" line per instance, sorted by key.
    std::string snapshot() const;

private:
    struct alignas(64) Instance {
        std::string key;
        std::vector<Value> values;  // all of them, under the lock
        mutable std::mutex mutex;   // held by writers, and by readers of texts and lists
        // Settings of numbers only: each slot's number or f64 bits, written
        // under the lock between two steps of `sequence` (odd while writing).
        std::unique_ptr<std::atomic<int64_t>[]> numbers;
        std::atomic<uint32_t> sequence{0};
    };
    void store(Instance& i, std::vector<Value> values);

    std::unique_ptr<Instance[]> instances_;
    std::vector<int> sorted_;  // instance indices by key
    std::vector<int> first_;   // per function, its setting's first instance or kNone
};

}  // namespace kovra_sim
