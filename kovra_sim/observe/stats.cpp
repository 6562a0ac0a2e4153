#include "observe/stats.h"

#include <array>
#include <cmath>

namespace kovra_sim {
namespace {

double seconds(std::chrono::steady_clock::duration d) {
    return std::round(std::chrono::duration<double>(d).count() * 1000) / 1000;
}

double epoch(std::chrono::system_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

}  // namespace

// One function's figures each; null for a function with none.
struct Stats::Window {
    std::array<std::unique_ptr<FunctionStats>, kFunctionCount> functions;

    FunctionStats& of(int function) {
        auto& f = functions[size_t(function)];
        if (!f) f = std::make_unique<FunctionStats>();
        return *f;
    }
    void merge(Window const& other) {
        for (int id = 0; id < kFunctionCount; ++id) {
            if (auto const& f = other.functions[size_t(id)]) of(id).merge(*f);
        }
    }
    void clear() {
        for (auto& f : functions) f.reset();
    }
    // Its figures as a report's.
    void into(Report& report) const {
        for (int id = 0; id < kFunctionCount; ++id) {
            if (auto const& f = functions[size_t(id)]; f && f->calls) report.functions[id] = *f;
        }
    }
};

// A thread records into the window that is open; the other one is empty
// but while cut() takes it.
struct Stats::Thread {
    std::mutex mutex;  // taken by its own thread and by report() and cut()
    uint64_t run = 0;
    Window windows[2];
};

Stats::Stats() : started_(std::chrono::steady_clock::now()), window_started_(started_) {}

Stats::~Stats() = default;

void Stats::start() {
    std::lock_guard lock(mutex_);
    run_.fetch_add(1);
    started_ = window_started_ = std::chrono::steady_clock::now();
    window_started_clock_ = std::chrono::system_clock::now();
    closed_.reset();
    announced_.clear();
    closed_announced_.clear();
    on_.store(true, std::memory_order_relaxed);
}

void Stats::record(int function, int32_t status, std::chrono::nanoseconds took) {
    Thread& t = threads_.mine();
    std::lock_guard lock(t.mutex);
    // Read under the thread's lock: cut() moves on before it takes it.
    uint64_t const run = run_.load(std::memory_order_relaxed);
    if (t.run != run) {
        t.windows[0].clear();
        t.windows[1].clear();
        t.run = run;
    }
    t.windows[window_.load(std::memory_order_relaxed) & 1].of(function).add(
        status, double(took.count()) / 1000);
}

void Stats::announced(std::string_view target) {
    std::lock_guard lock(mutex_);
    auto it = announced_.find(target);
    if (it == announced_.end()) it = announced_.emplace(std::string(target), 0).first;
    ++it->second;
}

Report Stats::report() const {
    std::lock_guard lock(mutex_);
    uint64_t const run = run_.load();
    Window all;
    if (closed_) all.merge(*closed_);
    threads_.each([&](Thread& t) {
        std::lock_guard figures(t.mutex);
        if (t.run != run) return;
        all.merge(t.windows[0]);
        all.merge(t.windows[1]);
    });
    Report report;
    all.into(report);
    report.announcements = closed_announced_;
    for (auto const& [target, n] : announced_) report.announcements[target] += n;
    double const wall = seconds(std::chrono::steady_clock::now() - started_);
    report.wall_seconds = wall;
    report.requests_per_second =
        wall > 0 ? std::round(double(report.requests().calls) / wall) : 0.0;
    return report;
}

Report Stats::cut() {
    std::lock_guard lock(mutex_);
    auto const now = std::chrono::steady_clock::now();
    auto const clock = std::chrono::system_clock::now();
    uint64_t const run = run_.load();
    uint64_t const closing = window_.fetch_add(1) & 1;
    Window window;
    threads_.each([&](Thread& t) {
        std::lock_guard figures(t.mutex);
        if (t.run == run) window.merge(t.windows[closing]);
        t.windows[closing].clear();
    });
    Report report;
    window.into(report);
    report.announcements = announced_;
    report.start_s = seconds(window_started_ - started_);
    report.end_s = seconds(now - started_);
    report.start_clock = epoch(window_started_clock_);
    report.end_clock = epoch(clock);
    if (!closed_) closed_ = std::make_unique<Window>();
    closed_->merge(window);
    for (auto const& [target, n] : announced_) closed_announced_[target] += n;
    announced_.clear();
    window_started_ = now;
    window_started_clock_ = clock;
    return report;
}

}  // namespace kovra_sim
