#include "observe/stats.h"

#include <array>
#include <cmath>
#include <limits>
#include <thread>

namespace kovra_sim {
namespace {

double seconds(std::chrono::steady_clock::duration d) {
    return std::round(std::chrono::duration<double>(d).count() * 1000) / 1000;
}

double epoch(std::chrono::system_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// The figures this thread recorded into last, and whose: a thread that
// records for one Stats (the usual case) finds them without a search.
struct LastThread {
    uint64_t owner = 0;
    void* thread = nullptr;
};
thread_local LastThread last_thread;

std::atomic<uint64_t> next_id{1};

double micros(std::chrono::nanoseconds t) { return double(t.count()) / 1000; }

}  // namespace

// Besides the functions' figures, a paced run's: every request's time from
// its planned start, and how late it started.
constexpr int kFromPlan = kFunctionCount;
constexpr int kBehind = kFunctionCount + 1;
constexpr size_t kFigures = kFunctionCount + 2;

// One function's figures as a thread records them, in plain counts; they
// become a FunctionStats, the same as adding each call to it, when read.
struct Stats::Tally {
    uint64_t calls = 0;
    uint64_t ok = 0;  // status 0
    // The first other statuses, in the order seen (a count of 0 is free);
    // any more go to the map.
    std::array<std::pair<int32_t, uint64_t>, 4> failed{};
    std::map<int32_t, uint64_t> more;
    double min_us = std::numeric_limits<double>::infinity();
    double max_us = 0;
    double sum_us = 0;
    std::array<uint64_t, kLatencyBins + 2> latency{};  // by bin index + 1: underflow first

    void add(int32_t status, double us, LatencyBins const& bins) {
        ++calls;
        sum_us += us;
        min_us = std::min(min_us, us);
        max_us = std::max(max_us, us);
        ++latency[size_t(bins.index(us) + 1)];
        if (status == 0) {
            ++ok;
        } else {
            add_failed(status);
        }
    }

    [[gnu::noinline]] void add_failed(int32_t status) {
        for (auto& [seen, n] : failed) {
            if (n == 0) seen = status;
            if (seen == status) {
                ++n;
                return;
            }
        }
        ++more[status];
    }

    void into(FunctionStats& f) const {
        f.calls += calls;
        f.sum_us += sum_us;
        f.min_us = std::min(f.min_us, min_us);
        f.max_us = std::max(f.max_us, max_us);
        if (ok) f.statuses[0] += ok;
        for (auto const& [status, n] : failed) {
            if (n) f.statuses[status] += n;
        }
        for (auto const& [status, n] : more) f.statuses[status] += n;
        for (int i = -1; i <= kLatencyBins; ++i) {
            if (uint64_t const n = latency[size_t(i + 1)]) f.latency.at(i) += n;
        }
    }
};

// A thread's tallies of one window, by function; null for a function with none.
struct Stats::Tallies {
    std::array<std::unique_ptr<Tally>, kFigures> functions;

    Tally& of(int function) {
        auto& f = functions[size_t(function)];
        return f ? *f : make(f);
    }
    [[gnu::noinline]] static Tally& make(std::unique_ptr<Tally>& f) {
        f = std::make_unique<Tally>();
        return *f;
    }
    [[gnu::noinline]] void clear() {
        for (auto& f : functions) f.reset();
    }
};

// One function's figures each; null for a function with none.
struct Stats::Window {
    std::array<std::unique_ptr<FunctionStats>, kFigures> functions;

    FunctionStats& of(int function) {
        auto& f = functions[size_t(function)];
        if (!f) f = std::make_unique<FunctionStats>();
        return *f;
    }
    void merge(Window const& other) {
        for (int id = 0; id < int(kFigures); ++id) {
            if (auto const& f = other.functions[size_t(id)]) of(id).merge(*f);
        }
    }
    void merge(Tallies const& other) {
        for (int id = 0; id < int(kFigures); ++id) {
            if (auto const& t = other.functions[size_t(id)]) t->into(of(id));
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
        if (auto const& f = functions[kFromPlan]; f && f->calls) report.from_plan = *f;
        if (auto const& f = functions[kBehind]; f && f->calls) report.behind = *f;
    }
};

// A thread records into the window that is open; the other one is empty
// but while cut() takes it. The thread says it is recording, and then looks
// whether a reader holds its figures: a reader says it holds them, and then
// waits until the thread is not recording. Both say it before they look,
// so at most one of them goes on; a thread that finds its figures held
// waits for `reader`, which the reader holds meanwhile.
struct Stats::Thread {
    std::atomic<bool> recording{false};
    std::atomic<bool> held{false};
    std::mutex reader;
    uint64_t run = 0;
    Tallies windows[2];
};

// A reader's hold of one thread's figures, for report() and cut(), which
// take mutex_ first: one reader at a time.
class Stats::Holding {
public:
    explicit Holding(Thread& t) : t_(t), lock_(t.reader) {
        t_.held.store(true);
        while (t_.recording.load()) std::this_thread::yield();
    }
    ~Holding() { t_.held.store(false, std::memory_order_release); }
    Holding(Holding const&) = delete;
    Holding& operator=(Holding const&) = delete;

private:
    Thread& t_;
    std::lock_guard<std::mutex> lock_;
};

Stats::Stats()
    : started_(std::chrono::steady_clock::now()), window_started_(started_), id_(next_id++) {}

Stats::~Stats() = default;

Stats::Thread& Stats::mine() {
    LastThread const& last = last_thread;
    return last.owner == id_ ? *static_cast<Thread*>(last.thread) : found();
}

[[gnu::noinline]] Stats::Thread& Stats::found() {
    Thread& t = threads_.mine();
    last_thread = {id_, &t};
    return t;
}

[[gnu::noinline]] void Stats::wait_for_reader(Thread& t) {
    do {
        t.recording.store(false, std::memory_order_release);
        { std::lock_guard wait(t.reader); }
        t.recording.store(true);
    } while (t.held.load());
}

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

template <class Add>
void Stats::recording(Add&& add) {
    Thread& t = mine();
    t.recording.store(true);
    if (t.held.load()) wait_for_reader(t);
    struct Done {
        Thread& t;
        ~Done() { t.recording.store(false, std::memory_order_release); }
    } const done{t};
    // Read once the figures are this thread's: cut() moves window_ on before
    // it holds them, so a call that lands in the old window is one it reads.
    uint64_t const run = run_.load(std::memory_order_relaxed);
    if (t.run != run) {
        t.windows[0].clear();
        t.windows[1].clear();
        t.run = run;
    }
    add(t.windows[window_.load(std::memory_order_relaxed) & 1]);
}

void Stats::record(int function, int32_t status, std::chrono::nanoseconds took) {
    recording([&](Tallies& open) { open.of(function).add(status, micros(took), bins_); });
}

void Stats::record_paced(int function, int32_t status, std::chrono::nanoseconds took,
                         std::chrono::nanoseconds from_plan, std::chrono::nanoseconds behind) {
    recording([&](Tallies& open) {
        open.of(function).add(status, micros(took), bins_);
        open.of(kFromPlan).add(status, micros(from_plan), bins_);
        open.of(kBehind).add(0, micros(behind), bins_);
    });
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
        Holding const figures(t);
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
        Holding const figures(t);
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
