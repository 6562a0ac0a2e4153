#include "camera/camera.h"

#include <kovra_sim/control.h>

#include <algorithm>

namespace kovra_sim {

Camera::Served Camera::serve(int function, std::string_view target, Exchange& exchange) {
    std::chrono::microseconds delay(latency_us());
    if (profiled_.load(std::memory_order_relaxed)) {
        std::shared_ptr<Profile const> const profile = std::atomic_load(&profile_);
        if (profile && profile->covers(function)) {
            uint64_t const n = calls_[size_t(function)].fetch_add(1, std::memory_order_relaxed);
            Profile::Draw const drawn =
                profile->draw(function, seed_.load(std::memory_order_relaxed), n);
            if (drawn.status != KOVRA_SIM_STATUS_OK) return {drawn.status, drawn.delay};
            delay = drawn.delay;
        }
    }
    if (target != service_info(function_info(function).service).target)
        return {KOVRA_SIM_STATUS_UNKNOWN_TARGET, delay};
    int const instance = settings.instance(function, exchange);
    if (instance == -1) return {KOVRA_SIM_STATUS_UNKNOWN_TARGET, delay};
    if (instance != Settings::kNone) settings.exchange(instance, function, exchange);
    served();
    return {KOVRA_SIM_STATUS_OK, delay};
}

void Camera::served() {
    // Only restarts need the count: without them, threads do not share it.
    if (!any_restarts_.load(std::memory_order_relaxed)) return;
    uint64_t const n = served_.fetch_add(1, std::memory_order_relaxed) + 1;
    std::vector<int> due;
    {
        std::lock_guard lock(mutex_);
        for (Restart& r : restarts_) {
            if (n % r.plan.every == 0 && r.fired < r.plan.count) {
                ++r.fired;
                due.push_back(r.plan.service);
            }
        }
    }
    for (int s : due) restart(s);
}

void Camera::restart(int service) {
    std::vector<Listener*> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners = listeners_;
    }
    // Told outside the lock: a listener may wait for its handlers, and a
    // handler's thread may be unsubscribing.
    for (Listener* l : listeners) l->announce(service);
}

void Camera::listen(Listener* listener) {
    std::lock_guard lock(mutex_);
    listeners_.push_back(listener);
}

void Camera::unlisten(Listener* listener) {
    std::lock_guard lock(mutex_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void Camera::plan_restart(RestartPlan plan) {
    std::lock_guard lock(mutex_);
    restarts_.push_back({plan, 0});
    any_restarts_.store(true, std::memory_order_relaxed);
}

void Camera::set_profile(std::shared_ptr<Profile const> profile) {
    std::lock_guard lock(mutex_);  // so that the flag and the profile agree
    for (auto& n : calls_) n.store(0, std::memory_order_relaxed);
    profiled_.store(profile != nullptr, std::memory_order_relaxed);
    std::atomic_store(&profile_, std::move(profile));
}

void Camera::reset() {
    settings.reset();
    latency_us_.store(0, std::memory_order_relaxed);
    seed_.store(0, std::memory_order_relaxed);
    set_profile(nullptr);
    served_.store(0, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    restarts_.clear();
    any_restarts_.store(false, std::memory_order_relaxed);
}

}  // namespace kovra_sim
