#include "faults.h"

namespace kovra_sim {

int32_t Faults::on_call(int function) {
    uint32_t const n = counts_[function].fetch_add(1, std::memory_order_relaxed) + 1;
    if (!any_.load(std::memory_order_acquire)) return 0;
    std::lock_guard lock(mutex_);
    Fault const& f = faults_[function];
    auto const it = f.nth.find(n);
    return it != f.nth.end() ? it->second : f.always;
}

void Faults::fail(int function, uint32_t nth, int32_t status) {
    std::lock_guard lock(mutex_);
    if (nth == 0) {
        faults_[function].always = status;
    } else {
        faults_[function].nth[nth] = status;
    }
    any_.store(true, std::memory_order_release);
}

void Faults::clear() {
    std::lock_guard lock(mutex_);
    faults_.fill(Fault{});
    any_.store(false, std::memory_order_release);
}

void Faults::reset_counts() {
    for (auto& c : counts_) c.store(0, std::memory_order_relaxed);
}

uint32_t Faults::count(int function) const {
    return counts_[function].load(std::memory_order_relaxed);
}

}  // namespace kovra_sim
