// The simulated camera's settings: for every key ("SERVICE.SETTING" or
// "SERVICE.SETTING[K1,K2]") the values of its slots. Every key exists from
// construction on; nothing ever adds one, so an unknown key is always an
// error of the caller. Thread-safe: readers share, writers exclude.
#pragma once

#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "value.h"

namespace kovra_sim {

class SettingsStore {
public:
    SettingsStore();

    // Back to the defaults.
    void reset();

    // Calls f(values) under the read lock; false for an unknown key.
    template <class F>
    bool read(std::string const& key, F&& f) const {
        std::shared_lock lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) return false;
        f(it->second);
        return true;
    }
    // Calls f(values) under the write lock; false for an unknown key.
    template <class F>
    bool write(std::string const& key, F&& f) {
        std::unique_lock lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) return false;
        f(it->second);
        return true;
    }

    // Parses "V1,V2,..." for `key` (one value per slot) without storing it.
    bool parse(std::string const& key, std::string const& text, std::vector<Value>& out,
               std::string& error) const;
    void put(std::string const& key, std::vector<Value> values);
    // "V1,V2,...", or false for an unknown key.
    bool get(std::string const& key, std::string& out) const;
    // One "key=values\n" line per key, sorted by key.
    std::string snapshot() const;

private:
    mutable std::shared_mutex mutex_;
    std::map<std::string, std::vector<Value>> values_;
};

}  // namespace kovra_sim
