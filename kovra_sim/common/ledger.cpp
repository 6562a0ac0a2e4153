#include "common/ledger.h"

namespace kovra_sim {

uint32_t Ledger::count(int function) const {
    uint32_t n = 0;
    threads_.each([&](Counters const& t) {
        n += t.counts[size_t(function)].load(std::memory_order_relaxed);
    });
    return n;
}

int32_t Ledger::injected(int function) {
    std::lock_guard lock(mutex_);
    uint32_t const n = count(function) + 1;
    auto& mine_now = threads_.mine().counts[size_t(function)];
    mine_now.store(mine_now.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    Fault const& f = faults_[function];
    auto const it = f.nth.find(n);
    int32_t const status = it != f.nth.end() ? it->second : f.always;
    if (status != 0) ++injected_;
    return status;
}

uint64_t Ledger::faults_injected() {
    std::lock_guard lock(mutex_);
    return injected_;
}

void Ledger::fail(int function, uint32_t nth, int32_t status) {
    std::lock_guard lock(mutex_);
    if (nth == 0) {
        faults_[function].always = status;
    } else {
        faults_[function].nth[nth] = status;
    }
    any_.store(true, std::memory_order_release);
}

void Ledger::clear_faults() {
    std::lock_guard lock(mutex_);
    faults_.fill(Fault{});
    any_.store(false, std::memory_order_release);
}

void Ledger::reset_counts() {
    {
        std::lock_guard lock(mutex_);
        injected_ = 0;
    }
    threads_.each([](Counters& t) {
        for (auto& c : t.counts) c.store(0, std::memory_order_relaxed);
    });
}

std::string Ledger::calls_text() const {
    std::map<std::string, uint32_t> calls;
    for (int f = 0; f < kFunctionCount; ++f) {
        if (uint32_t n = count(f)) calls[function_info(f).name] = n;
    }
    std::string text;
    for (auto const& [name, n] : calls) text += "calls " + name + " " + std::to_string(n) + "\n";
    return text;
}

}  // namespace kovra_sim
