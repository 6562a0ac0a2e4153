// One T for each thread that uses it, made on that thread's first use and
// kept as long as the owner: a thread writes its own T without sharing a
// cache line, and the owner reads or resets them all under one lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace kovra_sim {

template <class T>
class PerThread {
public:
    PerThread() : id_(next_id()) {}

    T& mine() {
        // Owners are told apart by number, not address, so a thread never
        // takes a new owner for one gone at the same address.
        thread_local std::vector<std::pair<uint64_t, T*>> known;
        for (auto const& [id, t] : known) {
            if (id == id_) return *t;
        }
        std::lock_guard lock(mutex_);
        all_.push_back(std::make_unique<T>());
        known.emplace_back(id_, all_.back().get());
        return *all_.back();
    }

    // Calls f on every thread's T, holding the list's lock.
    template <class F>
    void each(F&& f) const {
        std::lock_guard lock(mutex_);
        for (auto const& t : all_) f(*t);
    }

private:
    static uint64_t next_id() {
        static std::atomic<uint64_t> next{1};
        return next.fetch_add(1);
    }

    uint64_t const id_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<T>> all_;
};

}  // namespace kovra_sim
