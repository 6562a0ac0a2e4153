// The faults on the wire in effect and how many of each were injected.
// Thread-safe: a connection looks at one relaxed atomic per request, and
// copies the faults only when they changed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "daemon/wire_faults.h"

namespace kovra_sim {

class WireState {
public:
    // The side that reboots (the server): told the reboot schedule when it
    // starts listening and whenever a directive changes it.
    using RebootListener = std::function<void(std::optional<WireFaults::Reboot>)>;

    // Takes on what `change` gives (see WireFaults::merge), and `seed` for
    // connections made after it.
    void apply(WireFaults const& change, std::optional<uint32_t> seed) {
        if (!change.given() && !seed) return;
        std::lock_guard lock(mutex_);
        faults_.merge(change);
        if (seed) seed_ = *seed;
        version_.fetch_add(1, std::memory_order_relaxed);
        if (listener_ && change.reboot) listener_(faults_.reboot);
    }

    // The faults of `start` alone and `seed`, every count from zero. A start
    // reboot= that came once does not come again; one that repeats starts anew.
    void reset(WireFaults const& start, uint32_t seed) {
        std::lock_guard lock(mutex_);
        faults_ = WireFaults{};
        faults_.merge(start);
        seed_ = seed;
        for (auto& n : counts_) n.store(0, std::memory_order_relaxed);
        version_.fetch_add(1, std::memory_order_relaxed);
        bool const repeats = faults_.reboot && faults_.reboot->every_s;
        if (listener_) listener_(repeats ? faults_.reboot : std::nullopt);
    }

    // Changes whenever the faults in effect may have.
    uint32_t version() const { return version_.load(std::memory_order_relaxed); }
    // The faults in effect and their version.
    void get(WireFaults& faults, uint32_t& version) const {
        std::lock_guard lock(mutex_);
        faults = faults_;
        version = this->version();
    }
    uint32_t seed() const {
        std::lock_guard lock(mutex_);
        return seed_;
    }

    void count(WireFault kind) { counts_[int(kind)].fetch_add(1, std::memory_order_relaxed); }
    // The faults injected so far by kind's name: connections dropped,
    // requests stalled, reply batches sliced, writes held back for the
    // bandwidth, requests given a jitter, reboots.
    std::map<std::string, uint64_t> counts() const {
        std::map<std::string, uint64_t> all;
        for (int kind = 0; kind < kWireFaultKinds; ++kind)
            all[name(WireFault(kind))] = counts_[size_t(kind)].load(std::memory_order_relaxed);
        return all;
    }

    // Tells `listener` the schedule now, and of every change until unlisten.
    void listen(RebootListener listener) {
        std::lock_guard lock(mutex_);
        listener_ = std::move(listener);
        listener_(faults_.reboot);
    }
    void unlisten() {
        std::lock_guard lock(mutex_);
        listener_ = nullptr;
    }

private:
    mutable std::mutex mutex_;  // guards the members below
    WireFaults faults_;
    uint32_t seed_ = 0;
    RebootListener listener_;
    std::atomic<uint32_t> version_{0};
    std::array<std::atomic<uint64_t>, kWireFaultKinds> counts_{};
};

}  // namespace kovra_sim
