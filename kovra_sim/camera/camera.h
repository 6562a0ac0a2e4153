// The simulated camera: its settings, the targets it restarts, and how long
// it takes to answer, serving the in-process transport and the daemon's
// clients at once. It checks the target and instance a request names; the
// client checks handles and pointers.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "camera/exchange.h"
#include "camera/profile.h"
#include "camera/settings.h"

namespace kovra_sim {

// A client that wants the broker's announcements of restarted targets.
class Listener {
public:
    // Delivers (service word, target) to the client's handlers. The caller
    // is the thread whose request made the target restart.
    virtual void announce(int service) = 0;

protected:
    ~Listener() = default;
};

struct RestartPlan {
    int service;
    uint32_t count;  // restarts in all
    uint32_t every;  // one after every this many served requests
};

class Camera {
public:
    Settings settings;

    struct Served {
        int32_t status;
        // When the answer is due after the request, waited out by the transport.
        std::chrono::microseconds delay;
    };
    // Answers request `function` (one of is_request) through the exchange.
    // One answered OK counts towards the planned restarts, which happen
    // before this returns. A function the profile covers takes the status and
    // delay drawn for its call, and a drawn failure is not served.
    Served serve(int function, std::string_view target, Exchange& exchange);

    // Restarts a service's target now.
    void restart(int service);

    void listen(Listener* listener);
    void unlisten(Listener* listener);

    void plan_restart(RestartPlan plan);
    uint32_t latency_us() const { return latency_us_.load(std::memory_order_relaxed); }
    void set_latency_us(uint32_t us) { latency_us_.store(us, std::memory_order_relaxed); }
    // Answers the functions `profile` covers as it recorded them, counting
    // their calls anew.
    void set_profile(std::shared_ptr<Profile const> profile);
    void set_seed(uint32_t seed) { seed_.store(seed, std::memory_order_relaxed); }

    // Defaults, no restarts planned, no latency, no profile, seed 0, nothing
    // served. Listeners stay.
    void reset();

private:
    // Counts a request served and restarts the targets whose turn it is.
    void served();

    struct Restart {
        RestartPlan plan;
        uint32_t fired;
    };

    std::atomic<uint32_t> latency_us_{0};
    std::atomic<uint32_t> seed_{0};
    // A request drawing from the profile holds it, so one replaced is freed
    // when the last such request is done. Taking it locks briefly: only
    // while a profile is set, which `profiled_` tells without a lock.
    std::shared_ptr<Profile const> profile_;
    std::atomic<bool> profiled_{false};
    std::array<std::atomic<uint64_t>, kFunctionCount> calls_{};  // since the profile was set
    std::atomic<uint64_t> served_{0};
    std::atomic<bool> any_restarts_{false};
    std::mutex mutex_;  // guards the lists
    std::vector<Restart> restarts_;
    std::vector<Listener*> listeners_;
};

}  // namespace kovra_sim
